// Replacing a file in one step: the new bytes go to a temporary file beside it,
// which is flushed and then renamed over the target.
#pragma once

#include <windows.h>

#include <span>

// True when target now holds bytes. On false the target is untouched and no
// temporary file is left behind.
bool VbReplaceFile(const wchar_t* target, const wchar_t* temp, std::span<const char> bytes,
                   DWORD moveFlags) noexcept;
