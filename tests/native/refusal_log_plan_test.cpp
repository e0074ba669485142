// A process that squats the pipe's name is refused about once a second; the log tells each refused
// path once per period and sums its repeats up.

#include <gtest/gtest.h>

#include "link/RefusalLogPlan.h"

namespace {

constexpr wchar_t kSquatter[] = L"C:\\Users\\u\\Corvane.exe";
constexpr wchar_t kOther[] = L"D:\\x\\Corvane.exe";
constexpr std::uint64_t kSecond = 1000;

TEST(RefusalLogPlan, ASquattersPathIsToldOnceAPeriodAndItsRepeatsWhenThePeriodEnds)
{
    RefusalLogPlan plan;
    std::vector<UntoldRefusals> untold;
    EXPECT_TRUE(plan.Refused(kSquatter, 0, &untold));
    for (std::uint64_t t = 1; t < 12; ++t) {
        EXPECT_FALSE(plan.Refused(kSquatter, t * kSecond, &untold));
    }
    EXPECT_TRUE(untold.empty());
    // A pass without a server before the period ends tells nothing; the first after it tells the 11.
    plan.Expire(kRefusalLogPeriodMs - 1, &untold);
    EXPECT_TRUE(untold.empty());
    plan.Expire(kRefusalLogPeriodMs, &untold);
    ASSERT_EQ(untold.size(), 1u);
    EXPECT_EQ(untold[0].path, kSquatter);
    EXPECT_EQ(untold[0].count, 11u);
    // A new period: told again.
    untold.clear();
    EXPECT_TRUE(plan.Refused(kSquatter, kRefusalLogPeriodMs + kSecond, &untold));
    EXPECT_TRUE(untold.empty());
}

TEST(RefusalLogPlan, AnotherServerBringsTheRepeatsOfTheLastOneFirst)
{
    RefusalLogPlan plan;
    std::vector<UntoldRefusals> untold;
    plan.Refused(kSquatter, 0, &untold);
    plan.Refused(kSquatter, kSecond, &untold);
    plan.Refused(kSquatter, 2 * kSecond, &untold);
    EXPECT_TRUE(plan.Refused(kOther, 3 * kSecond, &untold));
    ASSERT_EQ(untold.size(), 1u);
    EXPECT_EQ(untold[0].count, 2u);
    // Two squatters taking turns are each told once, not at every turn.
    untold.clear();
    for (std::uint64_t t = 4; t < 10; ++t) {
        EXPECT_FALSE(plan.Refused(t % 2 == 0 ? kSquatter : kOther, t * kSecond, &untold));
    }
    EXPECT_TRUE(untold.empty());
    // A trusted server tells every repeat, and the squatter coming back in its period is still counted.
    plan.Trusted(10 * kSecond, &untold);
    ASSERT_EQ(untold.size(), 2u);
    EXPECT_EQ(untold[0].count + untold[1].count, 6u);
    untold.clear();
    EXPECT_FALSE(plan.Refused(kSquatter, 11 * kSecond, &untold));
    // The client's end tells what is left and closes every period.
    plan.Flush(&untold);
    ASSERT_EQ(untold.size(), 1u);
    EXPECT_EQ(untold[0].count, 1u);
    untold.clear();
    EXPECT_TRUE(plan.Refused(kSquatter, 12 * kSecond, &untold));
}

} // namespace
