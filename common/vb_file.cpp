// Replacing a file in one step through a flushed temporary file.
#include "common/vb_file.h"

#include "common/vb_handle.h"

bool VbReplaceFile(const wchar_t* target, const wchar_t* temp, std::span<const char> bytes,
                   DWORD moveFlags, DWORD attributes, SECURITY_ATTRIBUTES* security) noexcept {
    // A leftover temporary file goes first, whoever left it: made anew, it can lend
    // the target neither its owner nor its access rights. Read-only or hidden, it
    // would refuse the deletion or the creation, so its attributes go before it.
    SetFileAttributesW(temp, FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(temp);
    VbUniqueFile file(
        CreateFileW(temp, GENERIC_WRITE, 0, security, CREATE_NEW, attributes, nullptr));
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
