// Shared inside the ui module: theme, modal frame, control ids, window records.
#pragma once

#include <windows.h>

#include "config/config.h"
#include "ui/ui.h"

// Control ids are unique within one window only.
enum : int {
    IDC_PASSWORD = 4001,
    IDC_SITES = 4001,
    IDC_CONFIRM = 4002,
    IDC_OK = 4010,
    IDC_CANCEL = 4011,
    IDC_PROTECT = 4012,
    IDC_SAVE = 4013,
    IDC_CHANGEPW = 4014,
    IDC_HEADER_ICON = 4016,
    IDC_HEADER_TITLE = 4017,
};

inline constexpr int HeaderHeight = 56;
inline constexpr COLORREF BodyColour = RGB(246, 248, 252);
inline constexpr COLORREF HeaderColour = RGB(43, 58, 103);
inline constexpr COLORREF HeaderTextColour = RGB(255, 255, 255);
inline constexpr COLORREF StatusColour = RGB(10, 143, 89);
inline constexpr COLORREF TextColour = RGB(28, 36, 52);

void AddHeader(HWND window, int windowWidth, const wchar_t* title) noexcept;
void PaintThemedBackground(HWND window, HDC dc) noexcept;
// The brush for WM_CTLCOLORSTATIC, after setting the text colour of control.
// statusLine may be NULL; it is drawn in statusColour.
HBRUSH HandleCtlColorStatic(HWND statusLine, HDC dc, HWND control,
                            COLORREF statusColour = StatusColour) noexcept;
// Disables owner (when not NULL) and pumps every message of the thread until
// window is gone.
void RunModalLoop(HWND owner, HWND window) noexcept;

// One of the agent's modal window kinds.
struct ModalWindowKind {
    const wchar_t* className;
    WNDPROC procedure;
    const wchar_t* caption;
    int width;  // outer size
    int height;
    bool* registered;  // the class is registered once, on first use
};

// Registers the class once, creates the window with state as its creation
// parameter, centres and shows it, and returns when it is gone.
void RunModalWindow(const ModalWindowKind& kind, HWND owner, void* state) noexcept;

// A child control in the body font.
HWND AddControl(HWND parent, const wchar_t* className, const wchar_t* text, DWORD style,
                DWORD exStyle, int x, int y, int width, int height, int id) noexcept;

// Ends a modal window: its owner is enabled first, so that activation returns to
// the owner instead of to another program's window.
void CloseModalWindow(HWND window) noexcept;

// The state record a modal window keeps in its user-data slot (NULL until WM_CREATE).
template <class State>
State* StateOf(HWND window) noexcept {
    return reinterpret_cast<State*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

// Stores the creation parameter of WM_CREATE in the user-data slot and returns it.
template <class State>
State* StoreStateOf(HWND window, LPARAM createParam) noexcept {
    auto* state =
        static_cast<State*>(reinterpret_cast<CREATESTRUCTW*>(createParam)->lpCreateParams);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
    return state;
}

// The messages every modal window treats alike, and DefWindowProcW for the rest:
// WM_ERASEBKGND paints the header band and the body; WM_CTLCOLORSTATIC colours
// the statics (statusLine in statusColour); WM_DESTROY wakes the modal loop.
LRESULT ModalWindowDefault(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                           HWND statusLine = nullptr,
                           COLORREF statusColour = StatusColour) noexcept;

// The password dialogs. Both return 1 with the accepted text, UTF-8, NUL-terminated,
// at most 127 bytes, in passwordOut (128 bytes); 0 when cancelled or closed, and
// then passwordOut is not written.

struct EnterPasswordState {
    const VbConfig* config;  // verified against its salt and hash
    char password[128];
    int accepted;
    HWND passwordEdit;
};

struct SetPasswordState {
    char password[128];
    int accepted;
    HWND passwordEdit;
    HWND confirmEdit;
};

int ShowEnterPasswordDialog(HWND owner, const VbConfig* config, char* passwordOut) noexcept;
// The enter dialog where only the outcome counts: the typed text is wiped at once.
bool ConfirmCurrentPassword(HWND owner, const VbConfig& config) noexcept;
int ShowSetPasswordDialog(HWND owner, char* passwordOut) noexcept;
LRESULT CALLBACK EnterPwProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
LRESULT CALLBACK SetPwProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;

// Reads a password box: its first 127 UTF-16 units, as UTF-8 cut at the last whole
// character that fits in 127 bytes. Both dialogs read their boxes this way, so a
// password the set dialog accepts is the one the enter dialog accepts.
void ReadPasswordBox(HWND edit, char (&out)[128]) noexcept;

inline constexpr wchar_t AppCaption[] = L"Vellumbrook";
inline constexpr COLORREF WarningColour = RGB(180, 35, 24);

// Shows one of the agent's warnings, owned by owner.
void ShowWarning(HWND owner, const wchar_t* text) noexcept;

// The settings window: the parent's working copy of the configuration and the
// controls that edit it.
struct SettingsState {
    VbConfig config;
    HWND protectCheck;
    HWND sitesEdit;
    HWND statusLine;
    COLORREF statusColour;  // green after success, red after a failure
};

LRESULT CALLBACK SettingsProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
extern const ModalWindowKind SettingsWindowKind;

// Puts a new salt and the hash of password into config, and sets hasPassword.
// False, with config untouched, when the salt or the hash could not be made.
bool SetNewPassword(VbConfig& config, const char* password) noexcept;
