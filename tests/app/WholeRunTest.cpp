// Whole send runs on the real window with every real stage: the real ZIP
// writer, real GnuPG with a throwaway key, and real FTP servers (pyftpdlib,
// vsftpd) or the scripted one for faults real servers do not make on demand.
// Each run checks what arrived (decrypted, unzip -t, the data files
// byte-identical), the journal line by line, what became of the data files,
// and that the program asked to end.
#include "WholeRunFixture.h"

#include "net/Nmftp.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "settings/Unitpom.h"
#include "tests/support/FakeFtpServer.h"
#include "tests/support/RealFtpServer.h"
#include "tests/support/Required.h"
#include "tests/support/ScopedEnv.h"
#include "ui/Application.h"

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using testsupport::FakeFtpServer;
using testsupport::RealFtpKind;
using testsupport::RealFtpServer;
using testsupport::ScopedEnv;
using testsupport::ShellQuote;

class WholeRun : public WholeRunFixture {
protected:
    WholeRun() {
        ::mkdir((tmp / "out").c_str(), 0755);
        PutDataFiles({
            {tmp / "data/pacienti_září.csv",
             "id;jméno;diagnóza\r\n1;Jiří Novák;C50\r\n2;Věra Dvořáková;C18\r\n"},
            {tmp / "data/léčba.csv", "léčba;dávka\r\nchemoterapie;3\r\n"},
            {tmp / "data/výsledky 2026.bin", testsupport::RandomBytes(200000, 5)},
        });
        WriteSettingString("General", "FilesMoveToDir", tmp / "out/");
    }
};

// ---- whole runs against real servers -------------------------------------

struct RealCase {
    RealFtpKind kind;
    int filesMoveTo;
};

void PrintTo(const RealCase& c, std::ostream* os) {
    *os << (c.kind == RealFtpKind::Pyftpdlib ? "pyftpdlib" : "vsftpd") << ", FilesMoveTo "
        << c.filesMoveTo;
}

class RealServerRun : public WholeRun, public testing::WithParamInterface<RealCase> {};

TEST_P(RealServerRun, SendsTheDataAndHandlesTheDataFiles) {
    std::string why;
    auto server = RealFtpServer::Start(GetParam().kind, &why);
    if (!server)
        MISSING_PART(why);
    UseServer("127.0.0.1", server->Port(), server->User(), server->Password());
    const int mode = GetParam().filesMoveTo;
    WriteSettingInteger("FilesMoveTo", mode);

    RunAuto();

    ExpectEndRequestedWithoutBoxes();
    const std::string onServer = server->Root() + "/" + kEncryptedName;
    ASSERT_TRUE(platform::FileExists(onServer)) << server->Log();
    ExpectIsTheEncryptedFile(onServer);
    ExpectArrived(onServer);

    const std::string e = std::to_string(EncryptedSize());
    std::vector<std::string> expected = Sent();
    expected.push_back("Velikost souboru na serveru " + e + " bytů");
    expected.push_back("Data odeslána v pořádku...");
    if (mode == 1)
        expected =
            Plus(expected, {"Probíhá mazání souborů - 3 souborů", "Datové soubory smazány. "});
    if (mode == 2)
        expected = Plus(expected,
                        {"Probíhá přesun souborů - 3 souborů", "Datové soubory byly přesunuty. "});
    expected.push_back(std::string(kSuccess) + "\t\t");
    EXPECT_EQ(Journal(), expected);

    for (const auto& [path, content] : files) {
        const std::string moved = tmp / ("out/20260305/" + platform::ExtractFileName(path));
        if (mode == 0)
            EXPECT_TRUE(testsupport::ReadBytes(path) == content) << path;
        else
            EXPECT_FALSE(platform::FileExists(path)) << path;
        if (mode == 2)
            EXPECT_TRUE(platform::FileExists(moved) && testsupport::ReadBytes(moved) == content)
                << moved;
        else
            EXPECT_FALSE(platform::FileExists(moved)) << moved;
    }
    // The list stays as it was, naming files that are now gone or moved.
    EXPECT_EQ(ReadSettingInteger("PocetSouboru", 0), 3);
}

INSTANTIATE_TEST_SUITE_P(
    Servers, RealServerRun,
    testing::Values(RealCase{RealFtpKind::Pyftpdlib, 0}, RealCase{RealFtpKind::Pyftpdlib, 1},
                    RealCase{RealFtpKind::Pyftpdlib, 2}, RealCase{RealFtpKind::Vsftpd, 0},
                    RealCase{RealFtpKind::Vsftpd, 1}, RealCase{RealFtpKind::Vsftpd, 2}),
    [](const testing::TestParamInfo<RealCase>& info) {
        return std::string(info.param.kind == RealFtpKind::Pyftpdlib ? "Pyftpdlib" : "Vsftpd") +
               "_FilesMoveTo" + std::to_string(info.param.filesMoveTo);
    });

// ---- failures: every data file stays in place ----------------------------

class FailedRun : public WholeRun {
protected:
    FailedRun() { WriteSettingInteger("FilesMoveTo", 1); }
    FakeFtpServer ftp;
};

TEST_F(FailedRun, WrongPassword) {
    UseFake(ftp);
    ftp.Reply("USER user", "331 Password required.")
        .Reply("PASS heslo", "530 Login incorrect.")
        .Reply("QUIT", "221 Goodbye.");
    RunAuto();
    // The reply line keeps its line end, as the client read it.
    ExpectFailed(ConnectFailed("530 Login incorrect.", true));
    EXPECT_EQ(ftp.Verify(), "");
}

TEST_F(FailedRun, ServerNotRunning) {
    UseServer("127.0.0.1", testsupport::FreeLoopbackPort(), "user", "heslo");
    RunAuto();
    ExpectFailed(ConnectFailed("Connection Failed", false));
}

TEST_F(FailedRun, TypeL8Refused) {
    UseFake(ftp);
    ftp.LogIn("user", "heslo").Reply("TYPE L 8", "504 Command not implemented for that parameter.");
    RunAuto();
    ExpectFailed(ConnectFailed("504 Command not implemented for that parameter.", true));
    EXPECT_EQ(ftp.Verify(), "");
}

TEST_F(FailedRun, StoreRefused) {
    UseFake(ftp);
    LogIn(ftp).Pasv().Reply(std::string("STOR ") + kEncryptedName, "553 Could not create file.");
    RunAuto();
    ExpectFailed(UploadFailed());
    EXPECT_EQ(ftp.Verify(), "");
}

TEST_F(FailedRun, ErrorAfterTheData) {
    UseFake(ftp);
    testsupport::StoreOptions store;
    store.final = "451 Local error in processing.";
    LogIn(ftp).Pasv().Store(std::string("STOR ") + kEncryptedName, store);
    RunAuto();
    ExpectFailed(UploadFailed());
    EXPECT_EQ(ftp.Verify(), "");
}

TEST_F(FailedRun, DataConnectionDroppedMidFile) {
    UseFake(ftp);
    testsupport::StoreOptions store;
    store.dropAfter = 4096;
    store.final = "426 Connection closed; transfer aborted.";
    LogIn(ftp).Pasv().Store(std::string("STOR ") + kEncryptedName, store);
    RunAuto();
    ExpectFailed(UploadFailed());
}

TEST_F(FailedRun, ServerReportsADifferentSize) {
    UseFake(ftp);
    LogIn(ftp)
        .Pasv()
        .Store(std::string("STOR ") + kEncryptedName)
        .Reply(std::string("SIZE ") + kEncryptedName, "213 12");
    RunAuto();
    ExpectFailed(
        Plus(Sent(), {"Velikost souboru na serveru 12 bytů", "Transfer souboru se nezdařil."}));
    EXPECT_EQ(ftp.Verify(), "");
    ASSERT_EQ(ftp.StoredData().size(), 1u);
    EXPECT_TRUE(ftp.StoredData()[0] == testsupport::ReadBytes(Encrypted()));
}

// A data file the program cannot read: the others are sent and deleted, that
// one stays. Run as the real program in its own process (as cron runs it),
// as an unprivileged user, since root reads any file.
TEST_F(WholeRun, UnreadableDataFileIsNotDeleted) {
    std::string why;
    auto server = RealFtpServer::Start(RealFtpKind::Pyftpdlib, &why);
    if (!server)
        MISSING_PART(why);
    const std::string app = tmp / "app";
    ::mkdir(app.c_str(), 0755);
    gpg.SetUpApplicationFolder(app);
    std::filesystem::copy_file(RODERUV_PROGRAM, app + "/roderuv");
    // The settings live beside the program.
    platform::SetApplicationDirOverride(app);
    WriteGoodSettings();
    UseServer("127.0.0.1", server->Port(), server->User(), server->Password());
    WriteSettingInteger("FilesMoveTo", 1);
    SaveDataFileList();
    platform::SetApplicationDirOverride(tmp.Path());
    ::chmod(files[1].first.c_str(), 0);

    std::string asUser;
    if (::geteuid() == 0) {
        ASSERT_EQ(testsupport::RunShell("chown -R 65534:65534 " + ShellQuote(tmp.Path()) +
                                        " && chmod 755 " + ShellQuote(tmp.Path())),
                  0);
        asUser = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    }
    std::string out;
    const int status = testsupport::RunShell(
        asUser + "env -u DISPLAY -u WAYLAND_DISPLAY HOME=" + ShellQuote(tmp.Path()) +
            " TMPDIR=" + ShellQuote(tmp / "temp") + " timeout 120 " + ShellQuote(app + "/roderuv") +
            " /auto 2>&1",
        &out);
    EXPECT_EQ(status, 0) << out;

    // The program runs on the real clock: the file bears today's date.
    std::string onServer;
    for (const auto& entry : std::filesystem::directory_iterator(server->Root()))
        onServer = entry.path().string();
    ASSERT_EQ(platform::ExtractFileName(onServer).size(), std::string(kEncryptedName).size())
        << out << server->Log();
    ExpectArrived(onServer, {0, 2});
    EXPECT_FALSE(platform::FileExists(files[0].first));
    EXPECT_TRUE(platform::FileExists(files[1].first)) << "the unreadable file was not sent";
    EXPECT_FALSE(platform::FileExists(files[2].first));
    // Real time stamps ("8.12.2026 14:38:0 "): drop everything up to the second blank.
    std::vector<std::string> journal;
    for (const std::string& line : JournalLines())
        journal.push_back(line.substr(line.find(' ', line.find(' ') + 1) + 1));
    const std::vector<std::string> tail{
        "Data odeslána v pořádku...", "Probíhá mazání souborů - 3 souborů",
        "Datové soubory se nepodařilo smazány. ", std::string(kSuccess) + "\t\t"};
    ExpectEndsWith(journal, tail);
}

// ---- proxy ----------------------------------------------------------------

TEST_F(WholeRun, ThroughAnOpenProxy) {
    FakeFtpServer proxy;
    WriteSettingString("General", "FTPServer", "ftp.registr.example");
    UseOpenProxy("127.0.0.1", std::to_string(proxy.Port()));
    WriteSettingString("General", "ProxyLogin", "proxyanna");
    WriteSettingString("General", "ProxyHeslo", EncodePassword("proxyheslo"));
    proxy.Reply("OPEN ftp.registr.example", "220 Connected.")
        .LogIn("user", "heslo")
        .Reply("TYPE L 8", "200 Type set.")
        .Pasv()
        .Store(std::string("STOR ") + kEncryptedName)
        .Reply(std::string("SIZE ") + kEncryptedName, "502 Command not implemented.")
        .Reply("FEAT", "502 Command not implemented.");
    RunAuto();
    ExpectEndRequestedWithoutBoxes();
    EXPECT_EQ(proxy.Verify(), "");
    EXPECT_EQ(proxy.Commands(),
              (std::vector<std::string>{"OPEN ftp.registr.example", "USER user", "PASS heslo",
                                        "TYPE L 8", "PASV", std::string("STOR ") + kEncryptedName,
                                        std::string("SIZE ") + kEncryptedName, "FEAT"}));
    ASSERT_EQ(proxy.StoredData().size(), 1u);
    testsupport::WriteBytes(tmp / "stored.gpg", proxy.StoredData()[0]);
    ExpectArrived(tmp / "stored.gpg");
    EXPECT_EQ(Journal().back(), std::string(kSuccess) + "\t\t");
}

TEST_F(WholeRun, NonNumericProxyPortEndsTheRunWithTheConversionError) {
    FakeFtpServer ftp;
    UseFake(ftp);
    UseOpenProxy("127.0.0.1", "21x");
    WriteSettingInteger("FilesMoveTo", 1);
    ScopedEnv tmpdir("TMPDIR", tmp / "temp");
    auto form = MakeForm();
    form->FormActivate(nullptr);
    ui::testing::Press(*form->ButtonStart);
    EXPECT_EQ(prompts.Texts(ui::PromptKind::Error),
              (std::vector<std::string>{"'21x' is not a valid integer value"}));
    EXPECT_TRUE(prompts.Messages().empty());
    // The final step ran: the window's caption and the start button are back.
    EXPECT_EQ(form->Caption(), kMainCaption);
    EXPECT_TRUE(form->ButtonStart->Enabled());
    EXPECT_EQ(ui::TerminateCount(), 0);
    EXPECT_EQ(Journal(), UpToConnect());
    EXPECT_EQ(ftp.Connections(), 0);
    ExpectAllInPlace();
}

// ---- a second interactive run --------------------------------------------

TEST_F(WholeRun, SecondInteractiveRunAfterAFailedUploadReusesTheConnection) {
    FakeFtpServer ftp;
    UseFake(ftp);
    WriteSettingInteger("FilesMoveTo", 1);
    LogIn(ftp).Pasv().Reply(std::string("STOR ") + kEncryptedName, "452 Insufficient storage.");
    ScopedEnv tmpdir("TMPDIR", tmp / "temp");
    auto form = MakeForm();
    form->FormActivate(nullptr);

    ui::testing::Press(*form->ButtonStart);
    EXPECT_EQ(prompts.Messages(), (std::vector<std::string>{"Soubor neodeslán."}));
    EXPECT_EQ(ui::TerminateCount(), 0);
    EXPECT_TRUE(form->ButtonStart->Enabled());
    ExpectAllInPlace();
    ASSERT_TRUE(form->NMFTP->Connected);

    // Same data, same date: the next encrypted file has the same size.
    const int64_t size = EncryptedSize();
    ftp.Reply("TYPE L 8", "200 Type set.")
        .Pasv()
        .Store(std::string("STOR ") + kEncryptedName)
        .Reply(std::string("SIZE ") + kEncryptedName, "213 " + std::to_string(size));
    prompts.Clear();
    ui::testing::Press(*form->ButtonStart);
    EXPECT_EQ(prompts.Messages(), (std::vector<std::string>{kSuccess}));
    EXPECT_EQ(ui::TerminateCount(), 1);
    EXPECT_EQ(ftp.Verify(), "");
    EXPECT_EQ(ftp.Connections(), 1) << "no new log-in";
    const std::string stor = std::string("STOR ") + kEncryptedName;
    EXPECT_EQ(ftp.Commands(), (std::vector<std::string>{"USER user", "PASS heslo", "TYPE L 8",
                                                        "PASV", stor, "TYPE L 8", "PASV", stor,
                                                        std::string("SIZE ") + kEncryptedName}));
    ASSERT_EQ(ftp.StoredData().size(), 1u);
    EXPECT_TRUE(ftp.StoredData()[0] == testsupport::ReadBytes(Encrypted()));
    for (const auto& [path, content] : files)
        EXPECT_FALSE(platform::FileExists(path)) << path;
    EXPECT_EQ(Journal().back(), std::string(kSuccess) + "\t\t");
}

} // namespace
