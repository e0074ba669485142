#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "host/RecoveryActions.h"
#include "host/StatusText.h"

namespace {

// The plan as the service manager holds it (action types in its numbering) and -status reads it back.
TEST(RecoveryActions, TheManagerRestartsAfterOneFiveAndSixtySecondsAndForgetsFailuresAfterADay)
{
    const RecoveryPlan plan = ServiceRecoveryPlan();
    std::vector<std::pair<std::uint32_t, std::uint32_t>> installed;
    for (const RecoveryAction& action : plan.actions) {
        installed.emplace_back(static_cast<std::uint32_t>(action.type), action.delayMs);
    }
    EXPECT_EQ(RecoveryActionsText(plan.resetPeriodSeconds, installed),
              "restart after 1 s, restart after 5 s, restart after 60 s; failures forgotten after 86400 s");
}

} // namespace
