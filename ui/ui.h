// The agent's windows, as the tray window reaches them.
#pragma once

#include <windows.h>

// Fonts, brushes and the header icon, made once per process; remembers the instance.
void VbUiInit(HINSTANCE instance) noexcept;

// The way into the settings: the parent's password first, or a new one when none
// is set, then the settings window. Returns when the window is closed or a dialog
// was cancelled; 1 when the settings window was shown.
int VbShowSettingsFlow(HWND owner) noexcept;

// The parent's first password, when none is set yet: the set-password dialog, then
// the save. 1 when a password is set (already, or now); 0 when the dialog was
// cancelled, or the settings could not be read or saved (the parent was told).
int VbChooseFirstPassword(HWND owner) noexcept;

// 1 when the agent may quit: no password is set, or the parent typed it.
int VbConfirmPasswordForExit(HWND owner) noexcept;

// Sent by the settings window to its owner after each pass it ran, with the
// pass's report packed in wParam (VbPackPassReport).
inline constexpr UINT VbPassReportedMessage = WM_APP + 2;
