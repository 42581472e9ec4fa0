// The agent's process: the tray window, the one-agent-per-machine guard, and
// the switches that stop or uninstall it.
#pragma once

#include <windows.h>

#include "common/vb_handle.h"

// Registered messages that another process of the agent's own executable sends
// the running agent's tray window. Only elevated processes can: the integrity
// filter lets nothing else through but Explorer's "TaskbarCreated".
inline constexpr wchar_t ShowSettingsMessage[] = L"Vellumbrook.ShowSettings";
inline constexpr wchar_t QuitMessage[] = L"Vellumbrook.Quit";
// The class of the agent's hidden tray window, by which a second start finds it.
inline constexpr wchar_t TrayClassName[] = L"VBTrayWnd";

// tray.cpp: creates the hidden tray window with its icon, runs the first pass,
// starts the 60-second timer and, on a first start, opens the password flow.
// NULL when the window cannot be created.
HWND VbStartTray(HINSTANCE instance) noexcept;

struct VbNamespaceTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ClosePrivateNamespace(h, 0); }
};

// instance.cpp: the guard a running agent holds.
struct VbInstanceGuard {
    VbUnique<VbNamespaceTraits> space;  // declared first: closed after the mutex
    VbUniqueHandle mutex;
};
// 1 when this process is to be the agent: it took the guard, or found its name
// held by something that is not a running agent. 0 when an agent runs: running
// is then its tray window.
int VbTakeInstanceGuard(VbInstanceGuard& guard, HWND* running) noexcept;
// The tray window of a running agent: one whose process runs this executable.
// Waits up to waitMs for it to show.
HWND VbFindRunningAgent(DWORD waitMs) noexcept;

// The exit codes of the switches.
enum ExitCode : int {
    kDone = 0,
    kRefused = 1,       // the password was not given, the settings could not be read, or
                        // the program runs without elevation
    kStillRunning = 2,  // the running agent did not end
    kIncomplete = 3,    // a protection, the logon task or the data folder is still there
};

// uninstall.cpp: "--stop" and "--uninstall". Both return the process exit code.
int VbStopRunningAgent() noexcept;
int VbUninstall(HINSTANCE instance) noexcept;
