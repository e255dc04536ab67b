// Interoperability matrix: the whole unattended send run on the real window
// with every real stage against each real FTP server that can be started on
// 127.0.0.1 (pyftpdlib, vsftpd, pure-ftpd, proftpd). pure-ftpd greets with
// several lines and answers "TYPE L 8" with a multi-line 200 reply; proftpd
// runs as an ordinary user. Each row checks that the file on the server is
// byte for byte the encrypted file, that it decrypts to an archive that
// unzip accepts holding the data files, the journal's end, and that the data
// files were deleted (FilesMoveTo 1) only after that.
#include "AppFixture.h"

#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "settings/Unitpom.h"
#include "tests/support/GpgHome.h"
#include "tests/support/RealFtpServer.h"
#include "tests/support/TempFolder.h"
#include "ui/Application.h"

#include <cstdlib>
#include <sys/stat.h>

namespace {

using testsupport::RealFtpKind;
using testsupport::RealFtpServer;
using testsupport::ShellQuote;

const std::string kEncryptedName = "20260305.zip.gpg";

} // namespace

namespace testsupport {
void PrintTo(RealFtpKind kind, std::ostream* os) {
    *os << RealFtpKindName(kind);
}
} // namespace testsupport

namespace {

class Interop : public AppFixture, public testing::WithParamInterface<RealFtpKind> {
protected:
    Interop() {
        for (const char* dir : {"data", "temp", "received"})
            ::mkdir((tmp / dir).c_str(), 0755);
        gpg.SetUpApplicationFolder(tmp.Path());
        const std::string random = testsupport::RandomBytes(300000, 11);
        files = {{tmp / "data/pacienti.csv", "id;jméno\r\n1;Jiří Novák\r\n"},
                 {tmp / "data/vysledky_2026.bin", random}};
        for (const auto& [path, content] : files)
            testsupport::WriteBytes(path, content);
        WriteGoodSettings();
        WriteSettingInteger("FilesMoveTo", 1);
        WriteSettingInteger("PocetSouboru", static_cast<int>(files.size()));
        for (std::size_t i = 0; i < files.size(); ++i)
            WriteSettingString("Files", "File" + std::to_string(i), files[i].first);
    }

    std::vector<std::pair<std::string, std::string>> files;
    testsupport::GpgHome gpg; // after tmp: its agents end before the folder goes
};

TEST_P(Interop, UnattendedRunSendsAndDeletes) {
    std::string why;
    auto server = RealFtpServer::Start(GetParam(), &why);
    if (!server)
        GTEST_SKIP() << testsupport::RealFtpKindName(GetParam()) << " cannot be started: " << why;
    WriteSettingString("General", "FTPServer", "127.0.0.1:" + std::to_string(server->Port()));
    WriteSettingString("General", "Login", server->User());
    WriteSettingString("General", "Heslo", EncodePassword(server->Password()));

    {
        const char* old = std::getenv("TMPDIR");
        const std::string saved = old ? old : "";
        ::setenv("TMPDIR", (tmp / "temp").c_str(), 1);
        auto form = MakeForm({"/auto"});
        form->FormActivate(nullptr);
        if (old)
            ::setenv("TMPDIR", saved.c_str(), 1);
        else
            ::unsetenv("TMPDIR");
    }

    EXPECT_GE(ui::TerminateCount(), 1);
    EXPECT_TRUE(prompts.Requests().empty());
    const std::string encrypted = tmp / ("temp/" + kEncryptedName);
    const std::string onServer = server->Root() + "/" + kEncryptedName;
    ASSERT_TRUE(platform::FileExists(onServer)) << server->Log();
    EXPECT_TRUE(testsupport::ReadBytes(onServer) == testsupport::ReadBytes(encrypted));

    const std::string zip = tmp / "received.zip";
    std::string log;
    ASSERT_TRUE(gpg.Decrypt(onServer, zip, &log)) << log;
    std::string out;
    EXPECT_EQ(testsupport::RunShell("unzip -tq " + ShellQuote(zip) + " 2>&1", &out), 0) << out;
    ASSERT_EQ(testsupport::RunShell("cd " + ShellQuote(tmp / "received") + " && unzip -qo " +
                                    ShellQuote(zip) + " 2>&1"),
              0);
    EXPECT_TRUE(testsupport::ReadBytes(tmp / "received/vysledky_2026.bin") == files[1].second);

    const std::string e = std::to_string(platform::FileSize(encrypted));
    std::vector<std::string> journal;
    for (const std::string& line : JournalLines())
        journal.push_back(line.rfind(kStamp, 0) == 0 ? line.substr(std::string(kStamp).size())
                                                     : line);
    const std::vector<std::string> tail{
        "Transfer souboru...",
        "Upload ",
        "Kontrola výsledku souboru...",
        "Očekávaná velikost " + e + " bytů; odesláno celkově " + e + " bytů",
        "Velikost souboru na serveru " + e + " bytů",
        "Data odeslána v pořádku...",
        "Probíhá mazání souborů - 2 souborů",
        "Datové soubory smazány. ",
        "Odeslání dat na FTP server proběhlo v pořádku. Program bude ukončen. \t\t"};
    ASSERT_GE(journal.size(), tail.size());
    EXPECT_EQ(std::vector<std::string>(journal.end() - tail.size(), journal.end()), tail);
    for (const auto& [path, content] : files)
        EXPECT_FALSE(platform::FileExists(path)) << path;
}

INSTANTIATE_TEST_SUITE_P(Servers, Interop,
                         testing::Values(RealFtpKind::Pyftpdlib, RealFtpKind::Vsftpd,
                                         RealFtpKind::PureFtpd, RealFtpKind::Proftpd),
                         [](const testing::TestParamInfo<RealFtpKind>& info) {
                             switch (info.param) {
                             case RealFtpKind::Pyftpdlib:
                                 return std::string("Pyftpdlib");
                             case RealFtpKind::Vsftpd:
                                 return std::string("Vsftpd");
                             case RealFtpKind::PureFtpd:
                                 return std::string("PureFtpd");
                             case RealFtpKind::Proftpd:
                                 return std::string("Proftpd");
                             }
                             return std::string("Unknown");
                         });

} // namespace
