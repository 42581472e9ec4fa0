// Replacing a file in one step through a flushed temporary file.
#include "common/vb_file.h"

#include "common/vb_handle.h"

bool VbReplaceFile(const wchar_t* target, const wchar_t* temp, std::span<const char> bytes,
                   DWORD moveFlags) noexcept {
    VbUniqueFile file(CreateFileW(temp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    bool ok =
        WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
        written == bytes.size();
    // Flushed before the rename, so that a power cut never leaves a short or empty target.
    ok = ok && FlushFileBuffers(file.Get());
    ok = CloseHandle(file.Release()) && ok;
    ok = ok && MoveFileExW(temp, target, moveFlags);
    if (!ok) DeleteFileW(temp);
    return ok;
}
