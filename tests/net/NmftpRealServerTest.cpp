// TNMFTP against real FTP servers on 127.0.0.1: pyftpdlib and vsftpd; with
// explicit TLS all four.
#include "net/Nmftp.h"
#include "tests/net/FtpTestUtil.h"
#include "tests/support/RealFtpServer.h"
#include "tests/support/Required.h"

#include <algorithm>
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
        MISSING_PART("FTP server not started: " << why);

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
        MISSING_PART("FTP server not started: " << why);
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

// ---- explicit TLS ----------------------------------------------------------

namespace {

class NmftpRealServerFtps : public testing::TestWithParam<RealFtpKind> {};

// Three uploads one after another, as a window kept open makes them run
// after run: each over TLS with the pinned certificate, byte-identical, and
// where the server demands it (vsftpd, proftpd) each data connection
// resumes the control connection's session. A connection with no session
// left to offer (proftpd issues two tickets, on the control connection only)
// is not used again: the next upload logs in afresh.
TEST_P(NmftpRealServerFtps, UploadsResumeRunAfterRun) {
    std::string why;
    auto server = RealFtpServer::Start(GetParam(), &why, testsupport::RealFtpTls::Required);
    if (!server)
        MISSING_PART("FTP server not started: " << why);
    FtpEventLog log;
    TNMFTP client;
    Configure(client, server->Port(), log);
    client.TimeOut = 20000;
    client.ReportLevel = 1; // the data connection's "TLS resumed"
    client.UserID = server->User();
    client.Password = server->Password();
    client.Ftps = true;
    client.TlsPeer = {"127.0.0.1", ParseCertificatePin(server->Fingerprint())};
    testsupport::TempFolder dir;
    const std::string bytes = RandomBytes(1 << 20, 5);
    testsupport::WriteBytes(dir / "local", bytes);
    const bool reuseRequired =
        GetParam() == RealFtpKind::Vsftpd || GetParam() == RealFtpKind::Proftpd;
    int logIns = 0;
    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        if (!client.ConnectedAsAsked()) {
            client.Disconnect();
            ++logIns;
        }
        client.Connect();
        ASSERT_TRUE(client.Secure());
        client.Mode(3);
        const std::string name = "run" + std::to_string(run) + ".gpg";
        log.statuses.clear();
        client.Upload(dir / "local", name);
        EXPECT_EQ(testsupport::ReadBytes(server->Root() + "/" + name), bytes);
        EXPECT_EQ(client.Size(name), std::optional<int64_t>(bytes.size()));
        if (reuseRequired) {
            EXPECT_NE(std::find(log.statuses.begin(), log.statuses.end(), "TLS resumed"),
                      log.statuses.end());
        }
    }
    EXPECT_EQ(logIns, GetParam() == RealFtpKind::Proftpd ? 2 : 1);
}

INSTANTIATE_TEST_SUITE_P(Servers, NmftpRealServerFtps,
                         testing::Values(RealFtpKind::Pyftpdlib, RealFtpKind::Vsftpd,
                                         RealFtpKind::PureFtpd, RealFtpKind::Proftpd),
                         [](const testing::TestParamInfo<RealFtpKind>& info) {
                             std::string name = testsupport::RealFtpKindName(info.param);
                             std::erase(name, '-');
                             return name;
                         });

} // namespace
