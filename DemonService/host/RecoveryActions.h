#pragma once

// What the service manager does when the service process dies without reporting that it stopped.
// Values only, no I/O: host/ServiceRegistration turns them into the manager's failure-actions record.

#include <array>
#include <cstdint>

// The kinds of action the record names; the values are the service manager's own (SC_ACTION_TYPE).
enum class RecoveryActionType : std::uint32_t { None = 0, Restart = 1 };

struct RecoveryAction {
    RecoveryActionType type;
    std::uint32_t delayMs;
};

constexpr std::size_t kRecoveryActionCount = 3;

struct RecoveryPlan {
    // Seconds without a failure after which the manager counts from the first action again.
    std::uint32_t resetPeriodSeconds;
    // The first, second and third (and every later) failure.
    std::array<RecoveryAction, kRecoveryActionCount> actions;
};

// Restart after 1 s, then 5 s, then 60 s; the failure count starts again after a day. Only a process
// that ends without reporting SERVICE_STOPPED counts as a failure (the record is set without the
// "non-crash failures" flag), so a stop, -remove and "stop_for_update" restart nothing.
RecoveryPlan ServiceRecoveryPlan();
