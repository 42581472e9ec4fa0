// The agent's windows, driven from a second thread as a user would: the modal loop,
// the password dialogs, the settings window over the test prefix's machine.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "config/config.h"
#include "password/password.h"
#include "tests/support/test_support.h"
#include "tests/support/ui_driver.h"
#include "ui/ui_internal.h"
#include "ui/ui_text.h"

using namespace ui_driver;

namespace {

constexpr UINT WM_TEST_DESTROY = WM_APP + 7;
const wchar_t kEnterClass[] = L"VBEnterPasswordWnd";
const wchar_t kSetClass[] = L"VBSetPasswordWnd";

HWND MakeWindow(HWND owner = nullptr) {
    static ATOM registered = [] {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = [](HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
            if (message == WM_TEST_DESTROY) return static_cast<LRESULT>(DestroyWindow(window));
            return ModalWindowDefault(window, message, wParam, lParam);
        };
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"VBModalTestWnd";
        return RegisterClassW(&windowClass);
    }();
    return CreateWindowExW(0, MAKEINTATOM(registered), L"test", WS_POPUPWINDOW | WS_DLGFRAME, 10,
                           10, 320, 190, owner, nullptr, GetModuleHandleW(nullptr), nullptr);
}

bool Gone(HWND window) {
    return WaitUntil([window] { return !IsWindow(window); });
}

VbConfig WithPassword(const char* salt, const char* hash) {
    VbConfig config = {};
    std::strcpy(config.salt, salt);
    std::strcpy(config.hash, hash);
    config.hasPassword = 1;
    return config;
}

struct Buffer {
    char bytes[128];
    Buffer() { std::memset(bytes, '#', sizeof bytes); }
    bool Untouched() const { return std::string(bytes, 128) == std::string(128, '#'); }
};

// Runs a dialog (enter when config is given, else set) while script acts on it.
template <class Script>
int Drive(const VbConfig* config, Buffer& out, Script&& script) {
    int result = -1;
    RunWithDriver(
        [&] {
            result = config ? ShowEnterPasswordDialog(nullptr, config, out.bytes)
                            : ShowSetPasswordDialog(nullptr, out.bytes);
        },
        [&] {
            HWND window = WaitForWindow(config ? kEnterClass : kSetClass, GetCurrentProcessId());
            ASSERT_TRUE(window);
            script(window);
        });
    return result;
}

// Types both texts and presses OK; the dialog must close.
int Choose(const VbConfig* config, Buffer& out, std::wstring_view first, std::wstring_view second) {
    return Drive(config, out, [&](HWND window) {
        ASSERT_TRUE(FillPassword(window, first, second, true) && Gone(window));
    });
}

class Windows : public testing::Test {
protected:
    static void SetUpTestSuite() { VbUiInit(GetModuleHandleW(nullptr)); }
};

}  // namespace

TEST_F(Windows, TheModalLoopEndsWithItsWindow) {
    // The owner is disabled while the window lives, and enabled and in front after.
    HWND owner = MakeWindow();
    ShowWindow(owner, SW_SHOW);
    HWND window = MakeWindow(owner);
    BOOL enabledDuring = TRUE;
    std::thread closer([&] {
        Sleep(100);
        enabledDuring = IsWindowEnabled(owner);
        // Sent, not posted: handled inside GetMessageW, which only a posted message wakes.
        SendMessageW(window, WM_TEST_DESTROY, 0, 0);
    });
    auto start = std::chrono::steady_clock::now();
    RunModalLoop(owner, window);
    closer.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_FALSE(enabledDuring);
    EXPECT_TRUE(IsWindowEnabled(owner));
    EXPECT_EQ(GetForegroundWindow(), owner);

    // A quit destroys the window and is passed on to the outer loop.
    window = MakeWindow();
    PostQuitMessage(7);
    RunModalLoop(nullptr, window);
    EXPECT_FALSE(IsWindow(window));
    MSG message;
    ASSERT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(message.wParam, 7u);
    DestroyWindow(owner);
}

TEST_F(Windows, OnlyTheRightPasswordOrAValidNewOneLeavesByOk) {
    VbConfig config = WithPassword(kSalt, kSecretHash);
    Buffer out;
    int result = Drive(&config, out, [&](HWND window) {
        HWND edit = GetDlgItem(window, IDC_PASSWORD);
        EXPECT_EQ(FocusedControl(window), edit);
        ASSERT_TRUE(TypeInto(edit, L"Secret") && Press(window, IDC_OK));
        ExpectMessageBox(window, L"Mot de passe incorrect.");
        EXPECT_TRUE(
            WaitUntil([&] { return TextOf(edit).empty() && FocusedControl(window) == edit; }));
        ASSERT_TRUE(TypeInto(edit, L"secret") && Keys(edit, {VK_RETURN}) && Gone(window));  // Enter
    });
    EXPECT_EQ(result, 1);
    EXPECT_STREQ(out.bytes, "secret");

    // Every way out but OK, of either dialog, gives nothing.
    const VbConfig* const dialogs[] = {&config, nullptr};  // enter, then set
    for (int how = 0; how < 4; ++how) {
        for (const VbConfig* kind : dialogs) {
            Buffer untouched;
            result = Drive(kind, untouched, [&](HWND window) {
                ASSERT_TRUE(FillPassword(window, L"secret", L"secret", false));
                HWND edit = GetDlgItem(window, IDC_PASSWORD);
                ASSERT_TRUE((how == 0   ? Press(window, IDC_CANCEL)
                             : how == 1 ? PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0)
                             : how == 2 ? Keys(edit, {VK_MENU, VK_F4})
                                        : Keys(edit, {VK_ESCAPE})) &&
                            Gone(window));
            });
            EXPECT_EQ(result, 0) << how;
            EXPECT_TRUE(untouched.Untouched()) << how;
        }
    }

    // The set dialog checks the length (UTF-16 units) first, then the match; boxes kept.
    const wchar_t* tooShort = L"Le mot de passe doit faire au moins 4 caractères.";
    const wchar_t* noMatch = L"Les deux mots de passe ne correspondent pas.";
    result = Drive(nullptr, out, [&](HWND window) {
        struct Row {
            const wchar_t *first, *second, *message;
        } rows[] = {{L"abc", L"xyz", tooShort},
                    {L"abcd", L"abce", noMatch},
                    {L"Abcd", L"abcd", noMatch},
                    {L"\U0001F600b", L"\U0001F600b", tooShort}};
        for (const Row& row : rows) {
            ASSERT_TRUE(FillPassword(window, row.first, row.second, true));
            ExpectMessageBox(window, row.message);
            EXPECT_EQ(TextOf(GetDlgItem(window, IDC_CONFIRM)), row.second);
        }
        ASSERT_TRUE(FillPassword(window, L"\U0001F600bc", L"\U0001F600bc", true) && Gone(window));
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(std::string(out.bytes), std::string("\xF0\x9F\x98\x80") + "bc");
    // Units after the 127th are not read: these two differ only there.
    EXPECT_EQ(Choose(nullptr, out, std::wstring(127, L'x') + L"A", std::wstring(127, L'x') + L"B"),
              1);
    EXPECT_EQ(std::string(out.bytes), std::string(127, 'x'));
    // 127 accented letters need 254 bytes: both dialogs keep the same first 63.
    std::wstring accented(127, L'\u00e9');
    ASSERT_EQ(Choose(nullptr, out, accented, accented), 1);
    EXPECT_EQ(std::string(out.bytes).size(), 126u);
    char salt[64];
    char hash[128];
    ASSERT_EQ(
        VbGenerateSalt(salt, sizeof salt) + VbHashPassword(salt, out.bytes, hash, sizeof hash), 2);
    VbConfig chosen = WithPassword(salt, hash);
    Buffer entered;
    EXPECT_EQ(Choose(&chosen, entered, accented, L""), 1);
    EXPECT_STREQ(entered.bytes, out.bytes);
}

namespace {

const wchar_t kApplied[] = L"Protection appliquée : filtrage DNS + sites personnalisés actifs.";
const wchar_t kReverted[] = L"Protection désactivée : DNS et sites personnalisés ont été rétablis.";

// Every text of the window, in its control's font, fits the control (no line out of
// sight, no word past the edge) beside a check box's box or inside a button's frame.
void ExpectFitThenClose(HWND window) {
    HDC dc = GetDC(window);
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t kind[16] = L"";
        GetClassNameW(child, kind, 16);
        std::wstring text = TextOf(child);
        if (text.empty() || lstrcmpiW(kind, L"Edit") == 0) continue;
        bool box = (GetWindowLongW(child, GWL_STYLE) & BS_TYPEMASK) == BS_AUTOCHECKBOX;
        RECT room, need = {};
        GetClientRect(child, &room);
        if (lstrcmpiW(kind, L"Button") == 0) room.right -= box ? 13 + 4 : 2 * 3;
        need.right = room.right;
        SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(child, WM_GETFONT, 0, 0)));
        DrawTextW(dc, text.c_str(), -1, &need, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS);
        EXPECT_TRUE(need.right <= room.right && need.bottom <= room.bottom)
            << Narrow(text) << ": " << need.right << "x" << need.bottom << " in " << room.right
            << "x" << room.bottom;
    }
    ReleaseDC(window, dc);
    ASSERT_TRUE(CloseWith(window, IDC_CANCEL));
}

class Settings : public Windows {
protected:
    void SetUp() override { ResetMachine({Adapter(12, "Wi-Fi")}); }
    void TearDown() override { RemoveFolder(kConfigDir); }

    // The window over that config.dat, loaded as the access flow does, script acting on it.
    template <class Script>
    void Open(const std::string& file, Script&& script) {
        PlantConfig(file);
        std::memset(&state_, 0, sizeof state_);
        ASSERT_EQ(VbLoadConfig(&state_.config), 1);
        auto ui = [&] { RunModalWindow(SettingsWindowKind, nullptr, &state_); };
        RunWithDriver(ui, [&] {
            HWND window = WaitForWindow(L"VBSettingsWnd", GetCurrentProcessId());
            ASSERT_TRUE(window);
            script(window);
            ASSERT_TRUE(!IsWindow(window) || CloseWith(window, IDC_CANCEL));
        });
    }

    std::wstring Status() const { return TextOf(state_.statusLine); }
    bool Checked(HWND window) const {
        return SendMessageW(GetDlgItem(window, IDC_PROTECT), BM_GETCHECK, 0, 0) == BST_CHECKED;
    }
    void Toggle(HWND window) {
        bool was = Checked(window);
        ASSERT_TRUE(Press(window, IDC_PROTECT) &&
                    WaitUntil([&] { return Checked(window) != was; }));
    }
    // Presses "Enregistrer" (or a key) and waits for the status line to say something.
    void Save(HWND window, WORD key = 0) {
        SetWindowTextW(state_.statusLine, L"");
        ASSERT_TRUE(key ? Keys(GetDlgItem(window, IDC_PROTECT), {key}) : Press(window, IDC_SAVE));
        ASSERT_TRUE(WaitUntil([&] { return !Status().empty(); })) << "no status after saving";
    }

    SettingsState state_;
};

}  // namespace

TEST_F(Settings, ASaveKeepsValidLinesAndNamesTheOthers) {
    std::string longest;  // the largest list there is, shown and saved whole
    for (int i = 0; i < 64; ++i)
        longest += std::string(250, static_cast<char>('a' + i % 26)) + ".test\n";
    Open(ConfigWithSecret("0\n" + longest), [&](HWND window) {
        std::wstring shown = TextOf(GetDlgItem(window, IDC_SITES));
        EXPECT_EQ(shown.size(), 64u * 257u);  // each line ended by CR LF
        EXPECT_EQ(shown.substr(0, 257), Widen(longest.substr(0, 255)) + L"\r\n");
        EXPECT_FALSE(Checked(window));
        EXPECT_EQ(Status(), L"");
        Save(window);
        EXPECT_EQ(Status(), kReverted);
    });
    EXPECT_EQ(ReadAll(kConfigPath), ConfigWithSecret("0\n" + longest));

    // Trimmed, case kept, cut at 255; the refused lines are named and stay in the box.
    std::wstring typed =
        L"  example.com\t\r\r   \rbad name.com\runder_score.com\ra/b\rc:d\r"
        L"caf\u00e9.fr\rUPPER.Example\rwww.kids.example\r" +
        std::wstring(300, L'l') + L"\r\t \r";
    Open(ConfigWithSecret("1\nold.example\n"), [&](HWND window) {
        ASSERT_TRUE(TypeInto(GetDlgItem(window, IDC_SITES), typed) && Press(window, IDC_SAVE));
        HWND box = WaitForMessageBox(window);
        EXPECT_EQ(MessageBoxText(box).rfind(
                      L"5 lignes n'ont pas été enregistrées :\n\n    bad name.com"
                      L"\n    under_score.com\n    a/b\n    c:d\n    caf\u00e9.fr\n",
                      0),
                  0u)
            << Narrow(MessageBoxText(box));
        ASSERT_TRUE(CloseWith(box, IDOK));
        EXPECT_EQ(Status(), kApplied);
        EXPECT_GE(TextOf(GetDlgItem(window, IDC_SITES)).size(), typed.size());
    });
    EXPECT_EQ(ReadAll(kConfigPath),
              ConfigWithSecret("1\nexample.com\nUPPER.Example\nwww.kids.example\n" +
                               std::string(255, 'l') + "\n"));
}

TEST_F(Settings, TheStatusLineSaysWhatIsReallyInForce) {
    Open(ConfigWithSecret("0\n"), [&](HWND window) {
        ASSERT_TRUE(TypeInto(GetDlgItem(window, IDC_SITES), L"kids.example\r"));
        Toggle(window);
        Save(window, VK_RETURN);  // Enter outside the list saves
        EXPECT_EQ(Status(), kApplied);

        // Steps that fail are named, in red.
        HANDLE reader = HoldFile(kHostsPath, GENERIC_READ, FILE_SHARE_READ);
        Save(window);
        EXPECT_EQ(Status(),
                  L"Protection incomplète : échec pour les sites bloqués. Nouvel essai "
                  L"dans une minute.");
        HDC dc = GetDC(window);
        SendMessageW(window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                     reinterpret_cast<LPARAM>(state_.statusLine));
        EXPECT_EQ(GetTextColor(dc), WarningColour);
        ReleaseDC(window, dc);
        CloseHandle(reader);
        Toggle(window);
        Save(window);
        EXPECT_EQ(Status(), kReverted);
        EXPECT_EQ(state_.statusColour, StatusColour);
        EXPECT_EQ(Hosts(), kUserHosts);

        // Escape, in the list or not, neither closes nor clears: a key typed after it shows.
        HWND list = GetDlgItem(window, IDC_SITES);
        ASSERT_TRUE(TypeInto(list, L"typed.example"));
        ASSERT_TRUE(Keys(list, {VK_ESCAPE}) && Keys(GetDlgItem(window, IDC_PROTECT), {VK_ESCAPE}));
        ASSERT_TRUE(Keys(list, {'X'}));
        EXPECT_TRUE(WaitUntil([&] { return TextOf(list) == L"typed.examplex"; }));
        EXPECT_TRUE(IsWindowVisible(window));
    });
    EXPECT_EQ(ReadAll(kConfigPath), ConfigWithSecret("0\nkids.example\n"));
}

TEST_F(Settings, APasswordChangeSavesThePasswordOnly) {
    // "Changer le mot de passe", the current password, then the new one twice.
    auto change = [&](HWND window, const wchar_t* next) {
        ASSERT_TRUE(Press(window, IDC_CHANGEPW));
        HWND enter = WaitForWindow(kEnterClass, GetCurrentProcessId());
        if (next == nullptr) {
            ASSERT_TRUE(CloseWith(enter, IDC_CANCEL));
            return;
        }
        ASSERT_TRUE(FillPassword(enter, L"secret", L"", true) && Gone(enter));
        HWND set = WaitForWindow(kSetClass, GetCurrentProcessId());
        ASSERT_TRUE(FillPassword(set, next, next, true));
        ASSERT_TRUE(WaitUntil([&] { return !Status().empty(); }));
    };
    const std::string file = ConfigWithSecret("1\nkept.example\n");
    Open(file, [&](HWND window) {
        change(window, nullptr);  // cancelled: nothing changes, once the window is back
        EXPECT_TRUE(Settled(window));
        EXPECT_EQ(Status(), L"");
        EXPECT_EQ(FindWindowW(kSetClass, nullptr), nullptr);
        // A file that cannot be replaced fails both saves, in red, and changes nothing.
        HANDLE reader = HoldFile(kConfigPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
        ASSERT_TRUE(TypeInto(GetDlgItem(window, IDC_SITES), L"other.example\r"));
        Save(window);
        EXPECT_EQ(Status(), L"Échec de l'enregistrement : paramètres inchangés.");
        SetWindowTextW(state_.statusLine, L"");
        change(window, L"nouveau");
        EXPECT_EQ(Status(), L"Échec : le mot de passe n'a pas été changé.");
        EXPECT_EQ(state_.statusColour, WarningColour);
        CloseHandle(reader);
        EXPECT_EQ(ReadAll(kConfigPath), file);
        EXPECT_STREQ(state_.config.hash, kSecretHash);  // the window's own record, unchanged

        Toggle(window);  // not saved: the password change must not save it
        SetWindowTextW(state_.statusLine, L"");
        change(window, L"nouveau");
        EXPECT_EQ(Status(), L"Mot de passe mis à jour.");
        EXPECT_EQ(state_.statusColour, StatusColour);
        EXPECT_FALSE(Checked(window));
    });
    VbConfig saved;
    ASSERT_EQ(VbLoadConfig(&saved), 1);
    EXPECT_EQ(saved.enabled, 1);
    ASSERT_EQ(saved.siteCount, 1);
    EXPECT_EQ(VbVerifyPassword(saved.salt, saved.hash, "nouveau"), 1);
}

TEST_F(Settings, EveryTextFitsItsControl) {
    VbConfig config = WithPassword(kSalt, kSecretHash);
    Buffer out;
    Drive(&config, out, ExpectFitThenClose);
    Drive(nullptr, out, ExpectFitThenClose);
    // The longest status there is: a pass whose four steps all failed, in red.
    wchar_t status[256];
    DescribePass({1, 1, 1, 1, 1, 1, 0}, {reinterpret_cast<char16_t*>(status), std::size(status)});
    Open(ConfigWithSecret("1\n"), [&](HWND window) {
        state_.statusColour = WarningColour;
        SetWindowTextW(state_.statusLine, status);
        ExpectFitThenClose(window);
    });
}
