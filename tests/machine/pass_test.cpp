// The browser policies, and the enforcement pass against the test prefix's machine.
#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>

#include <string>
#include <vector>

#include "protection/dohlock.h"
#include "protection/enforce.h"
#include "tests/support/test_support.h"

namespace {

const wchar_t* const kChromiumKeys[] = {
    L"SOFTWARE\\Policies\\Google\\Chrome", L"SOFTWARE\\Policies\\Microsoft\\Edge",
    L"SOFTWARE\\Policies\\BraveSoftware\\Brave", L"SOFTWARE\\Policies\\Chromium"};
const wchar_t kFirefoxDoh[] = L"SOFTWARE\\Policies\\Mozilla\\Firefox\\DNSOverHTTPS";
const wchar_t kDnsClient[] = L"SOFTWARE\\Policies\\Microsoft\\Windows NT\\DNSClient";
const std::string kOff("o\0f\0f\0\0\0", 8);  // "off" in UTF-16 with its terminator
const std::string kOne("\1\0\0\0", 4);

bool KeyExists(const wchar_t* key) {
    HKEY handle;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
    RegCloseKey(handle);
    return true;
}

void SetText(const wchar_t* key, const wchar_t* name, std::wstring_view text) {
    ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, key, name, REG_SZ, text.data(),
                              static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

std::string Data(const wchar_t* key, const wchar_t* name, DWORD type) {
    auto value = MachineValue(key, name);
    return !value ? "<absent>" : value->type != type ? "<wrong type>" : value->data;
}

class Pass : public testing::Test {
protected:
    void SetUp() override { ResetMachine({Adapter(12, "Wi-Fi")}); }
    void TearDown() override {
        RemoveFolder(kConfigDir);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies");
    }
    // The pass's result, then its report: read, on, DNS, hosts, browsers failed.
    static std::vector<int> PassReport() {
        VbPassReport r;
        int result = VbEnforceFromConfig(&r);
        return {result, r.configRead, r.enabled, r.dnsFailed, r.hostsFailed, r.browsersFailed};
    }
};

}  // namespace

TEST_F(Pass, LockdownWritesEveryPolicyAndRevertDeletesThemOnly) {
    SetText(kChromiumKeys[0], L"DnsOverHttpsMode", L"automatic");
    SetText(kChromiumKeys[0], L"HomepageLocation", L"https://example.org/");
    EXPECT_EQ(VbLockdownBrowserDoh(), 1);
    for (const wchar_t* key : kChromiumKeys)
        EXPECT_EQ(Data(key, L"DnsOverHttpsMode", REG_SZ), kOff) << Narrow(key);
    EXPECT_EQ(Data(kFirefoxDoh, L"Enabled", REG_DWORD), std::string(4, '\0'));
    EXPECT_EQ(Data(kFirefoxDoh, L"Locked", REG_DWORD), kOne);
    EXPECT_EQ(Data(kDnsClient, L"DoHPolicy", REG_DWORD), kOne);
    for (int round = 0; round < 2; ++round) {  // a second revert finds nothing to delete
        EXPECT_EQ(VbRevertBrowserDohLockdown(), 1);
        for (const wchar_t* key : kChromiumKeys)  // the value goes, not restored; the key stays
            EXPECT_TRUE(KeyExists(key) && !MachineValue(key, L"DnsOverHttpsMode")) << Narrow(key);
        EXPECT_FALSE(KeyExists(kFirefoxDoh));
        EXPECT_TRUE(KeyExists(L"SOFTWARE\\Policies\\Mozilla\\Firefox"));
        EXPECT_FALSE(MachineValue(kDnsClient, L"DoHPolicy"));
        EXPECT_TRUE(MachineValue(kChromiumKeys[0], L"HomepageLocation"));  // other policies stay
    }
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies");
    EXPECT_EQ(VbRevertBrowserDohLockdown(), 1);
    EXPECT_FALSE(KeyExists(L"SOFTWARE\\Policies\\Google"));  // nothing made by a revert

    // A key that cannot be made fails the lockdown, and every other value is written.
    MakeBraveUnwritable();
    EXPECT_EQ(VbLockdownBrowserDoh(), 0);
    EXPECT_FALSE(MachineValue(kChromiumKeys[2], L"DnsOverHttpsMode"));
    EXPECT_EQ(Data(kChromiumKeys[3], L"DnsOverHttpsMode", REG_SZ), kOff);
    EXPECT_EQ(Data(kDnsClient, L"DoHPolicy", REG_DWORD), kOne);
    // A Firefox key with a subkey cannot be deleted: its values stay, the rest goes.
    SetText((std::wstring(kFirefoxDoh) + L"\\Extra").c_str(), nullptr, L"");
    EXPECT_EQ(VbRevertBrowserDohLockdown(), 1);
    EXPECT_EQ(Data(kFirefoxDoh, L"Locked", REG_DWORD), kOne);
    EXPECT_FALSE(MachineValue(kChromiumKeys[3], L"DnsOverHttpsMode"));
}

TEST_F(Pass, EveryStepIsAppliedOrRevertedAndReported) {
    EXPECT_EQ(PassReport(), (std::vector<int>{1, 1, 1, 0, 0, 0}));  // no file: on, no sites
    EXPECT_TRUE(ReadNetshSimState().adapters[0].ipv4 == kFamilyV4 && Hosts() == kUserHosts &&
                PoliciesLocked());
    EXPECT_FALSE(PathExists(kConfigPath));  // a pass never writes the configuration

    PlantConfig("s\nh\n1\nkids.example\n");
    ClearNetshSimLog();
    ASSERT_EQ(VbEnforceFromConfig(), 1);
    std::size_t commands = ReadNetshSimLog().size();
    ASSERT_EQ(VbEnforceFromConfig(), 1);  // a second pass re-issues everything, changes nothing
    EXPECT_EQ(Hosts(), kUserHosts + kBegin + HostsLines("kids.example") + kEnd);
    EXPECT_EQ(ReadNetshSimLog().size(), 2 * commands);

    NetshSimState state = ReadNetshSimState();
    state.adapters[0].fail = "ipv6-add";
    WriteNetshSimState(state);
    HANDLE reader = HoldFile(kHostsPath, GENERIC_READ, FILE_SHARE_READ);  // not replaceable
    MakeBraveUnwritable();
    EXPECT_EQ(PassReport(), (std::vector<int>{0, 1, 1, 1, 1, 1}));
    CloseHandle(reader);

    // A held folder in the temporary file's place stays: nothing read, nothing changed.
    const std::wstring planted = kConfigPath + L".vb_tmp";
    ASSERT_TRUE(CreateDirectoryW(planted.c_str(), nullptr));
    HANDLE holder = CreateFileW(planted.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ClearNetshSimLog();
    WriteAll(kHostsPath, kUserHosts);
    EXPECT_EQ(PassReport(), (std::vector<int>{0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(ReadNetshSimLog().empty() && Hosts() == kUserHosts);
    CloseHandle(holder);

    // Off: all three are reverted, even when the first fails.
    PlantConfig("s\nh\n0\nkids.example\n");
    state.listFails = true;
    WriteNetshSimState(state);
    EXPECT_EQ(PassReport(), (std::vector<int>{1, 1, 0, 1, 0, 0}));
    EXPECT_TRUE(Hosts() == kUserHosts && !MachineValue(kChromiumKeys[0], L"DnsOverHttpsMode"));
}

// Wine counts no handles or private bytes: the page-file figure and the next handle stand in.
TEST_F(Pass, HundredsOfPassesLeakNothing) {
    PlantConfig("s\nh\n1\nexample.com\n");
    auto usage = [] {
        PROCESS_MEMORY_COUNTERS memory = {};
        GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
        HANDLE probe = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        CloseHandle(probe);
        return std::make_pair(memory.PagefileUsage, probe);
    };
    // Without netsh a pass starts no child and costs milliseconds.
    std::wstring netsh = kSystemDir + L"\\netsh.exe";
    ASSERT_TRUE(MoveFileW(netsh.c_str(), (netsh + L".away").c_str()));
    for (int i = 0; i < 10; ++i)
        VbEnforceFromConfig();
    auto before = usage();
    for (int i = 0; i < 300; ++i)
        VbEnforceFromConfig();
    auto after = usage();
    ASSERT_TRUE(MoveFileW((netsh + L".away").c_str(), netsh.c_str()));
    EXPECT_EQ(after.second, before.second);
    EXPECT_LT(after.first, before.first + 256 * 1024) << before.first << " -> " << after.first;
}
