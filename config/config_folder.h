// The agent's folder and what may stand in it. Standard users may neither create
// it first, nor add files to it, nor read the password's salt and hash; whatever
// one of them put in its place is moved aside, never trusted.
#pragma once

#include <windows.h>

#include "common/vb_handle.h"

// Owner Administrators; full control to SYSTEM and Administrators only;
// protected from inheritance; inherited by the files inside.
inline constexpr wchar_t ConfigFolderSddl[] = L"O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
// What config.dat's temporary file adds to its name.
inline constexpr wchar_t ConfigTempSuffix[] = L".vb_tmp";
// What a moved-aside entry's name gets, before a random part: "config.dat.untrusted-…".
inline constexpr wchar_t UntrustedSuffix[] = L".untrusted-";

// The descriptor the folder is created with and re-secured to; empty on failure.
VbUniqueLocal BuildConfigFolderDescriptor() noexcept;

// The agent's folder, config.dat and its temporary file; false when a path would not fit.
struct ConfigPaths {
    wchar_t folder[MAX_PATH];
    wchar_t file[MAX_PATH];
    wchar_t temp[MAX_PATH];
};
bool GetConfigPaths(ConfigPaths& paths) noexcept;

// Opens an entry itself, never through a link: READ_CONTROL and the attributes
// besides access. Invalid when it cannot be opened, or when the platform opened
// a link's target instead of the link (Wine does so with Unix symbolic links).
VbUniqueFile OpenEntryItself(const wchar_t* path, DWORD access,
                             DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE |
                                           FILE_SHARE_DELETE) noexcept;
// Whether an entry opened by OpenEntryItself (with READ_CONTROL) is the agent's
// own: a real folder, or a real file with no other name (a hard link elsewhere
// would let its other owner change it) whose access list, where the volume keeps
// one, admits nobody else; owned by Administrators, SYSTEM or the agent's own user,
// as what the agent makes is. Under Wine, which keeps no owners, every file shows
// the user's own SID.
bool IsAgentEntry(HANDLE entry, bool folder) noexcept;
// Whether the agent's folder, looked at by path, is a plain folder (not a link):
// config.dat is opened through it. False also when it is missing.
bool AgentFolderIsPlain(const wchar_t* folder, bool& missing) noexcept;
