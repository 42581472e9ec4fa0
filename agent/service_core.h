// When the service runs its passes: one at its start, one every 60 seconds, and
// one soon after the network changes (an interface appears, its addresses
// change), without the changes of its own netsh commands starting pass after
// pass. Times are milliseconds of one steady clock. No I/O.
#pragma once

#include <cstdint>

inline constexpr std::uint64_t PassPeriodMs = 60000;
// Notifications of a change from the start of a pass until this long after its end
// are the echoes of its own commands. A pass's commands change parameters; they add
// no interface and no address: a notification that one was added is never an echo.
inline constexpr std::uint64_t PassEchoMs = 3000;
// A burst of notifications (an interface appears, then gets its addresses) is
// waited out until it has been this quiet...
inline constexpr std::uint64_t NoticeQuietMs = 1000;
// ...but the pass it calls for starts at most this long after its first one.
inline constexpr std::uint64_t NoticeDelayMaxMs = 5000;

struct PassSchedule {
    bool passed = false;            // a pass has started
    std::uint64_t passStart = 0;    // the start of the last pass
    std::uint64_t passEnd = 0;      // its end, once it ended
    std::uint64_t firstNotice = 0;  // counted notifications since that pass; 0: none
    std::uint64_t lastNotice = 0;
};

void NotePassStart(PassSchedule& schedule, std::uint64_t now) noexcept;
void NotePassEnd(PassSchedule& schedule, std::uint64_t now) noexcept;
// A notification at that time, counted unless it is an echo of the last pass; added
// when it tells of an interface or an address that appeared.
void NoteNotification(PassSchedule& schedule, std::uint64_t at, bool added) noexcept;
// When the next pass is due (at once before the first one).
std::uint64_t NextPassAt(const PassSchedule& schedule) noexcept;
