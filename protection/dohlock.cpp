// Browser and DNS-client policies under HKEY_LOCAL_MACHINE, native registry view.
#include "protection/dohlock.h"

#include <windows.h>

#include "common/vb_handle.h"

namespace {

// Chromium-family browsers, each reading "DnsOverHttpsMode" from its own key.
constexpr const wchar_t* kChromiumKeys[] = {
    L"SOFTWARE\\Policies\\Google\\Chrome",
    L"SOFTWARE\\Policies\\Microsoft\\Edge",
    L"SOFTWARE\\Policies\\BraveSoftware\\Brave",
    L"SOFTWARE\\Policies\\Chromium",
};
constexpr wchar_t kDohModeValue[] = L"DnsOverHttpsMode";
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

int SetStringPolicy(const wchar_t* keyPath) noexcept {
    static constexpr wchar_t kOff[] = L"off";
    // The length counts the terminator: 8 bytes.
    return SetPolicyValue(keyPath, kDohModeValue, REG_SZ, kOff, sizeof kOff) ? 1 : 0;
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
    for (const wchar_t* keyPath : kChromiumKeys)
        ok = SetStringPolicy(keyPath) && ok;
    ok = SetDwordPolicy(kFirefoxDohKey, L"Enabled", 0) && ok;
    ok = SetDwordPolicy(kFirefoxDohKey, L"Locked", 1) && ok;
    ok = SetDwordPolicy(kDnsClientKey, kDnsClientValue, 1) && ok;
    return ok;
}

int VbRevertBrowserDohLockdown() noexcept {
    // Values go, the keys above them stay: they may hold other policies.
    for (const wchar_t* keyPath : kChromiumKeys)
        DeletePolicyValue(keyPath, kDohModeValue);
    // Refused when the key has a subkey; its values then stay.
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kFirefoxDohKey);
    DeletePolicyValue(kDnsClientKey, kDnsClientValue);
    return 1;
}
