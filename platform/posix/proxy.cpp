// The proxy setting of the environment, by the names curl reads: the
// lower-case name first, an empty value as unset, no upper-case HTTP_PROXY
// (a web server's CGI sets that from a request header), and all_proxy for
// any scheme whose own variable is unset.
#include <stdlib.h>
#include <string.h>

#include "platform/platform.h"

namespace {

const char* const HTTPS_PROXY_NAMES[] = {"https_proxy", "HTTPS_PROXY"};
const char* const HTTP_PROXY_NAMES[] = {"http_proxy"};
const char* const ALL_PROXY_NAMES[] = {"all_proxy", "ALL_PROXY"};
const char* const NO_PROXY_NAMES[] = {"no_proxy", "NO_PROXY"};

// The first of the names set to a non-empty value, or null; *name gets it.
template <size_t N>
const char* first_set(const char* const (&names)[N], const char** name) {
    for (const char* candidate : names) {
        const char* value = getenv(candidate);
        if (value != nullptr && value[0] != 0) {
            *name = candidate;
            return value;
        }
    }
    return nullptr;
}

bool copy_setting(char* out, const char* value) {
    size_t length = strlen(value);
    if (length + 1 > static_cast<size_t>(PLATFORM_PROXY_TEXT_CAPACITY)) {
        return false;
    }
    memcpy(out, value, length + 1);
    return true;
}

}  // namespace

bool platform_system_proxy(const char* url, bool https, PlatformProxySettings* out) {
    (void)url;
    memset(out, 0, sizeof *out);
    const char* name = nullptr;
    const char* proxy =
        https ? first_set(HTTPS_PROXY_NAMES, &name) : first_set(HTTP_PROXY_NAMES, &name);
    if (proxy == nullptr) {
        proxy = first_set(ALL_PROXY_NAMES, &name);
    }
    if (proxy == nullptr) {
        return true;
    }
    const char* bypass_name = nullptr;
    const char* bypass = first_set(NO_PROXY_NAMES, &bypass_name);
    // The variable that does not fit is named, for the message.
    const char* too_long = nullptr;
    if (!copy_setting(out->proxy, proxy)) {
        too_long = name;
    } else if (bypass != nullptr && !copy_setting(out->bypass, bypass)) {
        too_long = bypass_name;
    }
    if (too_long != nullptr) {
        memset(out, 0, sizeof *out);
        out->origin = too_long;
        return false;
    }
    out->kind = PLATFORM_PROXY_URL;
    out->origin = name;
    return true;
}
