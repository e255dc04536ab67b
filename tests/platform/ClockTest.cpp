#include "platform/Clock.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(Clock, DateTextHasTwoDigitMonthAndDay) {
    EXPECT_EQ(DateText({2026, 3, 5, 0, 0, 0}), "20260305");
    EXPECT_EQ(DateText({2026, 12, 31, 23, 59, 59}), "20261231");
}

TEST(Clock, SourceCanBeReplacedAndRestored) {
    SetClockSource([] { return DateTime{2030, 1, 2, 3, 4, 5}; });
    EXPECT_EQ(Now().year, 2030);
    EXPECT_EQ(Now().second, 5);
    SetClockSource(nullptr);
    EXPECT_GE(Now().year, 2024);
}

TEST(Clock, UtcBreakdown) {
    DateTime d = UtcFromUnix(1234567890); // 2009-02-13 23:31:30 UTC
    EXPECT_EQ(d.year, 2009);
    EXPECT_EQ(d.month, 2);
    EXPECT_EQ(d.day, 13);
    EXPECT_EQ(d.hour, 23);
    EXPECT_EQ(d.minute, 31);
    EXPECT_EQ(d.second, 30);
}
