#include "link/RefusalLogPlan.h"

void RefusalLogPlan::TellRepeats(const std::wstring& path, Period& period, std::vector<UntoldRefusals>* untold)
{
    if (period.repeats != 0 && untold != nullptr) {
        untold->push_back(UntoldRefusals{path, period.repeats});
    }
    period.repeats = 0;
}

void RefusalLogPlan::Expire(std::uint64_t nowMs, std::vector<UntoldRefusals>* untold)
{
    for (auto it = m_periods.begin(); it != m_periods.end();) {
        // A clock value before the period's start ends nothing.
        const std::uint64_t elapsed = nowMs >= it->second.startMs ? nowMs - it->second.startMs : 0;
        if (elapsed < kRefusalLogPeriodMs) {
            ++it;
            continue;
        }
        TellRepeats(it->first, it->second, untold);
        it = m_periods.erase(it);
    }
}

bool RefusalLogPlan::Refused(const std::wstring& path, std::uint64_t nowMs, std::vector<UntoldRefusals>* untold)
{
    Expire(nowMs, untold);
    const auto found = m_periods.find(path);
    if (found != m_periods.end()) {
        ++found->second.repeats;
        m_last = path;
        return false;
    }
    if (path != m_last) {
        const auto last = m_periods.find(m_last);
        if (last != m_periods.end()) {
            TellRepeats(last->first, last->second, untold);
        }
    }
    m_periods.emplace(path, Period{nowMs, 0});
    m_last = path;
    return true;
}

void RefusalLogPlan::Trusted(std::uint64_t nowMs, std::vector<UntoldRefusals>* untold)
{
    Expire(nowMs, untold);
    for (auto& period : m_periods) {
        TellRepeats(period.first, period.second, untold);
    }
    m_last.clear();
}

void RefusalLogPlan::Flush(std::vector<UntoldRefusals>* untold)
{
    for (auto& period : m_periods) {
        TellRepeats(period.first, period.second, untold);
    }
    m_periods.clear();
    m_last.clear();
}
