// Whole send runs on the real window with every real stage: the real ZIP
// writer, real GnuPG with a throwaway key, and real FTP servers (pyftpdlib,
// vsftpd) or the scripted one for faults real servers do not make on demand.
// Each run checks what arrived (decrypted, unzip -t, the data files
// byte-identical), the journal line by line, what became of the data files,
// and that the program asked to end.
#include "AppFixture.h"

#include "net/Nmftp.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "settings/Unitpom.h"
#include "tests/support/FakeFtpServer.h"
#include "tests/support/GpgHome.h"
#include "tests/support/RealFtpServer.h"
#include "tests/support/ScopedEnv.h"
#include "ui/Application.h"

#include <cstdlib>
#include <filesystem>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using testsupport::FakeFtpServer;
using testsupport::RealFtpKind;
using testsupport::RealFtpServer;
using testsupport::ShellQuote;

const std::string kDashes(53, '-');
const char* const kEncryptedName = "20260305.zip.gpg";
const char* const kSuccess =
    "Odeslání dat na FTP server proběhlo v pořádku. Program bude ukončen. ";

std::string Random(std::size_t n, unsigned seed) {
    return testsupport::RandomBytes(n, seed);
}

using testsupport::ScopedEnv;

class WholeRun : public AppFixture {
protected:
    WholeRun() {
        for (const char* dir : {"data", "temp", "out", "received"})
            ::mkdir((tmp / dir).c_str(), 0755);
        gpg.SetUpApplicationFolder(tmp.Path());
        files = {
            {tmp / "data/pacienti_září.csv",
             "id;jméno;diagnóza\r\n1;Jiří Novák;C50\r\n2;Věra Dvořáková;C18\r\n"},
            {tmp / "data/léčba.csv", "léčba;dávka\r\nchemoterapie;3\r\n"},
            {tmp / "data/výsledky 2026.bin", Random(200000, 5)},
        };
        for (const auto& [path, content] : files)
            testsupport::WriteBytes(path, content);
        WriteGoodSettings();
        WriteSettingString("General", "FilesMoveToDir", tmp / "out/");
        WriteSettingInteger("PocetSouboru", static_cast<int>(files.size()));
        for (std::size_t i = 0; i < files.size(); ++i)
            WriteSettingString("Files", "File" + std::to_string(i), files[i].first);
    }

    void UseServer(const std::string& host, int port, const std::string& user,
                   const std::string& password) {
        WriteSettingString("General", "FTPServer", host + ":" + std::to_string(port));
        WriteSettingString("General", "Login", user);
        WriteSettingString("General", "Heslo", EncodePassword(password));
    }
    void UseFake(const FakeFtpServer& ftp) { UseServer("127.0.0.1", ftp.Port(), "user", "heslo"); }

    // The scripted log-in of UseFake.
    static FakeFtpServer& LogIn(FakeFtpServer& ftp) {
        return ftp.LogIn("user", "heslo").Reply("TYPE L 8", "200 Type set to L 8.");
    }

    // One unattended run, as cron starts it: the window's first activation
    // finds the switch.
    void RunAuto() {
        ScopedEnv tmpdir("TMPDIR", tmp / "temp");
        auto form = MakeForm({"/auto"});
        form->FormActivate(nullptr);
    }

    std::string Encrypted() const { return tmp / ("temp/" + std::string(kEncryptedName)); }
    int64_t EncryptedSize() const { return platform::FileSize(Encrypted()); }

    std::vector<std::string> Journal() const { return JournalUnstamped(); }

    // The journal of a run that got as far as the connection.
    std::vector<std::string> UpToConnect() const {
        const std::string e = std::to_string(EncryptedSize());
        const std::string z = std::to_string(platform::FileSize(tmp / "temp/20260305.zip"));
        return {kDashes,
                kDashes,
                "Start ",
                "Kontrola nastavení",
                "Kontrola GNU PG",
                "Kontrola seznamu souborů",
                "Zipování souborů...",
                "Zazipováno celkem 3",
                "Zazipováno celkem 3; celková velikost " + z + " bytů",
                "Šifrování souboru...",
                "Šifrovaný soubor " + Encrypted() + " o velikosti " + e + " bytů",
                "Připojování k FTP serveru..."};
    }
    std::vector<std::string> Sent(std::vector<std::string> lines) const {
        const std::string e = std::to_string(EncryptedSize());
        for (const std::string& line :
             {std::string("Transfer souboru..."), std::string("Upload "),
              std::string("Kontrola výsledku souboru..."),
              "Očekávaná velikost " + e + " bytů; odesláno celkově " + e + " bytů"})
            lines.push_back(line);
        return lines;
    }
    static std::vector<std::string> Plus(std::vector<std::string> a,
                                         const std::vector<std::string>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    }

    // The file on the server decrypts with the test key to an archive that
    // passes unzip -t and holds exactly the expected data files, byte for byte.
    void ExpectArrived(const std::string& serverFile, std::vector<std::size_t> which = {0, 1, 2}) {
        const std::string zip = tmp / "received.zip";
        std::string log;
        ASSERT_TRUE(gpg.Decrypt(serverFile, zip, &log)) << log;
        std::string out;
        EXPECT_EQ(testsupport::RunShell("unzip -tq " + ShellQuote(zip) + " 2>&1", &out), 0) << out;
        const std::string script = "import sys,zipfile\n"
                                   "z=zipfile.ZipFile(sys.argv[1])\n"
                                   "for n,i in enumerate(z.infolist()):\n"
                                   "  open(sys.argv[2]+'/'+str(n),'wb').write(z.read(i))\n"
                                   "  name=i.filename if i.flag_bits&0x800 else "
                                   "i.filename.encode('cp437').decode('cp1250')\n"
                                   "  sys.stdout.buffer.write((name+'\\n').encode('utf-8'))\n";
        ASSERT_EQ(testsupport::RunShell("python3 -c " + ShellQuote(script) + " " + ShellQuote(zip) +
                                            " " + ShellQuote(tmp / "received") + " 2>&1",
                                        &out),
                  0)
            << out;
        std::string expectedNames;
        for (std::size_t i : which)
            expectedNames += platform::ExtractFileName(files[i].first) + "\n";
        EXPECT_EQ(out, expectedNames);
        for (std::size_t n = 0; n < which.size(); ++n)
            EXPECT_TRUE(testsupport::ReadBytes(tmp / ("received/" + std::to_string(n))) ==
                        files[which[n]].second)
                << "member " << n << " differs from " << files[which[n]].first;
    }

    void ExpectAllInPlace() const {
        for (const auto& [path, content] : files)
            EXPECT_TRUE(platform::FileExists(path) && testsupport::ReadBytes(path) == content)
                << path << " must stay in place";
    }

    void ExpectEndRequestedWithoutBoxes() const {
        EXPECT_GE(ui::TerminateCount(), 1);
        EXPECT_TRUE(prompts.Requests().empty()) << "an unattended run shows nothing";
    }

    std::vector<std::pair<std::string, std::string>> files;
    testsupport::GpgHome gpg; // after tmp: its agents end before the folder goes
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
        GTEST_SKIP() << why;
    UseServer("127.0.0.1", server->Port(), server->User(), server->Password());
    const int mode = GetParam().filesMoveTo;
    WriteSettingInteger("FilesMoveTo", mode);

    RunAuto();

    ExpectEndRequestedWithoutBoxes();
    const std::string onServer = server->Root() + "/" + kEncryptedName;
    ASSERT_TRUE(platform::FileExists(onServer)) << server->Log();
    EXPECT_TRUE(testsupport::ReadBytes(onServer) == testsupport::ReadBytes(Encrypted()));
    ExpectArrived(onServer);

    const std::string e = std::to_string(EncryptedSize());
    std::vector<std::string> expected = Sent(UpToConnect());
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
    ExpectEndRequestedWithoutBoxes();
    ExpectAllInPlace();
    // The reply line keeps its line end, as the client read it.
    EXPECT_EQ(Journal(), Plus(UpToConnect(),
                              {"Chyba při připojování k FTP serveru: 530 Login incorrect.", ""}));
    EXPECT_EQ(ftp.Verify(), "");
}

TEST_F(FailedRun, ServerNotRunning) {
    UseServer("127.0.0.1", testsupport::FreeLoopbackPort(), "user", "heslo");
    RunAuto();
    ExpectEndRequestedWithoutBoxes();
    ExpectAllInPlace();
    EXPECT_EQ(Journal(),
              Plus(UpToConnect(), {"Chyba při připojování k FTP serveru: Connection Failed"}));
}

TEST_F(FailedRun, TypeL8Refused) {
    UseFake(ftp);
    ftp.LogIn("user", "heslo").Reply("TYPE L 8", "504 Command not implemented for that parameter.");
    RunAuto();
    ExpectEndRequestedWithoutBoxes();
    ExpectAllInPlace();
    EXPECT_EQ(Journal(), Plus(UpToConnect(), {"Chyba při připojování k FTP serveru: 504 Command "
                                              "not implemented for that parameter.",
                                              ""}));
    EXPECT_EQ(ftp.Verify(), "");
}

std::vector<std::string> UploadFailed() {
    return {"Transfer souboru...", "Upload ", "Chyba při uploadu.", "Soubor neodeslán."};
}

TEST_F(FailedRun, StoreRefused) {
    UseFake(ftp);
    LogIn(ftp).Pasv().Reply(std::string("STOR ") + kEncryptedName, "553 Could not create file.");
    RunAuto();
    ExpectEndRequestedWithoutBoxes();
    ExpectAllInPlace();
    EXPECT_EQ(Journal(), Plus(UpToConnect(), UploadFailed()));
    EXPECT_EQ(ftp.Verify(), "");
}

TEST_F(FailedRun, ErrorAfterTheData) {
    UseFake(ftp);
    testsupport::StoreOptions store;
    store.final = "451 Local error in processing.";
    LogIn(ftp).Pasv().Store(std::string("STOR ") + kEncryptedName, store);
    RunAuto();
    ExpectEndRequestedWithoutBoxes();
    ExpectAllInPlace();
    EXPECT_EQ(Journal(), Plus(UpToConnect(), UploadFailed()));
    EXPECT_EQ(ftp.Verify(), "");
}

TEST_F(FailedRun, DataConnectionDroppedMidFile) {
    UseFake(ftp);
    testsupport::StoreOptions store;
    store.dropAfter = 4096;
    store.final = "426 Connection closed; transfer aborted.";
    LogIn(ftp).Pasv().Store(std::string("STOR ") + kEncryptedName, store);
    RunAuto();
    ExpectEndRequestedWithoutBoxes();
    ExpectAllInPlace();
    EXPECT_EQ(Journal(), Plus(UpToConnect(), UploadFailed()));
}

TEST_F(FailedRun, ServerReportsADifferentSize) {
    UseFake(ftp);
    LogIn(ftp)
        .Pasv()
        .Store(std::string("STOR ") + kEncryptedName)
        .Reply(std::string("SIZE ") + kEncryptedName, "213 12");
    RunAuto();
    ExpectEndRequestedWithoutBoxes();
    ExpectAllInPlace();
    EXPECT_EQ(Journal(), Plus(Sent(UpToConnect()), {"Velikost souboru na serveru 12 bytů",
                                                    "Transfer souboru se nezdařil."}));
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
        GTEST_SKIP() << why;
    const std::string app = tmp / "app";
    ::mkdir(app.c_str(), 0755);
    gpg.SetUpApplicationFolder(app);
    std::filesystem::copy_file(RODERUV_PROGRAM, app + "/roderuv");
    // The settings live beside the program.
    platform::SetApplicationDirOverride(app);
    WriteGoodSettings();
    UseServer("127.0.0.1", server->Port(), server->User(), server->Password());
    WriteSettingInteger("FilesMoveTo", 1);
    WriteSettingInteger("PocetSouboru", 3);
    for (std::size_t i = 0; i < files.size(); ++i)
        WriteSettingString("Files", "File" + std::to_string(i), files[i].first);
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
    ASSERT_GE(journal.size(), tail.size());
    EXPECT_EQ(std::vector<std::string>(journal.end() - tail.size(), journal.end()), tail);
}

// ---- proxy ----------------------------------------------------------------

TEST_F(WholeRun, ThroughAnOpenProxy) {
    FakeFtpServer proxy;
    WriteSettingString("General", "FTPServer", "ftp.registr.example");
    WriteSettingString("General", "Proxy", "1");
    WriteSettingString("General", "ProxyAdresa", "127.0.0.1");
    WriteSettingString("General", "ProxyPort", std::to_string(proxy.Port()));
    WriteSettingString("General", "ProxyLogin", "proxyanna");
    WriteSettingString("General", "ProxyHeslo", EncodePassword("proxyheslo"));
    proxy.Reply("OPEN ftp.registr.example", "220 Connected.")
        .LogIn("user", "heslo")
        .Reply("TYPE L 8", "200 Type set.")
        .Pasv()
        .Store(std::string("STOR ") + kEncryptedName)
        .Reply(std::string("SIZE ") + kEncryptedName, "502 Command not implemented.");
    RunAuto();
    ExpectEndRequestedWithoutBoxes();
    EXPECT_EQ(proxy.Verify(), "");
    EXPECT_EQ(proxy.Commands(),
              (std::vector<std::string>{"OPEN ftp.registr.example", "USER user", "PASS heslo",
                                        "TYPE L 8", "PASV", std::string("STOR ") + kEncryptedName,
                                        std::string("SIZE ") + kEncryptedName}));
    ASSERT_EQ(proxy.StoredData().size(), 1u);
    testsupport::WriteBytes(tmp / "stored.gpg", proxy.StoredData()[0]);
    ExpectArrived(tmp / "stored.gpg");
    EXPECT_EQ(Journal().back(), std::string(kSuccess) + "\t\t");
}

TEST_F(WholeRun, NonNumericProxyPortEndsTheRunWithTheConversionError) {
    FakeFtpServer ftp;
    UseFake(ftp);
    WriteSettingString("General", "Proxy", "1");
    WriteSettingString("General", "ProxyAdresa", "127.0.0.1");
    WriteSettingString("General", "ProxyPort", "21x");
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
