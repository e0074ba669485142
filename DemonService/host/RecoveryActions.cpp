#include "host/RecoveryActions.h"

namespace {

constexpr std::uint32_t kSecondsPerDay = 24 * 60 * 60;
constexpr std::uint32_t kFirstRestartMs = 1000;
constexpr std::uint32_t kSecondRestartMs = 5000;
constexpr std::uint32_t kLaterRestartMs = 60000;

} // namespace

RecoveryPlan ServiceRecoveryPlan()
{
    return RecoveryPlan{kSecondsPerDay,
                        {{{RecoveryActionType::Restart, kFirstRestartMs},
                          {RecoveryActionType::Restart, kSecondRestartMs},
                          {RecoveryActionType::Restart, kLaterRestartMs}}}};
}
