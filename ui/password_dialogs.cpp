// The two password dialogs: the parent's password before anything it guards,
// and a new password typed twice.
#include <windows.h>

#include <cstring>
#include <iterator>

#include "common/vb_text.h"
#include "config/config.h"
#include "password/password.h"
#include "ui/ui_internal.h"
#include "ui/ui_text.h"

namespace {

// ES_AUTOHSCROLL: without it a box takes no more text than it shows, so a password
// that fills the wider set box could not be typed whole into the narrower enter box.
constexpr DWORD kEditStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_PASSWORD | ES_AUTOHSCROLL;
constexpr DWORD kOkStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON;
constexpr DWORD kButtonStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP;
constexpr DWORD kLabelStyle = WS_CHILD | WS_VISIBLE;

bool g_enterRegistered = false;
// One for every password dialog of the process, the uninstaller's included.
PasswordGuard g_guesses;
bool g_setRegistered = false;

const ModalWindowKind kEnterKind = {
    L"VBEnterPasswordWnd", EnterPwProc, L"Vellumbrook - Mot de passe", 320, 190,
    &g_enterRegistered};
const ModalWindowKind kSetKind = {
    L"VBSetPasswordWnd", SetPwProc, L"Vellumbrook - Définir le mot de passe", 340, 250,
    &g_setRegistered};

// Copies the accepted text out of the record and wipes the record's copy.
int TakeOutcome(int accepted, char (&password)[128], char* passwordOut) noexcept {
    if (accepted == 1) VbCopyBounded({passwordOut, 128}, VbFieldText(password));
    SecureZeroMemory(password, sizeof password);
    return accepted == 1 ? 1 : 0;
}

// Enter submits and Escape cancels, as in any dialog: IsDialogMessageW asks the
// window for its default button and sends IDCANCEL for Escape.
LRESULT DefaultButton() noexcept {
    return MAKELRESULT(IDC_OK, DC_HASDEFID);
}

void Cancel(HWND window, int& accepted) noexcept {
    accepted = 0;
    CloseModalWindow(window);
}

LRESULT OnEnterCreate(HWND window, LPARAM createParam) noexcept {
    auto* state = StoreStateOf<EnterPasswordState>(window, createParam);
    AddHeader(window, 320, L"Vellumbrook");
    AddControl(window, L"STATIC", L"Mot de passe :", kLabelStyle, 0, 24, 70, 272, 20, 0);
    state->passwordEdit = AddControl(window, L"EDIT", L"", kEditStyle, WS_EX_CLIENTEDGE, 24, 92,
                                     272, 26, IDC_PASSWORD);
    AddControl(window, L"BUTTON", L"OK", kOkStyle, 0, 62, 136, 90, 30, IDC_OK);
    AddControl(window, L"BUTTON", L"Annuler", kButtonStyle, 0, 168, 136, 90, 30, IDC_CANCEL);
    SetFocus(state->passwordEdit);
    return 0;
}

void Refuse(HWND window, HWND edit, const wchar_t* text) noexcept {
    ShowWarning(window, text);
    SetWindowTextW(edit, L"");
    SetFocus(edit);
}

void OnEnterOk(HWND window, EnterPasswordState& state) noexcept {
    const VbConfig& config = *state.config;
    ULONGLONG now = GetTickCount64();
    if (std::uint64_t seconds = PasswordWaitSeconds(g_guesses, now);
        config.hasPassword && seconds) {
        wchar_t text[64];
        DescribePasswordWait(seconds, {reinterpret_cast<char16_t*>(text), std::size(text)});
        Refuse(window, state.passwordEdit, text);  // not even checked
        return;
    }
    char typed[128];
    ReadPasswordBox(state.passwordEdit, typed);
    bool right = !config.hasPassword || VbVerifyPassword(config.salt, config.hash, typed);
    if (config.hasPassword) NotePasswordChecked(g_guesses, right, now);
    if (right) {
        VbCopyBounded(state.password, VbFieldText(typed));
        SecureZeroMemory(typed, sizeof typed);
        state.accepted = 1;
        CloseModalWindow(window);
        return;
    }
    SecureZeroMemory(typed, sizeof typed);
    Refuse(window, state.passwordEdit, L"Mot de passe incorrect.");
}

LRESULT OnSetCreate(HWND window, LPARAM createParam) noexcept {
    auto* state = StoreStateOf<SetPasswordState>(window, createParam);
    AddHeader(window, 340, L"Nouveau mot de passe");
    AddControl(window, L"STATIC", L"Nouveau mot de passe (4 caractères min.) :", kLabelStyle, 0, 24,
               70, 292, 20, 0);
    state->passwordEdit = AddControl(window, L"EDIT", L"", kEditStyle, WS_EX_CLIENTEDGE, 24, 92,
                                     292, 26, IDC_PASSWORD);
    AddControl(window, L"STATIC", L"Confirmer :", kLabelStyle, 0, 24, 126, 292, 20, 0);
    state->confirmEdit = AddControl(window, L"EDIT", L"", kEditStyle, WS_EX_CLIENTEDGE, 24, 148,
                                    292, 26, IDC_CONFIRM);
    AddControl(window, L"BUTTON", L"OK", kOkStyle, 0, 72, 194, 90, 30, IDC_OK);
    AddControl(window, L"BUTTON", L"Annuler", kButtonStyle, 0, 178, 194, 90, 30, IDC_CANCEL);
    SetFocus(state->passwordEdit);
    return 0;
}

void OnSetOk(HWND window, SetPasswordState& state) noexcept {
    wchar_t first[128];
    wchar_t second[128];
    GetWindowTextW(state.passwordEdit, first, 128);
    GetWindowTextW(state.confirmEdit, second, 128);
    // Units, not characters: a character outside the BMP counts two.
    if (lstrlenW(first) < 4) {
        ShowWarning(window, L"Le mot de passe doit faire au moins 4 caractères.");
    } else if (std::wcscmp(first, second) != 0) {
        ShowWarning(window, L"Les deux mots de passe ne correspondent pas.");
    } else {
        ReadPasswordBox(state.passwordEdit, state.password);
        state.accepted = 1;
        CloseModalWindow(window);
    }
    SecureZeroMemory(first, sizeof first);
    SecureZeroMemory(second, sizeof second);
}

// The two dialogs differ only in their controls and in what OK checks.
template <class State, LRESULT (*OnCreate)(HWND, LPARAM), void (*OnOk)(HWND, State&)>
LRESULT PasswordDialogMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    auto* state = StateOf<State>(window);
    switch (message) {
        case WM_CREATE:
            return OnCreate(window, lParam);
        case WM_COMMAND:
            if (state == nullptr) break;
            switch (LOWORD(wParam)) {
                case IDC_OK:
                    OnOk(window, *state);
                    return 0;
                case IDC_CANCEL:
                case IDCANCEL:
                    Cancel(window, state->accepted);
                    return 0;
            }
            break;
        case DM_GETDEFID:
            return DefaultButton();
        case WM_CLOSE:
            if (state != nullptr) Cancel(window, state->accepted);
            return 0;
    }
    return ModalWindowDefault(window, message, wParam, lParam);
}

}  // namespace

void ReadPasswordBox(HWND edit, char (&out)[128]) noexcept {
    wchar_t text[128];
    GetWindowTextW(edit, text, 128);
    Utf16ToUtf8Cut(reinterpret_cast<const char16_t*>(text), out);
    SecureZeroMemory(text, sizeof text);
}

void ShowWarning(HWND owner, const wchar_t* text) noexcept {
    MessageBoxW(owner, text, AppCaption, MB_OK | MB_ICONWARNING);
}

int ShowEnterPasswordDialog(HWND owner, const VbConfig* config, char* passwordOut) noexcept {
    EnterPasswordState state;
    std::memset(&state, 0, sizeof state);
    state.config = config;
    RunModalWindow(kEnterKind, owner, &state);
    return TakeOutcome(state.accepted, state.password, passwordOut);
}

bool ConfirmCurrentPassword(HWND owner, const VbConfig& config) noexcept {
    char typed[128];
    int right = ShowEnterPasswordDialog(owner, &config, typed);
    SecureZeroMemory(typed, sizeof typed);
    return right == 1;
}

int ShowSetPasswordDialog(HWND owner, char* passwordOut) noexcept {
    SetPasswordState state;
    std::memset(&state, 0, sizeof state);
    RunModalWindow(kSetKind, owner, &state);
    return TakeOutcome(state.accepted, state.password, passwordOut);
}

LRESULT CALLBACK EnterPwProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    return PasswordDialogMessage<EnterPasswordState, OnEnterCreate, OnEnterOk>(window, message,
                                                                               wParam, lParam);
}

LRESULT CALLBACK SetPwProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    return PasswordDialogMessage<SetPasswordState, OnSetCreate, OnSetOk>(window, message, wParam,
                                                                         lParam);
}
