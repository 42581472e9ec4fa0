// Functions of system DLLs that are not among the system's known DLLs (bcrypt,
// iphlpapi, wtsapi32, netapi32). A static import of such a DLL is looked for in the
// program's own folder first: an elevated copy started from a folder a standard
// user can write would load whatever was planted beside it before its first
// instruction. These are loaded from the system directory, at first use, and stay.
#pragma once

#include <windows.h>

// The function of that name in that DLL of the system directory, or null.
FARPROC VbSystemProc(const wchar_t* dll, const char* name) noexcept;

template <class Fn>
Fn VbSystemFunction(const wchar_t* dll, const char* name) noexcept {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(VbSystemProc(dll, name)));
}

// VB_SYSTEM_FN(L"bcrypt.dll", BCryptGenRandom): typed as the header declares it.
#define VB_SYSTEM_FN(dll, function) VbSystemFunction<decltype(&function)>(dll, #function)
