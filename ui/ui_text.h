// The text work of the agent's windows, without any I/O or Windows header:
// passwords from UTF-16 boxes to bounded UTF-8, the site list typed by the parent,
// and what the parent is told of a pass.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "config/config.h"
#include "protection/enforce.h"

inline constexpr std::size_t PasswordBytesMax = 127;

// Converts UTF-16 to UTF-8 as the platform does (an unpaired surrogate becomes
// U+FFFD) and keeps the longest run of whole characters that fits in
// out.size() - 1 bytes, then a NUL. Returns the number of bytes before the NUL.
std::size_t Utf16ToUtf8Cut(std::u16string_view text, std::span<char> out) noexcept;

// Lines the parent typed that were not stored.
struct SiteListOutcome {
    static constexpr int Shown = 5;
    int ignoredCount;                  // refused lines and lines past the 64th name
    int shownCount;                    // how many of them follow, in order
    std::u16string_view shown[Shown];  // views into the parsed text
};

// Turns the edit box's text into config's site list. A line is trimmed of spaces
// and tabs; blank lines are skipped; a line of ASCII letters, digits, '-' and '.'
// is stored as its first 255 bytes, case kept, up to 64 names. Other lines are
// reported in the outcome, not stored.
SiteListOutcome ParseSiteList(std::u16string_view text, VbConfig& config) noexcept;

// The warning that tells the parent which lines were not stored, NUL-terminated
// in out (cut if out is too small). Returns its length in UTF-16 units.
std::size_t DescribeIgnoredLines(const SiteListOutcome& outcome, std::span<char16_t> out) noexcept;

// The settings window's status line after a save whose pass gave report: what is
// really in force, naming the steps that failed, or, with none failed, the DNS lock
// that the firewall does not apply (no failure: nothing is tried again for it).
// NUL-terminated in out (cut if out is too small); returns its length. A pass that
// could not read the configuration did not follow the parent's settings: every step
// counts as failed.
std::size_t DescribePass(const VbPassReport& report, std::span<char16_t> out) noexcept;
// The uninstaller's question when the protections could not all be reverted
// (report, protection off): "… n'a pas pu rétablir : ITEMS. Désinstaller quand même ?"
std::size_t DescribeRevertQuestion(const VbPassReport& report, std::span<char16_t> out) noexcept;
// The uninstaller's message when removing the data folder, the logon task or the
// service failed.
std::size_t DescribeUninstall(bool folderRemoved, bool taskRemoved, bool serviceRemoved,
                              std::span<char16_t> out) noexcept;
// Whether a step of the pass failed, or the pass could not read the configuration.
bool PassIncomplete(const VbPassReport& report) noexcept;
// The tray icon's tip after a pass.
const char16_t* TrayTipFor(const VbPassReport& report) noexcept;

// Guessing the parent's password, in any password dialog of one process: after
// three wrong passwords in a row, tries are refused for 30 seconds from the third
// check, without being checked; each wrong password after a wait doubles the
// next wait, up to 15 minutes; the right password resets it all. Times are
// milliseconds of one steady clock.
struct PasswordGuard {
    int wrongInRow = 0;
    std::uint64_t lockedUntil = 0;
    std::uint64_t nextWaitMs = 30000;
};
// 0 when a password may be checked now, else the seconds left, rounded up.
std::uint64_t PasswordWaitSeconds(const PasswordGuard& guard, std::uint64_t now) noexcept;
void NotePasswordChecked(PasswordGuard& guard, bool right, std::uint64_t now) noexcept;
// "Trop d'essais. Réessayez dans N secondes." NUL-terminated in out; returns its length.
std::size_t DescribePasswordWait(std::uint64_t seconds, std::span<char16_t> out) noexcept;
