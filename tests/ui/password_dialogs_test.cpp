// The two password dialogs on real windows, driven from a second thread as a
// user would: typing, pressing buttons, reading and closing message boxes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "password/password.h"
#include "tests/support/test_support.h"
#include "tests/support/ui_driver.h"
#include "ui/ui_internal.h"

using namespace ui_driver;

namespace {

constexpr int kTimeoutMs = 60000;
const char kSalt[] = "0123456789abcdef0123456789abcdef";
// sha256("0123456789abcdef0123456789abcdef:secret")
const char kSecretHash[] = "8917ae349b3abd701ffcd51e40fd8aacca08f7ed11cc2688a79f72ab380e7460";

VbConfig WithPassword(const char* salt, const char* hash) {
    VbConfig config = {};
    std::strcpy(config.salt, salt);
    std::strcpy(config.hash, hash);
    config.hasPassword = 1;
    config.enabled = 1;
    return config;
}

struct Buffer {
    char bytes[128];
    Buffer() { std::memset(bytes, '#', sizeof bytes); }
    bool Untouched() const { return std::string(bytes, 128) == std::string(128, '#'); }
};

HWND OwnWindow(const wchar_t* className) {
    return WaitForWindow(className, nullptr, GetCurrentProcessId());
}

// Types into the two boxes, presses OK and expects a message box with text.
void ExpectSetRefused(HWND window, std::wstring_view first, std::wstring_view second,
                      const wchar_t* text) {
    ASSERT_TRUE(TypeInto(Control(window, IDC_PASSWORD), first)) << DriverError();
    ASSERT_TRUE(TypeInto(Control(window, IDC_CONFIRM), second)) << DriverError();
    ASSERT_TRUE(Press(window, IDC_OK)) << DriverError();
    HWND box = WaitForMessageBox(window);
    ASSERT_TRUE(box) << DriverError();
    EXPECT_EQ(MessageBoxText(box), text);
    ASSERT_TRUE(DismissMessageBox(box));
    ASSERT_TRUE(WaitGone(box));
    // The boxes keep what was typed.
    EXPECT_EQ(TextOf(Control(window, IDC_CONFIRM)), second);
}

int SetPassword(Buffer& out, std::wstring_view first, std::wstring_view second) {
    return RunWithDriver([&] { return ShowSetPasswordDialog(nullptr, out.bytes); },
                         [&] {
                             HWND window = OwnWindow(L"VBSetPasswordWnd");
                             ASSERT_TRUE(window) << DriverError();
                             ASSERT_TRUE(TypeInto(Control(window, IDC_PASSWORD), first));
                             ASSERT_TRUE(TypeInto(Control(window, IDC_CONFIRM), second));
                             ASSERT_TRUE(Press(window, IDC_OK));
                             ASSERT_TRUE(WaitGone(window)) << "the dialog stayed open";
                         },
                         kTimeoutMs);
}

int EnterPassword(const VbConfig& config, Buffer& out, std::wstring_view typed) {
    return RunWithDriver([&] { return ShowEnterPasswordDialog(nullptr, &config, out.bytes); },
                         [&] {
                             HWND window = OwnWindow(L"VBEnterPasswordWnd");
                             ASSERT_TRUE(window) << DriverError();
                             ASSERT_TRUE(TypeInto(Control(window, IDC_PASSWORD), typed));
                             ASSERT_TRUE(Press(window, IDC_OK));
                             ASSERT_TRUE(WaitGone(window)) << "the dialog stayed open";
                         },
                         kTimeoutMs);
}

class PasswordDialogs : public testing::Test {
protected:
    static void SetUpTestSuite() { VbUiInit(GetModuleHandleW(nullptr)); }
};

}  // namespace

TEST_F(PasswordDialogs, WithoutAStoredPasswordAnyTextIsAccepted) {
    VbConfig open = {};
    Buffer out;
    EXPECT_EQ(EnterPassword(open, out, L""), 1);
    EXPECT_STREQ(out.bytes, "");
    Buffer other;
    EXPECT_EQ(EnterPassword(open, other, L"n'importe quoi"), 1);
    EXPECT_STREQ(other.bytes, "n'importe quoi");
}

TEST_F(PasswordDialogs, WrongPasswordIsRefusedThenTheRightOneAccepted) {
    VbConfig config = WithPassword(kSalt, kSecretHash);
    Buffer out;
    int result =
        RunWithDriver([&] { return ShowEnterPasswordDialog(nullptr, &config, out.bytes); },
                      [&] {
                          HWND window = OwnWindow(L"VBEnterPasswordWnd");
                          ASSERT_TRUE(window) << DriverError();
                          EXPECT_EQ(TextOf(window), L"Vellumbrook - Mot de passe");
                          HWND edit = Control(window, IDC_PASSWORD);
                          EXPECT_EQ(FocusedControl(window), edit);
                          ASSERT_TRUE(TypeInto(edit, L"Secret"));
                          ASSERT_TRUE(Press(window, IDC_OK));
                          HWND box = WaitForMessageBox(window);
                          ASSERT_TRUE(box) << DriverError();
                          EXPECT_EQ(TextOf(box), L"Vellumbrook");
                          EXPECT_EQ(MessageBoxText(box), L"Mot de passe incorrect.");
                          ASSERT_TRUE(DismissMessageBox(box));
                          ASSERT_TRUE(WaitGone(box));
                          EXPECT_TRUE(WaitUntil([&] { return TextOf(edit).empty(); }));
                          EXPECT_TRUE(WaitUntil([&] { return FocusedControl(window) == edit; }));
                          EXPECT_TRUE(IsWindow(window));
                          ASSERT_TRUE(TypeInto(edit, L"secret"));
                          ASSERT_TRUE(Press(window, IDC_OK));
                          ASSERT_TRUE(WaitGone(window));
                      },
                      kTimeoutMs);
    EXPECT_EQ(result, 1);
    EXPECT_STREQ(out.bytes, "secret");
}

TEST_F(PasswordDialogs, CancelCloseBoxAndAltF4GiveZeroAndWriteNothing) {
    VbConfig config = WithPassword(kSalt, kSecretHash);
    enum class How { Cancel, CloseBox, AltF4 };
    for (How how : {How::Cancel, How::CloseBox, How::AltF4}) {
        Buffer enter;
        int entered =
            RunWithDriver([&] { return ShowEnterPasswordDialog(nullptr, &config, enter.bytes); },
                          [&] {
                              HWND window = OwnWindow(L"VBEnterPasswordWnd");
                              ASSERT_TRUE(window) << DriverError();
                              ASSERT_TRUE(TypeInto(Control(window, IDC_PASSWORD), L"secret"));
                              bool done = how == How::Cancel     ? Press(window, IDC_CANCEL)
                                          : how == How::CloseBox ? CloseBox(window)
                                                                 : AltF4(window);
                              ASSERT_TRUE(done) << DriverError();
                              ASSERT_TRUE(WaitGone(window));
                          },
                          kTimeoutMs);
        EXPECT_EQ(entered, 0) << static_cast<int>(how);
        EXPECT_TRUE(enter.Untouched()) << static_cast<int>(how);

        Buffer set;
        int chosen =
            RunWithDriver([&] { return ShowSetPasswordDialog(nullptr, set.bytes); },
                          [&] {
                              HWND window = OwnWindow(L"VBSetPasswordWnd");
                              ASSERT_TRUE(window) << DriverError();
                              ASSERT_TRUE(TypeInto(Control(window, IDC_PASSWORD), L"abcd"));
                              ASSERT_TRUE(TypeInto(Control(window, IDC_CONFIRM), L"abcd"));
                              bool done = how == How::Cancel     ? Press(window, IDC_CANCEL)
                                          : how == How::CloseBox ? CloseBox(window)
                                                                 : AltF4(window);
                              ASSERT_TRUE(done) << DriverError();
                              ASSERT_TRUE(WaitGone(window));
                          },
                          kTimeoutMs);
        EXPECT_EQ(chosen, 0) << static_cast<int>(how);
        EXPECT_TRUE(set.Untouched()) << static_cast<int>(how);
    }
}

TEST_F(PasswordDialogs, SetDialogChecksLengthFirstThenTheMatch) {
    Buffer out;
    int result = RunWithDriver(
        [&] { return ShowSetPasswordDialog(nullptr, out.bytes); },
        [&] {
            HWND window = OwnWindow(L"VBSetPasswordWnd");
            ASSERT_TRUE(window) << DriverError();
            EXPECT_EQ(TextOf(window), L"Vellumbrook - Définir le mot de passe");
            const wchar_t* tooShort = L"Le mot de passe doit faire au moins 4 caractères.";
            const wchar_t* noMatch = L"Les deux mots de passe ne correspondent pas.";
            ExpectSetRefused(window, L"abc", L"abc", tooShort);
            ExpectSetRefused(window, L"abc", L"xyz", tooShort);  // length comes first
            ExpectSetRefused(window, L"abcd", L"abce", noMatch);
            ExpectSetRefused(window, L"Abcd", L"abcd", noMatch);  // case counts
            // A character outside the BMP counts as two units: three characters, four units.
            ExpectSetRefused(window, L"\U0001F600b", L"\U0001F600b", tooShort);
            ASSERT_TRUE(TypeInto(Control(window, IDC_PASSWORD), L"\U0001F600bc"));
            ASSERT_TRUE(TypeInto(Control(window, IDC_CONFIRM), L"\U0001F600bc"));
            ASSERT_TRUE(Press(window, IDC_OK));
            ASSERT_TRUE(WaitGone(window));
        },
        kTimeoutMs);
    EXPECT_EQ(result, 1);
    EXPECT_STREQ(out.bytes,
                 "\xF0\x9F\x98\x80"
                 "bc");
}

TEST_F(PasswordDialogs, SpacesAndAccentsAreKeptAsTyped) {
    Buffer spaces;
    EXPECT_EQ(SetPassword(spaces, L"    ", L"    "), 1);
    EXPECT_STREQ(spaces.bytes, "    ");

    Buffer accents;  // four units, six UTF-8 bytes
    EXPECT_EQ(SetPassword(accents, L"\u00e9t\u00e9s", L"\u00e9t\u00e9s"), 1);
    EXPECT_EQ(std::string(accents.bytes), "\xC3\xA9t\xC3\xA9s");
}

TEST_F(PasswordDialogs, LongPasswordsAreCutAlikeInBothDialogs) {
    // 127 accented letters need 254 bytes: both dialogs keep the first 63.
    std::wstring accented(127, L'\u00e9');
    Buffer chosen;
    ASSERT_EQ(SetPassword(chosen, accented, accented), 1);
    std::string expected;
    for (int i = 0; i < 63; ++i)
        expected += "\xC3\xA9";
    EXPECT_EQ(std::string(chosen.bytes), expected);

    char salt[64];
    char hash[128];
    ASSERT_EQ(VbGenerateSalt(salt, sizeof salt), 1);
    ASSERT_EQ(VbHashPassword(salt, chosen.bytes, hash, sizeof hash), 1);
    VbConfig config = WithPassword(salt, hash);
    Buffer entered;
    EXPECT_EQ(EnterPassword(config, entered, accented), 1);
    EXPECT_STREQ(entered.bytes, chosen.bytes);

    // Units after the 127th are not read: these two differ only there.
    std::wstring first = std::wstring(127, L'x') + L"A";
    std::wstring second = std::wstring(127, L'x') + L"B";
    Buffer ascii;
    EXPECT_EQ(SetPassword(ascii, first, second), 1);
    EXPECT_EQ(std::string(ascii.bytes), std::string(127, 'x'));
}
