// The agent's process: the tray window, the one-agent-per-machine guard, the
// service, and the switches that stop, install or uninstall it.
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
inline constexpr wchar_t ServiceName[] = L"Vellumbrook";

// tray.cpp: creates the hidden tray window with its icon, runs the first pass,
// starts the 60-second timer and, on a first start, opens the password flow.
// NULL when the window cannot be created.
HWND VbStartTray(HINSTANCE instance) noexcept;

// instance.cpp: 1 when this process is to be the agent: it took the one-agent guard,
// which it keeps until it ends. 0 when an agent runs: running is then its tray
// window, or NULL when that agent is in another session.
int VbTakeInstanceGuard(HWND* running) noexcept;
// The tray window of a running agent: one whose process runs this executable,
// elevated. Waits up to waitMs for it to show.
HWND VbFindRunningAgent(DWORD waitMs) noexcept;
// Whether an agent runs in another session: the guard is held while no agent
// window is on this desktop.
bool VbAgentInOtherSession() noexcept;
// Whether the user logged on to this process's session is an administrator, through
// any group. The session's user, not this process's token: an agent started over a
// child's shoulder runs with the parent's credentials in the child's session. False
// when it cannot be told.
bool VbSessionUserIsAdmin() noexcept;

// The exit codes of the switches.
enum ExitCode : int {
    kDone = 0,
    kRefused = 1,       // the password was not given, the settings could not be read, or
                        // the program runs without elevation
    kStillRunning = 2,  // the running agent or the service did not end, or an agent
                        // runs in another session
    kIncomplete = 3,    // a protection, the logon task, the service or the data folder
                        // is still there, or the service could not be installed
};

// uninstall.cpp: "--setup", run by the setup program from its own folder before it
// stops or copies anything, takes the agent's folder back and, unless silent, asks
// for the parent's first password when none is set (kRefused when the parent
// cancels, kIncomplete when the folder stays foreign). "--stop" ends the service and
// the tray agent; "--uninstall" asks for the password and gives the machine back.
// Each returns the exit code.
int VbPrepareSetup(HINSTANCE instance, bool askPassword) noexcept;
int VbStopRunningAgent() noexcept;
int VbUninstall(HINSTANCE instance) noexcept;

// service.cpp: "--service", the service's process. 1 when it was not started
// by the service control manager.
int VbRunService() noexcept;
// service_control.cpp: "--install-service" creates the service, or brings an
// earlier one up to date, and starts it. kDone, kIncomplete, or kRefused when this
// executable is not the one in the agent's Program Files folder.
int VbInstallService() noexcept;
// The service's state and process; false when it cannot be asked (or does not exist).
bool VbQueryService(SERVICE_STATUS_PROCESS& status) noexcept;
// Stops the service and waits up to waitMs for its process to end. True when it
// does not run (or does not exist); wasRunning tells whether it ran.
bool VbStopService(DWORD waitMs, bool& wasRunning) noexcept;
bool VbStartService() noexcept;
// "--start-service": starts the service once it is no longer stopping, waiting up to
// waitMs for that.
bool VbStartServiceOnceStopped(DWORD waitMs) noexcept;
// Deletes the service and its safe-mode entries. True when they are gone (the
// service may be only marked for deletion while another program keeps a handle).
bool VbDeleteService() noexcept;
