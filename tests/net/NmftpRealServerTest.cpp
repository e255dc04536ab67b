// TNMFTP against real FTP servers on 127.0.0.1: pyftpdlib and vsftpd.
#include "net/Nmftp.h"
#include "tests/net/FtpTestUtil.h"
#include "tests/support/RealFtpServer.h"

#include <filesystem>
#include <gtest/gtest.h>

using testsupport::RealFtpKind;
using testsupport::RealFtpServer;

namespace {

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    return names;
}

// Log-in, "TYPE L 8", uploads of 0 bytes, 1 byte, 5 MiB of random bytes and a
// file with Czech letters in its name; the server's copies equal the sources
// and SIZE agrees.
void Interoperate(RealFtpKind kind, bool passive) {
    std::string why;
    auto server = RealFtpServer::Start(kind, &why);
    if (!server)
        GTEST_SKIP() << "FTP server not started: " << why;

    FtpEventLog log;
    TNMFTP client;
    Configure(client, server->Port(), log);
    client.UserID = server->User();
    client.Password = server->Password();
    client.Passive = passive;
    client.Connect();
    ASSERT_TRUE(client.Connected);
    client.Mode(3);

    testsupport::TempFolder dir;
    struct Case {
        std::string name;
        std::string bytes;
    };
    std::vector<Case> cases = {
        {"empty.gpg", ""},
        {"one.gpg", "x"},
        {"random.gpg", RandomBytes(5 << 20, 11)},
        {"\xC5\xBElu\xC5\xA5ou\xC4\x8Dk\xC3\xBD k\xC5\xAF\xC5\x88.gpg", RandomBytes(70000, 12)}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string local = dir / ("local-" + std::to_string(c.bytes.size()));
        testsupport::WriteBytes(local, c.bytes);
        client.Upload(local, c.name);
        EXPECT_EQ(client.BytesTotal, static_cast<int64_t>(c.bytes.size()));
        EXPECT_EQ(client.GetBytesSent(), static_cast<int64_t>(c.bytes.size()));
        EXPECT_EQ(client.Size(c.name), std::optional<int64_t>(c.bytes.size()));
    }
    // Names are sent as Windows-1250 bytes. vsftpd stores them as they came;
    // pyftpdlib reads commands as UTF-8 and replaces what is not, so there
    // only the number of files and their contents can be compared.
    EXPECT_EQ(FilesIn(server->Root()).size(), cases.size());
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(testsupport::ReadBytes(server->Root() + "/" + cases[i].name), cases[i].bytes);
    if (kind == RealFtpKind::Vsftpd) {
        EXPECT_EQ(testsupport::ReadBytes(server->Root() + "/\x9Elu\x9Dou\xE8k\xFD k\xF9\xF2.gpg"),
                  cases[3].bytes);
    } else {
        bool found = false;
        for (const auto& n : FilesIn(server->Root()))
            if (n.size() > 4 && n.substr(n.size() - 4) == ".gpg" && n != "empty.gpg" &&
                n != "one.gpg" && n != "random.gpg")
                found = testsupport::ReadBytes(server->Root() + "/" + n) == cases[3].bytes;
        EXPECT_TRUE(found);
    }
    client.Disconnect();
    EXPECT_FALSE(client.Connected);
}

} // namespace

TEST(NmftpRealServer, Pyftpdlib) {
    Interoperate(RealFtpKind::Pyftpdlib, true);
}

TEST(NmftpRealServer, PyftpdlibActiveMode) {
    Interoperate(RealFtpKind::Pyftpdlib, false);
}

TEST(NmftpRealServer, Vsftpd) {
    Interoperate(RealFtpKind::Vsftpd, true);
}

TEST(NmftpRealServer, PyftpdlibRefusedLogIn) {
    std::string why;
    auto server = RealFtpServer::Start(RealFtpKind::Pyftpdlib, &why);
    if (!server)
        GTEST_SKIP() << "FTP server not started: " << why;
    FtpEventLog log;
    TNMFTP client;
    Configure(client, server->Port(), log);
    client.UserID = server->User();
    client.Password = "wrong";
    try {
        client.Connect();
        FAIL() << "no exception";
    } catch (const FTPException& e) {
        EXPECT_EQ(std::string(e.what()).substr(0, 4), "530 ");
    }
    EXPECT_EQ(log.connectionFailed, 1);
    EXPECT_FALSE(client.Connected);
}
