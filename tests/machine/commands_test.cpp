// Hidden child processes; the adapters' DNS through the netsh simulator, its commands exact.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "common/vb_handle.h"
#include "protection/dns.h"
#include "protection/procutil.h"
#include "tests/fixtures/netsh_state.h"
#include "tests/support/test_support.h"

namespace {

using Clock = std::chrono::steady_clock;
using Strings = std::vector<std::string>;

int RunChild(std::wstring line) {
    return VbRunHidden(line.data());
}

std::string Capture(std::wstring line) {
    VbUniqueMalloc text(VbRunHiddenCapture(line.data()));
    return text ? std::string(text.Get()) : std::string("<null>");
}

std::wstring ExeFolder() {
    wchar_t path[MAX_PATH];
    std::wstring folder(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
    return folder.substr(0, folder.rfind(L'\\'));
}

// What "vbtestchild out" writes: byte i is 'A' + i % 26.
std::string Pattern(std::size_t n) {
    std::string pattern(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        pattern[i] = static_cast<char>('A' + i % 26);
    return pattern;
}

}  // namespace

TEST(HiddenCommands, OutputAndExitCodes) {
    EXPECT_EQ(Capture(L"vbtestchild drip 0"), "");        // an empty text, not null
    for (std::size_t n : {1023u, 8191u, 8192u, 100000u})  // around the first buffer
        EXPECT_EQ(Capture(L"vbtestchild out " + std::to_wstring(n)), Pattern(n)) << n;
    // Standard error too, and the text of a child that fails; the line as it was given.
    EXPECT_EQ(Capture(L"cmd /c \"echo only>&2\""), "only\r\n");
    EXPECT_EQ(Capture(L"cmd /c \"echo name=\"Wi-Fi 2\"& exit 1\""), "name=\"Wi-Fi 2\"\r\n");
    // Children run in the system directory, where no one can plant a DLL.
    EXPECT_EQ(Capture(L"cmd /c cd"), Narrow(kSystemDir) + "\r\n");
    EXPECT_EQ(RunChild(L"cmd /c exit 0"), 1);
    EXPECT_EQ(RunChild(L"cmd /c exit 1"), 0);
    EXPECT_EQ(RunChild(L"cmd /c exit 259"), 0);  // STILL_ACTIVE's value is no success
    EXPECT_EQ(RunChild(L"vbnosuchprogram arg"), 0);
    EXPECT_EQ(Capture(L"vbnosuchprogram arg"), "<null>");
    // The child inherits its pipe and nothing else the agent holds inheritable.
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    VbUniqueHandle event(CreateEventW(&inheritable, TRUE, FALSE, nullptr));
    EXPECT_EQ(Capture(L"vbtestchild inherits " +
                      std::to_wstring(reinterpret_cast<ULONG_PTR>(event.Get()))),
              "no");
}

TEST(HiddenCommands, ProgramsComeOnlyFromTheSystemDirectory) {
    // Copies where the platform's own search looks before system32.
    const std::wstring system = kSystemDir + L"\\vbtestchild.exe";
    const std::wstring work = L"C:\\vb-cwd";
    CreateDirectoryW(work.c_str(), nullptr);
    const std::wstring copies[] = {ExeFolder() + L"\\vbtestchild.exe", work + L"\\vbtestchild.exe",
                                   ExeFolder() + L"\\vbplanted.exe"};
    for (const std::wstring& copy : copies)
        ASSERT_TRUE(CopyFileW(system.c_str(), copy.c_str(), FALSE));
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    SetCurrentDirectoryW(work.c_str());

    DeleteFileW(L"C:\\which.txt");
    EXPECT_EQ(RunChild(L"vbtestchild marker C:\\which.txt"), 1);
    EXPECT_EQ(ReadAll(L"C:\\which.txt"), Narrow(system));
    DeleteFileW(L"C:\\which.txt");
    EXPECT_EQ(Capture(L"vbtestchild marker C:\\which.txt"), "");
    EXPECT_EQ(ReadAll(L"C:\\which.txt"), Narrow(system));
    // Neither a program that exists only elsewhere, nor a path out of system32.
    for (const std::wstring& line :
         {std::wstring(L"vbplanted marker C:\\planted.txt"), copies[2] + L" marker C:\\planted.txt",
          std::wstring(L"..\\vbplanted marker C:\\planted.txt")})
        EXPECT_EQ(RunChild(line), 0) << Narrow(line);
    EXPECT_FALSE(PathExists(L"C:\\planted.txt"));

    SetCurrentDirectoryW(previous);
    for (const std::wstring& copy : copies)
        DeleteFileW(copy.c_str());
    RemoveDirectoryW(work.c_str());
}

// Slow: each waits out the 15-second limit; run beside the other tests.
TEST(SlowHiddenCommands, NoChildHoldsTheAgentLongerThanFifteenSeconds) {
    // Both children hold a named event while they live: neither is ended.
    auto waitedAndAlive = [](Clock::time_point start, const wchar_t* event) {
        auto waited = Clock::now() - start;
        EXPECT_GE(waited, std::chrono::milliseconds(14500));
        EXPECT_LT(waited, std::chrono::seconds(20));
        EXPECT_TRUE(VbUniqueHandle(OpenEventW(SYNCHRONIZE, FALSE, event))) << "ended";
    };
    auto start = Clock::now();
    EXPECT_EQ(RunChild(L"vbtestchild sleep 17000 vb-sleeper"), 0);  // still running: a failure
    waitedAndAlive(start, L"vb-sleeper");
    start = Clock::now();
    EXPECT_EQ(Capture(L"vbtestchild hold 17000 vb-holder"), "holding\r\n");  // output kept open
    waitedAndAlive(start, L"vb-holder");
    // Nor does a child that writes without end (cut at 1 MiB), or a little at a time.
    start = Clock::now();
    EXPECT_EQ(Capture(L"vbtestchild out 0"), Pattern(1024 * 1024));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(17));
    start = Clock::now();
    EXPECT_GT(Capture(L"vbtestchild drip 20000").size(), 100u);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(17));
}

namespace {

const std::string kList = "netsh interface ipv4 show interfaces";

// The log of one call: the listing, then per interface its four or two commands.
Strings Log(bool apply, const std::vector<unsigned>& indexes) {
    Strings log = {kList};
    for (unsigned index : indexes) {
        std::string name = " dnsservers name=" + std::to_string(index);
        Strings commands = {"4 set" + name + " source=dhcp", "6 set" + name + " source=dhcp"};
        if (apply)
            commands = {"4 set" + name + " source=static address=1.1.1.3 register=none validate=no",
                        "4 add" + name + " address=1.0.0.3 index=2 validate=no",
                        "6 set" + name + " source=static address=2606:4700:4700::1113 " +
                            "register=none validate=no",
                        "6 add" + name + " address=2606:4700:4700::1003 index=2 validate=no"};
        for (const std::string& command : commands)
            log.push_back("netsh interface ipv" + command);
    }
    return log;
}

// The call's result and its completeness, and the log it left.
std::pair<int, int> Switch(bool apply) {
    ClearNetshSimLog();
    int complete = -1;
    int result = apply ? VbApplyFamilyDns(&complete) : VbRevertDns(&complete);
    return {result, complete};
}

}  // namespace

TEST(AdapterDns, EveryInterfaceByItsIndexButLoopbackGetsTheResolverThenDhcpBack) {
    // Names a standard user may give a VPN: "Loopback", a double quote, a final
    // backslash, é (0x82 in code page 437); a disconnected adapter with servers of its
    // own. The real loopback is the one Wine's IP Helper reports.
    NetshSimState before = {
        false,
        {LoopbackAdapter(), Adapter(12, "Loopback"), Adapter(14, "A\"B"), Adapter(15, "Wi-Fi\\"),
         Adapter(17, "Ethernet caf\x82"), Adapter(19, "Ethernet 3", "9.9.9.9")}};
    before.adapters[5].connected = false;
    WriteNetshSimState(before);
    std::vector<unsigned> indexes;
    for (std::size_t i = 1; i < before.adapters.size(); ++i)
        indexes.push_back(before.adapters[i].index);
    EXPECT_EQ(Switch(true), std::make_pair(1, 1));
    NetshSimState after = ReadNetshSimState();
    for (std::size_t i = 0; i < after.adapters.size(); ++i) {
        EXPECT_EQ(after.adapters[i].ipv4, i == 0 ? "dhcp" : kFamilyV4) << i;
        EXPECT_EQ(after.adapters[i].ipv6, i == 0 ? "dhcp" : kFamilyV6) << i;
    }
    EXPECT_EQ(ReadNetshSimLog(), Log(true, indexes));
    EXPECT_EQ(Switch(false), std::make_pair(1, 1));
    EXPECT_EQ(ReadNetshSimState().adapters[5].ipv6, "dhcp");
    EXPECT_EQ(ReadNetshSimLog(), Log(false, indexes));
}

TEST(AdapterDns, TheResultFollowsEachAdaptersFirstCommand) {
    NetshSimState state = {false, {Adapter(13, "Eth A"), Adapter(14, "Eth B")}};
    struct Row {
        bool apply;
        const char *failA, *failB;
        std::pair<int, int> result;
    } rows[] = {
        {true, "ipv4-set", "ipv4-set", {0, 0}},           // every other command still runs
        {true, "ipv4-set", "ipv4-add,ipv6-set", {1, 0}},  // only the first command counts
        {false, "ipv6-dhcp", "ipv4-dhcp", {1, 0}},
    };
    for (const Row& row : rows) {
        state.adapters[0].fail = row.failA;
        state.adapters[1].fail = row.failB;
        WriteNetshSimState(state);
        EXPECT_EQ(Switch(row.apply), row.result) << row.failA << " / " << row.failB;
        EXPECT_EQ(ReadNetshSimLog().size(), row.apply ? 9u : 5u);
    }
    // No listing, no interface, nothing but loopback: no command. A VPN named as
    // another interface's index: "name=N" reaches the VPN, and the step is incomplete.
    NetshSimAdapter ethernet = Adapter(17, "Ethernet");
    struct Machine {
        NetshSimState state;
        std::pair<int, int> result;
        std::size_t commands;
    } machines[] = {
        {{true, {}}, {0, 0}, 1},
        {{}, {0, 0}, 1},
        {{false, {LoopbackAdapter()}}, {0, 1}, 1},
        {{false, {ethernet, Adapter(23, std::to_string(ethernet.index))}}, {1, 0}, 9},
    };
    for (const Machine& machine : machines) {
        WriteNetshSimState(machine.state);
        EXPECT_EQ(Switch(true), machine.result) << machine.state.adapters.size();
        EXPECT_EQ(ReadNetshSimLog().size(), machine.commands);
    }
    EXPECT_EQ(ReadNetshSimState().adapters[0].ipv4, "dhcp");
}
