// The transfer stage on the real window and the real FTP client against the
// scripted server: what goes into the client from the settings, the
// commands on the wire, the connect errors, the journal lines of the upload
// and of the size check, and the connection kept for the next run.
#include "AppFixture.h"

#include "app/ConvertError.h"
#include "app/FtpServerAddress.h"
#include "net/Nmftp.h"
#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "settings/Unitpom.h"
#include "tests/support/FakeFtpServer.h"
#include "tests/support/RealFtpServer.h"
#include "ui/Application.h"

#include <climits>
#include <random>

namespace {

using testsupport::FakeFtpServer;

std::string Bytes(std::size_t n, unsigned seed = 11) {
    return testsupport::RandomBytes(n, seed);
}

class Transfer : public AppFixture {
protected:
    Transfer() {
        WriteGoodSettings();
        WriteSettingString("General", "FTPServer", "127.0.0.1:" + std::to_string(ftp.Port()));
        form = MakeForm();
        // As a run sets them at its start.
        form->LogEnabled = true;
        form->LogPath = JournalPath();
    }

    // The usual log-in of WriteGoodSettings.
    FakeFtpServer& LogIn() {
        return ftp.LogIn("user", "heslo").Reply("TYPE L 8", "200 Type set to L 8.");
    }

    bool Connect() {
        std::string error;
        bool ok = form->ConnectFtp(error);
        connectError = error;
        return ok;
    }

    std::vector<std::string> Journal() const { return JournalUnstamped(); }

    FakeFtpServer ftp;
    std::unique_ptr<TForm1> form;
    std::string connectError;
};

TEST(FtpServerSetting, HostWithPortAndPlainHost) {
    EXPECT_EQ(SplitFtpServer("127.0.0.1:2121").Host, "127.0.0.1");
    EXPECT_EQ(SplitFtpServer("127.0.0.1:2121").Port, 2121);
    EXPECT_EQ(SplitFtpServer("ftp.registr.cz").Host, "ftp.registr.cz");
    EXPECT_EQ(SplitFtpServer("ftp.registr.cz").Port, 21);
    // Not a port: the whole text stays the host (the lookup then says why).
    for (const char* text : {"ftp.cz:", "ftp.cz:0", "ftp.cz:65536", "ftp.cz:21a", ":21", "a:1:2"}) {
        EXPECT_EQ(SplitFtpServer(text).Host, text) << text;
        EXPECT_EQ(SplitFtpServer(text).Port, 21) << text;
    }
    EXPECT_EQ(SplitFtpServer("ftp.cz:65535").Port, 65535);
}

TEST(ProxyPortText, ConvertsDecimalOrRaisesTheConversionError) {
    EXPECT_EQ(StrToInt("2121"), 2121);
    EXPECT_EQ(StrToInt("-5"), -5);
    EXPECT_EQ(StrToInt("2147483647"), 2147483647);
    for (const char* text : {"", "21x", "abc", " 21", "2147483648", "+", "0x15"}) {
        try {
            StrToInt(text);
            ADD_FAILURE() << "no error for '" << text << "'";
        } catch (const EConvertError& e) {
            EXPECT_EQ(std::string(e.what()),
                      "'" + std::string(text) + "' is not a valid integer value");
        }
    }
}

TEST_F(Transfer, ConnectsToThePortInTheSettingWithTheDecodedPassword) {
    WriteSettingString("General", "Heslo", EncodePassword("tajné heslo"));
    ftp.Reply("USER user", "331 Password required.")
        .Reply(*platform::Utf8ToCp1250("PASS tajné heslo"), "230 Logged in.")
        .Reply("TYPE L 8", "200 Type set.");
    ASSERT_TRUE(Connect()) << connectError;
    EXPECT_EQ(connectError, "");
    EXPECT_EQ(ftp.Verify(), "");
    EXPECT_TRUE(form->NMFTP->Connected);
    EXPECT_TRUE(form->NMFTP->Passive);
    EXPECT_FALSE(form->NMFTP->FWAuthenticate);
    EXPECT_EQ(form->NMFTP->Host, "127.0.0.1");
    EXPECT_EQ(form->NMFTP->Port, ftp.Port());
    EXPECT_EQ(form->NMFTP->Password, "tajné heslo");
}

// TimeOut in whole seconds becomes the client's time-out in milliseconds;
// missing, negative or unreadable means the default of 120 s, only 0 means
// no time-out, and a value too large for milliseconds stays the largest the
// client holds.
TEST_F(Transfer, TimeOutSettingGoesToTheClient) {
    LogIn();
    const std::vector<std::pair<const char*, int>> rows = {{nullptr, 120000},
                                                           {"0", 0},
                                                           {"-5", 120000},
                                                           {"abc", 120000},
                                                           {"2", 2000},
                                                           {"120", 120000},
                                                           {"2147483", 2147483000},
                                                           {"2147484", INT_MAX},
                                                           {"2147483647", INT_MAX}};
    for (const auto& [text, ms] : rows) {
        if (text) {
            WriteSettingString("General", "TimeOut", text);
            ftp.Reply("TYPE L 8", "200 Type set to L 8."); // the connection stays open
        }
        form->NMFTP->TimeOut = -1;
        EXPECT_TRUE(Connect()) << connectError;
        EXPECT_EQ(form->NMFTP->TimeOut, ms) << (text ? text : "(missing)");
    }
    EXPECT_EQ(ftp.Verify(), "");
}

TEST_F(Transfer, PlainHostGoesToPort21) {
    WriteSettingString("General", "FTPServer", "127.0.0.1:" + std::to_string(ftp.Port()));
    LogIn().Reply("QUIT", "221 Bye.");
    ASSERT_TRUE(Connect());
    form->NMFTP->Disconnect();
    // Port 21 on this machine: whatever answers there, the client must go there.
    WriteSettingString("General", "FTPServer", "127.0.0.1");
    WriteSettingString("General", "Login", "");
    Connect();
    EXPECT_EQ(form->NMFTP->Host, "127.0.0.1");
    EXPECT_EQ(form->NMFTP->Port, 21);
}

TEST_F(Transfer, WrongPasswordGivesTheServerReplyAsConnectError) {
    ftp.Reply("USER user", "331 Password required.")
        .Reply("PASS heslo", "530 Login incorrect.")
        .Reply("QUIT", "221 Bye.");
    EXPECT_FALSE(Connect());
    EXPECT_EQ(connectError, "530 Login incorrect.\r\n");
    EXPECT_FALSE(form->NMFTP->Connected);
    EXPECT_EQ(ftp.Verify(), "");
    EXPECT_TRUE(JournalBytes().empty()) << "the stage journals nothing of its own";
}

TEST_F(Transfer, ServerNotRunningGivesConnectionFailed) {
    WriteSettingString("General", "FTPServer",
                       "127.0.0.1:" + std::to_string(testsupport::FreeLoopbackPort()));
    EXPECT_FALSE(Connect());
    EXPECT_EQ(connectError, "Connection Failed");
    EXPECT_FALSE(form->NMFTP->Connected);
}

TEST_F(Transfer, RefusedTypeL8KeepsTheLoggedInConnection) {
    ftp.LogIn("user", "heslo").Reply("TYPE L 8", "504 Type not implemented.");
    EXPECT_FALSE(Connect());
    EXPECT_EQ(connectError, "504 Type not implemented.\r\n");
    EXPECT_TRUE(form->NMFTP->Connected);
    EXPECT_EQ(ftp.Verify(), "");
}

TEST_F(Transfer, OpenProxyGetsOpenHostThenUserAndPassWithoutTheProxyLogIn) {
    WriteSettingString("General", "FTPServer", "ftp.registr.example");
    WriteSettingString("General", "Proxy", "1");
    WriteSettingString("General", "ProxyAdresa", "127.0.0.1");
    WriteSettingString("General", "ProxyPort", std::to_string(ftp.Port()));
    WriteSettingString("General", "ProxyLogin", "proxyanna");
    WriteSettingString("General", "ProxyHeslo", EncodePassword("proxyheslo"));
    ftp.Reply("OPEN ftp.registr.example", "220 Connected to ftp.registr.example.")
        .LogIn("user", "heslo")
        .Reply("TYPE L 8", "200 Type set.");
    ASSERT_TRUE(Connect()) << connectError;
    EXPECT_EQ(ftp.Verify(), "");
    EXPECT_EQ(ftp.Commands(), (std::vector<std::string>{"OPEN ftp.registr.example", "USER user",
                                                        "PASS heslo", "TYPE L 8"}));
    EXPECT_EQ(form->NMFTP->Proxy, "127.0.0.1");
    EXPECT_EQ(form->NMFTP->ProxyPort, ftp.Port());
    EXPECT_EQ(form->NMFTP->FWUserID, "proxyanna");
    EXPECT_EQ(form->NMFTP->FWPassword, "proxyheslo");
    EXPECT_FALSE(form->NMFTP->FWAuthenticate);
}

TEST_F(Transfer, NonNumericProxyPortRaisesBeforeAnyConnection) {
    WriteSettingString("General", "Proxy", "1");
    WriteSettingString("General", "ProxyAdresa", "127.0.0.1");
    WriteSettingString("General", "ProxyPort", "21x");
    try {
        Connect();
        ADD_FAILURE() << "no conversion error";
    } catch (const EConvertError& e) {
        EXPECT_EQ(std::string(e.what()), "'21x' is not a valid integer value");
    }
    platform::SleepMs(100);
    EXPECT_EQ(ftp.Connections(), 0);
}

TEST_F(Transfer, ProxyPortOutOfRangeFailsTheConnection) {
    WriteSettingString("General", "Proxy", "1");
    WriteSettingString("General", "ProxyAdresa", "127.0.0.1");
    WriteSettingString("General", "ProxyPort", "70000");
    EXPECT_FALSE(Connect());
    EXPECT_EQ(connectError, "Neplatné číslo portu proxy serveru: 70000");
    EXPECT_EQ(ftp.Connections(), 0);
}

TEST_F(Transfer, ProxySwitchedOffIsNotUsedAgain) {
    FakeFtpServer proxy;
    WriteSettingString("General", "Proxy", "1");
    WriteSettingString("General", "ProxyAdresa", "127.0.0.1");
    WriteSettingString("General", "ProxyPort", std::to_string(proxy.Port()));
    proxy.Reply("OPEN *", "530 No.").Reply("USER user", "530 No.").Reply("QUIT", "221 Bye.");
    EXPECT_FALSE(Connect());
    WriteSettingString("General", "Proxy", "0");
    LogIn();
    ASSERT_TRUE(Connect()) << connectError;
    EXPECT_EQ(ftp.Verify(), "");
    EXPECT_EQ(proxy.Connections(), 1);
    EXPECT_EQ(form->NMFTP->Proxy, "");
}

TEST_F(Transfer, UploadWithoutConnectionJournalsAndFails) {
    std::string remote;
    EXPECT_FALSE(form->UploadFile(DataFile("20260305.zip.gpg", "x"), remote));
    EXPECT_EQ(remote, "");
    EXPECT_EQ(Journal(), (std::vector<std::string>{"Upload se nezdařil."}));
}

// Lets the window's events (and with them the socket notifications) run for
// about ms milliseconds.
void LetEventsRun(int ms) {
    for (int waited = 0; waited < ms; waited += 10) {
        ui::ProcessMessages();
        platform::SleepMs(10);
    }
}

TEST_F(Transfer, ConnectionClosedByTheServerBeforeTheUploadIsNoticed) {
    LogIn().Close();
    ASSERT_TRUE(Connect());
    LetEventsRun(300);
    std::string remote;
    EXPECT_FALSE(form->UploadFile(DataFile("20260305.zip.gpg", "x"), remote));
    EXPECT_EQ(Journal(), (std::vector<std::string>{"Upload se nezdařil."}));
}

TEST_F(Transfer, NextRunLogsInAgainAfterTheServerClosedTheConnection) {
    LogIn().Close();
    ASSERT_TRUE(Connect());
    LetEventsRun(300);
    LogIn();
    ASSERT_TRUE(Connect()) << connectError;
    EXPECT_EQ(ftp.Verify(), "");
    EXPECT_EQ(ftp.Connections(), 2);
}

TEST_F(Transfer, IdleConnectionEndedByTheServerWithANoticeIsNotReused) {
    // vsftpd and others say "421 Timeout." on an idle connection and close it;
    // the notice waits unread, so the socket still looks connected.
    ftp.LogIn("user", "heslo").Reply("TYPE L 8", "200 Type set to L 8.\r\n421 Timeout.").Close();
    ASSERT_TRUE(Connect()) << connectError;
    LetEventsRun(300);
    LogIn();
    EXPECT_TRUE(Connect()) << connectError;
    EXPECT_EQ(ftp.Verify(), "");
    EXPECT_EQ(ftp.Connections(), 2);
}

TEST_F(Transfer, UploadStoresUnderTheFileNameAndChecksBothSizes) {
    const std::string content = Bytes(5000);
    const std::string local = DataFile("20260305.zip.gpg", content);
    LogIn().Pasv().Store("STOR 20260305.zip.gpg").Reply("SIZE 20260305.zip.gpg", "213 5000");
    ASSERT_TRUE(Connect()) << connectError;
    std::string remote;
    ASSERT_TRUE(form->UploadFile(local, remote));
    EXPECT_EQ(remote, "20260305.zip.gpg");
    EXPECT_TRUE(form->CheckUpload(remote, 5000));
    EXPECT_EQ(ftp.Verify(), "");
    ASSERT_EQ(ftp.StoredData().size(), 1u);
    EXPECT_EQ(ftp.StoredData()[0], content);
    EXPECT_EQ(Journal(), (std::vector<std::string>{
                             "Upload ",
                             "Očekávaná velikost 5000 bytů; odesláno celkově 5000 bytů",
                             "Velikost souboru na serveru 5000 bytů",
                         }));
}

TEST_F(Transfer, RefusedStoreJournalsTheUploadError) {
    const std::string local = DataFile("20260305.zip.gpg", "abc");
    LogIn().Pasv().Reply("STOR 20260305.zip.gpg", "553 Not allowed.");
    ASSERT_TRUE(Connect());
    std::string remote;
    EXPECT_FALSE(form->UploadFile(local, remote));
    EXPECT_EQ(Journal(), (std::vector<std::string>{"Upload ", "Chyba při uploadu."}));
    EXPECT_TRUE(form->NMFTP->Connected) << "the control connection stays for the next run";
}

class SizeCheck : public Transfer {
protected:
    // Uploads 5000 bytes; then the server's script for the size check.
    void Upload(void (*script)(FakeFtpServer& ftp)) {
        local = DataFile("20260305.zip.gpg", Bytes(5000));
        LogIn().Pasv().Store("STOR 20260305.zip.gpg");
        if (script)
            script(ftp);
        ASSERT_TRUE(Connect());
        ASSERT_TRUE(form->UploadFile(local, remote));
    }
    std::string local;
    std::string remote;
};

const char* const kSize = "SIZE 20260305.zip.gpg";
const char* const kMlst = "MLST 20260305.zip.gpg";
const std::string kFeatMlst =
    testsupport::Lines({"211-Features:", " MLST size*;type*;", "211 End"});
const char* const kUnproven = "Velikost souboru na serveru nelze ověřit: ";

// What the server says to SIZE (and, where SIZE cannot tell, to FEAT and
// MLST) after a good upload: the check's result and its last journal line.
struct SizeCase {
    const char* name;
    void (*script)(FakeFtpServer& ftp);
    bool proven;
    std::string journal;
};

void PrintTo(const SizeCase& c, std::ostream* os) {
    *os << c.name;
}

class SizeAnswer : public SizeCheck, public testing::WithParamInterface<SizeCase> {};

TEST_P(SizeAnswer, DecidesTheCheck) {
    WriteSettingInteger("TimeOut", 1);
    Upload(GetParam().script);
    EXPECT_EQ(form->CheckUpload(remote, 5000), GetParam().proven);
    EXPECT_EQ(Journal().back(), GetParam().journal);
    EXPECT_EQ(ftp.Verify(), "");
}

const std::string kSent = "Očekávaná velikost 5000 bytů; odesláno celkově 5000 bytů";

INSTANTIATE_TEST_SUITE_P(
    Rows, SizeAnswer,
    testing::Values(
        SizeCase{"ServerSizeDiffers", [](FakeFtpServer& f) { f.Reply(kSize, "213 4999"); }, false,
                 "Velikost souboru na serveru 4999 bytů"},
        SizeCase{"NeitherSizeNorMlst",
                 [](FakeFtpServer& f) {
                     f.Reply(kSize, "502 Command not implemented.").Reply("FEAT", "500 What?");
                 },
                 true, kSent},
        SizeCase{"FileAlreadyTakenAway",
                 [](FakeFtpServer& f) {
                     f.Reply(kSize, "550 No such file.")
                         .Reply("FEAT", testsupport::Lines({"211-Features:", " SIZE", "211 End"}));
                 },
                 true, kSent},
        SizeCase{"Size150", [](FakeFtpServer& f) { f.Reply(kSize, "150 Later."); }, false,
                 std::string(kUnproven) + "150 Later."},
        SizeCase{"Size350", [](FakeFtpServer& f) { f.Reply(kSize, "350 Go on."); }, false,
                 std::string(kUnproven) + "350 Go on."},
        SizeCase{"SizeNeverAnswered", [](FakeFtpServer& f) { f.Reply(kSize, ""); }, false,
                 std::string(kUnproven) + "Timed out waiting for the server's reply"},
        SizeCase{"MlstDiffers",
                 [](FakeFtpServer& f) {
                     f.Reply(kSize, "502 No.")
                         .Reply("FEAT", kFeatMlst)
                         .Reply(kMlst, testsupport::Lines(
                                           {"250-Listing", " size=4096;type=file; x", "250 End."}));
                 },
                 false, "Velikost souboru na serveru 4096 bytů"}),
    [](const testing::TestParamInfo<SizeCase>& info) { return std::string(info.param.name); });

TEST_F(SizeCheck, SentBytesDifferingFromTheExpectedSizeFailWithoutAskingTheServer) {
    Upload(nullptr);
    // The file changed after the encryption measured it: 5001 expected.
    EXPECT_FALSE(form->CheckUpload(remote, 5001));
    EXPECT_EQ(Journal().back(), "Očekávaná velikost 5001 bytů; odesláno celkově 5000 bytů");
    EXPECT_EQ(ftp.Verify(), "");
    EXPECT_EQ(ftp.Commands().back(), "STOR 20260305.zip.gpg");
}

TEST_F(SizeCheck, RecordedSizeIsWhatWasSentNotTheLocalFileNow) {
    Upload([](FakeFtpServer& f) { f.Reply(kSize, "213 5000"); });
    // The local file grows after the upload: what went out still counts.
    testsupport::WriteBytes(local, Bytes(6000));
    EXPECT_TRUE(form->CheckUpload(remote, 5000));
}

TEST_F(Transfer, SecondRunReusesTheConnectionAndSendsTypeAgain) {
    const std::string local = DataFile("20260305.zip.gpg", Bytes(3000));
    LogIn()
        .Pasv()
        .Reply("STOR 20260305.zip.gpg", "452 Insufficient storage.")
        .Reply("TYPE L 8", "200 Type set.")
        .Pasv()
        .Store("STOR 20260305.zip.gpg")
        .Reply("SIZE 20260305.zip.gpg", "213 3000");
    std::string remote;
    ASSERT_TRUE(Connect());
    EXPECT_FALSE(form->UploadFile(local, remote));
    // The operator changes the password and turns a proxy on meanwhile: no
    // new log-in happens, and the data still go to the connected server.
    WriteSettingString("General", "Heslo", EncodePassword("jine"));
    WriteSettingString("General", "Proxy", "1");
    WriteSettingString("General", "ProxyAdresa", "127.0.0.2");
    WriteSettingString("General", "ProxyPort", "2121");
    ASSERT_TRUE(Connect()) << connectError;
    ASSERT_TRUE(form->UploadFile(local, remote));
    EXPECT_TRUE(form->CheckUpload(remote, 3000));
    EXPECT_EQ(ftp.Verify(), "");
    EXPECT_EQ(ftp.Connections(), 1);
    EXPECT_EQ(ftp.Commands(),
              (std::vector<std::string>{"USER user", "PASS heslo", "TYPE L 8", "PASV",
                                        "STOR 20260305.zip.gpg", "TYPE L 8", "PASV",
                                        "STOR 20260305.zip.gpg", "SIZE 20260305.zip.gpg"}));
}

// A connection kept from an earlier run is used only when it is protected as
// FTPS now asks: a plain one never carries a run with FTPS=1, and the pin's
// form does not matter, only its fingerprint.
struct KeptCase {
    const char* name;
    bool firstTls;  // the first run's connection
    bool secondTls; // FTPS of the second run
    bool reused;    // the second run goes on over the first connection
};

void PrintTo(const KeptCase& c, std::ostream* os) {
    *os << c.name;
}

class KeptConnection : public Transfer, public testing::WithParamInterface<KeptCase> {
protected:
    // The log-in of a fresh connection, with or without TLS.
    void FreshLogIn(bool tls) {
        if (tls)
            ftp.AuthTls()
                .LogIn("user", "heslo")
                .Reply("PBSZ 0", "200 PBSZ=0")
                .Reply("PROT P", "200 Protection set to Private");
        else
            ftp.LogIn("user", "heslo");
        ftp.Reply("TYPE L 8", "200 Type set.");
    }
    void UseFtps(bool on, const std::string& pin) {
        WriteSettingString("General", "FTPS", on ? "1" : "0");
        WriteSettingString("General", "FTPSCertificate", pin);
    }
};

TEST_P(KeptConnection, OnlyWhenProtectedAsConfigured) {
    const KeptCase& row = GetParam();
    FreshLogIn(row.firstTls);
    UseFtps(row.firstTls, ftp.CertificateFingerprint());
    ASSERT_TRUE(Connect()) << connectError;
    LetEventsRun(100);
    if (row.reused)
        ftp.Reply("TYPE L 8", "200 Type set.");
    else
        FreshLogIn(row.secondTls);
    std::string pin = ftp.CertificateFingerprint(); // the same, written otherwise
    std::erase(pin, ':');
    for (char& c : pin)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    UseFtps(row.secondTls, pin);
    ASSERT_TRUE(Connect()) << connectError;
    EXPECT_EQ(ftp.Verify(), "");
    EXPECT_EQ(ftp.Connections(), row.reused ? 1 : 2);
    EXPECT_EQ(form->NMFTP->Secure(), row.secondTls);
}

INSTANTIATE_TEST_SUITE_P(Rows, KeptConnection,
                         testing::Values(KeptCase{"PlainThenFtps", false, true, false},
                                         KeptCase{"FtpsThenFtps", true, true, true},
                                         KeptCase{"FtpsThenPlain", true, false, false},
                                         KeptCase{"PlainThenPlain", false, false, true}),
                         [](const testing::TestParamInfo<KeptCase>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
