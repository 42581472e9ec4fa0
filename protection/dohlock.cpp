// Browser, proxy and DNS-client policies under HKEY_LOCAL_MACHINE, native registry view.
#include "protection/dohlock.h"

#include <windows.h>

#include "common/vb_handle.h"

namespace {

// Chromium-family browsers, each reading "DnsOverHttpsMode" and "ProxySettings" from its
// own key.
constexpr const wchar_t* kChromiumKeys[] = {
    L"SOFTWARE\\Policies\\Google\\Chrome",
    L"SOFTWARE\\Policies\\Microsoft\\Edge",
    L"SOFTWARE\\Policies\\BraveSoftware\\Brave",
    L"SOFTWARE\\Policies\\Chromium",
};
constexpr wchar_t kDohModeValue[] = L"DnsOverHttpsMode";
// The system's proxy, which a standard user cannot change once it is per machine. A
// policy outranks every extension, so no extension can set a proxy: names would be
// resolved at the proxy, which the family resolver never sees. Edge has ignored the
// older "ProxyMode" value since version 91.
constexpr wchar_t kProxyValue[] = L"ProxySettings";
constexpr wchar_t kProxySystem[] = L"{\"ProxyMode\":\"system\"}";
constexpr wchar_t kFirefoxProxyKey[] = L"SOFTWARE\\Policies\\Mozilla\\Firefox\\Proxy";
constexpr wchar_t kWindowsProxyKey[] =
    L"SOFTWARE\\Policies\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
constexpr wchar_t kPerUserValue[] = L"ProxySettingsPerUser";
constexpr wchar_t kFirefoxDohKey[] = L"SOFTWARE\\Policies\\Mozilla\\Firefox\\DNSOverHTTPS";
// The Windows DNS client's own DNS-over-HTTPS; 1 prohibits it.
constexpr wchar_t kDnsClientKey[] = L"SOFTWARE\\Policies\\Microsoft\\Windows NT\\DNSClient";
constexpr wchar_t kDnsClientValue[] = L"DoHPolicy";

bool SetPolicyValue(const wchar_t* keyPath, const wchar_t* name, DWORD type, const void* data,
                    DWORD size) noexcept {
    VbUniqueKey key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, key.Put(), nullptr) != ERROR_SUCCESS)
        return false;
    return RegSetValueExW(key.Get(), name, 0, type, static_cast<const BYTE*>(data), size) ==
           ERROR_SUCCESS;
}

// The length counts the terminator ("off": 8 bytes).
template <std::size_t N>
int SetStringPolicy(const wchar_t* keyPath, const wchar_t* name,
                    const wchar_t (&text)[N]) noexcept {
    return SetPolicyValue(keyPath, name, REG_SZ, text, sizeof text) ? 1 : 0;
}

int SetDwordPolicy(const wchar_t* keyPath, const wchar_t* name, DWORD value) noexcept {
    return SetPolicyValue(keyPath, name, REG_DWORD, &value, sizeof value) ? 1 : 0;
}

void DeletePolicyValue(const wchar_t* keyPath, const wchar_t* name) noexcept {
    VbUniqueKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_SET_VALUE, key.Put()) != ERROR_SUCCESS)
        return;
    RegDeleteValueW(key.Get(), name);
}

}  // namespace

int VbLockdownBrowserDoh() noexcept {
    // Every write is attempted whatever the others did.
    int ok = 1;
    for (const wchar_t* keyPath : kChromiumKeys) {
        ok = SetStringPolicy(keyPath, kDohModeValue, L"off") && ok;
        ok = SetStringPolicy(keyPath, kProxyValue, kProxySystem) && ok;
    }
    ok = SetDwordPolicy(kFirefoxDohKey, L"Enabled", 0) && ok;
    ok = SetDwordPolicy(kFirefoxDohKey, L"Locked", 1) && ok;
    ok = SetStringPolicy(kFirefoxProxyKey, L"Mode", L"system") && ok;
    ok = SetDwordPolicy(kFirefoxProxyKey, L"Locked", 1) && ok;
    ok = SetDwordPolicy(kWindowsProxyKey, kPerUserValue, 0) && ok;
    ok = SetDwordPolicy(kDnsClientKey, kDnsClientValue, 1) && ok;
    return ok;
}

int VbRevertBrowserDohLockdown() noexcept {
    // Values go, the keys above them stay: they may hold other policies.
    for (const wchar_t* keyPath : kChromiumKeys) {
        DeletePolicyValue(keyPath, kDohModeValue);
        DeletePolicyValue(keyPath, kProxyValue);
    }
    // Refused when the key has a subkey; its values then stay.
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kFirefoxDohKey);
    // Firefox's proxy policy may hold a parent's own settings beside ours.
    DeletePolicyValue(kFirefoxProxyKey, L"Mode");
    DeletePolicyValue(kFirefoxProxyKey, L"Locked");
    DeletePolicyValue(kWindowsProxyKey, kPerUserValue);
    DeletePolicyValue(kDnsClientKey, kDnsClientValue);
    return 1;
}
