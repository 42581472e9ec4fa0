// System DLLs loaded from the system directory alone.
#include "common/vb_system.h"

#include "common/vb_text.h"

FARPROC VbSystemProc(const wchar_t* dll, const char* name) noexcept {
    // The DLL and what it imports, from the system directory only. Windows 7 without
    // KB2533623 does not know the flag: there, the full path, and its imports from
    // beside it, which is the system directory again.
    HMODULE module = LoadLibraryExW(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr) {
        wchar_t system[MAX_PATH];
        wchar_t path[MAX_PATH];
        UINT length = GetSystemDirectoryW(system, MAX_PATH);
        if (length == 0 || length >= MAX_PATH || !VbJoin<wchar_t>(path, {system, L"\\", dll}))
            return nullptr;
        module = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    return module != nullptr ? GetProcAddress(module, name) : nullptr;
}
