// Log-in, commands and proxies of TNMFTP against the scripted fake server.
#include "net/Nmftp.h"
#include "tests/net/FtpTestUtil.h"

#include <gtest/gtest.h>

using testsupport::FakeFtpServer;
using testsupport::Lines;
using testsupport::Pace;

namespace {

class NmftpLogin : public ::testing::Test {
protected:
    FakeFtpServer ftp;
    FtpEventLog log; // outlives the client, whose destructor still reports
    TNMFTP client;

    void SetUp() override { Configure(client, ftp.Port(), log); }
};

} // namespace

TEST_F(NmftpLogin, MultiLineGreetingIsReadWholeBeforeUser) {
    ftp.Greeting(Lines({"220-Welcome to the registry", "220-Second line", "220 Ready."}))
        .LogIn("anna", "tajne");
    client.Connect();
    EXPECT_TRUE(client.Connected);
    EXPECT_EQ(ftp.Verify(), "");
    EXPECT_EQ(log.connects, 1);
    EXPECT_EQ(client.ReplyNumber, 230);
}

TEST_F(NmftpLogin, GreetingArrivingOneByteAtATimeIsAssembled) {
    ftp.Greeting(Lines({"220-Slow", "220 server"}), Pace{0, 1})
        .Reply("USER anna", "331 Password required.", Pace{0, 1})
        .Reply("PASS tajne", "230 Logged in.", Pace{50, -1});
    client.Connect();
    EXPECT_EQ(ftp.Verify(), "");
}

TEST_F(NmftpLogin, UnmarkedMiddleLinesDoNotEndAMultiLineReply) {
    // The protocol allows middle lines without a code; the closing "220 "
    // line must not be taken for the answer to USER.
    ftp.Greeting(
           Lines({"220-Welcome", "Middle line without a code", " 234 indented", "220 Ready."}))
        .LogIn("anna", "tajne");
    client.Connect();
    EXPECT_EQ(ftp.Verify(), "");
    EXPECT_EQ(ftp.Commands(), (std::vector<std::string>{"USER anna", "PASS tajne"}));
}

TEST_F(NmftpLogin, SilentAfterTypeTimesOutAndClosesWithoutQuit) {
    ftp.Reply("USER anna", "230 Logged in.").Reply("TYPE L 8", "");
    client.Connect();
    client.TimeOut = 200;
    try {
        client.Mode(3);
        ADD_FAILURE() << "no time-out";
    } catch (const ETimeOutError& e) {
        EXPECT_STREQ(e.what(), "Timed out waiting for the server's reply");
    }
    EXPECT_FALSE(client.Connected);
    EXPECT_EQ(ftp.Verify(), "");
    EXPECT_EQ(ftp.Commands(), (std::vector<std::string>{"USER anna", "TYPE L 8"}));
}

// ---- every reply read strictly -------------------------------------------------

// The greeting, then one reply to each command in turn (USER, PASS if
// asked, TYPE): the step that meets a reply it must not go on with fails
// with this message. A failed log-in closes the connection; a refused type
// leaves it open.
struct StrictCase {
    const char* name;
    std::string greeting;
    std::vector<std::string> replies;
    std::string error;
};

void PrintTo(const StrictCase& c, std::ostream* os) {
    *os << c.name;
}

class NmftpStrict : public NmftpLogin, public testing::WithParamInterface<StrictCase> {};

TEST_P(NmftpStrict, StepFailsWithTheReply) {
    ftp.Greeting(GetParam().greeting);
    for (const auto& reply : GetParam().replies)
        ftp.Reply("*", reply);
    client.TimeOut = 3000; // a wrong wait shows as a time-out, never as a hang
    try {
        client.Connect();
        client.Mode(3);
        ADD_FAILURE() << "every step went on";
    } catch (const FTPException& e) {
        EXPECT_EQ(std::string(e.what()), GetParam().error);
    }
    EXPECT_EQ(client.Connected, log.connects == 1);
    EXPECT_TRUE(log.successes.empty());
}

const std::string kInvalid = "Invalid reply from the server: ";
const std::string kNul(1, '\0');

INSTANTIATE_TEST_SUITE_P(
    Rows, NmftpStrict,
    testing::Values(
        StrictCase{"Greeting125", "125 Go.\r\n220 Ready.", {}, "125 Go.\r\n"},
        StrictCase{
            "ClosedWithAnotherCode", "220-Hi\r\n221 Ready.", {}, kInvalid + "221 Ready.\r\n"},
        StrictCase{
            "NulInAContinuation", "220-Hi\r\nW" + kNul + "\r\n220 Ok.", {}, kInvalid + "W?\r\n"},
        StrictCase{"User400", "220 Hi.", {"400 Odd."}, "400 Odd.\r\n"},
        StrictCase{"User332", "220 Hi.", {"332 Need account."}, "332 Need account.\r\n"},
        StrictCase{"Pass331", "220 Hi.", {"331 Password.", "331 Again."}, "331 Again.\r\n"},
        StrictCase{"Type202", "220 Hi.", {"230 Ok.", "202 Not needed."}, "202 Not needed.\r\n"},
        StrictCase{"TypeLoneCr", "220 Hi.", {"230 Ok.", "200 Ok.\rX"}, kInvalid + "200 Ok.?X\r\n"}),
    [](const testing::TestParamInfo<StrictCase>& info) { return std::string(info.param.name); });

// ---- one deadline per reply ---------------------------------------------------

// Every line of a reply comes well within the time-out, but the whole reply
// does not (or never ends): the wait ends one time-out after the connection,
// or at 64 KiB even without a time-out, and the connection is closed
// without QUIT.
struct DeadlineCase {
    const char* name;
    std::string greeting;
    Pace pace;
    int timeOut;
    std::string error;
};

void PrintTo(const DeadlineCase& c, std::ostream* os) {
    *os << c.name;
}

class NmftpDeadline : public NmftpLogin, public testing::WithParamInterface<DeadlineCase> {};

TEST_P(NmftpDeadline, WholeReplyWithinOneTimeOut) {
    ftp.Greeting(GetParam().greeting, GetParam().pace);
    client.TimeOut = GetParam().timeOut;
    const auto start = std::chrono::steady_clock::now();
    try {
        client.Connect();
        ADD_FAILURE() << "no failure";
    } catch (const Exception& e) {
        EXPECT_EQ(std::string(e.what()), GetParam().error);
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    if (GetParam().timeOut > 0) {
        EXPECT_GE(ms, GetParam().timeOut - 50);
        EXPECT_LT(ms, GetParam().timeOut + 1500);
    }
    EXPECT_FALSE(client.Connected);
    PumpFor(100);
    EXPECT_TRUE(ftp.Commands().empty()) << "not even QUIT";
}

INSTANTIATE_TEST_SUITE_P(
    Rows, NmftpDeadline,
    testing::Values(
        // 7 bytes a line, 80 ms apart: each line within the time-out, not both.
        DeadlineCase{"Preliminary120ThenTooLate", "120 W.\r\n220 R.", Pace{0, 80}, 1000,
                     kTimedOutReply},
        DeadlineCase{"EndlessWithoutTimeOut", "220-Hi", Pace{0, -1, 0}, 0,
                     "Reply longer than 65536 bytes"}),
    [](const testing::TestParamInfo<DeadlineCase>& info) { return std::string(info.param.name); });

TEST_F(NmftpLogin, UserReply230LogsInWithoutPass) {
    ftp.Reply("USER anna", "230 No password needed.").Reply("QUIT", "221 Bye.");
    client.Connect();
    EXPECT_TRUE(client.Connected);
    client.Disconnect();
    EXPECT_FALSE(client.Connected);
    EXPECT_EQ(ftp.Verify(), "");
    EXPECT_EQ(ftp.Commands(), (std::vector<std::string>{"USER anna", "QUIT"}));
}

TEST_F(NmftpLogin, RefusedPasswordFailsSendsQuitAndReportsDisconnected) {
    ftp.Reply("USER anna", "331 Password required.")
        .Reply("PASS tajne", "530 Login incorrect.")
        .Reply("QUIT", "221 Bye.");
    client.ReportLevel = 1;
    try {
        client.Connect();
        FAIL() << "no exception";
    } catch (const FTPException& e) {
        EXPECT_STREQ(e.what(), "530 Login incorrect.\r\n");
    }
    EXPECT_EQ(log.connectionFailed, 1);
    EXPECT_EQ(log.connects, 0);
    EXPECT_FALSE(client.Connected);
    EXPECT_EQ(client.Status, "Disconnected");
    EXPECT_EQ(ftp.Verify(), "");
}

TEST_F(NmftpLogin, ClientCanConnectAgainAfterAFailedLogIn) {
    ftp.Reply("USER anna", "530 Not now.").Reply("QUIT", "221 Bye.").LogIn("anna", "tajne");
    EXPECT_THROW(client.Connect(), FTPException);
    client.Connect();
    EXPECT_TRUE(client.Connected);
    EXPECT_EQ(ftp.Connections(), 2);
    EXPECT_EQ(ftp.Verify(), "");
}

TEST_F(NmftpLogin, GreetingOf421FailsWithTheGreetingLine) {
    ftp.Greeting("421 Too many connections").Close();
    try {
        client.Connect();
        FAIL() << "no exception";
    } catch (const FTPException& e) {
        EXPECT_STREQ(e.what(), "421 Too many connections\r\n");
    }
    EXPECT_EQ(log.connectionFailed, 1);
    EXPECT_FALSE(client.Connected);
    EXPECT_EQ(ftp.Verify(), "");
    for (const auto& c : ftp.Commands())
        EXPECT_NE(c.rfind("USER", 0), 0u) << "no log-in after a refusing greeting";
}

TEST_F(NmftpLogin, SilentServerThatClosesFailsTheConnect) {
    ftp.SilentGreeting(200);
    EXPECT_THROW(client.Connect(), FTPException);
    EXPECT_EQ(log.connectionFailed, 1);
    EXPECT_FALSE(client.Connected);
}

TEST_F(NmftpLogin, LateGreetingIsWaitedFor) {
    ftp.SilentGreeting(300, "220 Finally.").LogIn("anna", "tajne");
    client.Connect();
    EXPECT_EQ(ftp.Verify(), "");
}

TEST_F(NmftpLogin, ConnectWhenConnectedDoesNothing) {
    ftp.Reply("USER anna", "230 Ok.");
    client.Connect();
    client.Connect();
    EXPECT_EQ(ftp.Connections(), 1);
    EXPECT_EQ(ftp.Commands().size(), 1u);
}

TEST_F(NmftpLogin, CommandReplyOf400IsAFailure) {
    ftp.Reply("USER anna", "230 Ok.").Reply("NOOP", "400 Odd.");
    client.Connect();
    EXPECT_THROW(client.DoCommand("NOOP"), FTPException);
    EXPECT_EQ(ftp.Verify(), "");
}

TEST_F(NmftpLogin, RefusedTypeL8RaisesWithTheReplyLine) {
    ftp.Reply("USER anna", "230 Ok.").Reply("TYPE L 8", "504 Type not implemented.");
    client.Connect();
    try {
        client.Mode(3);
        FAIL() << "no exception";
    } catch (const FTPException& e) {
        EXPECT_STREQ(e.what(), "504 Type not implemented.\r\n");
    }
    EXPECT_TRUE(client.Connected) << "a refused type leaves the connection open";
    EXPECT_EQ(ftp.Verify(), "");
}

TEST_F(NmftpLogin, ModeSendsTheTypeCommands) {
    ftp.Reply("USER anna", "230 Ok.")
        .Reply("TYPE A", "200 A.")
        .Reply("TYPE I", "200 I.")
        .Reply("TYPE L 8", "200 L 8.");
    client.Connect();
    client.Mode(0);
    client.Mode(4);
    client.Mode(1);
    client.Mode(2);
    client.Mode(3);
    EXPECT_EQ(ftp.Verify(), "");
    EXPECT_EQ(log.successes, (std::vector<TCmdType>{cmdDoCommand, cmdDoCommand, cmdDoCommand}));
}

TEST_F(NmftpLogin, Reply502RaisesUnsupportedThenFailure) {
    ftp.Reply("USER anna", "230 Ok.").Reply("CWD data", "502 Not implemented.");
    client.Connect();
    std::vector<std::string> order;
    client.OnUnSupportedFunction = [&](TCmdType k) {
        order.push_back("unsupported " + std::to_string(k));
    };
    client.OnFailure = [&](bool& handled, TCmdType k) {
        order.push_back("failure " + std::to_string(k));
        handled = true;
    };
    client.ChangeDir("data"); // handled: no exception
    EXPECT_EQ(order, (std::vector<std::string>{"unsupported 0", "failure 0"}));
    EXPECT_TRUE(log.successes.empty());
}

TEST_F(NmftpLogin, LeftoverInputIsDroppedBeforeTheNextCommand) {
    ftp.Reply("USER anna", "230 Ok.")
        .Reply("TYPE L 8", "200 Type set.\r\n450 Stray line left behind.")
        .Reply("NOOP", "200 Noop.")
        .Reply("QUIT", "221 Bye.");
    client.Connect();
    client.Mode(3);
    PumpFor(100); // the stray line is on the socket by now
    client.DoCommand("NOOP");
    EXPECT_EQ(client.TransactionReply, "200 Noop.\r\n");
    client.Disconnect();
    EXPECT_EQ(ftp.Verify(), "");
}

TEST_F(NmftpLogin, ClosedConnectionDuringACommandIsAFailure) {
    ftp.Reply("USER anna", "230 Ok.").ReplyAndClose("TYPE L 8");
    client.Connect();
    EXPECT_THROW(client.Mode(3), Exception);
    EXPECT_TRUE(log.successes.empty());
}

TEST_F(NmftpLogin, DisconnectWhenNotConnectedSendsNothing) {
    EXPECT_NO_THROW(client.Disconnect());
    PumpFor(50);
    EXPECT_EQ(ftp.Connections(), 0);
    EXPECT_TRUE(ftp.Commands().empty());
}

TEST_F(NmftpLogin, RefusedQuitRaisesButClosesAnyway) {
    ftp.Reply("USER anna", "230 Ok.").Reply("QUIT", "500 What?");
    client.Connect();
    EXPECT_THROW(client.Disconnect(), FTPException);
    EXPECT_FALSE(client.Connected);
}

TEST_F(NmftpLogin, CommandWhenNotConnectedRaisesNotConnected) {
    try {
        client.DoCommand("NOOP");
        FAIL() << "no exception";
    } catch (const FTPException&) {
        FAIL() << "wrong class";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Not Connected");
    }
}

TEST_F(NmftpLogin, PasswordNeverAppearsInAStatusText) {
    ftp.LogIn("anna", "tajne").Reply("QUIT", "221 Bye.");
    client.ReportLevel = 255;
    client.Connect();
    client.Disconnect();
    ASSERT_FALSE(log.statuses.empty());
    bool sawPass = false;
    for (const auto& s : log.statuses) {
        EXPECT_EQ(s.find("tajne"), std::string::npos) << s;
        sawPass = sawPass || s == "PASS ";
    }
    EXPECT_TRUE(sawPass);
}

TEST_F(NmftpLogin, FirewallLogInComesFirst) {
    client.FWAuthenticate = true;
    client.FWUserID = "fw";
    client.FWPassword = "fwpass";
    ftp.Reply("USER fw", "331 Firewall password.")
        .Reply("PASS fwpass", "230 Through.")
        .LogIn("anna", "tajne");
    client.Connect();
    EXPECT_EQ(ftp.Verify(), "");
}

TEST_F(NmftpLogin, AuthenticationNeededMayFillTheCredentials) {
    client.Password.clear();
    client.OnAuthenticationNeeded = [&](bool&) { client.Password = "later"; };
    ftp.LogIn("anna", "later");
    client.Connect();
    EXPECT_EQ(ftp.Verify(), "");
}

TEST_F(NmftpLogin, CommandsGoOutInWindows1250) {
    ftp.Reply("USER anna", "230 Ok.").Reply("*", "250 Ok.");
    client.Connect();
    client.ChangeDir("Přílohy");
    ASSERT_EQ(ftp.Commands().size(), 2u);
    EXPECT_EQ(ftp.Commands()[1], "CWD P\xF8\xEDlohy");
}

TEST_F(NmftpLogin, TextWindows1250CannotHoldIsRefusedBeforeSending) {
    ftp.Reply("USER anna", "230 Ok.");
    client.Connect();
    EXPECT_THROW(client.ChangeDir("\xE6\x96\x87"), FTPException); // a CJK character
    EXPECT_THROW(client.ChangeDir("a\r\nDELE x"), FTPException);
    PumpFor(50);
    EXPECT_EQ(ftp.Commands().size(), 1u);
}

TEST_F(NmftpLogin, FakeServerReportsACommandOutsideTheScript) {
    // The fake server itself must be able to fail a test.
    ftp.Reply("USER anna", "230 Ok.").Reply("NOOP", "200 Ok.");
    client.Connect();
    client.DoCommand("TYPE A");
    EXPECT_NE(ftp.Verify(), "");
}

// ---- proxies ------------------------------------------------------------------

namespace {

class NmftpProxy : public NmftpLogin {
protected:
    void SetUp() override {
        Configure(client, 21, log);
        client.Host = "ftp.server.invalid"; // must never be looked up
        client.Proxy = "127.0.0.1";
        client.ProxyPort = ftp.Port();
    }
};

} // namespace

TEST_F(NmftpProxy, OpenStyleSendsOpenThenUserAndPassToTheProxy) {
    client.FirewallType = FtOpen;
    ftp.Reply("OPEN ftp.server.invalid", "220 Connected to ftp.server.invalid.")
        .LogIn("anna", "tajne");
    client.Connect();
    EXPECT_EQ(ftp.Verify(), "");
}

TEST_F(NmftpProxy, UserStyleSendsOneUserWithTheHost) {
    client.FirewallType = FTUser;
    ftp.LogIn("anna@ftp.server.invalid", "tajne");
    client.Connect();
    EXPECT_EQ(ftp.Verify(), "");
}

TEST_F(NmftpProxy, UserStyleRefusalIsAFailure) {
    client.FirewallType = FTUser;
    ftp.Reply("USER anna@ftp.server.invalid", "530 Unknown host.").Reply("QUIT", "221 Bye.");
    EXPECT_THROW(client.Connect(), FTPException);
    EXPECT_EQ(log.connects, 0);
    EXPECT_EQ(log.connectionFailed, 1);
}

TEST_F(NmftpProxy, SiteStyleSendsSite) {
    client.FirewallType = FtSite;
    ftp.Reply("SITE ftp.server.invalid", "220 Ok.").LogIn("anna", "tajne");
    client.Connect();
    EXPECT_EQ(ftp.Verify(), "");
}

TEST_F(NmftpProxy, UploadThroughTheProxyConnectsDataToTheProxy) {
    client.FirewallType = FtOpen;
    testsupport::TempFolder dir;
    std::string bytes = RandomBytes(200000);
    testsupport::WriteBytes(dir / "data.gpg", bytes);
    ftp.Reply("OPEN ftp.server.invalid", "220 Ok.")
        .LogIn("anna", "tajne")
        .Reply("TYPE L 8", "200 Ok.")
        .Pasv()
        .Store("STOR data.gpg");
    client.Connect();
    client.Mode(3);
    client.Upload(dir / "data.gpg", "data.gpg");
    EXPECT_EQ(ftp.Verify(), "");
    ASSERT_EQ(ftp.StoredData().size(), 1u);
    EXPECT_EQ(ftp.StoredData()[0], bytes);
}

TEST_F(NmftpLogin, Greeting120IsFollowedByTheRealGreeting) {
    ftp.Greeting("120 Ready in 1 minute.\r\n220 Ready now.")
        .Reply("USER anna", "230 Ok.")
        .Reply("PWD", "257 \"/home/anna\" is the current directory.");
    client.Connect();
    EXPECT_EQ(client.GetCurrentDir(), "/home/anna");
    EXPECT_EQ(log.successes, (std::vector<TCmdType>{cmdCurrentDir}));
    EXPECT_EQ(ftp.Verify(), "");
}

// ---- explicit TLS: settings that cannot keep everything inside TLS -----------

namespace {

struct TlsRefusal {
    const char* name;
    void (*set)(TNMFTP& client);
    std::string message;
};

void PrintTo(const TlsRefusal& row, std::ostream* os) {
    *os << row.name;
}

class NmftpTlsRefused : public NmftpLogin, public ::testing::WithParamInterface<TlsRefusal> {};

// Refused before any connection: nothing reaches the server in the clear.
TEST_P(NmftpTlsRefused, BeforeConnecting) {
    client.Ftps = true;
    client.TlsPeer = {"ftp.registr.example", std::nullopt};
    GetParam().set(client);
    try {
        client.Connect();
        ADD_FAILURE() << "no refusal";
    } catch (const ETlsError& e) {
        EXPECT_EQ(std::string(e.what()), GetParam().message);
    }
    EXPECT_FALSE(client.Connected);
    EXPECT_EQ(ftp.Connections(), 0);
}

const std::string kViaProxyOnly = "FTPS je možné jen přes proxy typu OPEN nebo SITE bez přihlášení "
                                  "k proxy: jinak by přihlašovací údaje šly bez šifrování";

INSTANTIATE_TEST_SUITE_P(
    Rows, NmftpTlsRefused,
    ::testing::Values(
        TlsRefusal{"ActiveMode", [](TNMFTP& c) { c.Passive = false; },
                   "FTPS je možné jen v pasivním režimu: datové spojení TLS v aktivním režimu se "
                   "nenavazuje"},
        TlsRefusal{"ProxyLogIn",
                   [](TNMFTP& c) {
                       c.Proxy = "127.0.0.1";
                       c.FirewallType = FtOpen;
                       c.FWAuthenticate = true;
                   },
                   kViaProxyOnly},
        TlsRefusal{"UserAtHostProxy",
                   [](TNMFTP& c) {
                       c.Proxy = "127.0.0.1";
                       c.FirewallType = FTUser;
                   },
                   kViaProxyOnly},
        TlsRefusal{"NoServerNameNoPin", [](TNMFTP& c) { c.TlsPeer = {}; },
                   "Certifikát FTP serveru nelze ověřit: chybí název serveru"}),
    [](const ::testing::TestParamInfo<TlsRefusal>& info) { return std::string(info.param.name); });

} // namespace
