// The agent's settings: the VbConfig record and its one file, config.dat,
// under the machine-wide application-data folder.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr int VbMaxSites = 64;
inline constexpr std::size_t VbSiteSlotSize = 256;  // 255 bytes and the NUL

// A plain fixed-size record: copied by value, zeroed before it is filled.
struct VbConfig {
    char salt[64];
    char hash[128];
    int32_t hasPassword;  // derived from hash being non-empty; never stored
    int32_t enabled;
    int32_t siteCount;  // 0..VbMaxSites used slots of sites, from slot 0
    char sites[VbMaxSites][VbSiteSlotSize];
};
static_assert(sizeof(VbConfig::sites[0]) == 256, "the hosts block reads 256-byte slots");
static_assert(sizeof(VbConfig) == 64 + 128 + 3 * 4 + 64 * 256);

// The agent's folder (the full path the system gives, for messages) into out. 0,
// and an empty out, when the path would not fit.
int VbGetConfigDir(wchar_t* out, std::size_t capacity) noexcept;
// Full path of config.dat into out (capacity in UTF-16 units). 0, and an empty
// out, when the path would not fit.
int VbGetConfigPath(wchar_t* out, std::size_t capacity) noexcept;
// Creates the agent's folder, or secures the one that exists. What stands in its
// place or in place of config.dat and was not made by the agent (a file, a link,
// a folder or file of another owner, a config.dat with a second name) is moved
// aside to a name ending in ".untrusted-" and a random part, never through a link
// and without taking it over. 1 when the folder is usable; 0 when something
// foreign stayed (a standard user holds it open): then nothing may be read from
// it or written into it, and the call is tried again later.
int VbEnsureConfigDir() noexcept;
// Removes config.dat and its temporary file, then the folder when nothing else is
// left in it; each through a handle to the entry itself, never through a link
// and never into anything else. 1 when the agent's files are gone (or there was
// no folder); 0 when one stayed, or a link or a file stands in the folder's place.
int VbRemoveConfigDir() noexcept;
// Fills the record. A missing file gives the first-start defaults (protection on,
// no password, no sites) and 1. A file that exists but cannot be read, or is not
// the agent's own (see VbEnsureConfigDir), gives 0; the record then holds the
// same defaults, which the caller must not act on.
int VbLoadConfig(VbConfig* config) noexcept;
// Under the machine lock, takes the agent's folder back (VbEnsureConfigDir) and only
// then loads: the password's salt and hash are never read through a folder that
// nobody checked. 0, with the defaults, when something foreign stayed there or the
// file cannot be read.
int VbLoadSecuredConfig(VbConfig* config) noexcept;
// Replaces config.dat with the record, through a flushed temporary file, under the
// machine lock. 0 leaves the previous file exactly as it was.
int VbSaveConfig(const VbConfig* config) noexcept;
