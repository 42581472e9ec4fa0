// The agent's windows, as the tray window reaches them.
#pragma once

#include <windows.h>

// Fonts, brushes and the header icon, made once per process; remembers the instance.
void VbUiInit(HINSTANCE instance) noexcept;
