// The file lock between holders: refused to a second one, and not kept by a
// program the holder started (gpg during a run).
#include "platform/RunLock.h"
#include "tests/support/TempFolder.h"

#include <csignal>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

using platform::FileLock;
using platform::LockOutcome;

TEST(FileLock, HeldWhileTheHolderLivesAndNotByItsChildren) {
    testsupport::TempFolder dir;
    const std::string path = dir / "roderuv.lock";
    FileLock held;
    ASSERT_EQ(held.TryAcquire(path), LockOutcome::Acquired);
    // posix_spawn returns once the child runs its program, descriptors inherited.
    char* argv[] = {const_cast<char*>("sleep"), const_cast<char*>("30"), nullptr};
    pid_t child = -1;
    ASSERT_EQ(::posix_spawn(&child, "/bin/sleep", nullptr, nullptr, argv, environ), 0);
    FileLock other;
    EXPECT_EQ(other.TryAcquire(path), LockOutcome::HeldElsewhere);
    held.Release();
    EXPECT_EQ(other.TryAcquire(path), LockOutcome::Acquired) << "the child kept it";
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
}
