#include <gtest/gtest.h>

#include <climits>

#include "base/DecimalText.h"

namespace {

TEST(DecimalText, ReadsLeadingDigitsAfterBlanksAndSign)
{
    EXPECT_EQ(ParseDecimalInt("12abc"), 12);
    EXPECT_EQ(ParseDecimalInt("abc"), 0);
    EXPECT_EQ(ParseDecimalInt("  \t-42"), -42);
    EXPECT_EQ(ParseDecimalInt("+7"), 7);
    EXPECT_EQ(ParseDecimalInt(""), 0);
    EXPECT_EQ(ParseDecimalInt("-"), 0);
    EXPECT_EQ(ParseDecimalInt("- 5"), 0);
    EXPECT_EQ(ParseDecimalInt(nullptr), 0);
}

TEST(DecimalText, ClampsToThe32BitRange)
{
    EXPECT_EQ(ParseDecimalInt("2147483647"), INT_MAX);
    EXPECT_EQ(ParseDecimalInt("2147483648"), INT_MAX);
    EXPECT_EQ(ParseDecimalInt("-2147483648"), INT_MIN);
    EXPECT_EQ(ParseDecimalInt("-2147483649"), INT_MIN);
    EXPECT_EQ(ParseDecimalInt("99999999999999999999999999999999"), INT_MAX);
    EXPECT_EQ(ParseDecimalInt("-99999999999999999999999999999999"), INT_MIN);
}

} // namespace
