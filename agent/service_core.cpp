// The service's timing rule.
#include "agent/service_core.h"

#include <algorithm>

void NotePassStart(PassSchedule& schedule, std::uint64_t now) noexcept {
    // The pass sees the machine as it is now: what was noticed before is covered.
    schedule = {true, now, now, 0, 0};
}

void NotePassEnd(PassSchedule& schedule, std::uint64_t now) noexcept {
    schedule.passEnd = now;
}

void NoteNotification(PassSchedule& schedule, std::uint64_t at, bool added) noexcept {
    if (!added && schedule.passed && at >= schedule.passStart &&
        at <= schedule.passEnd + PassEchoMs)
        return;
    if (schedule.firstNotice == 0) schedule.firstNotice = at;
    schedule.lastNotice = at;
}

std::uint64_t NextPassAt(const PassSchedule& schedule) noexcept {
    if (!schedule.passed) return 0;
    std::uint64_t next = schedule.passStart + PassPeriodMs;
    if (schedule.firstNotice != 0)
        next = std::min(
            {next, schedule.firstNotice + NoticeDelayMaxMs, schedule.lastNotice + NoticeQuietMs});
    return next;
}
