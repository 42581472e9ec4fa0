// The settings window: protection on or off, the blocked sites, the password.
#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <iterator>
#include <memory>
#include <new>

#include "common/vb_lock.h"
#include "common/vb_text.h"
#include "config/config.h"
#include "protection/enforce.h"
#include "ui/ui_internal.h"
#include "ui/ui_text.h"

namespace {

constexpr wchar_t kPasswordChangedText[] = L"Mot de passe mis à jour.";
constexpr wchar_t kSaveFailedText[] = L"Échec de l'enregistrement : paramètres inchangés.";
constexpr wchar_t kPasswordFailedText[] = L"Échec : le mot de passe n'a pas été changé.";

// The whole stored list fits: 64 names of at most 255 units, each with CR LF.
constexpr std::size_t kListCapacity = VbMaxSites * (VbSiteSlotSize - 1 + 2) + 1;

bool g_settingsRegistered = false;

void SetStatus(SettingsState& state, const wchar_t* text, COLORREF colour) noexcept {
    state.statusColour = colour;
    SetWindowTextW(state.statusLine, text);
    InvalidateRect(state.statusLine, nullptr, TRUE);
}

// Every name on a line of its own, each line ended by CR LF.
void ShowSiteList(HWND edit, const VbConfig& config) noexcept {
    wchar_t text[kListCapacity];
    std::size_t used = 0;
    for (int i = 0; i < config.siteCount && i < VbMaxSites; ++i) {
        std::string_view site = VbFieldText(config.sites[i]).substr(0, VbSiteSlotSize - 1);
        // Never more units than bytes, so every name fits its share of the buffer.
        if (!site.empty())
            used += MultiByteToWideChar(CP_UTF8, 0, site.data(), static_cast<int>(site.size()),
                                        text + used, static_cast<int>(VbSiteSlotSize - 1));
        text[used++] = L'\r';
        text[used++] = L'\n';
    }
    text[used] = L'\0';
    SetWindowTextW(edit, text);
}

// Under the dialog manager a multi-line box turns Escape into WM_CLOSE to its
// window, which would close the settings and lose what was typed: the key is
// kept from it. Escape elsewhere in the window does nothing either.
LRESULT CALLBACK SiteListProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                              DWORD_PTR) noexcept {
    if ((message == WM_KEYDOWN || message == WM_CHAR) && wParam == VK_ESCAPE) return 0;
    if (message == WM_NCDESTROY) RemoveWindowSubclass(edit, SiteListProc, 0);
    return DefSubclassProc(edit, message, wParam, lParam);
}

LRESULT OnCreate(HWND window, LPARAM createParam) noexcept {
    auto* state = StoreStateOf<SettingsState>(window, createParam);
    state->statusColour = StatusColour;
    AddHeader(window, 480, L"Paramètres Vellumbrook");
    state->protectCheck = AddControl(
        window, L"BUTTON", L"Protection activée (filtrage DNS + sites bloqués)",
        WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, 0, 24, 70, 432, 24, IDC_PROTECT);
    SendMessageW(state->protectCheck, BM_SETCHECK,
                 state->config.enabled ? BST_CHECKED : BST_UNCHECKED, 0);
    AddControl(window, L"STATIC",
               L"Sites personnalisés à bloquer (un domaine par ligne, ex. jeux.fr) :",
               WS_CHILD | WS_VISIBLE, 0, 24, 104, 432, 20, 0);
    state->sitesEdit = AddControl(window, L"EDIT", L"",
                                  WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | ES_MULTILINE |
                                      ES_AUTOVSCROLL | ES_WANTRETURN,
                                  WS_EX_CLIENTEDGE, 24, 126, 432, 136, IDC_SITES);
    ShowSiteList(state->sitesEdit, state->config);
    SetWindowSubclass(state->sitesEdit, SiteListProc, 0, 0);
    // Three lines between the list and the buttons, which a pass that failed needs
    // to name its steps; the list gives up the room.
    state->statusLine =
        AddControl(window, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 24, 266, 432, 56, 0);
    AddControl(window, L"BUTTON", L"Enregistrer",
               WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 24, 326, 150, 32,
               IDC_SAVE);
    AddControl(window, L"BUTTON", L"Changer le mot de passe", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0,
               182, 326, 190, 32, IDC_CHANGEPW);
    AddControl(window, L"BUTTON", L"Fermer", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 380, 326, 76,
               32, IDC_CANCEL);
    return 0;
}

void ReportIgnoredLines(HWND window, const SiteListOutcome& outcome) noexcept {
    if (outcome.ignoredCount == 0) return;
    wchar_t message[1024];
    DescribeIgnoredLines(outcome, {reinterpret_cast<char16_t*>(message), std::size(message)});
    ShowWarning(window, message);
}

void OnSave(HWND window, SettingsState& state) noexcept {
    // Worked on a copy: the window's record changes only once the file has.
    VbConfig candidate = state.config;
    candidate.enabled = SendMessageW(state.protectCheck, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;

    int length = GetWindowTextLengthW(state.sitesEdit);
    std::unique_ptr<wchar_t[]> text(new (std::nothrow) wchar_t[length + 1]);
    if (!text) {  // nothing may be saved from an incomplete list
        SetStatus(state, kSaveFailedText, WarningColour);
        return;
    }
    int got = GetWindowTextW(state.sitesEdit, text.get(), length + 1);
    SiteListOutcome outcome = ParseSiteList(
        {reinterpret_cast<const char16_t*>(text.get()), static_cast<std::size_t>(got)}, candidate);

    // The save and the pass that follows it, one after the other: no other pass comes
    // between them, nor meets the save. Released before any message waits for the parent.
    VbPassReport report;
    {
        VbMachineLock lock;
        if (!VbSaveConfig(&candidate)) {
            SetStatus(state, kSaveFailedText, WarningColour);
            return;
        }
        state.config = candidate;
        // Reloads what was just written: the machine follows the file at once, and the
        // status line says what is really in force.
        VbEnforceFromConfig(&report);
    }
    if (!report.configRead) report.enabled = candidate.enabled;
    wchar_t status[256];
    DescribePass(report, {reinterpret_cast<char16_t*>(status), std::size(status)});
    SetStatus(state, status, PassIncomplete(report) ? WarningColour : StatusColour);
    SendMessageW(GetWindow(window, GW_OWNER), VbPassReportedMessage, VbPackPassReport(report), 0);
    ReportIgnoredLines(window, outcome);
}

void OnChangePassword(HWND window, SettingsState& state) noexcept {
    char typed[128];
    if (!ConfirmCurrentPassword(window, state.config) || !ShowSetPasswordDialog(window, typed))
        return;

    // Only the password changes: the switch and the list stay as last saved.
    VbConfig candidate = state.config;
    bool made = SetNewPassword(candidate, typed);
    SecureZeroMemory(typed, sizeof typed);
    if (!made || !VbSaveConfig(&candidate)) {
        SetStatus(state, kPasswordFailedText, WarningColour);
        return;
    }
    state.config = candidate;
    SetStatus(state, kPasswordChangedText, StatusColour);
}

}  // namespace

const ModalWindowKind SettingsWindowKind = {
    L"VBSettingsWnd", SettingsProc, L"Vellumbrook - Paramètres", 480, 400, &g_settingsRegistered};

LRESULT CALLBACK SettingsProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    auto* state = StateOf<SettingsState>(window);
    switch (message) {
        case WM_CREATE:
            return OnCreate(window, lParam);
        case WM_COMMAND:
            if (state == nullptr) break;
            switch (LOWORD(wParam)) {
                case IDC_SAVE:
                    OnSave(window, *state);
                    return 0;
                case IDC_CHANGEPW:
                    OnChangePassword(window, *state);
                    return 0;
                case IDC_CANCEL:
                    CloseModalWindow(window);
                    return 0;
            }
            break;
        case DM_GETDEFID:  // Enter outside the list saves
            return MAKELRESULT(IDC_SAVE, DC_HASDEFID);
        case WM_CLOSE:
            CloseModalWindow(window);
            return 0;
    }
    if (state == nullptr) return ModalWindowDefault(window, message, wParam, lParam);
    return ModalWindowDefault(window, message, wParam, lParam, state->statusLine,
                              state->statusColour);
}
