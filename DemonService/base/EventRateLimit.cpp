#include "base/EventRateLimit.h"

bool EventRateLimiter::Admit(std::uint16_t id, std::uint64_t nowMs, std::vector<HeldBackEvents>* ended)
{
    Expire(nowMs, ended);
    auto found = m_periods.find(id);
    if (found == m_periods.end()) {
        found = m_periods.emplace(id, Period{nowMs, 0, 0}).first;
    }
    Period& period = found->second;
    if (period.reported < kEventsPerPeriod) {
        ++period.reported;
        return true;
    }
    ++period.held;
    return false;
}

void EventRateLimiter::Expire(std::uint64_t nowMs, std::vector<HeldBackEvents>* ended)
{
    Close(false, nowMs, ended);
}

void EventRateLimiter::Flush(std::uint64_t nowMs, std::vector<HeldBackEvents>* ended)
{
    Close(true, nowMs, ended);
}

void EventRateLimiter::Close(bool all, std::uint64_t nowMs, std::vector<HeldBackEvents>* ended)
{
    for (auto it = m_periods.begin(); it != m_periods.end();) {
        const Period& period = it->second;
        // A clock value before the period's start (it cannot go back, but never trust that) ends nothing.
        const std::uint64_t elapsed = nowMs >= period.startMs ? nowMs - period.startMs : 0;
        if (!all && elapsed < kEventPeriodMs) {
            ++it;
            continue;
        }
        if (period.held != 0 && ended != nullptr) {
            ended->push_back(HeldBackEvents{it->first, period.held, all && elapsed < kEventPeriodMs ? elapsed : kEventPeriodMs});
        }
        it = m_periods.erase(it);
    }
}
