// The agent's lock and its one-agent guard: byte-range locks on one file at a fixed
// path, %ProgramFiles%\Vellumbrook\Vellumbrook.lock, which admits SYSTEM and
// Administrators only.
//
// Why a file. A name under Global\ can be created first, and held, by any standard
// user. A private namespace keeps such names out, but once the process that
// created it has ended nobody else can open it, while anyone who still holds it
// keeps it from being made again: a restarted service, or a tray agent started
// after the first one quit, would lose the lock and the guard for good. A file has
// an identity of its own that no process must keep alive. No standard user can
// create it (Program Files admits administrators only), nor open it (its own access
// list admits nobody else: LockFileEx needs only read access, so a readable file
// could be locked by anyone), and the system releases a process's locks when it
// ends, however it ends: nothing is left abandoned.
#pragma once

#include <windows.h>

// %ProgramFiles%\Vellumbrook, where the setup installs the agent and the lock file
// lives; false when the path would not fit.
bool VbAgentProgramFolder(wchar_t (&out)[MAX_PATH]) noexcept;

// One writer at a time on the machine: the tray agent's and the service's passes,
// the settings' saves, --revert and --uninstall each hold it while they read or
// write the agent's files or the machine's settings. A thread that holds it may
// take it again (a save and the pass that follows it share one acquisition). The
// wait is bounded: a lock held longer than 60 seconds (a pass stuck on hung
// commands) never stops protection, and the holder goes ahead without it; so
// does one that cannot open the file.
class VbMachineLock {
public:
    VbMachineLock() noexcept;
    ~VbMachineLock();
    VbMachineLock(const VbMachineLock&) = delete;
    VbMachineLock& operator=(const VbMachineLock&) = delete;

private:
    bool held_ = false;
};

// Takes the one-agent guard for the rest of the process's life. False when
// another process holds it; true also when the file cannot be opened at all, since
// then nothing can be excluded and protection goes first.
bool VbTakeAgentGuard() noexcept;
// Whether another process holds the one-agent guard.
bool VbAgentGuardHeld() noexcept;
