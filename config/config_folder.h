// The security of the agent's folder. Standard users may neither create it
// first, nor add files to it, nor read the password's salt and hash.
#pragma once

#include "common/vb_handle.h"

// Owner Administrators; full control to SYSTEM and Administrators only;
// protected from inheritance; inherited by the files inside.
inline constexpr wchar_t ConfigFolderSddl[] = L"O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

// The descriptor the folder is created with and re-secured to; empty on failure.
VbUniqueLocal BuildConfigFolderDescriptor() noexcept;
