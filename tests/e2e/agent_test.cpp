// The real Vellumbrook.exe in the test prefix, driven as a parent would, through its
// tray window's messages, its dialogs' boxes, buttons and keys. One life per test.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "common/vb_handle.h"
#include "config/config.h"
#include "password/password.h"
#include "tests/fixtures/netsh_state.h"
#include "tests/support/test_support.h"
#include "tests/support/ui_driver.h"
#include "ui/ui_internal.h"

using namespace ui_driver;

namespace {

constexpr UINT WM_TRAYICON = WM_APP + 1;
constexpr UINT IDM_SETTINGS = 2001;
constexpr UINT IDM_QUIT = 2002;
// A cold prefix on a busy 2-core machine takes its time to start a program.
constexpr int kStartMs = 30000;

bool DnsApplied() {
    NetshSimState state = ReadNetshSimState();
    return state.adapters[1].ipv4 == kFamilyV4 && state.adapters[2].ipv6 == kFamilyV6;
}

// What the tray window is sent, it has handled on return: a window not open then never opens.
class Agent : public TestProcess {
public:
    explicit Agent(const std::wstring& arguments = L"")
        : TestProcess(Widen(std::getenv("VB_AGENT_EXE")), arguments) {}
    HWND Tray() const { return TrayOf(Id()); }
    HWND Window(const wchar_t* className) const { return WaitForWindow(className, Id()); }
    bool Shows(const wchar_t* className) const {
        return Settled(Tray()) && WaitForWindow(className, Id(), 0) != nullptr;
    }
    // Once the agent first waits for input, its first pass and its first-run check are done.
    bool Started() const {
        VbUniqueHandle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, Id()));
        return WaitForInputIdle(process.Get(), kStartMs) == 0;
    }
    bool Send(UINT message, WPARAM wParam, LPARAM lParam) const {
        DWORD_PTR ignored = 0;
        return SendMessageTimeoutW(Tray(), message, wParam, lParam, SMTO_NORMAL, 5000, &ignored);
    }
};

class AgentLife : public testing::Test {
protected:
    void SetUp() override {
        ResetMachine({LoopbackAdapter(), Adapter(12, "Wi-Fi 2"), Adapter(17, "Ethernet")});
    }
    void TearDown() override { RemoveFolder(kConfigDir); }
};

}  // namespace

TEST_F(AgentLife, FirstStartChoosesAPasswordOneFlowAtATimeAndQuitNeedsIt) {
    PlantConfig("\n\n1\nkids.example\n");
    // A reader without delete sharing: config.dat can be read but not replaced.
    HANDLE reader = HoldFile(kConfigPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
    Agent agent;
    HWND set = WaitForWindow(L"VBSetPasswordWnd", agent.Id(), kStartMs);
    ASSERT_TRUE(set);
    EXPECT_TRUE(DnsApplied() && PoliciesLocked() && Hosts() == kBlocked) << "no first pass";
    // A password that does not reach the file is reported, and opens nothing.
    ASSERT_TRUE(FillPassword(set, L"motdepasse", L"motdepasse", true));
    ExpectMessageBox(agent.Tray(),
                     L"Le mot de passe n'a pas pu être enregistré. Réessayez dans un instant.");
    EXPECT_FALSE(agent.Shows(L"VBSettingsWnd"));
    CloseHandle(reader);
    EXPECT_EQ(ReadAll(kConfigPath), "\n\n1\nkids.example\n");

    // Cancelled: nothing is written, and the icon asks for a new password again.
    PostMessageW(agent.Tray(), WM_TRAYICON, 1, WM_LBUTTONDBLCLK);
    ASSERT_TRUE(CloseWith(agent.Window(L"VBSetPasswordWnd"), IDC_CANCEL));
    EXPECT_FALSE(agent.Shows(L"VBSettingsWnd"));
    EXPECT_EQ(ReadAll(kConfigPath), "\n\n1\nkids.example\n");

    // Wine keeps a menu's items from other processes: they are known by their order.
    PostMessageW(agent.Tray(), WM_TRAYICON, 1, WM_RBUTTONUP);
    HWND menu = agent.Window(L"#32768");
    ASSERT_TRUE(menu && Keys(menu, {VK_DOWN, VK_RETURN}));  // the first item
    // Whatever else the parent clicks, at once handled, the one dialog stays in front.
    set = agent.Window(L"VBSetPasswordWnd");
    EXPECT_TRUE(agent.Send(WM_TRAYICON, 1, WM_LBUTTONDBLCLK) &&
                agent.Send(WM_COMMAND, IDM_SETTINGS, 0) && agent.Send(WM_COMMAND, IDM_QUIT, 0));
    int dialogs = 0;
    for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, L"VBSetPasswordWnd", nullptr));)
        dialogs += IsWindowVisible(w) ? 1 : 0;
    EXPECT_EQ(dialogs, 1);
    EXPECT_EQ(GetForegroundWindow(), set);
    ASSERT_TRUE(FillPassword(set, L"motdepasse", L"motdepasse", true));
    HWND settings = agent.Window(L"VBSettingsWnd");
    ASSERT_TRUE(settings);
    VbConfig saved;
    ASSERT_EQ(VbLoadConfig(&saved), 1);
    EXPECT_EQ(VbVerifyPassword(saved.salt, saved.hash, "motdepasse"), 1);
    EXPECT_EQ(ReadAll(kConfigPath).value_or("").substr(97), "\n1\nkids.example\n");
    // A save whose pass fails says so in the tip at once, not a minute later.
    HANDLE holder = HoldFile(kHostsPath, GENERIC_READ, FILE_SHARE_READ);
    ASSERT_TRUE(Press(settings, IDC_SAVE));
    EXPECT_TRUE(WaitUntil([&] { return TrayTip() == L"Vellumbrook - protection incomplète"; }));
    CloseHandle(holder);
    ASSERT_TRUE(CloseWith(settings, IDC_CANCEL));

    // Quitter, then "Annuler": the agent runs on. The password ends it.
    PostMessageW(agent.Tray(), WM_COMMAND, IDM_QUIT, 0);
    ASSERT_TRUE(CloseWith(agent.Window(L"VBEnterPasswordWnd"), IDC_CANCEL));
    EXPECT_TRUE(Settled(agent.Tray())) << "the agent quit without its password";
    PostMessageW(agent.Tray(), WM_TRAYICON, 1, WM_CONTEXTMENU);
    menu = agent.Window(L"#32768");
    ASSERT_TRUE(menu && Keys(menu, {VK_DOWN, VK_DOWN, VK_RETURN}));  // the second item
    ASSERT_TRUE(FillPassword(agent.Window(L"VBEnterPasswordWnd"), L"motdepasse", L"", true));
    EXPECT_EQ(agent.ExitCode(), 0);
    EXPECT_TRUE(Hosts() == kBlocked && DnsApplied() && PoliciesLocked()) << "quitting reverted";
}

TEST_F(AgentLife, NoDecoyStopsItAndTamperingLastsAMinute) {
    // Another program holds a window of the agent's class.
    WNDCLASSW decoyClass = {0,       DefWindowProcW, 0,       0,       nullptr,
                            nullptr, nullptr,        nullptr, nullptr, L"VBTrayWnd"};
    RegisterClassW(&decoyClass);
    HWND decoy =
        CreateWindowExW(0, L"VBTrayWnd", L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(decoy);
    PlantConfig(ConfigWithSecret("1\nkids.example\n"));
    Agent agent(L"--REVERT --reverted");  // neither is the switch: this starts the agent
    HWND tray = agent.Tray();
    ASSERT_TRUE(tray) << "a decoy kept the agent from starting";
    // The browser policies are a pass's last step: the minute counts from there, and
    // only then are the files looked at, never while a pass would replace them.
    ASSERT_TRUE(WaitUntil(PoliciesLocked, kStartMs));
    ULONGLONG firstPass = GetTickCount64();
    EXPECT_EQ(Hosts(), kBlocked);
    EXPECT_EQ(TrayTip(), L"Vellumbrook - protection active");
    WriteAll(kHostsPath, kUserHosts);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies");
    // A second real agent finds this one, not the decoy, and leaves.
    Agent second;
    EXPECT_EQ(second.ExitCode(10000), 0);
    ASSERT_TRUE(CloseWith(agent.Window(L"VBEnterPasswordWnd"), IDC_CANCEL));
    ASSERT_TRUE(WaitUntil(PoliciesLocked, 70000));
    ULONGLONG period = GetTickCount64() - firstPass;
    EXPECT_EQ(Hosts(), kBlocked);
    EXPECT_TRUE(period > 56000 && period < 66000) << period;

    // --revert among other words, told when a command fails: DHCP, no block, policies kept.
    NetshSimState state = ReadNetshSimState();
    state.adapters[2].fail = "ipv6-dhcp";
    WriteNetshSimState(state);
    EXPECT_EQ(Agent(L"--revert").ExitCode(), 3);
    EXPECT_EQ(Agent(L"--service").ExitCode(), 1);  // not started by the service control manager
    state.adapters[2].fail = "";
    WriteNetshSimState(state);
    ClearNetshSimLog();
    EXPECT_EQ(Agent(L"/quiet --revert now").ExitCode(), 0);
    EXPECT_EQ(Hosts(), kUserHosts);
    for (const std::string& line : ReadNetshSimLog())  // loopback untouched
        EXPECT_EQ(line.find(" name=" + std::to_string(LoopbackAdapter().index) + " "), line.npos);
    EXPECT_TRUE(ReadNetshSimState().rules.empty());  // the DNS lock gone
    EXPECT_EQ(ReadNetshSimState().adapters[1].ipv6, "dhcp");
    EXPECT_TRUE(PoliciesLocked());
    PostMessageW(tray, WM_CLOSE, 0, 0);
    EXPECT_EQ(agent.ExitCode(), 0);
    DestroyWindow(decoy);
}

TEST_F(AgentLife, TheSetupAsksForTheFirstPasswordBeforeAnythingElse) {
    for (bool choose : {false, true}) {
        Agent setup(L"--setup");
        HWND set = setup.Window(L"VBSetPasswordWnd");
        ASSERT_TRUE(choose ? FillPassword(set, L"motdepasse", L"motdepasse", true)
                           : CloseWith(set, IDC_CANCEL));
        EXPECT_EQ(setup.ExitCode(), choose ? 0 : 1);
        EXPECT_EQ(PathExists(kConfigPath), choose);
    }
    EXPECT_EQ(Agent(L"--setup").ExitCode(), 0);  // set: nothing is asked again
}

TEST_F(AgentLife, AnUnreadableConfigurationIsNeverAFirstStart) {
    PlantConfig(ConfigWithSecret("0\nkept.example\n"));
    HANDLE lock = HoldFile(kConfigPath, GENERIC_READ | GENERIC_WRITE, 0);
    Agent agent;
    ASSERT_TRUE(agent.Tray() && agent.Started());
    EXPECT_EQ(WaitForWindow(L"VBSetPasswordWnd", agent.Id(), 0), nullptr);
    EXPECT_TRUE(ReadNetshSimLog().empty());  // the pass touched nothing, and says so
    EXPECT_EQ(TrayTip(), L"Vellumbrook - paramètres illisibles");

    const std::wstring unreadable = L"Impossible de lire les paramètres de Vellumbrook (" +
                                    kConfigDir + L"). Réessayez dans un instant.";
    PostMessageW(agent.Tray(), WM_TRAYICON, 1, WM_LBUTTONDBLCLK);
    ExpectMessageBox(agent.Tray(), unreadable);
    EXPECT_FALSE(agent.Shows(L"VBSetPasswordWnd"));
    PostMessageW(agent.Tray(), WM_COMMAND, IDM_QUIT, 0);
    ExpectMessageBox(agent.Tray(), unreadable);
    EXPECT_TRUE(Settled(agent.Tray())) << "quit without the password";

    CloseHandle(lock);
    PostMessageW(agent.Tray(), WM_COMMAND, IDM_QUIT, 0);
    ASSERT_TRUE(FillPassword(agent.Window(L"VBEnterPasswordWnd"), L"secret", L"", true));
    EXPECT_EQ(agent.ExitCode(), 0);
    EXPECT_EQ(ReadAll(kConfigPath), ConfigWithSecret("0\nkept.example\n"));
}
