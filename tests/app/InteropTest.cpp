// Interoperability matrix: the whole unattended send run on the real window
// with every real stage against each real FTP server that can be started on
// 127.0.0.1 (pyftpdlib, vsftpd, pure-ftpd, proftpd). pure-ftpd greets with
// several lines and answers "TYPE L 8" with a multi-line 200 reply; proftpd
// runs as an ordinary user. Each row checks that the file on the server is
// byte for byte the encrypted file, that it decrypts to an archive that
// unzip accepts holding the data files, the journal's end, and that the data
// files were deleted (FilesMoveTo 1) only after that.
#include "WholeRunFixture.h"

#include "platform/FileSystem.h"
#include "settings/Unitpom.h"
#include "tests/support/RealFtpServer.h"

namespace {

using testsupport::RealFtpKind;
using testsupport::RealFtpServer;
using testsupport::ShellQuote;

} // namespace

namespace testsupport {
void PrintTo(RealFtpKind kind, std::ostream* os) {
    *os << RealFtpKindName(kind);
}
} // namespace testsupport

namespace {

class Interop : public WholeRunFixture, public testing::WithParamInterface<RealFtpKind> {
protected:
    Interop() {
        PutDataFiles({{tmp / "data/pacienti.csv", "id;jméno\r\n1;Jiří Novák\r\n"},
                      {tmp / "data/vysledky_2026.bin", testsupport::RandomBytes(300000, 11)}});
        WriteSettingInteger("FilesMoveTo", 1);
    }
};

TEST_P(Interop, UnattendedRunSendsAndDeletes) {
    std::string why;
    auto server = RealFtpServer::Start(GetParam(), &why);
    if (!server)
        GTEST_SKIP() << testsupport::RealFtpKindName(GetParam()) << " cannot be started: " << why;
    UseServer("127.0.0.1", server->Port(), server->User(), server->Password());

    RunAuto();

    ExpectEndRequestedWithoutBoxes();
    const std::string onServer = server->Root() + "/" + kEncryptedName;
    ASSERT_TRUE(platform::FileExists(onServer)) << server->Log();
    ExpectIsTheEncryptedFile(onServer);

    const std::string zip = tmp / "received.zip";
    ASSERT_NO_FATAL_FAILURE(ExpectDecryptsToSoundArchive(onServer, zip));
    ASSERT_EQ(testsupport::RunShell("cd " + ShellQuote(tmp / "received") + " && unzip -qo " +
                                    ShellQuote(zip) + " 2>&1"),
              0);
    EXPECT_TRUE(testsupport::ReadBytes(tmp / "received/vysledky_2026.bin") == files[1].second);

    const std::string e = std::to_string(EncryptedSize());
    ASSERT_NO_FATAL_FAILURE(ExpectEndsWith(
        Journal(), {"Transfer souboru...", "Upload ", "Kontrola výsledku souboru...",
                    "Očekávaná velikost " + e + " bytů; odesláno celkově " + e + " bytů",
                    "Velikost souboru na serveru " + e + " bytů", "Data odeslána v pořádku...",
                    "Probíhá mazání souborů - 2 souborů", "Datové soubory smazány. ",
                    std::string(kSuccess) + "\t\t"}));
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
