// The real Vellumbrook.exe in the test prefix, driven from this process as a
// parent would drive it: tray icon messages and menu commands posted to its tray
// window, text typed into its dialogs, buttons pressed, message boxes read.
#include <gtest/gtest.h>

#include <windows.h>
#include <bcrypt.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/vb_handle.h"
#include "tests/fixtures/netsh_state.h"
#include "tests/support/test_support.h"
#include "tests/support/ui_driver.h"

using namespace ui_driver;

namespace {

constexpr UINT WM_TRAYICON = WM_APP + 1;
constexpr UINT IDM_SETTINGS = 2001;
constexpr UINT IDM_QUIT = 2002;
constexpr int IDC_PASSWORD = 4001;
constexpr int IDC_SITES = 4001;
constexpr int IDC_CONFIRM = 4002;
constexpr int IDC_OK = 4010;
constexpr int IDC_CANCEL = 4011;
constexpr int IDC_SAVE = 4013;

const std::string kBegin = "# >>> Vellumbrook >>>\r\n";
const std::string kEnd = "# <<< Vellumbrook <<<\r\n";
const std::string kUserHosts = "# user's own\r\n127.0.0.1 localhost\r\n10.0.0.5 nas\r\n";
const NetshSimDns kFamilyV4 = NetshSimDns::Static({"1.1.1.3", "1.0.0.3"});
const NetshSimDns kFamilyV6 = NetshSimDns::Static({"2606:4700:4700::1113", "2606:4700:4700::1003"});

std::wstring AgentPath() {
    const char* path = std::getenv("VB_AGENT_EXE");
    return path != nullptr ? Widen(path) : L"";
}

std::string Hosts() {
    return ReadAll(TestHostsPath()).value_or("<missing>");
}

bool PoliciesLocked() {
    return MachineValueExists(L"SOFTWARE\\Policies\\Google\\Chrome", L"DnsOverHttpsMode") &&
           MachineValueExists(L"SOFTWARE\\Policies\\Mozilla\\Firefox\\DNSOverHTTPS", L"Locked") &&
           MachineValueExists(L"SOFTWARE\\Policies\\Microsoft\\Windows NT\\DNSClient",
                              L"DoHPolicy");
}

// SHA-256 of text as lowercase hex, straight from the platform's provider.
std::string Sha256Hex(const std::string& text) {
    BCRYPT_ALG_HANDLE provider = nullptr;
    BCryptOpenAlgorithmProvider(&provider, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    BCRYPT_HASH_HANDLE hash = nullptr;
    BCryptCreateHash(provider, &hash, nullptr, 0, nullptr, 0, 0);
    BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(text.data())),
                   static_cast<ULONG>(text.size()), 0);
    unsigned char digest[32] = {};
    BCryptFinishHash(hash, digest, sizeof digest, 0);
    BCryptDestroyHash(hash);
    BCryptCloseAlgorithmProvider(provider, 0);
    std::string hex;
    for (unsigned char byte : digest) {
        hex += "0123456789abcdef"[byte >> 4];
        hex += "0123456789abcdef"[byte & 15];
    }
    return hex;
}

// A config.dat with the password "secret".
std::string ConfigWithSecret(const std::string& rest) {
    const std::string salt = "00112233445566778899aabbccddeeff";
    return salt + "\n" + Sha256Hex(salt + ":secret") + "\n" + rest;
}

// The agent, started from this test; ended by id if a test leaves it running.
class Agent {
public:
    explicit Agent(const std::wstring& arguments = L"") {
        std::wstring line =
            L"\"" + AgentPath() + L"\"" + (arguments.empty() ? L"" : L" ") + arguments;
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION child = {};
        if (CreateProcessW(AgentPath().c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                           nullptr, &startup, &child)) {
            process_.Reset(child.hProcess);
            CloseHandle(child.hThread);
            id_ = child.dwProcessId;
        }
    }
    ~Agent() {
        if (process_ && WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT) {
            TerminateProcess(process_.Get(), 99);
            WaitForSingleObject(process_.Get(), 5000);
        }
    }
    bool Started() const { return static_cast<bool>(process_); }
    DWORD Id() const { return id_; }

    // The exit code, or -1 when it is still running after timeoutMs.
    long ExitCode(DWORD timeoutMs = 15000) const {
        if (WaitForSingleObject(process_.Get(), timeoutMs) != WAIT_OBJECT_0) return -1;
        DWORD code = 0;
        GetExitCodeProcess(process_.Get(), &code);
        return static_cast<long>(code);
    }
    bool Running() const { return WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT; }

    // The hidden tray window of this agent.
    HWND Tray(int timeoutMs = 15000) const {
        HWND found = nullptr;
        WaitUntil(
            [&] {
                for (HWND w = FindWindowExW(nullptr, nullptr, L"VBTrayWnd", nullptr); w != nullptr;
                     w = FindWindowExW(nullptr, w, L"VBTrayWnd", nullptr)) {
                    DWORD owner = 0;
                    GetWindowThreadProcessId(w, &owner);
                    if (owner == id_) found = w;
                }
                return found != nullptr;
            },
            timeoutMs);
        return found;
    }

    HWND Window(const wchar_t* className, int timeoutMs = kWaitMs) const {
        return WaitForWindow(className, nullptr, id_, timeoutMs);
    }
    // No window of that class shows up within waitMs.
    bool NoWindow(const wchar_t* className, int waitMs = 1500) const {
        return WaitForWindow(className, nullptr, id_, waitMs) == nullptr;
    }

    void DoubleClickIcon() const { PostMessageW(Tray(), WM_TRAYICON, 1, WM_LBUTTONDBLCLK); }
    void Command(UINT id) const { PostMessageW(Tray(), WM_COMMAND, id, 0); }

private:
    VbUniqueHandle process_;
    DWORD id_ = 0;
};

// Types text into a password dialog's box and presses OK.
void EnterPassword(HWND dialog, const wchar_t* password) {
    ASSERT_TRUE(TypeInto(Control(dialog, IDC_PASSWORD), password)) << DriverError();
    ASSERT_TRUE(Press(dialog, IDC_OK)) << DriverError();
}

void ChoosePassword(HWND dialog, const wchar_t* password) {
    ASSERT_TRUE(TypeInto(Control(dialog, IDC_PASSWORD), password)) << DriverError();
    ASSERT_TRUE(TypeInto(Control(dialog, IDC_CONFIRM), password)) << DriverError();
    ASSERT_TRUE(Press(dialog, IDC_OK)) << DriverError();
}

// Quitter, then the password: the agent must end with exit code 0.
void QuitWith(const Agent& agent, const wchar_t* password) {
    agent.Command(IDM_QUIT);
    HWND enter = agent.Window(L"VBEnterPasswordWnd");
    ASSERT_TRUE(enter) << "quitting must ask for the password: " << DriverError();
    EnterPassword(enter, password);
    EXPECT_EQ(agent.ExitCode(), 0);
}

void CloseSettings(HWND settings) {
    ASSERT_TRUE(Press(settings, IDC_CANCEL)) << DriverError();
    ASSERT_TRUE(WaitGone(settings));
}

NetshSimAdapter Adapter(unsigned index, std::string name, NetshSimDns dns) {
    NetshSimAdapter adapter;
    adapter.index = index;
    adapter.name = std::move(name);
    adapter.ipv4 = dns;
    adapter.ipv6 = dns;
    return adapter;
}

class AgentRun : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(AgentPath().empty()) << "VB_AGENT_EXE is not set";
        RemoveFolder(TestConfigDir());
        WriteAll(TestHostsPath(), kUserHosts);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies");
        NetshSimState machine;
        machine.adapters = {Adapter(1, "Loopback Pseudo-Interface 1", NetshSimDns::Dhcp()),
                            Adapter(12, "Wi-Fi 2", NetshSimDns::Dhcp()),
                            Adapter(7, "Ethernet", NetshSimDns::Dhcp())};
        WriteNetshSimState(machine);
        ClearNetshSimLog();
    }
    void TearDown() override { RemoveFolder(TestConfigDir()); }

    static void PlantConfig(const std::string& text) {
        CreateDirectoryW(TestConfigDir().c_str(), nullptr);
        WriteAll(TestConfigPath(), text);
    }
    static bool DnsApplied() {
        NetshSimState state = ReadNetshSimState();
        return state.adapters[1].ipv4 == kFamilyV4 && state.adapters[1].ipv6 == kFamilyV6 &&
               state.adapters[2].ipv4 == kFamilyV4;
    }
};

}  // namespace

TEST_F(AgentRun, RevertAloneOrAmongOtherWordsRevertsDnsAndTheHostsBlock) {
    for (const wchar_t* arguments : {L"--revert", L"/quiet --revert now"}) {
        NetshSimState machine = ReadNetshSimState();
        for (auto& adapter : machine.adapters)
            adapter.ipv4 = adapter.ipv6 = kFamilyV4;
        WriteNetshSimState(machine);
        ClearNetshSimLog();
        WriteAll(TestHostsPath(), kUserHosts + kBegin + "127.0.0.1 a.example\r\n" + kEnd);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies");
        HKEY key;
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies\\Google\\Chrome", 0, nullptr, 0,
                        KEY_SET_VALUE, nullptr, &key, nullptr);
        RegSetValueExW(key, L"DnsOverHttpsMode", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"off"),
                       8);
        RegCloseKey(key);

        Agent agent(arguments);
        ASSERT_TRUE(agent.Started());
        EXPECT_EQ(agent.ExitCode(), 0) << Narrow(arguments);
        EXPECT_EQ(Hosts(), kUserHosts) << Narrow(arguments);
        std::vector<std::string> log = ReadNetshSimLog();
        ASSERT_EQ(log.size(), 1u + 2 * 2) << Narrow(arguments);
        EXPECT_EQ(log[1], "netsh interface ipv4 set dnsservers name=\"Wi-Fi 2\" source=dhcp");
        EXPECT_EQ(log[2], "netsh interface ipv6 set dnsservers name=\"Wi-Fi 2\" source=dhcp");
        NetshSimState after = ReadNetshSimState();
        EXPECT_EQ(after.adapters[0].ipv4, kFamilyV4);  // loopback untouched
        EXPECT_TRUE(after.adapters[1].ipv4.dhcp && after.adapters[2].ipv6.dhcp);
        // The browser policies stay, and no configuration is read or made.
        EXPECT_TRUE(MachineValueExists(L"SOFTWARE\\Policies\\Google\\Chrome", L"DnsOverHttpsMode"));
        EXPECT_FALSE(PathExists(TestConfigDir()));
    }
}

TEST_F(AgentRun, RevertInCapitalsStartsTheAgentInstead) {
    PlantConfig(ConfigWithSecret("1\nkids.example\n"));
    Agent agent(L"--REVERT");
    ASSERT_TRUE(agent.Tray()) << "no tray window";
    EXPECT_TRUE(
        WaitUntil([] { return Hosts().find("127.0.0.1 kids.example\r\n") != std::string::npos; }));
    EXPECT_TRUE(DnsApplied());
    for (const std::string& line : ReadNetshSimLog())
        EXPECT_EQ(line.find("source=dhcp"), std::string::npos) << line;
    PostMessageW(agent.Tray(), WM_CLOSE, 0, 0);
    EXPECT_EQ(agent.ExitCode(), 0);
}

TEST_F(AgentRun, FirstStartAppliesProtectionThenAsksForAPassword) {
    Agent agent;
    HWND set = agent.Window(L"VBSetPasswordWnd", 20000);
    ASSERT_TRUE(set) << DriverError();
    // The first pass ran before the prompt opened.
    EXPECT_TRUE(DnsApplied());
    EXPECT_TRUE(PoliciesLocked());
    EXPECT_EQ(Hosts(), kUserHosts);
    ASSERT_TRUE(agent.Tray());

    // Cancelled: the agent carries on without a password, and nothing is written.
    ASSERT_TRUE(Press(set, IDC_CANCEL));
    ASSERT_TRUE(WaitGone(set));
    EXPECT_TRUE(agent.NoWindow(L"VBSettingsWnd"));
    EXPECT_TRUE(agent.Running());
    EXPECT_FALSE(PathExists(TestConfigPath()));
    EXPECT_TRUE(PathExists(TestConfigDir()));  // made at start, before anything reads it

    // The icon asks for a new password again; choosing one opens the settings.
    agent.DoubleClickIcon();
    set = agent.Window(L"VBSetPasswordWnd");
    ASSERT_TRUE(set) << DriverError();
    ChoosePassword(set, L"motdepasse");
    HWND settings = agent.Window(L"VBSettingsWnd");
    ASSERT_TRUE(settings) << DriverError();
    std::string file = ReadAll(TestConfigPath()).value_or("");
    ASSERT_EQ(file.size(), 100u) << file;
    std::string salt = file.substr(0, 32);
    EXPECT_EQ(salt.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(file, salt + "\n" + Sha256Hex(salt + ":motdepasse") + "\n1\n");

    CloseSettings(settings);
    QuitWith(agent, L"motdepasse");
}

TEST_F(AgentRun, AFirstPasswordThatCannotBeSavedIsReportedAndOpensNothing) {
    PlantConfig("\n\n1\nkids.example\n");
    // A reader without delete sharing: config.dat can be read but not replaced.
    HANDLE reader =
        CreateFileW(TestConfigPath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    Agent agent;
    HWND set = agent.Window(L"VBSetPasswordWnd", 20000);
    ASSERT_TRUE(set) << DriverError();
    ChoosePassword(set, L"motdepasse");
    HWND box = WaitForMessageBox(agent.Tray());
    ASSERT_TRUE(box) << DriverError();
    EXPECT_EQ(MessageBoxText(box),
              L"Le mot de passe n'a pas pu être enregistré. Réessayez dans un instant.");
    ASSERT_TRUE(DismissMessageBox(box));
    EXPECT_TRUE(agent.NoWindow(L"VBSettingsWnd"));
    CloseHandle(reader);
    EXPECT_EQ(ReadAll(TestConfigPath()), "\n\n1\nkids.example\n");
    PostMessageW(agent.Tray(), WM_CLOSE, 0, 0);
    EXPECT_EQ(agent.ExitCode(), 0);
}

TEST_F(AgentRun, SettingsNeedThePasswordAndASavedSiteReachesTheHostsFile) {
    PlantConfig(ConfigWithSecret("1\n"));
    Agent agent;
    ASSERT_TRUE(agent.Tray());
    EXPECT_TRUE(agent.NoWindow(L"VBSetPasswordWnd"));

    agent.DoubleClickIcon();
    HWND enter = agent.Window(L"VBEnterPasswordWnd");
    ASSERT_TRUE(enter) << DriverError();
    ASSERT_TRUE(Press(enter, IDC_CANCEL));
    ASSERT_TRUE(WaitGone(enter));
    EXPECT_TRUE(agent.NoWindow(L"VBSettingsWnd"));

    agent.Command(IDM_SETTINGS);
    enter = agent.Window(L"VBEnterPasswordWnd");
    ASSERT_TRUE(enter) << DriverError();
    EnterPassword(enter, L"secret");
    HWND settings = agent.Window(L"VBSettingsWnd");
    ASSERT_TRUE(settings) << DriverError();
    ASSERT_TRUE(TypeInto(Control(settings, IDC_SITES), L"jeux.example\r"));
    ASSERT_TRUE(Press(settings, IDC_SAVE));
    EXPECT_TRUE(WaitUntil([] {
        return Hosts() == kUserHosts + kBegin +
                              "127.0.0.1 jeux.example\r\n127.0.0.1 www.jeux.example\r\n"
                              "::1 jeux.example\r\n::1 www.jeux.example\r\n" +
                              kEnd;
    }));
    CloseSettings(settings);
    EXPECT_TRUE(agent.Running());
}

TEST_F(AgentRun, QuitNeedsTheRightPasswordAndLeavesTheProtections) {
    PlantConfig(ConfigWithSecret("1\nkids.example\n"));
    Agent agent;
    ASSERT_TRUE(agent.Tray());
    ASSERT_TRUE(WaitUntil([] { return Hosts().find(kBegin) != std::string::npos; }));

    agent.Command(IDM_QUIT);
    HWND enter = agent.Window(L"VBEnterPasswordWnd");
    ASSERT_TRUE(enter) << DriverError();
    EnterPassword(enter, L"wrong");
    HWND box = WaitForMessageBox(enter);
    ASSERT_TRUE(box) << DriverError();
    EXPECT_EQ(MessageBoxText(box), L"Mot de passe incorrect.");
    ASSERT_TRUE(DismissMessageBox(box));
    ASSERT_TRUE(WaitGone(box));
    ASSERT_TRUE(Press(enter, IDC_CANCEL));
    ASSERT_TRUE(WaitGone(enter));
    EXPECT_EQ(agent.ExitCode(1500), -1) << "the agent quit without its password";

    QuitWith(agent, L"secret");
    EXPECT_NE(Hosts().find("127.0.0.1 kids.example\r\n"), std::string::npos);
    EXPECT_TRUE(DnsApplied());
    EXPECT_TRUE(PoliciesLocked());
}

TEST_F(AgentRun, AChangedPasswordIsTheOneAskedNext) {
    PlantConfig(ConfigWithSecret("1\n"));
    Agent agent;
    ASSERT_TRUE(agent.Tray());
    agent.DoubleClickIcon();
    HWND enter = agent.Window(L"VBEnterPasswordWnd");
    ASSERT_TRUE(enter) << DriverError();
    EnterPassword(enter, L"secret");
    HWND settings = agent.Window(L"VBSettingsWnd");
    ASSERT_TRUE(settings) << DriverError();
    ASSERT_TRUE(Press(settings, 4014));  // "Changer le mot de passe"
    enter = agent.Window(L"VBEnterPasswordWnd");
    ASSERT_TRUE(enter) << DriverError();
    EnterPassword(enter, L"secret");
    HWND set = agent.Window(L"VBSetPasswordWnd");
    ASSERT_TRUE(set) << DriverError();
    ChoosePassword(set, L"nouveau1");
    ASSERT_TRUE(WaitGone(set));
    CloseSettings(settings);

    agent.DoubleClickIcon();
    enter = agent.Window(L"VBEnterPasswordWnd");
    ASSERT_TRUE(enter) << DriverError();
    EnterPassword(enter, L"secret");  // the old one no longer opens anything
    HWND box = WaitForMessageBox(enter);
    ASSERT_TRUE(box) << DriverError();
    ASSERT_TRUE(DismissMessageBox(box));
    ASSERT_TRUE(WaitGone(box));
    EnterPassword(enter, L"nouveau1");
    settings = agent.Window(L"VBSettingsWnd");
    ASSERT_TRUE(settings) << DriverError();
    CloseSettings(settings);

    QuitWith(agent, L"nouveau1");
}

TEST_F(AgentRun, AnUnreadableConfigurationIsNeverAFirstStart) {
    PlantConfig(ConfigWithSecret("0\nkept.example\n"));
    HANDLE lock = CreateFileW(TestConfigPath().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    Agent agent;
    HWND tray = agent.Tray();
    ASSERT_TRUE(tray);
    EXPECT_TRUE(agent.NoWindow(L"VBSetPasswordWnd", 3000));
    EXPECT_TRUE(ReadNetshSimLog().empty());  // the pass touched nothing

    const std::wstring unreadable =
        L"Impossible de lire les paramètres de Vellumbrook (C:\\ProgramData\\Vellumbrook). "
        L"Réessayez dans un instant.";
    agent.DoubleClickIcon();
    HWND box = WaitForMessageBox(tray);
    ASSERT_TRUE(box) << DriverError();
    EXPECT_EQ(MessageBoxText(box), unreadable);
    ASSERT_TRUE(DismissMessageBox(box));
    ASSERT_TRUE(WaitGone(box));
    EXPECT_TRUE(agent.NoWindow(L"VBSetPasswordWnd"));

    agent.Command(IDM_QUIT);
    box = WaitForMessageBox(tray);
    ASSERT_TRUE(box) << DriverError();
    EXPECT_EQ(MessageBoxText(box), unreadable);
    ASSERT_TRUE(DismissMessageBox(box));
    EXPECT_EQ(agent.ExitCode(1500), -1) << "quit without the password";

    CloseHandle(lock);
    QuitWith(agent, L"secret");
    EXPECT_EQ(ReadAll(TestConfigPath()), ConfigWithSecret("0\nkept.example\n"));
}

TEST_F(AgentRun, OneFlowAtATime) {
    PlantConfig(ConfigWithSecret("1\n"));
    Agent agent;
    ASSERT_TRUE(agent.Tray());
    agent.DoubleClickIcon();
    HWND enter = agent.Window(L"VBEnterPasswordWnd");
    ASSERT_TRUE(enter) << DriverError();

    agent.DoubleClickIcon();
    agent.Command(IDM_SETTINGS);
    agent.Command(IDM_QUIT);
    Sleep(1000);
    int dialogs = 0;
    for (HWND w = FindWindowExW(nullptr, nullptr, L"VBEnterPasswordWnd", nullptr); w != nullptr;
         w = FindWindowExW(nullptr, w, L"VBEnterPasswordWnd", nullptr))
        dialogs += IsWindowVisible(w) ? 1 : 0;
    EXPECT_EQ(dialogs, 1);
    EXPECT_EQ(GetForegroundWindow(), enter);

    EnterPassword(enter, L"secret");
    HWND settings = agent.Window(L"VBSettingsWnd");
    ASSERT_TRUE(settings) << DriverError();
    EXPECT_TRUE(agent.Running());  // the quit request was not queued behind the flow
    CloseSettings(settings);
    EXPECT_TRUE(agent.NoWindow(L"VBEnterPasswordWnd"));
    PostMessageW(agent.Tray(), WM_CLOSE, 0, 0);
    EXPECT_EQ(agent.ExitCode(), 0);
}

// Presses and releases keys on the real keyboard input path.
void Keys(std::initializer_list<WORD> keys) {
    for (WORD key : keys) {
        INPUT input[2] = {};
        for (int i = 0; i < 2; ++i) {
            input[i].type = INPUT_KEYBOARD;
            input[i].ki.wVk = key;
            input[i].ki.dwFlags = i == 1 ? KEYEVENTF_KEYUP : 0;
        }
        SendInput(2, input, sizeof(INPUT));
        Sleep(100);
    }
}

TEST_F(AgentRun, RightClickMenuOffersSettingsAndQuit) {
    PlantConfig("\n\n1\n");  // no password: the first run asks for one
    Agent agent;
    HWND set = agent.Window(L"VBSetPasswordWnd", 20000);
    ASSERT_TRUE(set) << DriverError();
    ASSERT_TRUE(Press(set, IDC_CANCEL));
    ASSERT_TRUE(WaitGone(set));

    PostMessageW(agent.Tray(), WM_TRAYICON, 1, WM_RBUTTONUP);
    HWND menu = agent.Window(L"#32768");
    ASSERT_TRUE(menu) << DriverError();
    HMENU items = reinterpret_cast<HMENU>(SendMessageW(menu, MN_GETHMENU, 0, 0));
    if (items != nullptr && GetMenuItemCount(items) == 3) {  // readable across processes
        wchar_t text[64];
        GetMenuStringW(items, 0, text, 64, MF_BYPOSITION);
        EXPECT_STREQ(text, L"Paramètres\u2026");
        EXPECT_EQ(GetMenuItemID(items, 0), IDM_SETTINGS);
        EXPECT_EQ(GetMenuState(items, 1, MF_BYPOSITION) & MF_SEPARATOR, MF_SEPARATOR);
        GetMenuStringW(items, 2, text, 64, MF_BYPOSITION);
        EXPECT_STREQ(text, L"Quitter");
    }
    // The first item, "Paramètres…": without a password it asks for a new one.
    Keys({VK_DOWN, VK_RETURN});
    set = agent.Window(L"VBSetPasswordWnd");
    ASSERT_TRUE(set) << DriverError();
    ASSERT_TRUE(Press(set, IDC_CANCEL));
    ASSERT_TRUE(WaitGone(set));

    // The menu opens again, and "Quitter" ends the agent without a prompt.
    PostMessageW(agent.Tray(), WM_TRAYICON, 1, WM_CONTEXTMENU);
    menu = agent.Window(L"#32768");
    ASSERT_TRUE(menu) << "the menu did not open a second time";
    Keys({VK_UP, VK_RETURN});
    EXPECT_EQ(agent.ExitCode(), 0);
}

TEST_F(AgentRun, ASecondAgentLeavesAtOnceAndTheFirstEndsCleanly) {
    PlantConfig(ConfigWithSecret("1\nkids.example\n"));
    Agent first;
    ASSERT_TRUE(first.Tray());
    Agent second;
    EXPECT_EQ(second.ExitCode(), 0);
    EXPECT_TRUE(first.Running());

    // Destroying the tray window ends the agent; the protections stay.
    PostMessageW(first.Tray(), WM_CLOSE, 0, 0);
    EXPECT_EQ(first.ExitCode(), 0);
    EXPECT_NE(Hosts().find("127.0.0.1 kids.example\r\n"), std::string::npos);
    EXPECT_TRUE(DnsApplied());
    EXPECT_TRUE(PoliciesLocked());
}
