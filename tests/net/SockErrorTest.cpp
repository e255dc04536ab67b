#include "net/Psock.h"

#include <cerrno>
#include <gtest/gtest.h>

TEST(SocketErrorStr, KnownNumberGivesNumberColonText) {
    EXPECT_EQ(SocketErrorStr(10060), "10060:Connection timed out");
    EXPECT_EQ(SocketErrorStr(10061), "10061:Connection refused");
    EXPECT_EQ(SocketErrorStr(10004), "10004:Interrupted system call");
    EXPECT_EQ(SocketErrorStr(10047), "10047:Address family not supported by protocol family");
    EXPECT_EQ(SocketErrorStr(11004), "11004:Valid name, no data record of requested type");
    EXPECT_EQ(SocketErrorStr(10065), "10065:No route to Host");
}

TEST(SocketErrorStr, UnknownNumberAndZero) {
    EXPECT_EQ(SocketErrorStr(12345), "Unknown Error No. 12345");
    EXPECT_EQ(SocketErrorStr(10001), "Unknown Error No. 10001");
    EXPECT_EQ(SocketErrorStr(0), "");
}

TEST(SocketErrorStr, MemberReportsLookingUpStatus) {
    TPowersock s;
    s.ReportLevel = 8;
    EXPECT_EQ(s.SocketErrorStr(10035), "10035:Operation would block");
    EXPECT_EQ(s.Status, "Looking Up Error Message");
}

TEST(NthWord, PassiveReplyField6) {
    const std::string reply = "227 Entering Passive Mode (127,0,0,1,19,137).\r\n";
    EXPECT_EQ(NthWord(reply, ',', 6), "137).\r\n");
    EXPECT_EQ(NthWord(reply, ',', 5), "19");
    EXPECT_EQ(NthWord(reply, ',', 1), "227 Entering Passive Mode (127");
}

TEST(NthWord, EdgeCases) {
    EXPECT_EQ(NthWord("", ',', 1), "");
    EXPECT_EQ(NthWord("a,b", ',', 3), "");
    EXPECT_EQ(NthWord("a,,c", ',', 2), "");
    EXPECT_EQ(NthWord("a,,c", ',', 3), "c");
    EXPECT_EQ(NthWord("abc", ',', 1), "abc");
    EXPECT_EQ(NthWord("a,b,", ',', 3), "");
    EXPECT_EQ(NthWord("x \"dir\" y", '"', 2), "dir");
}

TEST(ThreadTimer, FiresOnlyWhenEnabledWithIntervalAndHandler) {
    TThreadTimer t;
    int ticks = 0;
    t.SetEnabled(false);
    t.SetInterval(10);
    t.SetOnTimer([&](TThreadTimer*) { ++ticks; });
    EXPECT_FALSE(t.Running());
    t.SetEnabled(true);
    EXPECT_TRUE(t.Running());
    t.SetInterval(0);
    EXPECT_FALSE(t.Running());
    t.SetInterval(10);
    for (int i = 0; i < 200 && ticks < 2; ++i)
        PumpMessages(2);
    EXPECT_GE(ticks, 2); // repeats until disabled
    t.SetEnabled(false);
    const int before = ticks;
    for (int i = 0; i < 20; ++i)
        PumpMessages(2);
    EXPECT_EQ(ticks, before);
}

TEST(ThreadTimer, SameValuesDoNotRestartThePeriod) {
    TThreadTimer t;
    t.SetInterval(1000);
    t.SetOnTimer([](TThreadTimer*) {});
    const auto due = t.Due();
    t.SetEnabled(true);  // unchanged
    t.SetInterval(1000); // unchanged
    EXPECT_EQ(t.Due(), due);
    t.SetInterval(2000);
    EXPECT_GT(t.Due(), due);
}
