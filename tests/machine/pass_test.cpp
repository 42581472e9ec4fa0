// The browser policies, and the enforcement pass against the test prefix's machine.
#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <string>
#include <vector>

#include "agent/agent.h"
#include "protection/dohlock.h"
#include "protection/enforce.h"
#include "tests/support/test_support.h"
#include "tests/support/ui_driver.h"

namespace {

const wchar_t* const kChromiumKeys[] = {
    L"SOFTWARE\\Policies\\Google\\Chrome", L"SOFTWARE\\Policies\\Microsoft\\Edge",
    L"SOFTWARE\\Policies\\BraveSoftware\\Brave", L"SOFTWARE\\Policies\\Chromium"};
const wchar_t kFirefoxDoh[] = L"SOFTWARE\\Policies\\Mozilla\\Firefox\\DNSOverHTTPS";
const wchar_t kDnsClient[] = L"SOFTWARE\\Policies\\Microsoft\\Windows NT\\DNSClient";
const wchar_t kFirefoxProxy[] = L"SOFTWARE\\Policies\\Mozilla\\Firefox\\Proxy";
const wchar_t kInternet[] =
    L"SOFTWARE\\Policies\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
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
    // The pass's result, then its report: read, on, DNS, hosts, browsers, lock failed,
    // firewall off.
    static std::vector<int> PassReport() {
        VbPassReport r;
        int result = VbEnforceFromConfig(&r);
        return {result,        r.configRead,     r.enabled,    r.dnsFailed,
                r.hostsFailed, r.browsersFailed, r.lockFailed, r.firewallOff};
    }
};

}  // namespace

TEST_F(Pass, LockdownWritesEveryPolicyAndRevertDeletesThemOnly) {
    SetText(kChromiumKeys[0], L"DnsOverHttpsMode", L"automatic");
    SetText(kChromiumKeys[0], L"HomepageLocation", L"https://example.org/");
    SetText(kFirefoxProxy, L"HTTPProxy", L"parent.example:3128");  // a parent's own, kept
    EXPECT_EQ(VbLockdownBrowserDoh(), 1);
    // The proxy is the system's, the same for every user: no extension sets one.
    const std::wstring system = L"{\"ProxyMode\":\"system\"}";
    for (const wchar_t* key : kChromiumKeys) {
        EXPECT_EQ(Data(key, L"DnsOverHttpsMode", REG_SZ), kOff) << Narrow(key);
        EXPECT_EQ(
            Data(key, L"ProxySettings", REG_SZ),
            std::string(reinterpret_cast<const char*>(system.c_str()), 2 * system.size() + 2));
    }
    EXPECT_EQ(Data(kFirefoxProxy, L"Mode", REG_SZ), std::string("s\0y\0s\0t\0e\0m\0\0\0", 14));
    EXPECT_EQ(Data(kFirefoxProxy, L"Locked", REG_DWORD), kOne);
    EXPECT_EQ(Data(kInternet, L"ProxySettingsPerUser", REG_DWORD), std::string(4, '\0'));
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
        EXPECT_FALSE(MachineValue(kChromiumKeys[3], L"ProxySettings") ||
                     MachineValue(kFirefoxProxy, L"Mode") ||
                     MachineValue(kFirefoxProxy, L"Locked") ||
                     MachineValue(kInternet, L"ProxySettingsPerUser"));
        EXPECT_TRUE(MachineValue(kChromiumKeys[0], L"HomepageLocation"));  // other policies stay
        EXPECT_TRUE(MachineValue(kFirefoxProxy, L"HTTPProxy"));
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
    EXPECT_EQ(PassReport(), (std::vector<int>{1, 1, 1, 0, 0, 0, 0, 0}));  // no file: on, no sites
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
    state.firewallFails = "set,add";
    WriteNetshSimState(state);
    HANDLE reader = HoldFile(kHostsPath, GENERIC_READ, FILE_SHARE_READ);  // not replaceable
    MakeBraveUnwritable();
    EXPECT_EQ(PassReport(), (std::vector<int>{0, 1, 1, 1, 1, 1, 1, 0}));
    CloseHandle(reader);

    // A held folder in the temporary file's place stays: nothing is read, and protection
    // holds all the same but for the sites, which are unknown.
    const std::wstring planted = kConfigPath + L".vb_tmp";
    ASSERT_TRUE(CreateDirectoryW(planted.c_str(), nullptr));
    HANDLE holder = CreateFileW(planted.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    WriteNetshSimState({false, {Adapter(12, "Wi-Fi")}});
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies");
    WriteAll(kHostsPath, kBlocked);
    EXPECT_EQ(PassReport(), (std::vector<int>{1, 0, 1, 0, 1, 0, 0, 0}));
    EXPECT_TRUE(ReadNetshSimState().adapters[0].ipv4 == kFamilyV4 && PoliciesLocked() &&
                CountFirewallRules(ReadNetshSimState(), "Vellumbrook - verrou DNS (UDP)") == 1);
    EXPECT_EQ(Hosts(), kBlocked);
    CloseHandle(holder);

    // Off: all are reverted, even when the first fails.
    PlantConfig("s\nh\n0\nkids.example\n");
    state = ReadNetshSimState();
    state.listFails = true;
    WriteNetshSimState(state);
    EXPECT_EQ(PassReport(), (std::vector<int>{1, 1, 0, 1, 0, 0, 0, 0}));
    EXPECT_TRUE(Hosts() == kUserHosts && !MachineValue(kChromiumKeys[0], L"DnsOverHttpsMode"));
}

// The DNS lock as the firewall would apply its rules: which packets go out.
TEST_F(Pass, TheDnsLockLeavesOnlyTheFamilyResolverAndIsPutBackWhateverItFinds) {
    // Per address, its ports 53, 853, 443 and 80, x when UDP and TCP are blocked there:
    // public resolvers but on 80; any other address (the router's, a web site's) on DNS
    // and DNS over TLS; the family resolver and loopback never. Four rules, each once.
    const char* const kAddresses[] = {
        "8.8.8.8", "2001:4860:4860::8888", "94.140.14.140", "192.168.1.1", "fe80::1",
        "1.1.1.3", "2606:4700:4700::1003", "127.0.0.1",     "::1",         "93.184.215.14"};
    const std::string kLocked = "4 rules: xxx- xxx- xxx- xx-- xx-- ---- ---- ---- ---- xx-- ";
    auto seen = [&] {
        NetshSimState state = ReadNetshSimState();
        std::string text = std::to_string(state.rules.size()) + " rules: ";
        for (const char* address : kAddresses) {
            for (unsigned port : {53u, 853u, 443u, 80u}) {
                int both = FirewallBlocks(state, "udp", port, address) +
                           FirewallBlocks(state, "tcp", port, address);
                text += "-?x"[both];
            }
            text += ' ';
        }
        return text;
    };
    for (int pass = 0; pass < 3; ++pass)  // no second rule of any name
        EXPECT_EQ(PassReport(), (std::vector<int>{1, 1, 1, 0, 0, 0, 0, 0}));
    EXPECT_EQ(seen(), kLocked);
    // Deleted, disabled, narrowed, widened and doubled behind the agent's back.
    NetshSimState state = ReadNetshSimState();
    state.rules.erase(state.rules.begin());
    state.rules[0].values["enable"] = "no";
    state.rules[1].values["remoteip"] = "8.8.8.8";
    state.rules[2].values["remoteip"] = "any";
    state.rules.push_back(state.rules[2]);
    WriteNetshSimState(state);
    EXPECT_NE(seen(), kLocked);
    ClearNetshSimLog();
    EXPECT_EQ(PassReport(), (std::vector<int>{1, 1, 1, 0, 0, 0, 0, 0}));
    state = ReadNetshSimState();
    ASSERT_EQ(state.rules.size(), 5u);  // put right in place; only the missing one added
    EXPECT_EQ(state.rules[3].values, state.rules[2].values);
    for (const std::string& line : ReadNetshSimLog())  // never a gap in the lock
        EXPECT_EQ(line.find(" delete "), std::string::npos) << line;
    state.rules.erase(state.rules.begin() + 3);  // the double, put right like the other
    WriteNetshSimState(state);
    EXPECT_EQ(seen(), kLocked);

    // A firewall that applies no local rule somewhere: no failure, but said.
    const wchar_t kPublic[] =
        L"SYSTEM\\CurrentControlSet\\Services\\SharedAccess\\Parameters\\"
        L"FirewallPolicy\\PublicProfile";
    DWORD off = 0;
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, kPublic, L"EnableFirewall", REG_DWORD, &off, sizeof off);
    EXPECT_EQ(PassReport(), (std::vector<int>{1, 1, 1, 0, 0, 0, 0, 1}));
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kPublic, L"EnableFirewall");
    RegSetKeyValueW(HKEY_LOCAL_MACHINE,
                    L"SOFTWARE\\Policies\\Microsoft\\WindowsFirewall\\DomainProfile",
                    L"AllowLocalPolicyMerge", REG_DWORD, &off, sizeof off);
    EXPECT_EQ(PassReport(), (std::vector<int>{1, 1, 1, 0, 0, 0, 0, 1}));

    // Protection off with rules that cannot be deleted, or kept by a stopped firewall
    // service for its return: the adapters keep the family resolver, which the lock lets
    // through. Then the lock goes, and the rest after it.
    PlantConfig("s\nh\n0\n");
    state = ReadNetshSimState();
    for (const char* fails : {"delete", "stopped"}) {
        state.firewallFails = fails;
        WriteNetshSimState(state);
        EXPECT_EQ(PassReport(), (std::vector<int>{1, 1, 0, 1, 0, 0, 1, 0})) << fails;
        EXPECT_EQ(ReadNetshSimState().adapters[0].ipv4, kFamilyV4);
    }
    state.firewallFails = "";
    WriteNetshSimState(state);
    EXPECT_EQ(PassReport(), (std::vector<int>{1, 1, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(ReadNetshSimState().rules.empty() &&
                ReadNetshSimState().adapters[0].ipv4 == "dhcp");
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

TEST_F(Pass, ALockWhoseHolderEndedHoldsNothing) {
    // --revert holds the lock while its netsh commands run, slowly; ended in the middle,
    // it leaves the next pass of another process nothing to wait for.
    NetshSimState slow = ReadNetshSimState();
    slow.delayMs = 3000;
    WriteNetshSimState(slow);
    {
        TestProcess revert(Widen(std::getenv("VB_AGENT_EXE")), L"--revert");
        ASSERT_TRUE(ui_driver::WaitUntil([] { return !ReadNetshSimLog().empty(); }, 30000));
    }  // ended here
    slow.delayMs = 0;
    WriteNetshSimState(slow);
    ULONGLONG start = GetTickCount64();
    VbEnforceFromConfig();
    EXPECT_LT(GetTickCount64() - start, 20000u);
}

TEST(AgentWindows, OnlyAnElevatedCopyOfTheAgentsProgramCounts) {
    // Copies of this very program with a window of the tray class: one run without
    // elevation (the linked token of this elevated one) is a decoy; an elevated one
    // is taken for an agent.
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    HANDLE token = nullptr;
    TOKEN_LINKED_TOKEN linked = {};
    DWORD size = 0;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
                GetTokenInformation(token, TokenLinkedToken, &linked, sizeof linked, &size));
    for (HANDLE as : {linked.LinkedToken, HANDLE{}}) {
        TestProcess copy(self, L"--decoy", as);
        HWND window = ui_driver::TrayOf(copy.Id(), 10000);
        EXPECT_TRUE(window && VbFindRunningAgent(0) == (as ? nullptr : window));
    }
    CloseHandle(linked.LinkedToken);
    CloseHandle(token);
}
