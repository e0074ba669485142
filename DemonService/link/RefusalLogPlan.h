#pragma once

// How often the pipe client tells of a server it refused. A process that squats the pipe's name is
// refused at every connect attempt, about once a second: its path, the verdict and the refusal event
// are told once per distinct server path per period, and the repeats are counted and told in one line
// when the period ends or another server comes. Values only, no I/O; times are millisecond values of one
// monotonic clock. Not thread-safe: the client thread owns it.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

constexpr std::uint64_t kRefusalLogPeriodMs = 10 * 60 * 1000;

// A server path refused count more times than was told.
struct UntoldRefusals {
    std::wstring path;
    unsigned long count = 0;
};

class RefusalLogPlan {
public:
    // A refused attempt of the server at path at nowMs: true when its lines (and its event) are to be
    // written, which is when no period of that path is open; false when it is only counted. What is to
    // be told first is appended to untold: the repeats of every period that has ended, and, when this
    // attempt is told and follows another server's, that server's repeats so far.
    bool Refused(const std::wstring& path, std::uint64_t nowMs, std::vector<UntoldRefusals>* untold);

    // A server that was trusted: every repeat counted so far is appended to untold (the server changed),
    // along with the periods that have ended. Open periods stay open: a refused path that comes back
    // within its period is counted, not told again.
    void Trusted(std::uint64_t nowMs, std::vector<UntoldRefusals>* untold);

    // A pass without a server: the repeats of the periods that have ended by nowMs.
    void Expire(std::uint64_t nowMs, std::vector<UntoldRefusals>* untold);

    // The client ends: every repeat counted, and no period stays open.
    void Flush(std::vector<UntoldRefusals>* untold);

private:
    struct Period {
        std::uint64_t startMs = 0;
        unsigned long repeats = 0;
    };
    void TellRepeats(const std::wstring& path, Period& period, std::vector<UntoldRefusals>* untold);

    std::map<std::wstring, Period> m_periods;
    std::wstring m_last;  // the path of the last refused attempt
};
