// The real Vellumbrook.exe in the test prefix, driven as a parent would: tray icon
// messages and menu commands posted to its tray window, text typed into its dialogs,
// buttons and keys pressed. Each test is one life of the agent.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

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
const std::wstring kTipActive = L"Vellumbrook - protection active";

std::wstring AgentPath() {
    return Widen(std::getenv("VB_AGENT_EXE") ? std::getenv("VB_AGENT_EXE") : "");
}

bool DnsApplied() {
    NetshSimState state = ReadNetshSimState();
    return state.adapters[1].ipv4 == kFamilyV4 && state.adapters[2].ipv6 == kFamilyV6;
}

// The agent of this test, and what a parent does with it.
class Agent : public TestProcess {
public:
    explicit Agent(const std::wstring& arguments = L"") : TestProcess(AgentPath(), arguments) {}
    HWND Tray() const { return TrayOf(Id()); }
    HWND Window(const wchar_t* className, int timeoutMs = kWaitMs) const {
        return WaitForWindow(className, Id(), timeoutMs);
    }
    bool NoWindow(const wchar_t* className, int waitMs = 1500) const {
        return WaitForWindow(className, Id(), waitMs) == nullptr;
    }
    void DoubleClickIcon() const { PostMessageW(Tray(), WM_TRAYICON, 1, WM_LBUTTONDBLCLK); }
    void Command(UINT id) const { PostMessageW(Tray(), WM_COMMAND, id, 0); }
};

class AgentLife : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(AgentPath().empty()) << "VB_AGENT_EXE is not set";
        ResetMachine({Adapter(1, "Loopback Pseudo-Interface 1"), Adapter(12, "Wi-Fi 2"),
                      Adapter(7, "Ethernet")});
    }
    void TearDown() override { RemoveFolder(TestConfigDir()); }
};

}  // namespace

TEST_F(AgentLife, FirstStartChoosesAPasswordOneFlowAtATimeAndQuitNeedsIt) {
    PlantConfig("\n\n1\nkids.example\n");
    // A reader without delete sharing: config.dat can be read but not replaced.
    HANDLE reader = HoldFile(TestConfigPath(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
    Agent agent;
    HWND set = agent.Window(L"VBSetPasswordWnd", kStartMs);
    ASSERT_TRUE(set) << DriverError();
    // The first pass ran before the prompt opened.
    EXPECT_TRUE(DnsApplied());
    EXPECT_TRUE(PoliciesLocked());
    EXPECT_EQ(Hosts(), kUserHosts + kBegin + HostsLines("kids.example") + kEnd);
    HWND tray = agent.Tray();
    EXPECT_EQ(TrayTip(), kTipActive);
    // A password that does not reach the file is reported, and opens nothing.
    ASSERT_TRUE(FillPassword(set, L"motdepasse", L"motdepasse", true)) << DriverError();
    ExpectMessageBox(tray, L"Le mot de passe n'a pas pu être enregistré. Réessayez dans un instant.");
    EXPECT_TRUE(agent.NoWindow(L"VBSettingsWnd"));
    CloseHandle(reader);
    EXPECT_EQ(ReadAll(TestConfigPath()), "\n\n1\nkids.example\n");

    // Cancelled: nothing is written, and the icon asks for a new password again.
    agent.DoubleClickIcon();
    ASSERT_TRUE(CloseWith(agent.Window(L"VBSetPasswordWnd"), IDC_CANCEL));
    EXPECT_TRUE(agent.NoWindow(L"VBSettingsWnd"));
    EXPECT_EQ(ReadAll(TestConfigPath()), "\n\n1\nkids.example\n");

    // Wine keeps a menu's items from other processes: they are known by their order.
    PostMessageW(tray, WM_TRAYICON, 1, WM_RBUTTONUP);
    HWND menu = agent.Window(L"#32768");
    ASSERT_TRUE(menu) << DriverError();
    ASSERT_TRUE(Keys(menu, {VK_DOWN, VK_RETURN}));  // the first item
    // Whatever else the parent clicks while a dialog is open, it stays the one, in front.
    set = agent.Window(L"VBSetPasswordWnd");
    agent.DoubleClickIcon();
    agent.Command(IDM_SETTINGS);
    agent.Command(IDM_QUIT);
    Sleep(1000);
    int dialogs = 0;
    for (HWND w = FindWindowExW(nullptr, nullptr, L"VBSetPasswordWnd", nullptr); w != nullptr;
         w = FindWindowExW(nullptr, w, L"VBSetPasswordWnd", nullptr))
        dialogs += IsWindowVisible(w) ? 1 : 0;
    EXPECT_EQ(dialogs, 1);
    EXPECT_EQ(GetForegroundWindow(), set);
    ASSERT_TRUE(FillPassword(set, L"motdepasse", L"motdepasse", true)) << DriverError();
    HWND settings = agent.Window(L"VBSettingsWnd");
    ASSERT_TRUE(settings) << DriverError();
    EXPECT_TRUE(agent.Running());  // the quit request was not queued behind the flow
    VbConfig saved;
    ASSERT_EQ(VbLoadConfig(&saved), 1);
    EXPECT_EQ(VbVerifyPassword(saved.salt, saved.hash, "motdepasse"), 1);
    EXPECT_EQ(ReadAll(TestConfigPath()).value_or("").substr(97), "\n1\nkids.example\n");
    // A save whose pass fails says so in the tip at once, not a minute later.
    HANDLE holder = HoldFile(TestHostsPath(), GENERIC_READ, FILE_SHARE_READ);
    ASSERT_TRUE(Press(settings, IDC_SAVE)) << DriverError();
    EXPECT_TRUE(WaitUntil([&] { return TrayTip() == L"Vellumbrook - protection incomplète"; }));
    CloseHandle(holder);
    ASSERT_TRUE(CloseWith(settings, IDC_CANCEL)) << DriverError();

    // Quitter: a wrong password, then "Annuler", keep the agent running.
    agent.Command(IDM_QUIT);
    HWND enter = agent.Window(L"VBEnterPasswordWnd");
    ASSERT_TRUE(FillPassword(enter, L"wrong", L"", true)) << DriverError();
    ExpectMessageBox(enter, L"Mot de passe incorrect.");
    ASSERT_TRUE(CloseWith(enter, IDC_CANCEL)) << DriverError();
    EXPECT_EQ(agent.ExitCode(1500), -1) << "the agent quit without its password";
    PostMessageW(tray, WM_TRAYICON, 1, WM_CONTEXTMENU);
    menu = agent.Window(L"#32768");
    ASSERT_TRUE(menu) << "the menu did not open a second time";
    ASSERT_TRUE(Keys(menu, {VK_DOWN, VK_DOWN, VK_RETURN}));  // the second item: "Quitter"
    HWND last = agent.Window(L"VBEnterPasswordWnd");
    ASSERT_TRUE(FillPassword(last, L"motdepasse", L"", true)) << DriverError();
    EXPECT_EQ(agent.ExitCode(), 0);
    // Quitting leaves every protection in place.
    EXPECT_EQ(Hosts(), kUserHosts + kBegin + HostsLines("kids.example") + kEnd);
    EXPECT_TRUE(DnsApplied());
    EXPECT_TRUE(PoliciesLocked());
}

TEST_F(AgentLife, NeitherASquattedNameNorTamperingOutlastsTheAgent) {
    // Another program holds the single-instance name: the agent starts all the same.
    HANDLE squatter = CreateMutexW(nullptr, TRUE, L"Global\\VellumbrookAgentMutex");
    ASSERT_TRUE(squatter);
    PlantConfig(ConfigWithSecret("1\nkids.example\n"));
    Agent agent(L"--REVERT --reverted");  // neither is the switch: this starts the agent
    HWND tray = agent.Tray();
    ASSERT_TRUE(tray) << "a squatted name kept the agent from starting";
    const std::string protectedHosts = kUserHosts + kBegin + HostsLines("kids.example") + kEnd;
    ASSERT_TRUE(WaitUntil([&] { return Hosts() == protectedHosts; }, kStartMs));
    EXPECT_TRUE(WaitUntil([&] { return TrayTip() == kTipActive; })) << Narrow(TrayTip());
    ULONGLONG tampered = GetTickCount64();
    WriteAll(TestHostsPath(), kUserHosts);

    // A second real agent still leaves at once.
    Agent second;
    EXPECT_EQ(second.ExitCode(10000), 0);
    ASSERT_TRUE(CloseWith(agent.Window(L"VBEnterPasswordWnd"), IDC_CANCEL));

    // The 60-second timer puts the block back: not before, not much after.
    Sleep(25000);
    EXPECT_EQ(Hosts(), kUserHosts) << "a pass ran before the minute was over";
    EXPECT_TRUE(WaitUntil([&] { return Hosts() == protectedHosts; }, 70000 - (GetTickCount64() - tampered)));

    // --revert among other words: DNS back to DHCP and no block; the policies stay.
    ClearNetshSimLog();
    Agent revert(L"/quiet --revert now");
    EXPECT_EQ(revert.ExitCode(), 0);
    EXPECT_EQ(Hosts(), kUserHosts);
    EXPECT_EQ(ReadNetshSimLog().size(), 1u + 2 * 2);
    EXPECT_EQ(ReadNetshSimState().adapters[0].ipv4, "dhcp");  // loopback untouched
    EXPECT_EQ(ReadNetshSimState().adapters[1].ipv6, "dhcp");
    EXPECT_TRUE(PoliciesLocked());
    PostMessageW(tray, WM_CLOSE, 0, 0);
    EXPECT_EQ(agent.ExitCode(), 0);
    CloseHandle(squatter);
}

TEST_F(AgentLife, AnUnreadableConfigurationIsNeverAFirstStart) {
    PlantConfig(ConfigWithSecret("0\nkept.example\n"));
    HANDLE lock = HoldFile(TestConfigPath(), GENERIC_READ | GENERIC_WRITE, 0);
    Agent agent;
    HWND tray = agent.Tray();
    ASSERT_TRUE(tray);
    EXPECT_TRUE(agent.NoWindow(L"VBSetPasswordWnd", 3000));
    EXPECT_TRUE(ReadNetshSimLog().empty());  // the pass touched nothing, and says so
    EXPECT_EQ(TrayTip(), L"Vellumbrook - paramètres illisibles");

    const std::wstring unreadable = L"Impossible de lire les paramètres de Vellumbrook (" +
                                    TestConfigDir() + L"). Réessayez dans un instant.";
    agent.DoubleClickIcon();
    ExpectMessageBox(tray, unreadable);
    EXPECT_TRUE(agent.NoWindow(L"VBSetPasswordWnd"));
    agent.Command(IDM_QUIT);
    ExpectMessageBox(tray, unreadable);
    EXPECT_EQ(agent.ExitCode(1500), -1) << "quit without the password";

    CloseHandle(lock);
    agent.Command(IDM_QUIT);
    HWND enter = agent.Window(L"VBEnterPasswordWnd");
    ASSERT_TRUE(FillPassword(enter, L"secret", L"", true)) << DriverError();
    EXPECT_EQ(agent.ExitCode(), 0);
    EXPECT_EQ(ReadAll(TestConfigPath()), ConfigWithSecret("0\nkept.example\n"));
}
