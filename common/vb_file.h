// Replacing a file in one step: the new bytes go to a temporary file beside it,
// which is flushed and then renamed over the target.
#pragma once

#include <windows.h>

#include <span>

// True when target now holds bytes, with the given attributes (FILE_ATTRIBUTE_NORMAL
// for none) and, when security is given, its owner. On false the target is untouched
// and no temporary file is left behind.
bool VbReplaceFile(const wchar_t* target, const wchar_t* temp, std::span<const char> bytes,
                   DWORD moveFlags, DWORD attributes, SECURITY_ATTRIBUTES* security) noexcept;
