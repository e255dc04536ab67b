// The file lock between holders: refused to a second one, not kept by a
// program the holder started (gpg during a run), and never a file others
// could hold.
#include "platform/RunLock.h"
#include "tests/support/Files.h"
#include "tests/support/TempFolder.h"

#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

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

// The lock file is the user's own and closed to others (flock needs only
// read access): made 0600, an older one set back to 0600; another user's, or
// no regular file, is refused and left as it is.
TEST(FileLock, OnlyTheUsersOwnPrivateFileIsUsed) {
    using Make = std::function<void(const std::string&)>;
    const Make file = [](const std::string& p) {
        testsupport::WriteBytes(p, "");
        ::chmod(p.c_str(), 0644);
    };
    const std::vector<std::tuple<const char*, Make, LockOutcome>> rows = {
        {"new", [](const std::string&) {}, LockOutcome::Acquired},
        {"older, open to others", file, LockOutcome::Acquired},
        {"another user's",
         [&](const std::string& p) { file(p), (void)::chown(p.c_str(), 65534, 65534); },
         ::geteuid() == 0 ? LockOutcome::OtherOwner : LockOutcome::Acquired},
        {"FIFO", [](const std::string& p) { ::mkfifo(p.c_str(), 0600); }, LockOutcome::NotAFile},
    };
    for (const auto& [name, make, outcome] : rows) {
        testsupport::TempFolder dir;
        const std::string path = dir / "roderuv.lock";
        make(path);
        struct stat before {
        }, after{};
        ::lstat(path.c_str(), &before);
        FileLock lock;
        EXPECT_EQ(lock.TryAcquire(path), outcome) << name;
        ASSERT_EQ(::lstat(path.c_str(), &after), 0) << name;
        EXPECT_EQ(after.st_mode & 07777, outcome == LockOutcome::Acquired
                                             ? 0600u
                                             : static_cast<unsigned>(before.st_mode & 07777))
            << name;
    }
}
