// The only ways from the tray icon into what the parent controls: the settings
// (behind the password, or behind choosing one) and quitting.
#include <windows.h>

#include <cstring>

#include "common/vb_text.h"
#include "config/config.h"
#include "password/password.h"
#include "ui/ui_internal.h"

namespace {

constexpr wchar_t kFirstPasswordFailedText[] =
    L"Le mot de passe n'a pas pu être créé. Rien n'a été enregistré.";
constexpr wchar_t kFirstPasswordNotSavedText[] =
    L"Le mot de passe n'a pas pu être enregistré. Réessayez dans un instant.";

// Set while a flow or the quit prompt has a window open.
bool g_flowOpen = false;

class FlowGuard {
public:
    FlowGuard() noexcept { g_flowOpen = true; }
    ~FlowGuard() { g_flowOpen = false; }
    FlowGuard(const FlowGuard&) = delete;
    FlowGuard& operator=(const FlowGuard&) = delete;
};

BOOL CALLBACK FindUsableWindow(HWND window, LPARAM found) noexcept {
    // The window the parent can act on: shown and not disabled by a modal child.
    if (IsWindowVisible(window) && IsWindowEnabled(window)) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

void BringOpenFlowToFront() noexcept {
    HWND window = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindUsableWindow, reinterpret_cast<LPARAM>(&window));
    if (window != nullptr) {
        SetForegroundWindow(window);
        BringWindowToTop(window);
    }
}

// A second flow on top of an open one would let two windows save over each
// other: the open one comes to the front instead.
bool FlowAlreadyOpen() noexcept {
    if (g_flowOpen) BringOpenFlowToFront();
    return g_flowOpen;
}

// An unreadable file is never taken for a first start: that would let whoever
// holds it open choose a new password and wipe the site list.
// The message names the folder, so that a parent or a helper knows where to look.
bool LoadOrWarn(HWND owner, VbConfig& config) noexcept {
    if (VbLoadSecuredConfig(&config)) return true;
    wchar_t folder[MAX_PATH];
    wchar_t text[MAX_PATH + 96];
    if (!VbGetConfigDir(folder, MAX_PATH)) folder[0] = L'\0';
    VbJoin<wchar_t>(text, {L"Impossible de lire les paramètres de Vellumbrook (", folder,
                           L"). Réessayez dans un instant."});
    ShowWarning(owner, text);
    return false;
}

}  // namespace

bool SetNewPassword(VbConfig& config, const char* password) noexcept {
    char salt[64];
    char hash[128];
    if (!VbGenerateSalt(salt, sizeof salt) || !VbHashPassword(salt, password, hash, sizeof hash))
        return false;
    VbCopyBounded(config.salt, VbFieldText(salt));
    VbCopyBounded(config.hash, VbFieldText(hash));
    config.hasPassword = 1;
    return true;
}

namespace {

// The set-password dialog, then config saved with the new password: the switch and
// the list as loaded (on a first start, protection on and no sites). A password
// that did not reach the file protects nothing: the parent is told.
bool ChooseFirstPassword(HWND owner, VbConfig& config) noexcept {
    char password[128];
    if (!ShowSetPasswordDialog(owner, password)) return false;
    bool made = SetNewPassword(config, password);
    SecureZeroMemory(password, sizeof password);
    if (!made) {
        ShowWarning(owner, kFirstPasswordFailedText);
        return false;
    }
    if (!VbSaveConfig(&config)) {
        ShowWarning(owner, kFirstPasswordNotSavedText);
        return false;
    }
    return true;
}

}  // namespace

int VbChooseFirstPassword(HWND owner) noexcept {
    if (FlowAlreadyOpen()) return 0;
    FlowGuard guard;
    VbConfig config;
    if (!LoadOrWarn(owner, config)) return 0;
    return config.hasPassword || ChooseFirstPassword(owner, config) ? 1 : 0;
}

int VbShowSettingsFlow(HWND owner) noexcept {
    if (FlowAlreadyOpen()) return 0;
    FlowGuard guard;
    SettingsState state;
    std::memset(&state, 0, sizeof state);
    VbConfig& config = state.config;
    if (!LoadOrWarn(owner, config)) return 0;
    if (config.hasPassword ? !ConfirmCurrentPassword(owner, config)
                           : !ChooseFirstPassword(owner, config))
        return 0;
    RunModalWindow(SettingsWindowKind, owner, &state);
    return 1;
}

int VbConfirmPasswordForExit(HWND owner) noexcept {
    if (FlowAlreadyOpen()) return 0;
    FlowGuard guard;
    VbConfig config;
    if (!LoadOrWarn(owner, config)) return 0;
    return !config.hasPassword || ConfirmCurrentPassword(owner, config) ? 1 : 0;
}
