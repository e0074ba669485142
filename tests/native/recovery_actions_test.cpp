#include <gtest/gtest.h>

#include "host/RecoveryActions.h"

namespace {

TEST(RecoveryActions, RestartAfterOneThenFiveThenSixtySecondsAndForgetFailuresAfterADay)
{
    const RecoveryPlan plan = ServiceRecoveryPlan();
    EXPECT_EQ(plan.resetPeriodSeconds, 86400u);
    ASSERT_EQ(plan.actions.size(), 3u);
    const std::uint32_t delays[] = {1000, 5000, 60000};
    for (std::size_t i = 0; i < plan.actions.size(); ++i) {
        EXPECT_EQ(plan.actions[i].type, RecoveryActionType::Restart) << i;
        EXPECT_EQ(plan.actions[i].delayMs, delays[i]) << i;
    }
    // The service manager's SC_ACTION_RESTART.
    EXPECT_EQ(static_cast<std::uint32_t>(RecoveryActionType::Restart), 1u);
}

} // namespace
