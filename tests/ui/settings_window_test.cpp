// The settings window on a real window, with the test prefix's config.dat,
// hosts file, registry and netsh simulator behind it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "config/config.h"
#include "password/password.h"
#include "tests/fixtures/netsh_state.h"
#include "tests/support/test_support.h"
#include "tests/support/ui_driver.h"
#include "ui/ui_internal.h"

using namespace ui_driver;

namespace {

constexpr int kTimeoutMs = 60000;
const char kSalt[] = "0123456789abcdef0123456789abcdef";
// sha256("0123456789abcdef0123456789abcdef:secret")
const char kSecretHash[] = "8917ae349b3abd701ffcd51e40fd8aacca08f7ed11cc2688a79f72ab380e7460";
const std::string kHead = std::string(kSalt) + "\n" + kSecretHash + "\n";
const std::string kUserHosts = "127.0.0.1 localhost\r\n";

const wchar_t kApplied[] = L"Protection appliquée : filtrage DNS + sites personnalisés actifs.";
const wchar_t kReverted[] = L"Protection désactivée : DNS et sites personnalisés ont été rétablis.";

std::string Config() {
    return ReadAll(TestConfigPath()).value_or("<missing>");
}

bool HasPolicy() {
    return MachineValueExists(L"SOFTWARE\\Policies\\Google\\Chrome", L"DnsOverHttpsMode");
}

class SettingsWindow : public testing::Test {
protected:
    static void SetUpTestSuite() { VbUiInit(GetModuleHandleW(nullptr)); }

    void SetUp() override {
        RemoveFolder(TestConfigDir());
        WriteAll(TestHostsPath(), kUserHosts);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies");
        NetshSimState machine;
        NetshSimAdapter adapter;
        adapter.index = 12;
        adapter.name = "Wi-Fi";
        machine.adapters = {adapter};
        WriteNetshSimState(machine);
    }
    void TearDown() override { RemoveFolder(TestConfigDir()); }

    // Writes config.dat, loads it as the access flow does and runs the window
    // with script acting on it.
    template <class Script>
    void Open(const std::string& file, Script&& script) {
        CreateDirectoryW(TestConfigDir().c_str(), nullptr);
        WriteAll(TestConfigPath(), file);
        std::memset(&state_, 0, sizeof state_);
        ASSERT_EQ(VbLoadConfig(&state_.config), 1);
        RunWithDriver([&] { RunModalWindow(SettingsWindowKind, nullptr, &state_); },
                      [&] {
                          HWND window =
                              WaitForWindow(L"VBSettingsWnd", nullptr, GetCurrentProcessId());
                          ASSERT_TRUE(window) << DriverError();
                          script(window);
                          if (IsWindow(window)) {
                              ASSERT_TRUE(Press(window, IDC_CANCEL));
                              ASSERT_TRUE(WaitGone(window));
                          }
                      },
                      kTimeoutMs);
    }

    std::wstring Status() const { return TextOf(state_.statusLine); }

    // Presses "Enregistrer" and waits for the status line to say something.
    void Save(HWND window) {
        SetWindowTextW(state_.statusLine, L"");
        ASSERT_TRUE(Press(window, IDC_SAVE));
        ASSERT_TRUE(WaitUntil([&] { return !Status().empty(); })) << "no status after saving";
    }

    SettingsState state_;
};

std::string Lines(const std::vector<std::string>& names) {
    std::string text;
    for (const auto& name : names)
        text += name + "\n";
    return text;
}

}  // namespace

TEST_F(SettingsWindow, OpensWithTheStoredSwitchAndList) {
    Open(kHead + "1\n", [&](HWND window) {
        EXPECT_EQ(TextOf(window), L"Vellumbrook - Paramètres");
        EXPECT_EQ(TextOf(Control(window, IDC_SITES)), L"");
        EXPECT_EQ(SendMessageW(Control(window, IDC_PROTECT), BM_GETCHECK, 0, 0), BST_CHECKED);
        EXPECT_EQ(Status(), L"");
    });
    Open(kHead + "0\na.example\nb.example\nc.example\n", [&](HWND window) {
        EXPECT_EQ(TextOf(Control(window, IDC_SITES)), L"a.example\r\nb.example\r\nc.example\r\n");
        EXPECT_EQ(SendMessageW(Control(window, IDC_PROTECT), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    });
}

TEST_F(SettingsWindow, SaveKeepsValidLinesAndReportsTheOthers) {
    std::string longName(300, 'l');
    std::wstring typed =
        L"  example.com\t\r\r   \rbad name.com\runder_score.com\ra/b\rc:d\r"
        L"caf\u00e9.fr\rUPPER.Example\rwww.kids.example\r" +
        std::wstring(longName.begin(), longName.end()) + L"\r\t \r";
    Open(kHead + "1\nold.example\n", [&](HWND window) {
        ASSERT_TRUE(TypeInto(Control(window, IDC_SITES), typed));
        ASSERT_TRUE(Press(window, IDC_SAVE));
        HWND box = WaitForMessageBox(window);
        ASSERT_TRUE(box) << DriverError();
        std::wstring message = MessageBoxText(box);
        EXPECT_EQ(message.rfind(L"5 lignes n'ont pas été enregistrées :", 0), 0u)
            << Narrow(message);
        for (const wchar_t* line :
             {L"bad name.com", L"under_score.com", L"a/b", L"c:d", L"caf\u00e9.fr"})
            EXPECT_NE(message.find(line), std::wstring::npos) << Narrow(line);
        ASSERT_TRUE(DismissMessageBox(box));
        ASSERT_TRUE(WaitGone(box));
        EXPECT_EQ(Status(), kApplied);
        // Dropped lines stay in the box until the window opens again.
        EXPECT_NE(TextOf(Control(window, IDC_SITES)).find(L"under_score.com"), std::wstring::npos);
    });
    EXPECT_EQ(Config(), kHead + "1\n" +
                            Lines({"example.com", "UPPER.Example", "www.kids.example",
                                   std::string(255, 'l')}));
}

TEST_F(SettingsWindow, SeventyValidLinesKeepTheFirstSixtyFour) {
    std::wstring typed;
    std::vector<std::string> first64;
    for (int i = 0; i < 70; ++i) {
        typed += L"site" + std::to_wstring(i) + L".example\r";
        if (i < 64) first64.push_back("site" + std::to_string(i) + ".example");
    }
    Open(kHead + "1\n", [&](HWND window) {
        ASSERT_TRUE(TypeInto(Control(window, IDC_SITES), typed));
        ASSERT_TRUE(Press(window, IDC_SAVE));
        HWND box = WaitForMessageBox(window);
        ASSERT_TRUE(box) << DriverError();
        std::wstring message = MessageBoxText(box);
        EXPECT_EQ(message.rfind(L"6 lignes n'ont pas été enregistrées :", 0), 0u)
            << Narrow(message);
        EXPECT_NE(message.find(L"site64.example"), std::wstring::npos);
        EXPECT_NE(message.find(L"et 1 autre"), std::wstring::npos);
        ASSERT_TRUE(DismissMessageBox(box));
        ASSERT_TRUE(WaitGone(box));
    });
    EXPECT_EQ(Config(), kHead + "1\n" + Lines(first64));
}

TEST_F(SettingsWindow, SavingWithProtectionOnAndOffReachesTheMachine) {
    Open(kHead + "0\n", [&](HWND window) {
        ASSERT_TRUE(TypeInto(Control(window, IDC_SITES), L"kids.example\r"));
        ASSERT_TRUE(Press(window, IDC_PROTECT));
        ASSERT_TRUE(WaitUntil([&] {
            return SendMessageW(Control(window, IDC_PROTECT), BM_GETCHECK, 0, 0) == BST_CHECKED;
        }));
        Save(window);
        EXPECT_EQ(Status(), kApplied);
        std::string hosts = ReadAll(TestHostsPath()).value_or("");
        EXPECT_NE(hosts.find("127.0.0.1 www.kids.example\r\n"), std::string::npos);
        EXPECT_TRUE(HasPolicy());
        EXPECT_EQ(ReadNetshSimState().adapters[0].ipv4,
                  NetshSimDns::Static({"1.1.1.3", "1.0.0.3"}));

        ASSERT_TRUE(Press(window, IDC_PROTECT));
        ASSERT_TRUE(WaitUntil([&] {
            return SendMessageW(Control(window, IDC_PROTECT), BM_GETCHECK, 0, 0) == BST_UNCHECKED;
        }));
        Save(window);
        EXPECT_EQ(Status(), kReverted);
        EXPECT_EQ(ReadAll(TestHostsPath()), kUserHosts);
        EXPECT_FALSE(HasPolicy());
        EXPECT_TRUE(ReadNetshSimState().adapters[0].ipv4.dhcp);
    });
    EXPECT_EQ(Config(), kHead + "0\nkids.example\n");
}

TEST_F(SettingsWindow, TheLargestListIsShownAndSavedWhole) {
    std::vector<std::string> names;
    for (int i = 0; i < 64; ++i)
        names.push_back(std::string(250, 'a' + i % 26) + ".test");
    const std::string file = kHead + "1\n" + Lines(names);
    Open(file, [&](HWND window) {
        EXPECT_EQ(TextOf(Control(window, IDC_SITES)).size(), 64u * 257u);
        Save(window);
        EXPECT_EQ(Status(), kApplied);
    });
    EXPECT_EQ(Config(), file);
}

TEST_F(SettingsWindow, AFailedSaveSaysSoAndChangesNothing) {
    const std::string file = kHead + "1\nkept.example\n";
    Open(file, [&](HWND window) {
        ASSERT_TRUE(TypeInto(Control(window, IDC_SITES), L"other.example\r"));
        // A reader without delete sharing: config.dat cannot be replaced.
        HANDLE reader =
            CreateFileW(TestConfigPath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(reader, INVALID_HANDLE_VALUE);
        Save(window);
        CloseHandle(reader);
        EXPECT_EQ(Status(), L"Échec de l'enregistrement : paramètres inchangés.");
        EXPECT_EQ(state_.statusColour, WarningColour);
    });
    EXPECT_EQ(Config(), file);
}

TEST_F(SettingsWindow, PasswordChangeKeepsTheLastSavedSwitch) {
    Open(kHead + "1\nkept.example\n", [&](HWND window) {
        // Toggled, not saved: the password change must not save it.
        ASSERT_TRUE(Press(window, IDC_PROTECT));
        ASSERT_TRUE(WaitUntil([&] {
            return SendMessageW(Control(window, IDC_PROTECT), BM_GETCHECK, 0, 0) == BST_UNCHECKED;
        }));
        ASSERT_TRUE(Press(window, IDC_CHANGEPW));
        HWND enter = WaitForWindow(L"VBEnterPasswordWnd", nullptr, GetCurrentProcessId());
        ASSERT_TRUE(enter) << DriverError();
        ASSERT_TRUE(TypeInto(Control(enter, IDC_PASSWORD), L"secret"));
        ASSERT_TRUE(Press(enter, IDC_OK));
        ASSERT_TRUE(WaitGone(enter));
        HWND set = WaitForWindow(L"VBSetPasswordWnd", nullptr, GetCurrentProcessId());
        ASSERT_TRUE(set) << DriverError();
        ASSERT_TRUE(TypeInto(Control(set, IDC_PASSWORD), L"nouveau"));
        ASSERT_TRUE(TypeInto(Control(set, IDC_CONFIRM), L"nouveau"));
        ASSERT_TRUE(Press(set, IDC_OK));
        ASSERT_TRUE(WaitGone(set));
        ASSERT_TRUE(WaitUntil([&] { return !Status().empty(); }));
        EXPECT_EQ(Status(), L"Mot de passe mis à jour.");
        EXPECT_EQ(SendMessageW(Control(window, IDC_PROTECT), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    });
    VbConfig saved;
    ASSERT_EQ(VbLoadConfig(&saved), 1);
    EXPECT_EQ(saved.enabled, 1);
    ASSERT_EQ(saved.siteCount, 1);
    EXPECT_STREQ(saved.sites[0], "kept.example");
    EXPECT_STRNE(saved.salt, kSalt);
    EXPECT_EQ(VbVerifyPassword(saved.salt, saved.hash, "nouveau"), 1);
    EXPECT_EQ(VbVerifyPassword(saved.salt, saved.hash, "secret"), 0);
}

TEST_F(SettingsWindow, CancelledPasswordChangeChangesNothing) {
    const std::string file = kHead + "1\n";
    Open(file, [&](HWND window) {
        ASSERT_TRUE(Press(window, IDC_CHANGEPW));
        HWND enter = WaitForWindow(L"VBEnterPasswordWnd", nullptr, GetCurrentProcessId());
        ASSERT_TRUE(enter) << DriverError();
        ASSERT_TRUE(Press(enter, IDC_CANCEL));
        ASSERT_TRUE(WaitGone(enter));
        EXPECT_EQ(Status(), L"");
    });
    EXPECT_EQ(Config(), file);
}
