// Choosing the proxy for one request: the request URL as the client splits
// it, the proxy setting read into host, port and credentials, and the
// choice between the two kinds of setting. The bypass lists are matched in
// proxy_bypass.cpp. Nothing is written anywhere but the output record, and
// a failure zeroes that.
#include <string.h>

#include "core/text.h"
#include "http/http_internal.h"
#include "http/proxy_choice.h"

namespace {

const char WINDOWS_LIST_SEPARATORS[] = "; \t\r\n";

// The text is the scheme word, in any case.
bool is_word(TextSpan text, const char* word) {
    return text_span_equal_nocase(text, text_span(word), TEXT_FOLD_LETTERS);
}

ProxyResult parse_proxy_text(TextSpan text, uint16_t default_port, ProxyChoice* out) {
    memset(out, 0, sizeof *out);
    text = text_trim(text);
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
        if (!is_word(TextSpan{text.data, scheme_end}, "http")) {
            return PROXY_ERR_SCHEME;
        }
        text = TextSpan{text.data + scheme_end + 3, text.length - scheme_end - 3};
    }
    // At most one "/" may end the address.
    size_t slash = text_find(text, '/');
    if (slash < text.length && slash + 1 != text.length) {
        return PROXY_ERR_SYNTAX;
    }
    TextSpan authority{text.data, slash};
    size_t at = text_find_last(authority, '@');
    TextSpan address = authority;
    if (at < authority.length) {
        TextSpan userinfo{authority.data, at};
        address = TextSpan{authority.data + at + 1, authority.length - at - 1};
        size_t colon = text_find(userinfo, ':');
        TextSpan user{userinfo.data, colon};
        TextSpan password{userinfo.data + colon, 0};
        if (colon < userinfo.length) {
            password = TextSpan{userinfo.data + colon + 1, userinfo.length - colon - 1};
        }
        TextResult decoded = text_percent_decode(user, out->user, sizeof out->user);
        if (decoded == TEXT_OK) {
            decoded = text_percent_decode(password, out->password, sizeof out->password);
        }
        if (decoded != TEXT_OK) {
            memset(out, 0, sizeof *out);
            return decoded == TEXT_TOO_LONG ? PROXY_ERR_CREDENTIAL_TOO_LONG : PROXY_ERR_SYNTAX;
        }
    }
    TextSpan host;
    TextSpan port;
    ProxyResult result = PROXY_OK;
    out->port = default_port;
    if (!text_split_host_port(address, &host, &port) || host.length == 0 ||
        (port.length > 0 && !text_parse_port(port, &out->port))) {
        result = PROXY_ERR_SYNTAX;
    } else if (!text_copy(out->host, sizeof out->host, host)) {
        result = PROXY_ERR_HOST_TOO_LONG;
    }
    if (result != PROXY_OK) {
        memset(out, 0, sizeof *out);
        return result;
    }
    out->use_proxy = 1;
    return PROXY_OK;
}

struct ResultText {
    ProxyResult result;
    const char* text;
};

const ResultText RESULT_TEXTS[] = {
    {PROXY_OK, "ok"},
    {PROXY_ERR_BAD_URL, "the address is not an http:// or https:// URL the client can read"},
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
    HttpUrlParts parts;
    // No host, no connection: the client fails it at connect, and there is
    // nothing to choose a proxy for.
    if (http_split_url(url, &parts) != HTTP_OK || parts.host.length == 0) {
        return PROXY_ERR_BAD_URL;
    }
    TextSpan host = http_text(parts.host);
    // "name." is the same host as "name".
    if (host.length > 1 && host.data[host.length - 1] == '.') {
        host.length--;
    }
    // The split URL fits HTTP_URL_CAPACITY, and so does its host.
    for (size_t i = 0; i < host.length; i++) {
        out->host[i] = static_cast<char>(
            text_fold(static_cast<unsigned char>(host.data[i]), TEXT_FOLD_LETTERS));
    }
    out->https = (parts.options & HTTP_OPTION_HTTPS) != 0;
    out->port = parts.port;
    return PROXY_OK;
}

ProxyResult proxy_parse_url(const char* text, uint16_t default_port, ProxyChoice* out) {
    return parse_proxy_text(text_span(text), default_port, out);
}

ProxyResult proxy_parse_windows_list(const char* text, const ProxyTarget* target,
                                     ProxyChoice* out) {
    memset(out, 0, sizeof *out);
    TextSpan scheme_entry{nullptr, 0};
    TextSpan plain_entry{nullptr, 0};
    TextSpan rest = text_span(text);
    TextSpan entry;
    while (text_next_item(&rest, WINDOWS_LIST_SEPARATORS, &entry)) {
        size_t equals = text_find(entry, '=');
        if (equals == entry.length) {
            if (plain_entry.data == nullptr) {
                plain_entry = entry;
            }
        } else if (scheme_entry.data == nullptr &&
                   is_word(TextSpan{entry.data, equals}, target->https ? "https" : "http")) {
            scheme_entry = TextSpan{entry.data + equals + 1, entry.length - equals - 1};
        }
    }
    TextSpan chosen = scheme_entry.data != nullptr ? scheme_entry : plain_entry;
    if (chosen.data == nullptr) {
        return PROXY_OK;
    }
    return parse_proxy_text(chosen, PROXY_WINDOWS_DEFAULT_PORT, out);
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
