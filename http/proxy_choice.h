// The system's proxy for one request: the settings the platform layer reads
// (the environment on POSIX, the user's Internet settings on Windows),
// parsed (proxy_choice.cpp) and matched against the request's URL
// (proxy_bypass.cpp), then put on the request (system_proxy.cpp). Parsing
// and matching are portable and take their texts as arguments; only
// proxy_system_choice and proxy_apply_system ask the system.
#pragma once

#include <stdint.h>

#include "http/http.h"
#include "platform/platform.h"

typedef int32_t ProxyResult;

constexpr ProxyResult PROXY_OK = 0;
// The client refuses the request URL (http_parse_url), so it is never sent.
constexpr ProxyResult PROXY_ERR_BAD_URL = 1;
// A setting is longer than the buffer it is read into; origin names it.
constexpr ProxyResult PROXY_ERR_SETTING_TOO_LONG = 2;
// The proxy setting names no host, or a port that is not 1 to 65535, or has
// text after the address.
constexpr ProxyResult PROXY_ERR_SYNTAX = 3;
// The proxy setting asks for a kind of proxy the client cannot speak to
// (TLS to the proxy, SOCKS).
constexpr ProxyResult PROXY_ERR_SCHEME = 4;
// The proxy host does not fit HTTP_PROXY_HOST_CAPACITY.
constexpr ProxyResult PROXY_ERR_HOST_TOO_LONG = 5;
// The user name or the password does not fit HTTP_CREDENTIAL_CAPACITY.
constexpr ProxyResult PROXY_ERR_CREDENTIAL_TOO_LONG = 6;

// Without a port, a proxy URL from the environment means 1080 (as curl
// reads the same variables) and a Windows proxy-server entry means 80.
constexpr uint16_t PROXY_ENVIRONMENT_DEFAULT_PORT = 1080;
constexpr uint16_t PROXY_WINDOWS_DEFAULT_PORT = 80;

// The proxy chosen for one request. With use_proxy 0 the request connects
// directly and the other fields are empty.
struct ProxyChoice {
    int32_t use_proxy;
    char host[HTTP_PROXY_HOST_CAPACITY];
    uint16_t port;
    char user[HTTP_CREDENTIAL_CAPACITY];
    char password[HTTP_CREDENTIAL_CAPACITY];
    // Where the setting came from (a variable's name, "Internet settings",
    // "auto-config"); static text, null when nothing was set.
    const char* origin;
};

// The scheme, host and port of a request URL, as the client connects to it:
// the host folded to lower case and without a trailing dot, for matching.
struct ProxyTarget {
    int32_t https;
    char host[HTTP_URL_CAPACITY];
    uint16_t port;
};

// One line naming a result, for the release tool and test messages.
const char* proxy_result_text(ProxyResult result);

// The target of url as the client's own parser splits it; PROXY_ERR_BAD_URL,
// with *out zeroed, for every URL the client refuses.
ProxyResult proxy_parse_target(const char* url, ProxyTarget* out);

// Reads a proxy URL "[http://][user:password@]host[:port][/]" into
// host, port and credentials (percent escapes in the credentials decoded);
// default_port applies without a port. On failure *out is zeroed.
ProxyResult proxy_parse_url(const char* text, uint16_t default_port, ProxyChoice* out);

// Picks the entry for the target's scheme from a Windows proxy-server list
// ("http=a:1;https=b:2", "host:port", entries split by ';' or blanks): the
// "https=" or "http=" entry, else the first entry without a scheme; other
// schemes' entries are skipped. *out gets use_proxy 0 when none applies.
ProxyResult proxy_parse_windows_list(const char* text, const ProxyTarget* target, ProxyChoice* out);

// A no_proxy list as curl reads it: entries split by commas or blanks; "*"
// matches every host; a name matches itself and the names ending in "." and
// it (a leading dot changes nothing); an IPv4 literal, with an optional
// "/bits", matches addresses in that range and never a name; an entry with
// ":port" matches only that port. Case does not matter.
bool proxy_bypass_no_proxy(const char* list, const ProxyTarget* target);

// A Windows bypass list: entries split by ';' or blanks, matched against the
// whole host with '*' for any run of characters, an optional "scheme://" and
// ":port" restricting them; "<local>" matches names without a dot.
bool proxy_bypass_windows(const char* list, const ProxyTarget* target);

// The choice for url from settings the platform layer read: the proxy of
// the settings' kind unless the bypass list matches. On failure *out is
// zeroed but for origin, which names the setting at fault.
ProxyResult proxy_choose(const PlatformProxySettings* settings, const char* url, ProxyChoice* out);

// Asks the system for its proxy for url and chooses it, as proxy_choose;
// a setting too long for its buffer is named by origin too.
ProxyResult proxy_system_choice(const char* url, ProxyChoice* out);

// Asks the system for its proxy for url (once: the request's choice) and
// puts it, with its credentials, on request (credentials go to the proxy
// as Basic with the first request); a direct choice clears the
// request's proxy and credentials. When choice is not null it receives what was chosen.
// On failure the request is left as it was.
ProxyResult proxy_apply_system(HttpRequest* request, const char* url, ProxyChoice* choice);
