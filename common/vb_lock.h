// The agent's kernel objects, which no standard user may create first or hold:
// named in a private namespace bounded by the Administrators group, with
// administrators-and-SYSTEM-only access. Where the platform refuses the namespace
// (Wine has none), machine-wide names stand in.
#pragma once

#include <windows.h>

#include <string_view>

// Creates (or opens) the agent's mutex of that name, administrators and SYSTEM
// only: "Vellumbrook\<name>" in the agent's namespace, which the process opens
// once and keeps, or "Global\Vellumbrook<name>" where there is none (namespaced
// tells which). Returns it, or null; error is GetLastError() of the creation
// (ERROR_ALREADY_EXISTS when it was there).
HANDLE VbCreateAgentMutex(std::wstring_view name, bool owned, bool& namespaced,
                          DWORD& error) noexcept;

// One writer at a time on the machine: the tray agent's and the service's passes,
// the settings window's saves, --revert and --uninstall each hold it while they
// read or write the agent's files or the machine's settings. The wait is bounded:
// a lock held longer than 60 seconds (a squatter, a pass stuck on hung commands)
// never stops protection, and the holder goes ahead without it.
class VbMachineLock {
public:
    VbMachineLock() noexcept;
    ~VbMachineLock();
    VbMachineLock(const VbMachineLock&) = delete;
    VbMachineLock& operator=(const VbMachineLock&) = delete;

private:
    HANDLE held_ = nullptr;  // the process's lock mutex while this owns it
};
