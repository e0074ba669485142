#include "base/EventRateLimit.h"

bool EventRateLimiter::Admit(std::uint16_t id, std::uint64_t nowMs, std::vector<HeldBackEvents>* ended)
{
    return Admit(id, std::wstring(), nowMs, ended);
}

bool EventRateLimiter::Admit(std::uint16_t id, const std::wstring& subject, std::uint64_t nowMs,
                             std::vector<HeldBackEvents>* ended)
{
    Expire(nowMs, ended);
    Key key(id, subject);
    auto found = m_periods.find(key);
    if (found == m_periods.end() && !subject.empty()) {
        // Subjects without a budget of their own yet: past the limit, a new one shares the id's.
        unsigned subjects = 0;
        for (auto it = m_periods.lower_bound(Key(id, std::wstring())); it != m_periods.end() && it->first.first == id;
             ++it) {
            subjects += it->first.second.empty() ? 0 : 1;
        }
        if (subjects >= kEventsPerPeriod) {
            key.second.clear();
            found = m_periods.find(key);
        }
    }
    if (found == m_periods.end()) {
        found = m_periods.emplace(key, Period{nowMs, 0, 0}).first;
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
            ended->push_back(HeldBackEvents{it->first.first, period.held, all && elapsed < kEventPeriodMs ? elapsed : kEventPeriodMs});
        }
        it = m_periods.erase(it);
    }
}
