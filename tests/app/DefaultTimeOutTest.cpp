// A whole unattended run on the real window with no TimeOut key against a
// server that accepts the connection and never says a word: the default
// time-out ends it by itself, about two minutes after the connection, with
// the data files in place. A test program of its own, so that the long wait
// overlaps with the other tests.
#include "WholeRunFixture.h"

#include "net/SockError.h"
#include "settings/Unitpom.h"
#include "tests/support/FakeFtpServer.h"
#include "ui/Timer.h"

#include <optional>

namespace {

class DefaultTimeOut : public WholeRunFixture {};

TEST_F(DefaultTimeOut, SilentServerEndsTheRunAfterTwoMinutes) {
    PutDataFiles({{tmp / "data/pacienti.csv", "id;jméno\r\n1;Jiří Novák\r\n"}});
    WriteSettingInteger("FilesMoveTo", 1);
    testsupport::FakeFtpServer silent(200000);
    UseFake(silent);
    silent.SilentGreeting(180000);
    ASSERT_EQ(ReadSettingString("General", "TimeOut", "(none)"), "(none)");

    std::optional<std::chrono::steady_clock::time_point> connected;
    ui::Timer watch;
    watch.OnTick([&] {
        if (!connected && silent.Connections() >= 1)
            connected = std::chrono::steady_clock::now();
    });
    watch.Start(50);
    RunAuto();
    const int64_t waited = connected ? MsSince(*connected) : -1;
    watch.Stop();

    EXPECT_GE(waited, 119000);
    EXPECT_LT(waited, 135000);
    ExpectFailed(ConnectFailed(kTimedOutReply, false));
    EXPECT_TRUE(silent.Commands().empty());
}

} // namespace
