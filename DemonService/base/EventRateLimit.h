#pragma once

// Keeps a loop of failures from flooding the event log: of each event id at most kEventsPerPeriod
// events are reported in one period of kEventPeriodMs, which begins with that id's first event; the
// rest are counted and, when the period has ended, summed up in one "held back" notice. An event may
// name a subject (the path of a refused server): each subject of an id then has a budget of its own, so
// that one subject's flood does not silence another's first event; the first kEventsPerPeriod subjects
// of an id in a period have one, later ones share the id's. Pure: times are given as millisecond values
// of one monotonic clock. Not thread-safe; its owner locks.

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

constexpr unsigned kEventsPerPeriod = 10;
constexpr std::uint64_t kEventPeriodMs = 10 * 60 * 1000;

// Events of one id that were not reported, and the length of the period in which they came.
struct HeldBackEvents {
    std::uint16_t id = 0;
    unsigned long count = 0;
    std::uint64_t periodMs = 0;
};

class EventRateLimiter {
public:
    // Whether an event of id may be reported at nowMs. Periods that have ended by then are closed
    // first, and those that held events back are appended to ended.
    bool Admit(std::uint16_t id, std::uint64_t nowMs, std::vector<HeldBackEvents>* ended);
    // The same for an event of id about subject (empty: none).
    bool Admit(std::uint16_t id, const std::wstring& subject, std::uint64_t nowMs, std::vector<HeldBackEvents>* ended);

    // Closes the periods that have ended by nowMs; those that held events back are appended to ended.
    void Expire(std::uint64_t nowMs, std::vector<HeldBackEvents>* ended);

    // Closes every period now, ended or not (the service is stopping), with the same notices.
    void Flush(std::uint64_t nowMs, std::vector<HeldBackEvents>* ended);

private:
    struct Period {
        std::uint64_t startMs = 0;
        unsigned reported = 0;
        unsigned long held = 0;
    };
    void Close(bool all, std::uint64_t nowMs, std::vector<HeldBackEvents>* ended);

    using Key = std::pair<std::uint16_t, std::wstring>;
    std::map<Key, Period> m_periods;
};
