// Parsing of proxy settings and matching of bypass lists. Every text is
// taken as (pointer, length) pieces of the caller's string; nothing is
// written anywhere but the output record, and a failure zeroes that.
#include "http/proxy_choice.h"

#include <string.h>

namespace {

// A piece of a caller's text; owns nothing.
struct Piece {
    const char* data;
    size_t length;
};

char fold(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

bool same_nocase(Piece a, Piece b) {
    if (a.length != b.length) {
        return false;
    }
    for (size_t i = 0; i < a.length; i++) {
        if (fold(a.data[i]) != fold(b.data[i])) {
            return false;
        }
    }
    return true;
}

bool same_word(Piece a, const char* word) {
    return same_nocase(a, Piece{word, strlen(word)});
}

Piece trimmed(Piece p) {
    while (p.length > 0 && is_blank(p.data[0])) {
        p.data++;
        p.length--;
    }
    while (p.length > 0 && is_blank(p.data[p.length - 1])) {
        p.length--;
    }
    return p;
}

// Position of c in p, or p.length when absent.
size_t find(Piece p, char c) {
    const void* at = p.length > 0 ? memchr(p.data, c, p.length) : nullptr;
    return at == nullptr ? p.length : static_cast<size_t>(static_cast<const char*>(at) - p.data);
}

size_t find_last(Piece p, char c) {
    for (size_t i = p.length; i > 0; i--) {
        if (p.data[i - 1] == c) {
            return i - 1;
        }
    }
    return p.length;
}

// A decimal port of 1 to 65535, digits only.
bool parse_port(Piece p, uint16_t* port) {
    if (p.length == 0 || p.length > 5) {
        return false;
    }
    uint32_t value = 0;
    for (size_t i = 0; i < p.length; i++) {
        if (!is_digit(p.data[i])) {
            return false;
        }
        value = value * 10 + static_cast<uint32_t>(p.data[i] - '0');
    }
    if (value == 0 || value > 0xFFFF) {
        return false;
    }
    *port = static_cast<uint16_t>(value);
    return true;
}

// Four dotted decimal groups of 0 to 255, as one number (first group high).
bool parse_ipv4(Piece p, uint32_t* address) {
    uint32_t value = 0;
    size_t at = 0;
    for (int group = 0; group < 4; group++) {
        if (group > 0) {
            if (at >= p.length || p.data[at] != '.') {
                return false;
            }
            at++;
        }
        size_t start = at;
        uint32_t number = 0;
        while (at < p.length && is_digit(p.data[at]) && at - start < 3) {
            number = number * 10 + static_cast<uint32_t>(p.data[at] - '0');
            at++;
        }
        if (at == start || number > 255) {
            return false;
        }
        value = value << 8 | number;
    }
    if (at != p.length) {
        return false;
    }
    *address = value;
    return true;
}

int hex_value(char c) {
    if (is_digit(c)) {
        return c - '0';
    }
    char f = fold(c);
    return f >= 'a' && f <= 'f' ? f - 'a' + 10 : -1;
}

// Copies p into out (capacity with the terminator), "%XX" decoded. False
// when it does not fit or decodes to a 0 byte; out is then unspecified.
bool copy_decoded(Piece p, char* out, size_t capacity, bool* too_long) {
    size_t n = 0;
    for (size_t i = 0; i < p.length; i++) {
        char c = p.data[i];
        if (c == '%' && i + 2 < p.length && hex_value(p.data[i + 1]) >= 0 &&
            hex_value(p.data[i + 2]) >= 0) {
            c = static_cast<char>(hex_value(p.data[i + 1]) * 16 + hex_value(p.data[i + 2]));
            i += 2;
            if (c == 0) {
                return false;
            }
        }
        if (n + 1 >= capacity) {
            *too_long = true;
            return false;
        }
        out[n++] = c;
    }
    out[n] = 0;
    return true;
}

// "host[:port]" or "[v6]:port" into host and port; false on bad syntax.
bool split_host_port(Piece p, Piece* host, Piece* port) {
    *port = Piece{p.data + p.length, 0};
    if (p.length > 0 && p.data[0] == '[') {
        size_t close = find(p, ']');
        if (close == p.length) {
            return false;
        }
        *host = Piece{p.data + 1, close - 1};
        Piece rest{p.data + close + 1, p.length - close - 1};
        if (rest.length > 0) {
            if (rest.data[0] != ':') {
                return false;
            }
            *port = Piece{rest.data + 1, rest.length - 1};
        }
        return true;
    }
    size_t colon = find(p, ':');
    *host = Piece{p.data, colon};
    if (colon < p.length) {
        *port = Piece{p.data + colon + 1, p.length - colon - 1};
    }
    return true;
}

ProxyResult parse_proxy_piece(Piece text, uint16_t default_port, ProxyChoice* out) {
    memset(out, 0, sizeof *out);
    text = trimmed(text);
    size_t scheme_end = 0;
    for (size_t i = 0; i + 2 < text.length; i++) {
        if (text.data[i] == ':' && text.data[i + 1] == '/' && text.data[i + 2] == '/') {
            scheme_end = i;
            break;
        }
        if (text.data[i] == '@' || text.data[i] == '/') {
            break;
        }
    }
    if (scheme_end > 0) {
        if (!same_word(Piece{text.data, scheme_end}, "http")) {
            return PROXY_ERR_SCHEME;
        }
        text = Piece{text.data + scheme_end + 3, text.length - scheme_end - 3};
    }
    // At most one "/" may end the address.
    size_t slash = find(text, '/');
    if (slash < text.length && slash + 1 != text.length) {
        return PROXY_ERR_SYNTAX;
    }
    Piece authority{text.data, slash};
    size_t at = find_last(authority, '@');
    Piece address = authority;
    if (at < authority.length) {
        Piece userinfo{authority.data, at};
        address = Piece{authority.data + at + 1, authority.length - at - 1};
        size_t colon = find(userinfo, ':');
        Piece user{userinfo.data, colon};
        Piece password{userinfo.data + colon, 0};
        if (colon < userinfo.length) {
            password = Piece{userinfo.data + colon + 1, userinfo.length - colon - 1};
        }
        bool too_long = false;
        if (!copy_decoded(user, out->user, sizeof out->user, &too_long) ||
            !copy_decoded(password, out->password, sizeof out->password, &too_long)) {
            memset(out, 0, sizeof *out);
            return too_long ? PROXY_ERR_CREDENTIAL_TOO_LONG : PROXY_ERR_SYNTAX;
        }
    }
    Piece host;
    Piece port;
    if (!split_host_port(address, &host, &port) || host.length == 0) {
        memset(out, 0, sizeof *out);
        return PROXY_ERR_SYNTAX;
    }
    out->port = default_port;
    if (port.length > 0 && !parse_port(port, &out->port)) {
        memset(out, 0, sizeof *out);
        return PROXY_ERR_SYNTAX;
    }
    if (host.length + 1 > sizeof out->host) {
        memset(out, 0, sizeof *out);
        return PROXY_ERR_HOST_TOO_LONG;
    }
    memcpy(out->host, host.data, host.length);
    out->host[host.length] = 0;
    out->use_proxy = 1;
    return PROXY_OK;
}

// Calls take(entry) for each non-empty entry of list between separators;
// stops early when it returns true, and returns that.
template <typename Take>
bool each_entry(const char* list, const char* separators, Take take) {
    if (list == nullptr) {
        return false;
    }
    Piece rest{list, strlen(list)};
    while (rest.length > 0) {
        size_t end = 0;
        while (end < rest.length && strchr(separators, rest.data[end]) == nullptr) {
            end++;
        }
        Piece entry{rest.data, end};
        if (entry.length > 0 && take(entry)) {
            return true;
        }
        size_t skip = end < rest.length ? end + 1 : end;
        rest = Piece{rest.data + skip, rest.length - skip};
    }
    return false;
}

const char NO_PROXY_SEPARATORS[] = ", \t\r\n";
const char WINDOWS_SEPARATORS[] = "; \t\r\n";

// Whole-text match of host against a pattern whose '*' stands for any run
// of characters; case does not matter.
bool wildcard_match(Piece pattern, Piece host) {
    size_t p = 0;
    size_t h = 0;
    size_t star = pattern.length;
    size_t resume = 0;
    while (h < host.length) {
        if (p < pattern.length && pattern.data[p] == '*') {
            star = p++;
            resume = h;
        } else if (p < pattern.length && fold(pattern.data[p]) == fold(host.data[h])) {
            p++;
            h++;
        } else if (star < pattern.length) {
            p = star + 1;
            h = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.length && pattern.data[p] == '*') {
        p++;
    }
    return p == pattern.length;
}

bool no_proxy_entry_matches(Piece entry, const ProxyTarget* target) {
    if (entry.length == 1 && entry.data[0] == '*') {
        return true;
    }
    Piece name = entry;
    // "[v6]:port", "name:port" and "a.b.c.d:port"; a bare IPv6 entry has
    // more than one colon and no port.
    size_t colon = find(entry, ':');
    if (entry.data[0] == '[' || (colon < entry.length && find_last(entry, ':') == colon)) {
        Piece port_text;
        if (!split_host_port(entry, &name, &port_text)) {
            return false;
        }
        uint16_t port = 0;
        if (port_text.length > 0 && (!parse_port(port_text, &port) || port != target->port)) {
            return false;
        }
    }
    Piece host{target->host, strlen(target->host)};
    uint32_t host_address = 0;
    if (parse_ipv4(host, &host_address)) {
        size_t slash = find(name, '/');
        uint32_t bits = 32;
        if (slash < name.length) {
            Piece bits_text{name.data + slash + 1, name.length - slash - 1};
            if (bits_text.length == 0 || bits_text.length > 2) {
                return false;
            }
            bits = 0;
            for (size_t i = 0; i < bits_text.length; i++) {
                if (!is_digit(bits_text.data[i])) {
                    return false;
                }
                bits = bits * 10 + static_cast<uint32_t>(bits_text.data[i] - '0');
            }
            if (bits > 32) {
                return false;
            }
            name.length = slash;
        }
        uint32_t entry_address = 0;
        if (!parse_ipv4(name, &entry_address)) {
            return false;
        }
        uint32_t mask = bits == 0 ? 0 : 0xFFFFFFFFu << (32 - bits);
        return (host_address & mask) == (entry_address & mask);
    }
    if (name.length > 0 && name.data[0] == '.') {
        name = Piece{name.data + 1, name.length - 1};
    }
    if (name.length > 0 && name.data[name.length - 1] == '.') {
        name.length--;
    }
    if (name.length == 0 || name.length > host.length) {
        return false;
    }
    if (name.length == host.length) {
        return same_nocase(name, host);
    }
    size_t start = host.length - name.length;
    return host.data[start - 1] == '.' && same_nocase(name, Piece{host.data + start, name.length});
}

bool windows_entry_matches(Piece entry, const ProxyTarget* target) {
    Piece host{target->host, strlen(target->host)};
    if (same_word(entry, "<local>")) {
        uint32_t address = 0;
        return find(host, '.') == host.length && find(host, ':') == host.length &&
               !parse_ipv4(host, &address);
    }
    for (size_t i = 0; i + 2 < entry.length; i++) {
        if (entry.data[i] == ':' && entry.data[i + 1] == '/' && entry.data[i + 2] == '/') {
            if (!same_word(Piece{entry.data, i}, target->https ? "https" : "http")) {
                return false;
            }
            entry = Piece{entry.data + i + 3, entry.length - i - 3};
            break;
        }
    }
    size_t colon = find_last(entry, ':');
    if (colon < entry.length && find(entry, ':') == colon) {
        uint16_t port = 0;
        if (!parse_port(Piece{entry.data + colon + 1, entry.length - colon - 1}, &port) ||
            port != target->port) {
            return false;
        }
        entry.length = colon;
    }
    return entry.length > 0 && wildcard_match(entry, host);
}

struct ResultText {
    ProxyResult result;
    const char* text;
};

const ResultText RESULT_TEXTS[] = {
    {PROXY_OK, "ok"},
    {PROXY_ERR_BAD_URL, "the address is not an http:// or https:// URL with a host"},
    {PROXY_ERR_SETTING_TOO_LONG, "the proxy setting is longer than 1023 characters"},
    {PROXY_ERR_SYNTAX, "the proxy setting is not [http://][user:password@]host[:port][/]"},
    {PROXY_ERR_SCHEME, "the proxy setting names a kind of proxy other than http://"},
    {PROXY_ERR_HOST_TOO_LONG, "the proxy host is longer than 63 characters"},
    {PROXY_ERR_CREDENTIAL_TOO_LONG, "the proxy user name or password is longer than 15 characters"},
};

}  // namespace

const char* proxy_result_text(ProxyResult result) {
    for (const ResultText& row : RESULT_TEXTS) {
        if (row.result == result) {
            return row.text;
        }
    }
    return "unknown proxy failure";
}

ProxyResult proxy_parse_target(const char* url, ProxyTarget* out) {
    memset(out, 0, sizeof *out);
    if (url == nullptr) {
        return PROXY_ERR_BAD_URL;
    }
    Piece text{url, strlen(url)};
    size_t colon = find(text, ':');
    Piece scheme{url, colon};
    if (colon + 3 > text.length || strncmp(url + colon, "://", 3) != 0) {
        return PROXY_ERR_BAD_URL;
    }
    if (same_word(scheme, "https")) {
        out->https = 1;
        out->port = 443;
    } else if (same_word(scheme, "http")) {
        out->port = 80;
    } else {
        return PROXY_ERR_BAD_URL;
    }
    Piece authority{url + colon + 3, 0};
    while (authority.data[authority.length] != 0 &&
           strchr("/?#", authority.data[authority.length]) == nullptr) {
        authority.length++;
    }
    size_t at = find_last(authority, '@');
    if (at < authority.length) {
        authority = Piece{authority.data + at + 1, authority.length - at - 1};
    }
    Piece host;
    Piece port;
    if (!split_host_port(authority, &host, &port)) {
        memset(out, 0, sizeof *out);
        return PROXY_ERR_BAD_URL;
    }
    // The port as the client reads it: its leading digits.
    if (port.data > authority.data && port.data[-1] == ':') {
        uint32_t value = 0;
        for (size_t i = 0; i < port.length && is_digit(port.data[i]) && value <= 0xFFFF; i++) {
            value = value * 10 + static_cast<uint32_t>(port.data[i] - '0');
        }
        if (value > 0xFFFF) {
            memset(out, 0, sizeof *out);
            return PROXY_ERR_BAD_URL;
        }
        out->port = static_cast<uint16_t>(value);
    }
    // "name." is the same host as "name".
    if (host.length > 0 && host.data[host.length - 1] == '.') {
        host.length--;
    }
    if (host.length == 0 || host.length + 1 > sizeof out->host) {
        memset(out, 0, sizeof *out);
        return PROXY_ERR_BAD_URL;
    }
    for (size_t i = 0; i < host.length; i++) {
        out->host[i] = fold(host.data[i]);
    }
    return PROXY_OK;
}

ProxyResult proxy_parse_url(const char* text, uint16_t default_port, ProxyChoice* out) {
    return parse_proxy_piece(Piece{text, text != nullptr ? strlen(text) : 0}, default_port, out);
}

ProxyResult proxy_parse_windows_list(const char* text, const ProxyTarget* target,
                                     ProxyChoice* out) {
    memset(out, 0, sizeof *out);
    Piece scheme_entry{nullptr, 0};
    Piece plain_entry{nullptr, 0};
    const char* wanted = target->https ? "https" : "http";
    each_entry(text, WINDOWS_SEPARATORS, [&](Piece entry) {
        size_t equals = find(entry, '=');
        if (equals == entry.length) {
            if (plain_entry.data == nullptr) {
                plain_entry = entry;
            }
        } else if (scheme_entry.data == nullptr && same_word(Piece{entry.data, equals}, wanted)) {
            scheme_entry = Piece{entry.data + equals + 1, entry.length - equals - 1};
        }
        return false;
    });
    Piece chosen = scheme_entry.data != nullptr ? scheme_entry : plain_entry;
    if (chosen.data == nullptr) {
        return PROXY_OK;
    }
    return parse_proxy_piece(chosen, PROXY_WINDOWS_DEFAULT_PORT, out);
}

bool proxy_bypass_no_proxy(const char* list, const ProxyTarget* target) {
    return each_entry(list, NO_PROXY_SEPARATORS,
                      [&](Piece entry) { return no_proxy_entry_matches(entry, target); });
}

bool proxy_bypass_windows(const char* list, const ProxyTarget* target) {
    return each_entry(list, WINDOWS_SEPARATORS,
                      [&](Piece entry) { return windows_entry_matches(entry, target); });
}

ProxyResult proxy_choose(const PlatformProxySettings* settings, const char* url, ProxyChoice* out) {
    memset(out, 0, sizeof *out);
    ProxyTarget target;
    ProxyResult result = proxy_parse_target(url, &target);
    if (result != PROXY_OK) {
        return result;
    }
    switch (settings->kind) {
        case PLATFORM_PROXY_URL:
            if (proxy_bypass_no_proxy(settings->bypass, &target)) {
                out->origin = "no_proxy";
                return PROXY_OK;
            }
            result = proxy_parse_url(settings->proxy, PROXY_ENVIRONMENT_DEFAULT_PORT, out);
            break;
        case PLATFORM_PROXY_WINDOWS_MANUAL:
            if (proxy_bypass_windows(settings->bypass, &target)) {
                out->origin = "the bypass list";
                return PROXY_OK;
            }
            result = proxy_parse_windows_list(settings->proxy, &target, out);
            break;
        case PLATFORM_PROXY_WINDOWS_RESOLVED:
            result = proxy_parse_windows_list(settings->proxy, &target, out);
            break;
        case PLATFORM_PROXY_NONE:
            break;
    }
    if (result != PROXY_OK) {
        memset(out, 0, sizeof *out);
    }
    out->origin = settings->origin;
    return result;
}
