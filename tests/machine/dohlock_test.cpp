// Browser and DNS-client policies in the test prefix's registry.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "protection/dohlock.h"
#include "tests/support/test_support.h"

namespace {

const wchar_t* const kChromiumKeys[] = {
    L"SOFTWARE\\Policies\\Google\\Chrome",
    L"SOFTWARE\\Policies\\Microsoft\\Edge",
    L"SOFTWARE\\Policies\\BraveSoftware\\Brave",
    L"SOFTWARE\\Policies\\Chromium",
};
const wchar_t kFirefox[] = L"SOFTWARE\\Policies\\Mozilla\\Firefox";
const wchar_t kFirefoxDoh[] = L"SOFTWARE\\Policies\\Mozilla\\Firefox\\DNSOverHTTPS";
const wchar_t kDnsClient[] = L"SOFTWARE\\Policies\\Microsoft\\Windows NT\\DNSClient";

struct RegValue {
    DWORD type;
    std::string data;
};

std::optional<RegValue> Read(const wchar_t* key, const wchar_t* name) {
    HKEY handle;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS)
        return std::nullopt;
    BYTE data[256];
    DWORD size = sizeof data, type = 0;
    LSTATUS status = RegQueryValueExW(handle, name, nullptr, &type, data, &size);
    RegCloseKey(handle);
    if (status != ERROR_SUCCESS) return std::nullopt;
    return RegValue{type, std::string(reinterpret_cast<char*>(data), size)};
}

bool KeyExists(const wchar_t* key) {
    HKEY handle;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
    RegCloseKey(handle);
    return true;
}

void SetString(const wchar_t* key, const wchar_t* name, const wchar_t* text) {
    HKEY handle;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                              &handle, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                   static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
}

const std::string kOff("o\0f\0f\0\0\0", 8);  // "off" in UTF-16 with its terminator
const std::string kZero("\0\0\0\0", 4);
const std::string kOne("\1\0\0\0", 4);

class BrowserPolicies : public testing::Test {
protected:
    void SetUp() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies"); }
    void TearDown() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies"); }
};

void ExpectLockedDown() {
    for (const wchar_t* key : kChromiumKeys) {
        auto value = Read(key, L"DnsOverHttpsMode");
        ASSERT_TRUE(value) << Narrow(key);
        EXPECT_EQ(value->type, static_cast<DWORD>(REG_SZ));
        EXPECT_EQ(value->data, kOff);
    }
    auto enabled = Read(kFirefoxDoh, L"Enabled");
    auto locked = Read(kFirefoxDoh, L"Locked");
    auto doh = Read(kDnsClient, L"DoHPolicy");
    ASSERT_TRUE(enabled && locked && doh);
    EXPECT_EQ(enabled->type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(enabled->data, kZero);
    EXPECT_EQ(locked->type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(locked->data, kOne);
    EXPECT_EQ(doh->type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(doh->data, kOne);
}

}  // namespace

TEST_F(BrowserPolicies, LockdownCreatesEveryKeyAndValue) {
    EXPECT_EQ(VbLockdownBrowserDoh(), 1);
    ExpectLockedDown();
    EXPECT_EQ(VbLockdownBrowserDoh(), 1);  // writing again changes nothing
    ExpectLockedDown();
}

TEST_F(BrowserPolicies, EarlierTextIsOverwrittenThenDeletedNotRestored) {
    SetString(kChromiumKeys[0], L"DnsOverHttpsMode", L"automatic");
    SetString(kChromiumKeys[0], L"HomepageLocation", L"https://example.org/");
    SetString(kDnsClient, L"EnableMulticast", L"0");
    ASSERT_EQ(VbLockdownBrowserDoh(), 1);
    EXPECT_EQ(Read(kChromiumKeys[0], L"DnsOverHttpsMode").value_or(RegValue{}).data, kOff);

    EXPECT_EQ(VbRevertBrowserDohLockdown(), 1);
    EXPECT_FALSE(Read(kChromiumKeys[0], L"DnsOverHttpsMode"));
    // Other policies and the keys that hold them stay.
    EXPECT_TRUE(Read(kChromiumKeys[0], L"HomepageLocation"));
    EXPECT_TRUE(Read(kDnsClient, L"EnableMulticast"));
    EXPECT_FALSE(Read(kDnsClient, L"DoHPolicy"));
}

TEST_F(BrowserPolicies, RevertRemovesValuesAndTheFirefoxKeyOnly) {
    ASSERT_EQ(VbLockdownBrowserDoh(), 1);
    EXPECT_EQ(VbRevertBrowserDohLockdown(), 1);
    for (const wchar_t* key : kChromiumKeys) {
        EXPECT_TRUE(KeyExists(key)) << Narrow(key);
        EXPECT_FALSE(Read(key, L"DnsOverHttpsMode")) << Narrow(key);
    }
    EXPECT_FALSE(KeyExists(kFirefoxDoh));
    EXPECT_TRUE(KeyExists(kFirefox));
    EXPECT_TRUE(KeyExists(kDnsClient));
    EXPECT_EQ(VbRevertBrowserDohLockdown(), 1);  // twice: nothing left to delete
}

TEST_F(BrowserPolicies, RevertWhereNothingExistsChangesNothing) {
    EXPECT_EQ(VbRevertBrowserDohLockdown(), 1);
    EXPECT_FALSE(KeyExists(L"SOFTWARE\\Policies\\Google"));
    EXPECT_FALSE(KeyExists(L"SOFTWARE\\Policies\\Mozilla"));
}

TEST_F(BrowserPolicies, FirefoxKeyWithASubkeyKeepsItsValues) {
    ASSERT_EQ(VbLockdownBrowserDoh(), 1);
    HKEY sub;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(kFirefoxDoh) + L"\\Extra").c_str(),
                              0, nullptr, 0, KEY_SET_VALUE, nullptr, &sub, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(sub);
    EXPECT_EQ(VbRevertBrowserDohLockdown(), 1);
    EXPECT_TRUE(KeyExists(kFirefoxDoh));
    EXPECT_TRUE(Read(kFirefoxDoh, L"Enabled"));
    EXPECT_TRUE(Read(kFirefoxDoh, L"Locked"));
    EXPECT_FALSE(Read(kChromiumKeys[1], L"DnsOverHttpsMode"));  // the rest still reverted
}

TEST_F(BrowserPolicies, OneFailedWriteGivesZeroAndTheOthersAreStillWritten) {
    // A lasting key cannot be created below a volatile one. The keys above are made
    // lasting first: a volatile key creates its missing parents volatile too.
    SetString(L"SOFTWARE\\Policies", L"Marker", L"x");
    HKEY brave;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies\\BraveSoftware", 0, nullptr,
                              REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &brave, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(brave);
    EXPECT_EQ(VbLockdownBrowserDoh(), 0);
    EXPECT_FALSE(Read(kChromiumKeys[2], L"DnsOverHttpsMode"));
    EXPECT_EQ(Read(kChromiumKeys[3], L"DnsOverHttpsMode").value_or(RegValue{}).data, kOff);
    EXPECT_EQ(Read(kFirefoxDoh, L"Locked").value_or(RegValue{}).data, kOne);
    EXPECT_EQ(Read(kDnsClient, L"DoHPolicy").value_or(RegValue{}).data, kOne);
}
