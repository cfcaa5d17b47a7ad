#include "tavrin/core/Fmt.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>

using namespace tavrin;

TEST(Fmt, NumberRoundsHalvesAwayFromZeroWithAUnicodeMinusAndPlusOnlyWhenSigned) {
    const struct {
        double value;
        bool isSigned;
        const char* expected;
    } cases[] = {
        {-23.04, false, "−23.0"}, {3.25, true, "+3.3"},    {3.25, false, "3.3"},
        {-1.0, true, "−1.0"},     {-0.05, true, "−0.1"},   {0.05, true, "+0.1"},
        {-0.04, false, "0.0"},    {-0.04, true, "0.0"},    {0.04, true, "0.0"},
        {-0.0, true, "0.0"},      {0.0, false, "0.0"},     {1234.56, false, "1234.6"},
        {-0.95, false, "−1.0"},   {-70.0, false, "−70.0"}, {-23.05, false, "−23.1"},
        {-13.94, false, "−13.9"}, {99.95, false, "100.0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.value << (c.isSigned ? " signed" : ""));
        EXPECT_EQ(Fmt::number(c.value, c.isSigned), c.expected);
    }
}

TEST(Fmt, PlainAndOneDecimalUseAsciiMinusAndNeverSignZero) {
    const struct {
        std::optional<double> value;
        const char* expected;
    } cases[] = {
        {std::nullopt, ""}, {-23.04, "-23.0"}, {-0.04, "0.0"},  {-0.0, "0.0"},
        {0.0, "0.0"},       {2.25, "2.3"},     {-2.25, "-2.3"}, {5.0, "5.0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value ? std::to_string(*c.value) : "absent");
        EXPECT_EQ(Fmt::plain(c.value), c.expected);
        if (c.value) {
            EXPECT_EQ(Fmt::oneDecimal(*c.value), c.expected);
        }
    }
}

TEST(Fmt, DurationShowsHoursOnlyFromOneHour) {
    const struct {
        double seconds;
        const char* expected;
    } cases[] = {
        {0, "0:00"},       {0.99, "0:00"},      {59.9, "0:59"},
        {60, "1:00"},      {2467.56, "41:07"},  {3599.9, "59:59"},
        {3600, "1:00:00"}, {36061, "10:01:01"}, {86400 * 2, "48:00:00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seconds);
        EXPECT_EQ(Fmt::duration(c.seconds), c.expected);
    }
}

// Found by fuzzing: numbers too long for a fixed buffer came out as stray memory, and the largest
// ones as "inf". A result read back from elsewhere may hold any finite number.
TEST(Fmt, NumbersOfAnySizeAreWrittenInFull) {
    const std::string huge = Fmt::plain(1e300); // 1e300 is 10000000000000000525…
    EXPECT_TRUE(huge.starts_with("10000000000000000") && huge.ends_with(".0")) << huge;
    EXPECT_EQ(huge.size(), 303u);
    EXPECT_TRUE(Fmt::number(-1.7e308, true).starts_with("\u22121699999999999999"));
    EXPECT_TRUE(Fmt::number(1.7e308, true).ends_with(".0"));
}
