// One life of an installed Vellumbrook: setup, service and uninstaller for real. Task
// triggers, failure actions and security are on the Windows checklist: Wine keeps none.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>

#include "agent/service_core.h"
#include "common/vb_handle.h"
#include "tests/fixtures/netsh_state.h"
#include "tests/support/test_support.h"
#include "tests/support/ui_driver.h"
#include "ui/ui_internal.h"

using namespace ui_driver;

namespace {

const std::wstring kFolder = L"C:\\Program Files\\Vellumbrook";
const std::wstring kAgent = kFolder + L"\\Vellumbrook.exe";
const std::wstring kUninstaller = kFolder + L"\\uninstall.exe";
const std::wstring kShortcut =
    L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Vellumbrook.lnk";
const wchar_t kUninstallKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vellumbrook";
const std::wstring kTaskFile = kSystemDir + L"\\Tasks\\Vellumbrook";
const wchar_t kSafeMode[] = L"SYSTEM\\CurrentControlSet\\Control\\SafeBoot\\Network\\Vellumbrook";

VbUniqueService OpenTheService(DWORD access) {
    VbUniqueService manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    return VbUniqueService(OpenServiceW(manager.Get(), L"Vellumbrook", access));
}

// How the service control manager starts the service: start type, account, command.
std::string ServiceConfig() {
    VbUniqueService service = OpenTheService(SERVICE_QUERY_CONFIG);
    alignas(QUERY_SERVICE_CONFIGW) BYTE bytes[8192];
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(bytes);
    DWORD size = 0;
    if (!service || !QueryServiceConfigW(service.Get(), config, sizeof bytes, &size))
        return "<none>";
    return std::to_string(config->dwStartType) + " " + Narrow(config->lpServiceStartName) + " " +
           Narrow(config->lpBinaryPathName);
}

// The service's state (0 when there is none) and process.
SERVICE_STATUS_PROCESS Service() {
    SERVICE_STATUS_PROCESS status = {};
    DWORD size = 0;
    QueryServiceStatusEx(OpenTheService(SERVICE_QUERY_STATUS).Get(), SC_STATUS_PROCESS_INFO,
                         reinterpret_cast<BYTE*>(&status), sizeof status, &size);
    return status;
}

bool Control(DWORD control) {
    SERVICE_STATUS status;
    return ControlService(OpenTheService(SERVICE_STOP | SERVICE_PAUSE_CONTINUE).Get(), control,
                          &status);
}

// No service rewrites the machine during other tests.
void RemoveTheService() {
    VbUniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, Service().dwProcessId));
    Control(SERVICE_CONTROL_STOP);
    if (process) WaitForSingleObject(process.Get(), 30000);
    DeleteService(OpenTheService(DELETE).Get());
}

void SetDelay(unsigned ms) {  // before every netsh command
    NetshSimState state = ReadNetshSimState();
    state.delayMs = ms;
    WriteNetshSimState(state);
}

bool DnsIs(const char* v4) {
    return ReadNetshSimState().adapters[0].ipv4 == v4;
}

// The enter dialog of another process's --uninstall; that process in process.
HWND UninstallPrompt(VbUniqueHandle& process) {
    HWND enter = WaitForWindow(L"VBEnterPasswordWnd", 0, 60000);
    DWORD processId = 0;
    GetWindowThreadProcessId(enter, &processId);
    process.Reset(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, processId));
    return enter;
}

DWORD ExitCodeOf(const VbUniqueHandle& process) {  // STILL_ACTIVE after a minute
    DWORD code = STILL_ACTIVE;
    WaitForSingleObject(process.Get(), 60000);
    GetExitCodeProcess(process.Get(), &code);
    return code;
}

class Setup : public testing::Test {
protected:
    void SetUp() override { RemoveTheService(); }
    void TearDown() override {
        RemoveTheService();
        HWND tray = nullptr;
        for (int left = 3; left > 0 && (tray = TrayOf(0, 0)) != nullptr; --left) {
            DWORD processId = 0;
            GetWindowThreadProcessId(tray, &processId);
            VbUniqueHandle agent(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId));
            TerminateProcess(agent.Get(), 99);
            WaitForSingleObject(agent.Get(), 5000);
        }
    }
};

}  // namespace

TEST_F(Setup, InstallsUpdatesAndGivesTheMachineBack) {
    const std::wstring setup =
        Widen(std::getenv("VB_SETUP_EXE") ? std::getenv("VB_SETUP_EXE") : "");
    ASSERT_TRUE(PathExists(setup)) << "no setup program was built (makensis missing)";
    RemoveFolder(kFolder);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kUninstallKey);
    ResetMachine({Adapter(12, "Wi-Fi")});
    PlantConfig(ConfigWithSecret("1\nkids.example\n"));
    // Only the copy in Program Files is ever registered as a LocalSystem service.
    EXPECT_EQ(TestProcess(Widen(std::getenv("VB_AGENT_EXE")), L"--install-service").ExitCode(), 1);

    TestProcess install(setup, L"/S");
    ASSERT_EQ(install.ExitCode(120000), 0);
    for (const std::wstring& file : {kAgent, kUninstaller, kShortcut, kTaskFile})
        EXPECT_TRUE(PathExists(file)) << Narrow(file);
    EXPECT_TRUE(MachineValue(kUninstallKey, L"DisplayName"));
    EXPECT_EQ(FindWindowW(L"VBTrayWnd", nullptr), nullptr) << "a silent setup started the agent";
    // Started at boot as LocalSystem, the installed program, its path quoted.
    EXPECT_EQ(ServiceConfig(),
              "2 LocalSystem \"C:\\Program Files\\Vellumbrook\\Vellumbrook.exe\" --service");
    SERVICE_STATUS_PROCESS service = Service();
    EXPECT_EQ(service.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(MachineValue(kSafeMode, nullptr).value_or(RegValue{}).data,
              std::string("S\0e\0r\0v\0i\0c\0e\0\0\0", 16));

    // With no agent, the service undoes tampering within a minute, a change within seconds.
    // The policies are a pass's last step: the files are looked at once they are back,
    // never while a pass would replace them.
    ASSERT_TRUE(WaitUntil(PoliciesLocked, 30000));
    EXPECT_TRUE(Hosts() == kBlocked && DnsIs(kFamilyV4));
    WriteAll(kHostsPath, kUserHosts);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies");
    EXPECT_TRUE(WaitUntil(PoliciesLocked, 65000));
    EXPECT_EQ(Hosts(), kBlocked);
    Sleep(PassEchoMs + 500);  // past the echoes of that pass's own commands
    PlantConfig(ConfigWithSecret("0\nkids.example\n"));
    ASSERT_TRUE(Control(SERVICE_CONTROL_PARAMCHANGE));
    EXPECT_TRUE(WaitUntil([] { return !PoliciesLocked(); }, NoticeDelayMaxMs + 3000));
    EXPECT_TRUE(Hosts() == kUserHosts && DnsIs("dhcp"));

    // The service's passes and the agent's never overlap, slow as netsh may be.
    PlantConfig(ConfigWithSecret("1\nkids.example\n"));
    SetDelay(300);
    ClearNetshSimLog();
    Sleep(PassEchoMs + 500);
    auto agent = std::make_unique<TestProcess>(kAgent, L"");
    ASSERT_TRUE(WaitUntil([] { return !ReadNetshSimLog().empty(); }, 30000));  // its first pass
    ASSERT_TRUE(Control(SERVICE_CONTROL_PARAMCHANGE));
    ASSERT_TRUE(TrayOf(agent->Id()));
    // Each pass: the listing, four DNS commands, four of the DNS lock.
    EXPECT_TRUE(WaitUntil([] { return ReadNetshSimLog().size() >= 2 * 9; }, 60000));
    std::vector<std::string> log = ReadNetshSimLog();
    EXPECT_EQ(std::count(log.begin(), log.end(), "overlap"), 0);

    // "--stop" returns once the service's process has ended, its pass done, and
    // the agent's. An update then starts the service again and keeps the settings.
    VbUniqueHandle serviceProcess(OpenProcess(SYNCHRONIZE, FALSE, service.dwProcessId));
    ClearNetshSimLog();  // a pass under way: told again while the echoes of its last one last
    auto passing = [] {
        return Control(SERVICE_CONTROL_PARAMCHANGE) &&
               WaitUntil([] { return !ReadNetshSimLog().empty(); }, 2500);
    };
    ASSERT_TRUE(WaitUntil(passing, 20000));
    EXPECT_EQ(TestProcess(kAgent, L"--stop").ExitCode(), 0);
    EXPECT_EQ(WaitForSingleObject(serviceProcess.Get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(agent->ExitCode(0), 0);
    SetDelay(0);
    // An update that cannot replace the program (a standard user holds it open) leaves
    // the service running; then one that can.
    HANDLE held = HoldFile(kAgent, GENERIC_READ, FILE_SHARE_READ);
    EXPECT_NE(TestProcess(setup, L"/S").ExitCode(120000), 0);
    CloseHandle(held);
    EXPECT_EQ(Service().dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    TestProcess update(setup, L"/S");
    EXPECT_EQ(update.ExitCode(120000), 0);
    service = Service();
    EXPECT_EQ(service.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(ReadAll(kConfigPath), ConfigWithSecret("1\nkids.example\n"));
    agent = std::make_unique<TestProcess>(kAgent, L"");
    ASSERT_TRUE(TrayOf(agent->Id()));

    // A save made while a slow pass of the service runs waits for its end, and holds.
    PostMessageW(TrayOf(agent->Id()), WM_APP + 1, 1, WM_LBUTTONDBLCLK);     // the icon's
    HWND enter = WaitForWindow(L"VBEnterPasswordWnd", agent->Id(), 60000);  // after its first pass
    ASSERT_TRUE(FillPassword(enter, L"secret", L"", true));
    HWND settings = WaitForWindow(L"VBSettingsWnd", agent->Id());
    ASSERT_TRUE(settings && TypeInto(GetDlgItem(settings, IDC_SITES), L"other.example"));
    SetDelay(300);
    Sleep(PassEchoMs + 500);
    ClearNetshSimLog();
    // Its time, not its bytes: an open file could not be replaced.
    auto saved = std::filesystem::last_write_time(kConfigPath);
    ASSERT_TRUE(Control(SERVICE_CONTROL_PARAMCHANGE));
    ASSERT_TRUE(WaitUntil([] { return !ReadNetshSimLog().empty(); }, NoticeDelayMaxMs + 3000));
    ASSERT_TRUE(Press(settings, IDC_SAVE));
    ASSERT_TRUE(
        WaitUntil([&] { return std::filesystem::last_write_time(kConfigPath) != saved; }, 30000));
    EXPECT_GE(ReadNetshSimLog().size(), 9u) << "saved in the middle of the service's pass";
    SetDelay(0);
    ASSERT_TRUE(CloseWith(settings, IDC_CANCEL));
    EXPECT_EQ(ReadAll(kConfigPath).value_or("").substr(97), "\n1\nother.example\n");

    // Three wrong passwords: the right one is then refused unchecked; "Annuler" stops nothing.
    TestProcess refused(kUninstaller, L"/S");
    VbUniqueHandle asked;
    enter = UninstallPrompt(asked);
    ASSERT_TRUE(enter) << "the uninstaller did not ask for the password"
                       << (refused.Running() ? ": " : ", and ended: ")
                       << Narrow(MessageBoxText(WaitForMessageBox(nullptr, 0)));
    for (const wchar_t* typed : {L"wrong", L"Secret", L"secret "}) {
        ASSERT_TRUE(FillPassword(enter, typed, L"", true));
        ExpectMessageBox(enter, L"Mot de passe incorrect.");
    }
    ASSERT_TRUE(FillPassword(enter, L"secret", L"", true));
    HWND box = WaitForMessageBox(enter);
    EXPECT_TRUE(std::regex_match(
        MessageBoxText(box), std::wregex(L"Trop d'essais. Réessayez dans (2[5-9]|30) secondes.")))
        << Narrow(MessageBoxText(box));
    ASSERT_TRUE(CloseWith(box, IDOK) && Press(enter, IDC_CANCEL));
    EXPECT_EQ(ExitCodeOf(asked), 1u);
    EXPECT_TRUE(agent->Running());
    EXPECT_EQ(Service().dwProcessId, service.dwProcessId);

    // A protection that cannot be put back: the parent is asked, and "Non", the
    // default, removes nothing and starts the service and the agent again.
    NetshSimState failing = ReadNetshSimState();
    failing.adapters[0].fail = "ipv4-dhcp";
    WriteNetshSimState(failing);
    TestProcess calledOff(kUninstaller, L"/S");
    enter = UninstallPrompt(asked);
    ASSERT_TRUE(FillPassword(enter, L"secret", L"", true));
    HWND question = WaitForMessageBox(nullptr, 60000);
    ASSERT_TRUE(question);
    EXPECT_EQ(MessageBoxText(question),
              L"Vellumbrook n'a pas pu rétablir : le filtrage DNS. Désinstaller quand même ?");
    ASSERT_TRUE(Keys(question, {VK_RETURN}));
    EXPECT_EQ(ExitCodeOf(asked), 3u);
    EXPECT_EQ(agent->ExitCode(0), 0);
    EXPECT_TRUE(TrayOf(0));
    EXPECT_EQ(Service().dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    for (const std::wstring& file : {kAgent, kTaskFile, kConfigPath})
        EXPECT_TRUE(PathExists(file)) << Narrow(file);

    // Everything can be put back, but config.dat is held: named, and the program stays.
    // The next run ends it, while another program keeps a handle on the service (it is
    // then only marked for deletion): the machine is as it was before the install. (The
    // restarted agent's and service's passes end first: a command under way writes back.)
    ASSERT_TRUE(WaitUntil(PoliciesLocked, 60000));
    Sleep(PassEchoMs);
    NetshSimState state = ReadNetshSimState();
    state.adapters[0].fail = "";
    WriteNetshSimState(state);
    held = HoldFile(kConfigPath, GENERIC_READ, FILE_SHARE_READ);
    VbUniqueService console = OpenTheService(SERVICE_QUERY_STATUS);
    for (DWORD expected : {3u, 0u}) {
        TestProcess accepted(kUninstaller, L"/S");
        enter = UninstallPrompt(asked);
        ASSERT_TRUE(FillPassword(enter, L"secret", L"", true));
        if (expected == 3) {
            ExpectMessageBox(nullptr,
                             L"Désinstallation incomplète : échec pour les paramètres. "
                             L"Relancez la désinstallation dans un instant.",
                             60000);
            CloseHandle(held);
            console.Reset();
        }
        EXPECT_EQ(ExitCodeOf(asked), expected);
    }
    EXPECT_TRUE(WaitUntil([&] { return !PathExists(kFolder); }, 60000)) << "program files left";
    for (const std::wstring& file : {kShortcut, kTaskFile, kConfigDir})
        EXPECT_FALSE(PathExists(file)) << Narrow(file);
    EXPECT_FALSE(MachineValue(kUninstallKey, L"DisplayName"));
    EXPECT_EQ(Service().dwCurrentState, 0u);
    EXPECT_EQ(TrayOf(0, 0), nullptr);
    EXPECT_EQ(Hosts(), kUserHosts);
    EXPECT_TRUE(DnsIs("dhcp") && ReadNetshSimState().rules.empty());
    EXPECT_FALSE(PoliciesLocked() || MachineValue(kSafeMode, nullptr) ||
                 MachineValue(L"SOFTWARE\\Policies\\Google\\Chrome", L"ProxySettings"));
}
