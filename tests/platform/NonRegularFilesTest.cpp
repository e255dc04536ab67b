// Where only a regular file belongs (the journal), a folder or a device is
// never written, nor on Windows even opened; a new file is its owner's.
#include "platform/FileSystem.h"
#include "tests/support/Files.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

using namespace platform;

TEST(NonRegularFiles, OnlyARegularFileIsWritten) {
    testsupport::TempFolder dir;
    CreateDir(dir / "folder");
    std::vector<std::string> paths = {dir / "folder"};
#ifdef _WIN32
    // A pipe server without a client: opening the name would connect to it.
    const std::string pipe = "\\\\.\\pipe\\roderuv-test-" + std::to_string(::GetCurrentProcessId());
    HANDLE server =
        ::CreateNamedPipeA(pipe.c_str(), PIPE_ACCESS_INBOUND, PIPE_NOWAIT, 1, 0, 4096, 0, nullptr);
    paths.insert(paths.end(), {"NUL", "COM1", dir / "Con .log", "\\\\.\\NUL",
                               "\\\\?\\GLOBALROOT\\Device\\Null", pipe});
#else
    paths.push_back("/dev/null");
#endif
    for (const std::string& path : paths) {
        EXPECT_FALSE(IsRegularFileOrMissing(path)) << path;
        EXPECT_FALSE(AppendFileBytes(path, "x\r\n")) << path;
        EXPECT_FALSE(AppendFileBytes(path, "x\r\n", true)) << path;
    }
#ifdef _WIN32
    EXPECT_TRUE(!::ConnectNamedPipe(server, nullptr) && ::GetLastError() == ERROR_PIPE_LISTENING)
        << "the pipe was never opened";
    ::CloseHandle(server);
#else
    const std::string log = dir / "new.log";
    struct stat st {};
    ASSERT_TRUE(AppendFileBytes(log, "a\r\n"));
    ASSERT_EQ(::stat(log.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u) << "a new journal";
    ::chmod(log.c_str(), 0640);
    ASSERT_TRUE(AppendFileBytes(log, "b\r\n", true));
    ASSERT_EQ(::stat(log.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u) << "an existing journal keeps its mode";
    EXPECT_EQ(testsupport::ReadBytes(log), "b\r\n");
#endif
}
