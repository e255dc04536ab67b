// Requests from the system as signals: the first is only noted, the second
// ends the process at once, after the clean-up for an abrupt end.
#include "platform/AbruptEnd.h"
#include "platform/FileSystem.h"
#include "platform/Termination.h"
#include "tests/support/Files.h"
#include "tests/support/TempFolder.h"

#include <csignal>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

TEST(Signals, SecondSignalEndsTheProgramAfterTheCleanUp) {
    testsupport::TempFolder dir;
    const std::string clear = dir / "20260305.zip";
    testsupport::WriteBytes(clear, "patient data");
    // A started program in a group of its own, as gpg runs.
    const pid_t group = ::fork();
    if (group == 0) {
        ::setpgid(0, 0);
        ::pause();
        ::_exit(0);
    }
    ASSERT_GT(group, 0);
    ::setpgid(group, group);
    const pid_t program = ::fork();
    if (program == 0) {
        platform::CatchTerminationRequests();
        platform::RemoveOnAbruptEnd(clear);
        platform::SetChildForAbruptEnd(group, 0);
        ::raise(SIGTERM); // delivered before raise returns: only noted
        if (!platform::TerminationRequested() || !platform::FileExists(clear))
            ::_exit(1);
        ::raise(SIGINT);
        ::_exit(2); // not reached
    }
    ASSERT_GT(program, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(program, &status, 0), program);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
    EXPECT_FALSE(platform::FileExists(clear));
    int groupStatus = 0;
    for (int i = 0; i < 500 && ::waitpid(group, &groupStatus, WNOHANG) == 0; ++i)
        ::usleep(10000);
    EXPECT_TRUE(WIFSIGNALED(groupStatus) && WTERMSIG(groupStatus) == SIGKILL) << "lives on";
    ::kill(group, SIGKILL);
    ::waitpid(group, nullptr, 0);
}
