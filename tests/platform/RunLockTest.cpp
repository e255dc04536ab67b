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

// Only the user's own regular file is a lock, made and kept 0600; anything
// else at its name is refused with the reason and left as it is.
TEST(FileLock, OnlyTheUsersOwnPrivateFileIsUsed) {
    const bool root = ::geteuid() == 0;
    const std::vector<std::tuple<const char*, std::function<void(const std::string&)>, LockOutcome>>
        rows = {
            {"new", [](const std::string&) {}, LockOutcome::Acquired},
            {"older file open to others",
             [](const std::string& p) {
                 testsupport::WriteBytes(p, "");
                 ::chmod(p.c_str(), 0644);
             },
             LockOutcome::Acquired},
            {"link to a private file",
             [](const std::string& p) {
                 testsupport::WriteBytes(p + "-real", "");
                 ::chmod((p + "-real").c_str(), 0600);
                 ::symlink((p + "-real").c_str(), p.c_str());
             },
             LockOutcome::IsLink},
            {"folder", [](const std::string& p) { ::mkdir(p.c_str(), 0700); },
             LockOutcome::NotAFile},
            {"FIFO", [](const std::string& p) { ::mkfifo(p.c_str(), 0600); },
             LockOutcome::NotAFile},
            {"another user's file",
             [](const std::string& p) {
                 testsupport::WriteBytes(p, "");
                 ::chmod(p.c_str(), 0666);
                 (void)::chown(p.c_str(), 65534, 65534);
             },
             root ? LockOutcome::OtherOwner : LockOutcome::Acquired},
        };
    for (const auto& [name, make, outcome] : rows) {
        testsupport::TempFolder dir;
        const std::string path = dir / "roderuv.lock";
        make(path);
        struct stat before {};
        ::lstat(path.c_str(), &before);
        FileLock lock;
        EXPECT_EQ(lock.TryAcquire(path), outcome) << name;
        EXPECT_EQ(lock.Held(), outcome == LockOutcome::Acquired) << name;
        struct stat after {};
        ASSERT_EQ(::lstat(path.c_str(), &after), 0) << name;
        if (outcome != LockOutcome::Acquired) {
            EXPECT_EQ(after.st_mode, before.st_mode) << name << ": left as it is";
        } else if (after.st_uid == ::geteuid()) {
            EXPECT_EQ(after.st_mode & 07777, 0600u) << name;
        }
    }
}
