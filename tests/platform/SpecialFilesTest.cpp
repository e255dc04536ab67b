// Where only a regular file belongs (the journal): a folder, a FIFO or a
// device at the name is neither opened for long nor written, and a new file
// is its owner's alone while an existing one keeps its mode.
#include "platform/FileSystem.h"
#include "tests/support/Files.h"
#include "tests/support/TempFolder.h"
#ifndef _WIN32
#include "tests/support/SpecialFiles.h"
#endif

#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace platform;

namespace {

// What stands at a name: made by make (which returns the path), and whether
// the call reached it.
struct Special {
    const char* name;
    std::function<std::string(const testsupport::TempFolder&)> make;
    std::function<bool()> reached = [] { return false; };
};

} // namespace

TEST(SpecialFiles, OnlyARegularFileIsWritten) {
#ifdef _WIN32
    // A pipe server without a client: connecting to it would be opening it.
    const std::wstring pipe =
        L"\\\\.\\pipe\\roderuv-test-" + std::to_wstring(::GetCurrentProcessId());
    HANDLE server =
        ::CreateNamedPipeW(pipe.c_str(), PIPE_ACCESS_INBOUND, PIPE_NOWAIT, 1, 0, 4096, 0, nullptr);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    const auto named = [](std::string path) { return [path](auto&) { return path; }; };
#else
    testsupport::FifoReader reading, late(3000), linked;
#endif
    const std::vector<Special> rows = {
        {"folder",
         [](const auto& dir) {
             CreateDir(dir / "log");
             return dir / "log";
         }},
#ifdef _WIN32
        {"NUL", named("NUL")},
        {"COM1", named("COM1")},
        {"con with an extension in a folder", [](const auto& dir) { return dir / "Con .log"; }},
        {"device namespace", named("\\\\.\\NUL")},
        {"GLOBALROOT", named("\\\\?\\GLOBALROOT\\Device\\Null")},
        {"named pipe",
         named("\\\\.\\pipe\\roderuv-test-" + std::to_string(::GetCurrentProcessId())),
         [server] {
             // A client that came and went leaves the pipe "no data".
             const bool connected =
                 !::ConnectNamedPipe(server, nullptr) && ::GetLastError() != ERROR_PIPE_LISTENING;
             return connected;
         }},
#else
        {"/dev/null", [](const auto&) { return std::string("/dev/null"); }},
        {"FIFO with a reader", [&](const auto& dir) { return reading.Make(dir / "fifo"); },
         [&] { return reading.Reached(); }},
        {"FIFO nobody reads", [&](const auto& dir) { return late.Make(dir / "fifo"); },
         [&] { return late.Reached(); }},
        {"link to a FIFO",
         [&](const auto& dir) {
             linked.Make(dir / "fifo");
             ::symlink((dir / "fifo").c_str(), (dir / "log").c_str());
             return dir / "log";
         },
         [&] { return linked.Reached(); }},
#endif
    };
    for (const Special& row : rows) {
        for (const bool truncate : {false, true}) {
            testsupport::TempFolder dir;
            const std::string path = row.make(dir);
            EXPECT_FALSE(IsRegularFileOrMissing(path)) << row.name;
            const auto start = std::chrono::steady_clock::now();
            EXPECT_FALSE(AppendFileBytes(path, "line\r\n", truncate)) << row.name;
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2))
                << row.name << ": opening never waits";
            EXPECT_FALSE(row.reached()) << row.name << ": nothing reached it";
        }
    }
#ifdef _WIN32
    ::CloseHandle(server);
#endif
}

TEST(SpecialFiles, NewJournalIsTheOwnersAnExistingOneKeepsItsMode) {
    testsupport::TempFolder dir;
    const std::string fresh = dir / "new.log";
    const std::string old = dir / "old.log";
    EXPECT_TRUE(IsRegularFileOrMissing(fresh));
    ASSERT_TRUE(AppendFileBytes(fresh, "a\r\n"));
    ASSERT_TRUE(AppendFileBytes(fresh, "b\r\n"));
    testsupport::WriteBytes(old, "old\r\n");
    ASSERT_TRUE(AppendFileBytes(old, "only\r\n", true));
    EXPECT_EQ(testsupport::ReadBytes(fresh), "a\r\nb\r\n");
    EXPECT_EQ(testsupport::ReadBytes(old), "only\r\n");
#ifndef _WIN32
    struct stat st {};
    ASSERT_EQ(::stat(fresh.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    ::chmod(old.c_str(), 0640);
    ASSERT_TRUE(AppendFileBytes(old, "x\r\n", true));
    ASSERT_EQ(::stat(old.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
#endif
}
