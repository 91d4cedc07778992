// Matching a request's target against the two kinds of bypass list: a
// no_proxy list as curl reads it, and a Windows bypass list. Both are read
// in place, entry by entry; nothing is written.
#include "core/text.h"
#include "http/proxy_choice.h"

namespace {

const char NO_PROXY_SEPARATORS[] = ", \t\r\n";
const char WINDOWS_SEPARATORS[] = "; \t\r\n";

// Bits of an IPv4 range: "/0" to "/32".
constexpr uint32_t IPV4_BITS = 32;

char folded(char c) {
    return static_cast<char>(text_fold(static_cast<unsigned char>(c), TEXT_FOLD_LETTERS));
}

// Whole-text match of host against a pattern whose '*' stands for any run
// of characters; case does not matter.
bool wildcard_match(TextSpan pattern, TextSpan host) {
    size_t p = 0;
    size_t h = 0;
    size_t star = pattern.length;
    size_t resume = 0;
    while (h < host.length) {
        if (p < pattern.length && pattern.data[p] == '*') {
            star = p++;
            resume = h;
        } else if (p < pattern.length && folded(pattern.data[p]) == folded(host.data[h])) {
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

// An IPv4 entry, with an optional "/bits", holds the target's address.
bool address_entry_matches(TextSpan name, uint32_t host_address) {
    size_t slash = text_find(name, '/');
    uint32_t bits = IPV4_BITS;
    if (slash < name.length) {
        TextSpan bits_text{name.data + slash + 1, name.length - slash - 1};
        if (bits_text.length == 0 || text_read_decimal(bits_text, &bits) != bits_text.length ||
            bits > IPV4_BITS) {
            return false;
        }
        name.length = slash;
    }
    uint32_t entry_address = 0;
    if (!text_parse_ipv4(name, &entry_address)) {
        return false;
    }
    uint32_t mask = bits == 0 ? 0 : 0xFFFFFFFFu << (IPV4_BITS - bits);
    return (host_address & mask) == (entry_address & mask);
}

bool no_proxy_entry_matches(TextSpan entry, const ProxyTarget* target) {
    if (entry.length == 1 && entry.data[0] == '*') {
        return true;
    }
    TextSpan name = entry;
    // "[v6]:port", "name:port" and "a.b.c.d:port"; a bare IPv6 entry has
    // more than one colon and no port.
    size_t colon = text_find(entry, ':');
    if (entry.data[0] == '[' || (colon < entry.length && text_find_last(entry, ':') == colon)) {
        TextSpan port_text;
        if (!text_split_host_port(entry, &name, &port_text)) {
            return false;
        }
        uint16_t port = 0;
        if (port_text.length > 0 && (!text_parse_port(port_text, &port) || port != target->port)) {
            return false;
        }
    }
    TextSpan host = text_span(target->host);
    uint32_t host_address = 0;
    if (text_parse_ipv4(host, &host_address)) {
        return address_entry_matches(name, host_address);
    }
    if (name.length > 0 && name.data[0] == '.') {
        name = TextSpan{name.data + 1, name.length - 1};
    }
    if (name.length > 0 && name.data[name.length - 1] == '.') {
        name.length--;
    }
    if (name.length == 0 || name.length > host.length) {
        return false;
    }
    size_t start = host.length - name.length;
    return (start == 0 || host.data[start - 1] == '.') &&
           text_span_equal_nocase(name, TextSpan{host.data + start, name.length},
                                  TEXT_FOLD_LETTERS);
}

bool windows_entry_matches(TextSpan entry, const ProxyTarget* target) {
    TextSpan host = text_span(target->host);
    if (text_span_equal_nocase(entry, text_span("<local>"), TEXT_FOLD_LETTERS)) {
        uint32_t address = 0;
        return text_find(host, '.') == host.length && text_find(host, ':') == host.length &&
               !text_parse_ipv4(host, &address);
    }
    for (size_t i = 0; i + 2 < entry.length; i++) {
        if (entry.data[i] == ':' && entry.data[i + 1] == '/' && entry.data[i + 2] == '/') {
            if (!text_span_equal_nocase(TextSpan{entry.data, i},
                                        text_span(target->https ? "https" : "http"),
                                        TEXT_FOLD_LETTERS)) {
                return false;
            }
            entry = TextSpan{entry.data + i + 3, entry.length - i - 3};
            break;
        }
    }
    size_t colon = text_find_last(entry, ':');
    if (colon < entry.length && text_find(entry, ':') == colon) {
        uint16_t port = 0;
        if (!text_parse_port(TextSpan{entry.data + colon + 1, entry.length - colon - 1}, &port) ||
            port != target->port) {
            return false;
        }
        entry.length = colon;
    }
    return entry.length > 0 && wildcard_match(entry, host);
}

// Some entry of list, split by separators, matches the target.
bool any_entry_matches(const char* list, const char* separators,
                       bool (*matches)(TextSpan entry, const ProxyTarget* target),
                       const ProxyTarget* target) {
    TextSpan rest = text_span(list);
    TextSpan entry;
    while (text_next_item(&rest, separators, &entry)) {
        if (matches(entry, target)) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool proxy_bypass_no_proxy(const char* list, const ProxyTarget* target) {
    return any_entry_matches(list, NO_PROXY_SEPARATORS, no_proxy_entry_matches, target);
}

bool proxy_bypass_windows(const char* list, const ProxyTarget* target) {
    return any_entry_matches(list, WINDOWS_SEPARATORS, windows_entry_matches, target);
}
