// The enforcement pass against the test prefix's config.dat, hosts file,
// registry and the netsh simulator.
#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>

#include <optional>
#include <string>

#include "protection/enforce.h"
#include "tests/fixtures/netsh_state.h"
#include "tests/support/test_support.h"

namespace {

const std::string kBegin = "# >>> Vellumbrook >>>\r\n";
const std::string kUserHosts = "127.0.0.1 localhost\r\n";
const wchar_t kChrome[] = L"SOFTWARE\\Policies\\Google\\Chrome";
const wchar_t kFirefoxDoh[] = L"SOFTWARE\\Policies\\Mozilla\\Firefox\\DNSOverHTTPS";
const NetshSimDns kFamilyV4 = NetshSimDns::Static({"1.1.1.3", "1.0.0.3"});

bool PoliciesLocked() {
    return MachineValueExists(kChrome, L"DnsOverHttpsMode") &&
           MachineValueExists(kFirefoxDoh, L"Locked");
}

NetshSimAdapter Adapter(unsigned index, std::string name, NetshSimDns v4) {
    NetshSimAdapter adapter;
    adapter.index = index;
    adapter.name = std::move(name);
    adapter.ipv4 = v4;
    adapter.ipv6 = NetshSimDns::Dhcp();
    return adapter;
}

std::string Hosts() {
    return ReadAll(TestHostsPath()).value_or("<missing>");
}

class EnforcementPass : public testing::Test {
protected:
    void SetUp() override {
        RemoveFolder(TestConfigDir());
        WriteAll(TestHostsPath(), kUserHosts);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies");
        NetshSimState state;
        state.adapters = {Adapter(12, "Wi-Fi", NetshSimDns::Dhcp())};
        WriteNetshSimState(state);
        ClearNetshSimLog();
    }
    void TearDown() override { RemoveFolder(TestConfigDir()); }

    static void PlantConfig(std::string_view text) {
        CreateDirectoryW(TestConfigDir().c_str(), nullptr);
        WriteAll(TestConfigPath(), text);
    }
};

}  // namespace

TEST_F(EnforcementPass, NoConfigurationAppliesProtectionWithoutABlock) {
    EXPECT_EQ(VbEnforceFromConfig(), 1);
    EXPECT_EQ(ReadNetshSimState().adapters[0].ipv4, kFamilyV4);
    EXPECT_EQ(Hosts(), kUserHosts);  // rewritten, but no markers for an empty list
    EXPECT_TRUE(PoliciesLocked());
    EXPECT_FALSE(PathExists(TestConfigPath()));  // a pass never writes the configuration
}

TEST_F(EnforcementPass, ProtectionOnWithSites) {
    PlantConfig("s\nh\n1\nexample.com\nkids.example\n");
    EXPECT_EQ(VbEnforceFromConfig(), 1);
    std::string hosts = Hosts();
    EXPECT_EQ(hosts.substr(0, kUserHosts.size() + kBegin.size()), kUserHosts + kBegin);
    EXPECT_NE(hosts.find("127.0.0.1 www.kids.example\r\n"), std::string::npos);
    EXPECT_EQ(ReadNetshSimState().adapters[0].ipv4, kFamilyV4);
    EXPECT_TRUE(PoliciesLocked());
}

TEST_F(EnforcementPass, ProtectionOffRevertsAllThreeEvenWhenDnsFails) {
    PlantConfig("s\nh\n1\nexample.com\n");
    ASSERT_EQ(VbEnforceFromConfig(), 1);
    ASSERT_TRUE(PoliciesLocked());

    PlantConfig("s\nh\n0\nexample.com\n");
    NetshSimState broken = ReadNetshSimState();
    broken.options.listFails = true;
    WriteNetshSimState(broken);
    EXPECT_EQ(VbEnforceFromConfig(), 1);
    EXPECT_EQ(Hosts(), kUserHosts);
    EXPECT_FALSE(MachineValueExists(kChrome, L"DnsOverHttpsMode"));
    EXPECT_FALSE(MachineValueExists(kFirefoxDoh, L"Locked"));

    broken.options.listFails = false;
    WriteNetshSimState(broken);
    EXPECT_EQ(VbEnforceFromConfig(), 1);
    EXPECT_TRUE(ReadNetshSimState().adapters[0].ipv4.dhcp);
}

TEST_F(EnforcementPass, UnreadableConfigurationChangesNothing) {
    PlantConfig("s\nh\n0\n");
    const std::string hostsWithBlock =
        kUserHosts + kBegin + "127.0.0.1 kept\r\n" + "# <<< Vellumbrook <<<\r\n";
    WriteAll(TestHostsPath(), hostsWithBlock);
    HANDLE lock = CreateFileW(TestConfigPath().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    NetshSimState before = ReadNetshSimState();
    EXPECT_EQ(VbEnforceFromConfig(), 0);
    CloseHandle(lock);
    EXPECT_EQ(Hosts(), hostsWithBlock);
    EXPECT_EQ(ReadNetshSimState(), before);
    EXPECT_TRUE(ReadNetshSimLog().empty());
    EXPECT_FALSE(MachineValueExists(kChrome, L"DnsOverHttpsMode"));
}

TEST_F(EnforcementPass, TwoPassesLeaveTheMachineAsOnePass) {
    PlantConfig("s\nh\n1\nexample.com\n");
    ASSERT_EQ(VbEnforceFromConfig(), 1);
    std::string hosts = Hosts();
    NetshSimState dns = ReadNetshSimState();
    std::size_t commands = ReadNetshSimLog().size();
    ASSERT_EQ(VbEnforceFromConfig(), 1);
    EXPECT_EQ(Hosts(), hosts);
    EXPECT_EQ(ReadNetshSimState(), dns);
    EXPECT_TRUE(PoliciesLocked());
    EXPECT_EQ(ReadNetshSimLog().size(), 2 * commands);  // every command re-issued
}

TEST_F(EnforcementPass, HundredsOfPassesLeakNothing) {
    PlantConfig("s\nh\n1\nexample.com\n");
    // The listing fails at once, so that a pass costs one short child process.
    NetshSimState state = ReadNetshSimState();
    state.options.listFails = true;
    WriteNetshSimState(state);

    auto usage = [] {
        PROCESS_MEMORY_COUNTERS_EX memory = {};
        memory.cb = sizeof memory;
        GetProcessMemoryInfo(GetCurrentProcess(),
                             reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory);
        DWORD handles = 0;
        GetProcessHandleCount(GetCurrentProcess(), &handles);
        return std::pair<SIZE_T, DWORD>(memory.PrivateUsage, handles);
    };
    for (int i = 0; i < 10; ++i)
        VbEnforceFromConfig();
    auto [privateBefore, handlesBefore] = usage();
    for (int i = 0; i < 30; ++i)
        ASSERT_EQ(VbEnforceFromConfig(), 1);
    // Without netsh the pass starts no child and costs milliseconds: hundreds more.
    std::wstring netsh = TestSystemDir() + L"\\netsh.exe";
    std::wstring away = netsh + L".away";
    ASSERT_TRUE(MoveFileW(netsh.c_str(), away.c_str()));
    for (int i = 0; i < 300; ++i)
        VbEnforceFromConfig();
    ASSERT_TRUE(MoveFileW(away.c_str(), netsh.c_str()));
    auto [privateAfter, handlesAfter] = usage();
    EXPECT_EQ(handlesAfter, handlesBefore);
    EXPECT_LT(privateAfter, privateBefore + 256 * 1024) << privateBefore << " -> " << privateAfter;
}
