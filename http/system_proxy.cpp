// The system's proxy put on one request: read through the platform layer,
// chosen for the request's URL, set before the request connects.
#include <string.h>

#include "http/proxy_choice.h"

ProxyResult proxy_system_choice(const char* url, ProxyChoice* out) {
    memset(out, 0, sizeof *out);
    ProxyTarget target;
    PlatformProxySettings settings;
    ProxyResult result = proxy_parse_target(url, &target);
    if (result == PROXY_OK && !platform_system_proxy(url, target.https != 0, &settings)) {
        // The message names the setting that does not fit.
        out->origin = settings.origin;
        result = PROXY_ERR_SETTING_TOO_LONG;
    }
    if (result == PROXY_OK) {
        result = proxy_choose(&settings, url, out);
    }
    return result;
}

ProxyResult proxy_apply_system(HttpRequest* request, const char* url, ProxyChoice* choice) {
    ProxyChoice picked;
    ProxyResult result = proxy_system_choice(url, &picked);
    if (result == PROXY_OK) {
        // Both fit: the choice's buffers have the request's sizes.
        http_set_proxy_credentials(request, picked.user, picked.password);
        http_set_proxy(request, picked.use_proxy ? picked.host : nullptr, picked.port);
        // Credentials in the setting go to the proxy as Basic with the first
        // request, so a proxy that asks for them and one that does not both
        // let the request through; the server never sees them.
        http_set_proxy_basic_first(request, picked.use_proxy && picked.user[0] != 0);
    }
    if (choice != nullptr) {
        *choice = picked;
    }
    return result;
}
