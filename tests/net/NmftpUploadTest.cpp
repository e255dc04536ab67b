// Uploads of TNMFTP against the scripted fake server: success, every kind of
// refusal, broken connections, cancel, active mode, SIZE.
#include "net/Nmftp.h"
#include "tests/net/FtpTestUtil.h"

#include <gtest/gtest.h>
#include <thread>

using testsupport::FakeFtpServer;
using testsupport::Lines;
using testsupport::Pace;
using testsupport::StoreOptions;

namespace {

class NmftpUpload : public ::testing::Test {
protected:
    FakeFtpServer ftp;
    FtpEventLog log; // outlives the client, whose destructor still reports
    TNMFTP client;
    testsupport::TempFolder dir;
    std::string bytes;
    std::string path;

    void SetUp() override {
        Configure(client, ftp.Port(), log);
        ftp.LogIn("anna", "tajne").Reply("TYPE L 8", "200 Type set.");
        bytes = RandomBytes(300000);
        path = dir / "20260305.zip.gpg";
        testsupport::WriteBytes(path, bytes);
    }
    void LogIn() {
        client.Connect();
        client.Mode(3);
    }
    StoreOptions Final(const std::string& reply) {
        StoreOptions o;
        o.final = reply;
        return o;
    }
    // Expects Upload to raise FTPException with exactly this message.
    void ExpectFtpFailure(const std::string& message) {
        try {
            client.Upload(path, "20260305.zip.gpg");
            ADD_FAILURE() << "no exception";
        } catch (const FTPException& e) {
            EXPECT_EQ(std::string(e.what()), message);
        }
        EXPECT_TRUE(log.successes.size() == 1) << "only the TYPE command succeeded";
        EXPECT_EQ(client.DataConnection, nullptr);
    }
};

} // namespace

TEST_F(NmftpUpload, PassiveUploadWithDotAfterParenthesisSucceeds) {
    ftp.Pasv("PASV", "227 Entering Passive Mode (10,9,8,7,{p1p2}).");
    LogIn();
    ftp.Store("STOR 20260305.zip.gpg");
    client.Upload(path, "20260305.zip.gpg");
    EXPECT_EQ(ftp.Verify(), "");
    ASSERT_EQ(ftp.StoredData().size(), 1u);
    EXPECT_EQ(ftp.StoredData()[0], bytes);
    EXPECT_EQ(client.BytesTotal, static_cast<int64_t>(bytes.size()));
    EXPECT_EQ(client.GetBytesSent(), static_cast<int64_t>(bytes.size()));
    EXPECT_EQ(client.DataConnection, nullptr);
    EXPECT_EQ(log.successes.back(), cmdUpload);
    EXPECT_TRUE(client.Connected);
}

// One time-out bounds each stall of the data and then the final reply, from
// the end of the data: an upload longer than the time-out is no stall.
TEST_F(NmftpUpload, FinalReplyIsDueOneTimeOutAfterTheEndOfTheData) {
    ftp.Pasv().Store("STOR 20260305.zip.gpg");
    LogIn();
    client.TimeOut = 300;
    client.OnPacketSent = [](TPowersock*) {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
    };
    const auto start = std::chrono::steady_clock::now();
    client.Upload(path, "20260305.zip.gpg");
    EXPECT_GT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(450));
    ASSERT_EQ(ftp.StoredData().size(), 1u);
    EXPECT_EQ(ftp.StoredData()[0], bytes);
}

TEST_F(NmftpUpload, EventsComeInOrderAndPacketsNameTheDataConnection) {
    ftp.Pasv().Store("STOR 20260305.zip.gpg");
    LogIn();
    log.order.clear();
    std::vector<int64_t> running;
    client.OnPacketSent = [&](TPowersock* sender) {
        EXPECT_EQ(sender, client.DataConnection.get());
        EXPECT_NE(sender, &client);
        running.push_back(client.GetBytesSent());
        if (log.order.back() != "packet")
            log.order.push_back("packet");
    };
    client.Upload(path, "20260305.zip.gpg");
    EXPECT_EQ(log.order, (std::vector<std::string>{"start", "packet", "stop", "success"}));
    ASSERT_FALSE(running.empty());
    EXPECT_EQ(running.back(), static_cast<int64_t>(bytes.size()));
    for (size_t i = 1; i < running.size(); ++i)
        EXPECT_GT(running[i], running[i - 1]);
}

TEST_F(NmftpUpload, PasvReply421FailsWithTheReplyLine) {
    ftp.Reply("PASV", "421 Service closing.");
    LogIn();
    ExpectFtpFailure("421 Service closing.\r\n");
    EXPECT_EQ(client.BytesTotal, static_cast<int64_t>(bytes.size()));
    EXPECT_EQ(ftp.Verify(), "");
}

TEST_F(NmftpUpload, PasvRefusedFailsWithTheReplyLine) {
    ftp.Reply("PASV", "502 No passive mode.");
    LogIn();
    ExpectFtpFailure("502 No passive mode.\r\n");
}

TEST_F(NmftpUpload, MalformedPassiveRepliesFailBeforeAnyConnection) {
    for (const char* reply : {"227 Entering Passive Mode (127,0,0,1,4)", "227 =127,0,0,1,4,1",
                              "227 Entering Passive Mode (127,0,0,1,x,1)",
                              "227 Entering Passive Mode (127,0,0,1,4,-1)"}) {
        ftp.Reply("PASV", reply);
    }
    LogIn();
    for (int i = 0; i < 4; ++i)
        EXPECT_THROW(client.Upload(path, "x"), FTPException) << i;
    EXPECT_EQ(ftp.Verify(), "");
}

TEST_F(NmftpUpload, PassivePortOutOfRangeOrZeroIsRefused) {
    EXPECT_EQ(TNMFTP::PassivePort("227 Entering Passive Mode (1,2,3,4,19,137)."), 5001);
    EXPECT_EQ(TNMFTP::PassivePort("227 ok (1,2,3,4,255,255)\r\n"), 65535);
    EXPECT_THROW(TNMFTP::PassivePort("227 ok (1,2,3,4,256,1)"), FTPException);
    EXPECT_THROW(TNMFTP::PassivePort("227 ok (1,2,3,4,1,256)"), FTPException);
    EXPECT_THROW(TNMFTP::PassivePort("227 ok (1,2,3,4,0,0)"), FTPException);
    EXPECT_THROW(TNMFTP::PassivePort("227 ok (1,2,3,4,99999999999,1)"), FTPException);
    ftp.Reply("PASV", "227 Entering Passive Mode (127,0,0,1,300,1).");
    LogIn();
    try {
        client.Upload(path, "x");
        FAIL() << "no exception";
    } catch (const FTPException& e) {
        EXPECT_NE(std::string(e.what()).find("invalid port"), std::string::npos) << e.what();
    }
}

// A step of the upload meets a reply it must not go on with, or the data
// connection does not end in order: the upload fails with this message.
struct UploadFaultCase {
    const char* name;
    std::string stor;  // the reply to STOR
    StoreOptions data; // when stor is empty: the Store step
    std::string error;
};

void PrintTo(const UploadFaultCase& c, std::ostream* os) {
    *os << c.name;
}

class NmftpUploadFault : public NmftpUpload, public testing::WithParamInterface<UploadFaultCase> {};

TEST_P(NmftpUploadFault, Fails) {
    // Small enough for the system's buffers to take at once, so a server that
    // stops reading is noticed by its reset, not by a failing send.
    bytes = RandomBytes(60000, 4);
    testsupport::WriteBytes(path, bytes);
    if (GetParam().stor.empty())
        ftp.Pasv().Store("STOR 20260305.zip.gpg", GetParam().data).Close();
    else
        ftp.Pasv().Reply("STOR 20260305.zip.gpg", GetParam().stor);
    LogIn();
    client.TimeOut = 3000; // a wrong wait shows as a time-out, never as a hang
    ExpectFtpFailure(GetParam().error);
}

StoreOptions StoreWith(const std::string& final, bool thenReset = false) {
    StoreOptions o;
    o.final = final;
    if (thenReset) { // 30000 bytes read, the final reply, a reset 0.2 s later
        o.dropAfter = 30000;
        o.finalBeforeDataClose = true;
        o.dataCloseDelayMs = 200;
    }
    return o;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, NmftpUploadFault,
    testing::Values(
        UploadFaultCase{"Stor226", "226 Nothing to do.", {}, "226 Nothing to do.\r\n"},
        UploadFaultCase{"Final200", "", StoreWith("200 Fine."), "200 Fine.\r\n"},
        UploadFaultCase{"FinalWithNul", "", StoreWith(std::string("226 A") + '\0' + "B"),
                        "Invalid reply from the server: 226 A?B\r\n"},
        UploadFaultCase{"FinalCutShort", "", StoreWith("226-Stored."),
                        "Connection closed by the server within its reply"},
        UploadFaultCase{"ResetAfter226", "", StoreWith("226 Transfer complete.", true),
                        "The server reset the data connection before it had read all the data"}),
    [](const testing::TestParamInfo<UploadFaultCase>& info) {
        return std::string(info.param.name);
    });

TEST_F(NmftpUpload, StoreRefusedFails) {
    ftp.Pasv().Reply("STOR 20260305.zip.gpg", "553 Could not create file.");
    LogIn();
    int failures = 0;
    client.OnFailure = [&](bool&, TCmdType k) {
        ++failures;
        EXPECT_EQ(k, cmdUpload);
    };
    ExpectFtpFailure("553 Could not create file.\r\n");
    EXPECT_EQ(failures, 1) << "offered to the handler once";
}

TEST_F(NmftpUpload, HandledFailureReturnsWithoutSuccess) {
    ftp.Pasv().Reply("STOR 20260305.zip.gpg", "502 No STOR here.");
    LogIn();
    int unsupported = 0;
    client.OnUnSupportedFunction = [&](TCmdType k) {
        ++unsupported;
        EXPECT_EQ(k, cmdUpload);
    };
    client.OnFailure = [&](bool& handled, TCmdType) { handled = true; };
    EXPECT_NO_THROW(client.Upload(path, "20260305.zip.gpg"));
    EXPECT_EQ(unsupported, 1);
    EXPECT_EQ(log.successes.size(), 1u);
}

TEST_F(NmftpUpload, ZeroByteFile) {
    testsupport::WriteBytes(path, "");
    ftp.Pasv().Store("STOR 20260305.zip.gpg");
    LogIn();
    client.Upload(path, "20260305.zip.gpg");
    EXPECT_EQ(ftp.Verify(), "");
    EXPECT_EQ(ftp.StoredData().at(0), "");
    EXPECT_EQ(client.BytesTotal, 0);
    EXPECT_EQ(client.GetBytesSent(), 0);
    EXPECT_EQ(log.successes.back(), cmdUpload);
}

TEST_F(NmftpUpload, EmptyRemoteNameStoresUnderTheFileName) {
    ftp.Pasv().Store("STOR 20260305.zip.gpg");
    LogIn();
    client.ReportLevel = 1;
    client.Upload(path, "");
    EXPECT_EQ(ftp.Verify(), "");
    bool sawFullPath = false;
    for (const auto& s : log.statuses)
        sawFullPath = sawFullPath || s == "STOR " + path;
    EXPECT_TRUE(sawFullPath);
}

TEST_F(NmftpUpload, FinalReplyFromTheServerDecides) {
    for (const char* final :
         {"451 Local error in processing.", "426 Connection closed; transfer aborted.",
          "552 Exceeded storage allocation.", "452 Insufficient storage space."}) {
        ftp.Pasv().Store("STOR 20260305.zip.gpg", Final(final));
    }
    LogIn();
    for (const char* final :
         {"451 Local error in processing.", "426 Connection closed; transfer aborted.",
          "552 Exceeded storage allocation.", "452 Insufficient storage space."}) {
        ExpectFtpFailure(std::string(final) + "\r\n");
        EXPECT_EQ(client.BytesTotal, static_cast<int64_t>(bytes.size()));
        EXPECT_EQ(client.GetBytesSent(), static_cast<int64_t>(bytes.size()));
    }
    EXPECT_EQ(ftp.Verify(), "");
    EXPECT_TRUE(client.Connected);
}

TEST_F(NmftpUpload, MultiLineFinalReplyIsReadWhole) {
    ftp.Pasv()
        .Store("STOR 20260305.zip.gpg", Final(Lines({"226-Stored.", "226 Done."})))
        .Reply("NOOP", "200 Noop.");
    LogIn();
    client.Upload(path, "20260305.zip.gpg");
    client.DoCommand("NOOP");
    EXPECT_EQ(client.TransactionReply, "200 Noop.\r\n");
    EXPECT_EQ(ftp.Verify(), "");
}

TEST_F(NmftpUpload, SlowFinalReplyOneByteAtATime) {
    StoreOptions o;
    o.finalPace = Pace{100, 2};
    ftp.Pasv().Store("STOR 20260305.zip.gpg", o);
    LogIn();
    client.Upload(path, "20260305.zip.gpg");
    EXPECT_EQ(ftp.Verify(), "");
    EXPECT_EQ(client.ReplyNumber, 226);
}

TEST_F(NmftpUpload, ControlConnectionClosedAfterTheDataIsAFailure) {
    StoreOptions o;
    o.closeControl = true;
    ftp.Pasv().Store("STOR 20260305.zip.gpg", o);
    LogIn();
    EXPECT_THROW(client.Upload(path, "20260305.zip.gpg"), FTPException);
    EXPECT_EQ(log.successes.size(), 1u);
}

TEST_F(NmftpUpload, RefusedDataConnectionFails) {
    ftp.Pasv("PASV", "227 Entering Passive Mode ({hostport}).", true);
    LogIn();
    try {
        client.Upload(path, "20260305.zip.gpg");
        FAIL() << "no exception";
    } catch (const ESockError& e) {
        EXPECT_STREQ(e.what(), "Connection Failed");
    }
    EXPECT_EQ(client.DataConnection, nullptr);
    EXPECT_EQ(ftp.Verify(), "");
}

TEST_F(NmftpUpload, DataConnectionDroppedMidwayIsAFailure) {
    bytes = RandomBytes(16 << 20, 3);
    testsupport::WriteBytes(path, bytes);
    StoreOptions o;
    o.dropAfter = 100000;
    o.final = "426 Connection closed; transfer aborted.";
    ftp.Pasv().Store("STOR 20260305.zip.gpg", o);
    LogIn();
    EXPECT_THROW(client.Upload(path, "20260305.zip.gpg"), Exception);
    EXPECT_EQ(log.successes.size(), 1u);
    EXPECT_LT(client.GetBytesSent(), static_cast<int64_t>(bytes.size()));
    EXPECT_EQ(ftp.StoredData().at(0).size(), 100000u);
}

TEST_F(NmftpUpload, DataResetAfterTheSendFollowedBy226IsAFailure) {
    // The file goes out in one send() that the system's buffers take whole
    // before the server reads; only the reset tells that it dropped the rest.
    bytes = RandomBytes(60000, 4);
    testsupport::WriteBytes(path, bytes);
    StoreOptions o;
    o.dropAfter = 30000;
    o.final = "226 Transfer complete.";
    ftp.Pasv().Store("STOR 20260305.zip.gpg", o);
    LogIn();
    try {
        client.Upload(path, "20260305.zip.gpg");
        ADD_FAILURE() << "a reset upload was taken as success";
    } catch (const FTPException& e) {
        EXPECT_STREQ(e.what(),
                     "The server reset the data connection before it had read all the data");
    }
    EXPECT_EQ(ftp.StoredData().at(0).size(), 30000u);
    EXPECT_EQ(ftp.Verify(), "");
}

TEST_F(NmftpUpload, AbortFromPacketSentCancelsTheTransfer) {
    bytes = RandomBytes(4 << 20, 5);
    testsupport::WriteBytes(path, bytes);
    StoreOptions o;
    o.final = "426 Transfer aborted.";
    ftp.Pasv().Store("STOR 20260305.zip.gpg", o).Reply("NOOP", "200 Noop.");
    LogIn();
    client.OnPacketSent = [&](TPowersock*) { client.Abort(); };
    try {
        client.Upload(path, "20260305.zip.gpg");
        FAIL() << "no exception";
    } catch (const EAbortError& e) {
        EXPECT_STREQ(e.what(), "Socket send aborted");
    }
    EXPECT_EQ(client.DataConnection, nullptr);
    EXPECT_LT(client.GetBytesSent(), static_cast<int64_t>(bytes.size()));
    // The leftover final reply is dropped before the next command.
    PumpFor(200);
    client.OnPacketSent = nullptr;
    client.DoCommand("NOOP");
    EXPECT_EQ(client.TransactionReply, "200 Noop.\r\n");
    EXPECT_EQ(ftp.Verify(), "");
}

TEST_F(NmftpUpload, ActiveModeSendsPortAndAcceptsTheServer) {
    client.Passive = false;
    ftp.PortCommand().Store("STOR 20260305.zip.gpg");
    LogIn();
    client.Upload(path, "20260305.zip.gpg");
    EXPECT_EQ(ftp.Verify(), "");
    EXPECT_EQ(ftp.StoredData().at(0), bytes);
    ASSERT_EQ(ftp.Commands().size(), 5u);
    EXPECT_EQ(ftp.Commands()[3].rfind("PORT 127,0,0,1,", 0), 0u) << ftp.Commands()[3];
}

TEST_F(NmftpUpload, ActiveModePortRefused) {
    client.Passive = false;
    ftp.Reply("PORT *", "500 Illegal PORT command.");
    LogIn();
    ExpectFtpFailure("500 Illegal PORT command.\r\n");
}

TEST_F(NmftpUpload, CzechNameGoesOutInWindows1250) {
    std::string czech = "\xC5\xBElu\xC5\xA5ou\xC4\x8Dk\xC3\xBD k\xC5\xAF\xC5\x88.gpg";
    ftp.Pasv().Store("STOR \x9Elu\x9Dou\xE8k\xFD k\xF9\xF2.gpg");
    LogIn();
    // The local file's name holds the same letters (the system's own name).
    const std::string local = dir / czech;
    testsupport::WriteBytes(local, bytes);
    client.Upload(local, czech);
    EXPECT_EQ(ftp.Verify(), "");
    EXPECT_EQ(ftp.StoredData().at(0), bytes);
}

TEST_F(NmftpUpload, NameWindows1250CannotHoldIsRefusedBeforeAnyCommand) {
    LogIn();
    EXPECT_THROW(client.Upload(path, "\xE6\x96\x87.gpg"), FTPException);
    EXPECT_THROW(client.Upload(path, "a\nb"), FTPException);
    PumpFor(50);
    EXPECT_EQ(ftp.Commands().size(), 3u);
    EXPECT_EQ(client.BytesTotal, static_cast<int64_t>(bytes.size()));
}

TEST_F(NmftpUpload, MissingLocalFileSendsNothing) {
    LogIn();
    EXPECT_THROW(client.Upload(dir / "missing.gpg", ""), EFOpenError);
    PumpFor(50);
    EXPECT_EQ(ftp.Commands().size(), 3u);
}

TEST_F(NmftpUpload, UploadWhenNotConnected) {
    EXPECT_THROW(client.Upload(path, ""), Exception);
    EXPECT_EQ(ftp.Connections(), 0);
}

TEST_F(NmftpUpload, SizeReportsTheNumberOrNotSupported) {
    ftp.Reply("SIZE a.gpg", "213 300000")
        .Reply("SIZE b.gpg", "550 No such file.")
        .Reply("SIZE c.gpg", "502 Not implemented.")
        .Reply("SIZE d.gpg", "500 Unknown command.")
        .Reply("SIZE e.gpg", "451 Try later.")
        .Reply("SIZE f.gpg", "213 lots")
        .Reply("SIZE g.gpg", "504 Not for this file type.")
        .Reply("SIZE h.gpg", "213 12 bytes")
        .Reply("SIZE i.gpg", Lines({"213-300000", "213 End"}))
        .Reply("SIZE j.gpg", std::string("550 No") + '\0' + " file.")
        .Reply("SIZE k.gpg", "213 -5");
    LogIn();
    EXPECT_EQ(client.Size("a.gpg"), std::optional<int64_t>(300000));
    EXPECT_EQ(client.Size("b.gpg"), std::nullopt);
    EXPECT_EQ(client.Size("c.gpg"), std::nullopt);
    EXPECT_EQ(client.Size("d.gpg"), std::nullopt);
    EXPECT_THROW(client.Size("e.gpg"), FTPException);
    EXPECT_THROW(client.Size("f.gpg"), FTPException);
    EXPECT_EQ(client.Size("g.gpg"), std::nullopt);
    EXPECT_THROW(client.Size("h.gpg"), FTPException);
    EXPECT_THROW(client.Size("i.gpg"), FTPException);
    EXPECT_THROW(client.Size("j.gpg"), FTPException);
    EXPECT_THROW(client.Size("k.gpg"), FTPException);
    EXPECT_EQ(ftp.Verify(), "");
}

// MLST is asked only when FEAT offers it with the size fact on by default,
// and judged as SIZE is (reply text may hold a TAB).
TEST_F(NmftpUpload, MlstSizeWhereFeatOffersIt) {
    const std::string feat =
        Lines({"211-Features:", " SIZE", " MLST type*;size*;modify*;", " UTF8", "211 End"});
    ftp.Reply("FEAT", feat)
        .Reply("MLST a.gpg",
               Lines({"250-Listing\ta.gpg", " Type=file;Size=300000; a.gpg", "250 End."}))
        .Reply("FEAT", "502 Not implemented.")
        .Reply("FEAT", Lines({"211-Features:", " MLST type*;size;", "211 End"}))
        .Reply("FEAT", feat)
        .Reply("MLST b.gpg", "550 No such file.")
        .Reply("FEAT", feat)
        .Reply("MLST c.gpg", Lines({"250-Listing c.gpg", " type=file; c.gpg", "250 End."}))
        .Reply("FEAT", feat)
        .Reply("MLST d.gpg", "150 Wait.")
        .Reply("FEAT", "530 Not logged in.");
    LogIn();
    EXPECT_EQ(client.MlstSize("a.gpg"), std::optional<int64_t>(300000));
    EXPECT_EQ(client.MlstSize("a.gpg"), std::nullopt) << "no FEAT";
    EXPECT_EQ(client.MlstSize("a.gpg"), std::nullopt) << "size not given by default";
    EXPECT_EQ(client.MlstSize("b.gpg"), std::nullopt);
    EXPECT_THROW(client.MlstSize("c.gpg"), FTPException);
    EXPECT_THROW(client.MlstSize("d.gpg"), FTPException);
    EXPECT_THROW(client.MlstSize("e.gpg"), FTPException);
    EXPECT_EQ(ftp.Verify(), "");
}

// The data connection goes to the address the control connection reached,
// directly or through the proxy; the name is not looked up again (here it
// no longer resolves at all by the time of the upload).
TEST_F(NmftpUpload, DataGoesWhereTheControlConnectionWent) {
    for (const bool proxy : {false, true}) {
        TNMFTP named;
        Configure(named, ftp.Port(), log);
        (proxy ? named.Proxy : named.Host) = "localhost";
        named.ProxyPort = static_cast<uint16_t>(ftp.Port());
        named.FirewallType = FtOpen;
        if (proxy) // the fixture scripted the first log-in
            ftp.Reply("OPEN 127.0.0.1", "220 Connected.")
                .LogIn("anna", "tajne")
                .Reply("TYPE L 8", "200 Ok.");
        ftp.Pasv().Store("STOR x.gpg");
        named.Connect();
        named.Mode(3);
        (proxy ? named.Proxy : named.Host) = "gone.invalid";
        EXPECT_NO_THROW(named.Upload(path, "x.gpg")) << (proxy ? "proxy" : "direct");
        named.RequestCloseSocket();
    }
    EXPECT_EQ(ftp.Verify(), "");
    EXPECT_EQ(ftp.StoredData().size(), 2u);
}

TEST_F(NmftpUpload, FileChangedDuringTheUploadIsAFailure) {
    // The server confirms, but what went out is not the file that was measured.
    ftp.Pasv().Store("STOR 20260305.zip.gpg").Pasv().Store("STOR 20260305.zip.gpg");
    LogIn();
    client.OnTransactionStart = [&](TPowersock*) { testsupport::WriteBytes(path, bytes + "more"); };
    EXPECT_THROW(client.Upload(path, "20260305.zip.gpg"), FTPException);
    EXPECT_EQ(client.BytesTotal, static_cast<int64_t>(bytes.size()));
    EXPECT_EQ(client.GetBytesSent(), static_cast<int64_t>(bytes.size() + 4));
    client.OnTransactionStart = [&](TPowersock*) { testsupport::WriteBytes(path, "short"); };
    EXPECT_THROW(client.Upload(path, "20260305.zip.gpg"), FTPException);
    EXPECT_EQ(client.GetBytesSent(), 5);
    EXPECT_EQ(ftp.Verify(), "");
}

TEST_F(NmftpUpload, SecondUploadFromAnEventHandlerIsRefused) {
    ftp.Pasv().Store("STOR 20260305.zip.gpg");
    LogIn();
    bool refused = false;
    client.OnTransactionStart = [&](TPowersock*) {
        try {
            client.Upload(path, "other.gpg");
        } catch (const FTPException&) {
            refused = true;
        }
    };
    client.Upload(path, "20260305.zip.gpg");
    EXPECT_TRUE(refused);
    EXPECT_EQ(ftp.Verify(), "");
    EXPECT_EQ(ftp.StoredData().at(0), bytes);
}

// The server closes the data connection after the end of the data and then
// confirms, or confirms first; its close may reach the client while the
// program's events run (a repaint of about a millisecond). A good upload is
// reported good however the two fall. Many rounds: the close must land in
// the pump now and then.
struct DataCloseCase {
    const char* name;
    int closeDelayMs;
    int finalDelayMs;
    bool finalFirst;
};

void PrintTo(const DataCloseCase& c, std::ostream* os) {
    *os << c.name;
}

class NmftpDataClose : public NmftpUpload, public testing::WithParamInterface<DataCloseCase> {
protected:
    void TearDown() override { SetPumpMessagesHook({}); }
};

TEST_P(NmftpDataClose, GoodUploadIsReportedGood) {
    const int rounds = 12;
    bytes = RandomBytes(5000, 11);
    testsupport::WriteBytes(path, bytes);
    StoreOptions o;
    o.dataCloseDelayMs = GetParam().closeDelayMs;
    o.finalPace.delayMs = GetParam().finalDelayMs;
    o.finalBeforeDataClose = GetParam().finalFirst;
    for (int i = 0; i < rounds; ++i)
        ftp.Pasv().Store("STOR 20260305.zip.gpg", o);
    LogIn();
    SetPumpMessagesHook([] { std::this_thread::sleep_for(std::chrono::milliseconds(1)); });
    for (int i = 0; i < rounds; ++i) {
        try {
            client.Upload(path, "20260305.zip.gpg");
        } catch (const std::exception& e) {
            ADD_FAILURE() << "round " << i << ": " << e.what();
        }
    }
    EXPECT_EQ(ftp.Verify(), "");
    ASSERT_EQ(ftp.StoredData().size(), static_cast<size_t>(rounds));
    for (const auto& stored : ftp.StoredData())
        EXPECT_TRUE(stored == bytes);
}

INSTANTIATE_TEST_SUITE_P(Rows, NmftpDataClose,
                         testing::Values(DataCloseCase{"CloseThen226", 0, 0, false},
                                         DataCloseCase{"LateCloseThen226", 2, 0, false},
                                         DataCloseCase{"LaterCloseThenLate226", 3, 1, false},
                                         DataCloseCase{"LatestCloseThen226After3ms", 4, 3, false},
                                         DataCloseCase{"Final226ThenClose", 2, 0, true}),
                         [](const testing::TestParamInfo<DataCloseCase>& info) {
                             return std::string(info.param.name);
                         });

// A server that stops answering at some point of the upload: with a
// time-out set the upload ends in about that time with the time-out's text,
// and the control connection, now out of step, is closed without QUIT.
const char* const kStor = "STOR 20260305.zip.gpg";

struct SilenceCase {
    const char* name;
    const char* text;
    const char* lastCommand; // nothing follows it, not even QUIT
    void (*script)(FakeFtpServer& ftp);
};

void PrintTo(const SilenceCase& c, std::ostream* os) {
    *os << c.name;
}

class NmftpSilence : public NmftpUpload, public testing::WithParamInterface<SilenceCase> {};

TEST_P(NmftpSilence, UploadTimesOut) {
    GetParam().script(ftp);
    LogIn();
    client.TimeOut = 300;
    int passes = 0;
    SetPumpMessagesHook([&] { ++passes; });
    const auto start = std::chrono::steady_clock::now();
    try {
        client.Upload(path, "20260305.zip.gpg");
        ADD_FAILURE() << "no time-out";
    } catch (const ETimeOutError& e) {
        EXPECT_STREQ(e.what(), GetParam().text);
    }
    SetPumpMessagesHook({});
    // Every wait sleeps until there is news or kWaitPassMs is up (on Windows
    // until the deadline): polling every 2 ms there makes some 150 passes.
    EXPECT_LT(passes, 2 * (300 / kWaitPassMs) + 40);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    EXPECT_GE(ms, 280);
    EXPECT_LT(ms, 3000);
    EXPECT_FALSE(client.Connected);
    EXPECT_EQ(client.DataConnection, nullptr);
    EXPECT_EQ(ftp.Verify(), "");
    EXPECT_EQ(ftp.Commands().back(), GetParam().lastCommand);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, NmftpSilence,
    testing::Values(SilenceCase{"SilentPasv", kTimedOutReply, "PASV",
                                [](FakeFtpServer& f) { f.Reply("PASV", ""); }},
                    SilenceCase{
                        "SilentStor", kTimedOutReply, kStor,
                        [](FakeFtpServer& f) { f.Pasv().Reply("STOR 20260305.zip.gpg", ""); }},
                    SilenceCase{"NoFinalReply", kTimedOutReply, kStor,
                                [](FakeFtpServer& f) {
                                    StoreOptions o;
                                    o.final = "";
                                    f.Pasv().Store("STOR 20260305.zip.gpg", o);
                                }},
                    SilenceCase{"DataNeverClosed", kTimedOutDataEnd, kStor,
                                [](FakeFtpServer& f) {
                                    StoreOptions o;
                                    o.dataCloseDelayMs = 1500;
                                    f.Pasv().Store("STOR 20260305.zip.gpg", o);
                                }},
                    SilenceCase{"DataLeftOpenAfter226", kTimedOutDataEnd, kStor,
                                [](FakeFtpServer& f) {
                                    StoreOptions o;
                                    o.finalBeforeDataClose = true;
                                    o.dataCloseDelayMs = 1500;
                                    f.Pasv().Store("STOR 20260305.zip.gpg", o);
                                }}),
    [](const testing::TestParamInfo<SilenceCase>& info) { return std::string(info.param.name); });
