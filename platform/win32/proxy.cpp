// The current user's Internet settings as WinHTTP reads them, and the
// auto-config answer for one URL. Nothing is written to the registry; the
// session opened for the script connects directly and is closed again.
#include <windows.h>
#include <winhttp.h>

#include <string.h>

#include "platform/platform.h"

namespace {

const wchar_t USER_AGENT[] = L"Mozilla/4.0 (compatible; Corvane Chat Bootstrap)";
// Bounds on each step of fetching an auto-config script.
const int SCRIPT_STEP_TIMEOUT_MS = 10000;

enum AutoAnswer { AUTO_ANSWERED, AUTO_FAILED, AUTO_TOO_LONG };

// UTF-8 copy of a setting (none: empty); false when it does not fit.
bool copy_setting(char* out, const wchar_t* text) {
    if (text == nullptr) {
        out[0] = 0;
        return true;
    }
    return WideCharToMultiByte(CP_UTF8, 0, text, -1, out, PLATFORM_PROXY_TEXT_CAPACITY, nullptr,
                               nullptr) > 0;
}

void free_setting(wchar_t* text) {
    if (text != nullptr) {
        GlobalFree(text);
    }
}

// Runs the script or the detection the settings name for url.
// AUTO_ANSWERED with *out set (a DIRECT answer leaves kind NONE),
// AUTO_FAILED when no answer could be had, AUTO_TOO_LONG when it does not
// fit.
AutoAnswer ask_auto_config(const wchar_t* url, const WINHTTP_CURRENT_USER_IE_PROXY_CONFIG& ie,
                           PlatformProxySettings* out) {
    HINTERNET session = WinHttpOpen(USER_AGENT, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                    WINHTTP_NO_PROXY_BYPASS, 0);
    if (session == nullptr) {
        return AUTO_FAILED;
    }
    WinHttpSetTimeouts(session, SCRIPT_STEP_TIMEOUT_MS, SCRIPT_STEP_TIMEOUT_MS,
                       SCRIPT_STEP_TIMEOUT_MS, SCRIPT_STEP_TIMEOUT_MS);
    WINHTTP_AUTOPROXY_OPTIONS options;
    memset(&options, 0, sizeof options);
    if (ie.fAutoDetect) {
        options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
        options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    }
    if (ie.lpszAutoConfigUrl != nullptr) {
        options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
        options.lpszAutoConfigUrl = ie.lpszAutoConfigUrl;
    }
    WINHTTP_PROXY_INFO info;
    memset(&info, 0, sizeof info);
    BOOL answered = WinHttpGetProxyForUrl(session, url, &options, &info);
    // A script server that asks for a log-on gets the user's own, once.
    if (!answered && GetLastError() == ERROR_WINHTTP_LOGIN_FAILURE) {
        options.fAutoLogonIfChallenged = TRUE;
        answered = WinHttpGetProxyForUrl(session, url, &options, &info);
    }
    WinHttpCloseHandle(session);
    AutoAnswer result = answered ? AUTO_ANSWERED : AUTO_FAILED;
    if (answered && info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY &&
        info.lpszProxy != nullptr) {
        if (copy_setting(out->proxy, info.lpszProxy)) {
            out->kind = PLATFORM_PROXY_WINDOWS_RESOLVED;
        } else {
            result = AUTO_TOO_LONG;
        }
    }
    if (answered) {
        out->origin = "auto-config";
    }
    free_setting(info.lpszProxy);
    free_setting(info.lpszProxyBypass);
    return result;
}

}  // namespace

bool platform_system_proxy(const char* url, bool https, PlatformProxySettings* out) {
    (void)https;
    memset(out, 0, sizeof *out);
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG ie;
    memset(&ie, 0, sizeof ie);
    // Settings that cannot be read are no settings.
    if (!WinHttpGetIEProxyConfigForCurrentUser(&ie)) {
        return true;
    }
    bool fits = true;
    bool answered = false;
    if (ie.fAutoDetect || ie.lpszAutoConfigUrl != nullptr) {
        wchar_t wide_url[PLATFORM_PROXY_TEXT_CAPACITY];
        if (MultiByteToWideChar(CP_UTF8, 0, url, -1, wide_url, PLATFORM_PROXY_TEXT_CAPACITY) > 0) {
            AutoAnswer auto_answer = ask_auto_config(wide_url, ie, out);
            answered = auto_answer == AUTO_ANSWERED;
            fits = auto_answer != AUTO_TOO_LONG;
        }
    }
    if (fits && !answered && ie.lpszProxy != nullptr) {
        fits =
            copy_setting(out->proxy, ie.lpszProxy) && copy_setting(out->bypass, ie.lpszProxyBypass);
        out->kind = PLATFORM_PROXY_WINDOWS_MANUAL;
        out->origin = "Internet settings";
    }
    free_setting(ie.lpszAutoConfigUrl);
    free_setting(ie.lpszProxy);
    free_setting(ie.lpszProxyBypass);
    if (!fits) {
        // The setting that does not fit is named, for the message.
        const char* origin = out->origin;
        memset(out, 0, sizeof *out);
        out->origin = origin;
    }
    return fits;
}
