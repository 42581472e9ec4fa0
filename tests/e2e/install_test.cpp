// What is shipped: the agent's icon and manifest, the logon task's definition read as
// data (Wine registers a task but keeps neither its trigger nor its principal),
// and the setup program and the uninstaller, run for real in the test prefix.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "resources/resource.h"
#include "tests/fixtures/netsh_state.h"
#include "tests/support/test_support.h"
#include "tests/support/ui_driver.h"
#include "ui/ui_internal.h"

using namespace ui_driver;

namespace {

const std::wstring kFolder = L"C:\\Program Files\\Vellumbrook";
const std::wstring kShortcut = L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Vellumbrook.lnk";
const wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vellumbrook";

std::wstring FromEnvironment(const char* name, const wchar_t* tail = L"") {
    const char* value = std::getenv(name);
    return value != nullptr ? Widen(value) + tail : L"";
}

// The text inside the first <tag>...</tag>, or "<none>".
std::string Element(const std::string& xml, const std::string& tag) {
    std::size_t open = xml.find("<" + tag + ">");
    std::size_t close = xml.find("</" + tag + ">");
    if (open == std::string::npos || close == std::string::npos) return "<none>";
    open += tag.size() + 2;
    return xml.substr(open, close - open);
}

std::wstring TaskFile() {
    return TestSystemDir() + L"\\Tasks\\Vellumbrook";
}

std::string Value(const wchar_t* name) {
    auto value = MachineValue(kUninstallKey, name);
    return !value ? "<absent>" : value->type == REG_DWORD ? std::to_string(value->data[0])
                                                          : Narrow(reinterpret_cast<const wchar_t*>(value->data.c_str()));
}

// Types password into the enter dialog of another process's --uninstall, and
// returns that process, to wait for.
HANDLE AnswerUninstall(const wchar_t* password) {
    HWND enter = WaitForWindow(L"VBEnterPasswordWnd", 0, 60000);
    if (enter == nullptr) return nullptr;
    DWORD processId = 0;
    GetWindowThreadProcessId(enter, &processId);
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    EXPECT_TRUE(FillPassword(enter, password, L"", true));
    if (std::wstring(password) != L"secret") {
        ExpectMessageBox(enter, L"Mot de passe incorrect.");
        EXPECT_TRUE(Press(enter, IDC_CANCEL));
    }
    return process;
}

}  // namespace

TEST(LogonTask, StartsTheInstalledAgentElevatedForAdministratorsOnly) {
    std::string xml = ReadAll(FromEnvironment("VB_SOURCE_DIR", L"\\installer\\task.xml")).value_or("");
    ASSERT_FALSE(xml.empty()) << "VB_SOURCE_DIR does not lead to installer\\task.xml";
    for (char c : xml)
        ASSERT_LT(static_cast<unsigned char>(c), 0x80) << "schtasks reads the file as ANSI";
    EXPECT_EQ(Element(xml, "LogonTrigger"), "\n      <Enabled>true</Enabled>\n    ");
    EXPECT_EQ(Element(xml, "GroupId"), "S-1-5-32-544");  // Administrators, in any language
    EXPECT_EQ(Element(xml, "RunLevel"), "HighestAvailable");
    // A group principal runs with each member's own interactive token: no user,
    // no stored password.
    EXPECT_EQ(Element(xml, "UserId"), "<none>");
    EXPECT_EQ(Element(xml, "LogonType"), "<none>");
    EXPECT_EQ(Element(xml, "Command"), "%ProgramFiles%\\Vellumbrook\\Vellumbrook.exe");
    EXPECT_EQ(Element(xml, "ExecutionTimeLimit"), "PT0S");
    EXPECT_EQ(Element(xml, "DisallowStartIfOnBatteries"), "false");
    EXPECT_EQ(Element(xml, "StopIfGoingOnBatteries"), "false");
    EXPECT_NE(Element(Element(xml, "RestartOnFailure"), "Count"), "<none>");
}

TEST(Setup, InstallsUpdatesAndGivesTheMachineBack) {
    const std::wstring setup = FromEnvironment("VB_SETUP_EXE");
    if (!PathExists(setup)) GTEST_SKIP() << "no setup program was built (makensis missing)";
    const std::wstring agentPath = kFolder + L"\\Vellumbrook.exe";
    RemoveFolder(kFolder);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kUninstallKey);
    ResetMachine({Adapter(12, "Wi-Fi")});
    PlantConfig(ConfigWithSecret("1\nkids.example\n"));

    TestProcess install(setup, L"/S");
    ASSERT_EQ(install.ExitCode(120000), 0);
    for (const std::wstring& file : {agentPath, kFolder + L"\\uninstall.exe", kShortcut, TaskFile()})
        EXPECT_TRUE(PathExists(file)) << Narrow(file);
    EXPECT_EQ(Value(L"DisplayName"), "Vellumbrook");
    EXPECT_EQ(Value(L"DisplayVersion"), "1.0.0");
    EXPECT_EQ(Value(L"Publisher"), "Vellumbrook");
    EXPECT_EQ(Value(L"UninstallString"), "\"C:\\Program Files\\Vellumbrook\\uninstall.exe\"");
    EXPECT_EQ(Value(L"NoModify") + Value(L"NoRepair"), "11");
    EXPECT_EQ(FindWindowW(L"VBTrayWnd", nullptr), nullptr) << "a silent setup started the agent";

    // The installed agent runs; starting it again opens its settings.
    auto agent = std::make_unique<TestProcess>(agentPath, L"");
    ASSERT_TRUE(TrayOf(agent->Id()));
    ASSERT_TRUE(WaitUntil([] { return PoliciesLocked(); }));
    TestProcess again(agentPath, L"");
    EXPECT_EQ(again.ExitCode(), 0);
    HWND enter = WaitForWindow(L"VBEnterPasswordWnd", agent->Id());
    ASSERT_TRUE(enter && Press(enter, IDC_CANCEL)) << DriverError();

    // An update ends the running agent first, and keeps the settings.
    TestProcess update(setup, L"/S");
    EXPECT_EQ(update.ExitCode(120000), 0);
    EXPECT_EQ(agent->ExitCode(1000), 0);
    EXPECT_EQ(ReadAll(TestConfigPath()), ConfigWithSecret("1\nkids.example\n"));
    agent = std::make_unique<TestProcess>(agentPath, L"");
    ASSERT_TRUE(TrayOf(agent->Id()));

    // A wrong password, then "Annuler": nothing at all is taken away.
    TestProcess refused(kFolder + L"\\uninstall.exe", L"/S");
    HANDLE asked = AnswerUninstall(L"wrong");
    ASSERT_TRUE(asked) << "the uninstaller did not ask for the password";
    EXPECT_EQ(WaitForSingleObject(asked, 30000), WAIT_OBJECT_0);
    CloseHandle(asked);
    Sleep(3000);
    EXPECT_TRUE(agent->Running());
    for (const std::wstring& file : {agentPath, kShortcut, TaskFile(), TestConfigPath()})
        EXPECT_TRUE(PathExists(file)) << Narrow(file);
    EXPECT_EQ(Value(L"DisplayName"), "Vellumbrook");

    // The right one: the agent ends, and the machine is as it was before.
    TestProcess accepted(kFolder + L"\\uninstall.exe", L"/S");
    asked = AnswerUninstall(L"secret");
    ASSERT_TRUE(asked) << "the uninstaller did not ask for the password";
    CloseHandle(asked);
    EXPECT_EQ(agent->ExitCode(60000), 0);
    EXPECT_TRUE(WaitUntil([&] { return !PathExists(kFolder); }, 60000)) << "program files left";
    for (const std::wstring& file : {kShortcut, TaskFile(), TestConfigDir()})
        EXPECT_FALSE(PathExists(file)) << Narrow(file);
    EXPECT_EQ(Value(L"DisplayName"), "<absent>");
    EXPECT_EQ(Hosts(), kUserHosts);
    EXPECT_EQ(ReadNetshSimState().adapters[0].ipv4, "dhcp");
    EXPECT_FALSE(PoliciesLocked());
    EXPECT_FALSE(MachineValue(L"SOFTWARE\\Policies\\Mozilla\\Firefox\\DNSOverHTTPS", L"Enabled"));
}

TEST(AgentResources, AnIconAndAManifestThatAsksForElevation) {
    std::wstring path = FromEnvironment("VB_AGENT_EXE");
    std::replace(path.begin(), path.end(), L'/', L'\\');
    HMODULE module =
        LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr) << "VB_AGENT_EXE must name the built Vellumbrook.exe";

    EXPECT_NE(LoadImageW(module, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON, 256, 256, 0), nullptr);
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), RT_MANIFEST);
    ASSERT_NE(found, nullptr);
    std::string_view manifest(static_cast<const char*>(LockResource(LoadResource(module, found))),
                              SizeofResource(module, found));
    for (std::string_view part :
         {R"(name="Vellumbrook.Agent")", R"(processorArchitecture="amd64")",
          R"(level="requireAdministrator")", R"(uiAccess="false")",
          R"(name="Microsoft.Windows.Common-Controls")", R"(version="6.0.0.0")"})
        EXPECT_NE(manifest.find(part), std::string_view::npos) << part;
}
