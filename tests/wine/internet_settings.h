// The current user's connection settings as the Internet options write them
// (the value WinHTTP reads for WinHttpGetIEProxyConfigForCurrentUser),
// replaced for one test and put back afterwards. Header-only: the proxy
// table test and the Wine install test both write it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

constexpr DWORD INTERNET_SETTINGS_DIRECT = 0x1;
constexpr DWORD INTERNET_SETTINGS_PROXY = 0x2;
constexpr DWORD INTERNET_SETTINGS_AUTO_CONFIG_URL = 0x4;
constexpr DWORD INTERNET_SETTINGS_AUTO_DETECT = 0x8;

// The "DefaultConnectionSettings" blob: format 0x46, a change counter, the
// flags, then the proxy-server list, the bypass list and the script address
// as length-prefixed ANSI texts.
inline std::vector<BYTE> internet_settings_blob(DWORD flags, const std::string& proxy,
                                                const std::string& bypass,
                                                const std::string& script) {
    std::vector<BYTE> blob;
    auto append_dword = [&](DWORD value) {
        for (int i = 0; i < 4; i++) {
            blob.push_back(static_cast<BYTE>(value >> (8 * i)));
        }
    };
    auto append_text = [&](const std::string& text) {
        append_dword(static_cast<DWORD>(text.size()));
        blob.insert(blob.end(), text.begin(), text.end());
    };
    append_dword(0x46);
    append_dword(1);
    append_dword(flags);
    append_text(proxy);
    append_text(bypass);
    append_text(script);
    blob.resize(blob.size() + 32, 0);
    return blob;
}

class InternetSettingsOverride {
  public:
    InternetSettingsOverride() {
        if (RegCreateKeyExW(HKEY_CURRENT_USER, KEY, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                            &key_, nullptr) != ERROR_SUCCESS) {
            key_ = nullptr;
            return;
        }
        DWORD size = 0;
        if (RegQueryValueExW(key_, VALUE, nullptr, &type_, nullptr, &size) == ERROR_SUCCESS) {
            old_.resize(size);
            had_ =
                RegQueryValueExW(key_, VALUE, nullptr, &type_, old_.data(), &size) == ERROR_SUCCESS;
        }
    }
    ~InternetSettingsOverride() {
        if (key_ == nullptr) {
            return;
        }
        if (had_) {
            RegSetValueExW(key_, VALUE, 0, type_, old_.data(), static_cast<DWORD>(old_.size()));
        } else {
            RegDeleteValueW(key_, VALUE);
        }
        RegCloseKey(key_);
    }
    InternetSettingsOverride(const InternetSettingsOverride&) = delete;
    InternetSettingsOverride& operator=(const InternetSettingsOverride&) = delete;

    // Writes the settings; false when the value cannot be written.
    bool write(DWORD flags, const std::string& proxy, const std::string& bypass,
               const std::string& script) {
        std::vector<BYTE> blob = internet_settings_blob(flags, proxy, bypass, script);
        return key_ != nullptr && RegSetValueExW(key_, VALUE, 0, REG_BINARY, blob.data(),
                                                 static_cast<DWORD>(blob.size())) == ERROR_SUCCESS;
    }
    // No settings at all, as on a fresh account.
    bool remove() {
        LONG removed = key_ != nullptr ? RegDeleteValueW(key_, VALUE) : ERROR_INVALID_HANDLE;
        return removed == ERROR_SUCCESS || removed == ERROR_FILE_NOT_FOUND;
    }

  private:
    static constexpr const wchar_t* KEY =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
    static constexpr const wchar_t* VALUE = L"DefaultConnectionSettings";
    HKEY key_ = nullptr;
    std::vector<BYTE> old_;
    DWORD type_ = 0;
    bool had_ = false;
};
