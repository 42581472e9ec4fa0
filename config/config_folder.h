// The agent's folder and what may stand in it. Standard users may neither create
// it first, nor add files to it, nor read the password's salt and hash; whatever
// one of them put in its place is moved aside, never trusted.
#pragma once

#include <windows.h>

#include "common/vb_handle.h"

// Owner Administrators; full control to SYSTEM and Administrators only;
// protected from inheritance; inherited by the files inside.
inline constexpr wchar_t ConfigFolderSddl[] = L"O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
// The agent's folder inside the data folder, and what config.dat's temporary file adds.
inline constexpr wchar_t AgentFolderName[] = L"\\Vellumbrook";
inline constexpr wchar_t ConfigTempSuffix[] = L".vb_tmp";
// What a moved-aside entry's name gets, before a random part: "config.dat.untrusted-…".
inline constexpr wchar_t UntrustedSuffix[] = L".untrusted-";

// The descriptor the folder is created with and re-secured to; empty on failure.
VbUniqueLocal BuildConfigFolderDescriptor() noexcept;

// The machine-wide data folder, looked up once per process.
const wchar_t* DataFolder() noexcept;
// DataFolder() followed by "\Vellumbrook"; false when it does not fit.
bool GetAgentFolder(wchar_t (&out)[MAX_PATH]) noexcept;

// Opens an entry itself, never through a link: READ_CONTROL and the attributes
// besides access. Invalid when it cannot be opened, or when the platform opened
// a link's target instead of the link (Wine does so with Unix symbolic links).
VbUniqueFile OpenEntryItself(const wchar_t* path, DWORD access) noexcept;
// Whether an entry (opened with READ_CONTROL) is owned by Administrators, SYSTEM
// or the agent's own user, as what the agent made is; under Wine, which keeps no
// owners, every file shows the user's own SID.
bool TrustedOwner(HANDLE entry) noexcept;
// Whether an entry opened by OpenEntryItself is a real folder (or a real file)
// and not a link.
bool IsPlainEntry(HANDLE entry, bool folder) noexcept;
