// Interoperability matrix: the whole unattended send run on the real window
// with every real stage against each real FTP server that can be started on
// 127.0.0.1 (pyftpdlib, vsftpd, pure-ftpd, proftpd). pure-ftpd greets with
// several lines and answers "TYPE L 8" with a multi-line 200 reply; proftpd
// runs as an ordinary user. Each row checks that the file on the server is
// byte for byte the encrypted file, that it decrypts to an archive that
// unzip accepts holding the data files, the journal's end, and that the data
// files were deleted (FilesMoveTo 1) only after that. The same runs with
// FTPS=1 (below) go through a relay that records what the client sent.
#include "WholeRunFixture.h"

#include "platform/FileSystem.h"
#include "settings/Unitpom.h"
#include "tests/support/FtpRelay.h"
#include "tests/support/RealFtpServer.h"
#include "tests/support/Required.h"
#include "tests/support/ScopedEnv.h"

#include <filesystem>
#include <optional>

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

class InteropRun : public WholeRunFixture {
protected:
    InteropRun() {
        PutDataFiles({{tmp / "data/pacienti.csv", "id;jméno\r\n1;Jiří Novák\r\n"},
                      {tmp / "data/vysledky_2026.bin", testsupport::RandomBytes(300000, 11)}});
        WriteSettingInteger("FilesMoveTo", 1);
    }
};

class Interop : public InteropRun, public testing::WithParamInterface<RealFtpKind> {};

TEST_P(Interop, UnattendedRunSendsAndDeletes) {
    std::string why;
    auto server = RealFtpServer::Start(GetParam(), &why);
    if (!server)
        MISSING_PART(testsupport::RealFtpKindName(GetParam()) << " cannot be started: " << why);
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

// ---- explicit TLS --------------------------------------------------------------

namespace {

using testsupport::RealFtpTls;

enum class FtpsRow {
    Pinned,    // FTPSCertificate is the server's fingerprint: sent
    WrongPin,  // another fingerprint: refused, the presented one journalled
    Untrusted, // no pin, a self-signed certificate: refused likewise
    Trusted,   // no pin, the certificate among the trusted roots, its name: sent
    NoTls,     // the server offers no TLS: refused, nothing in the clear
    OpenProxy, // pinned, through an OPEN proxy that relays: sent, TLS end to end
};

struct FtpsCase {
    RealFtpKind kind;
    FtpsRow row;
};

std::string RowName(const testing::TestParamInfo<FtpsCase>& info) {
    static const char* const kKinds[] = {"Pyftpdlib", "Vsftpd", "PureFtpd", "Proftpd"};
    static const char* const kRows[] = {"Pinned",  "WrongPin", "Untrusted",
                                        "Trusted", "NoTls",    "OpenProxy"};
    return std::string(kKinds[static_cast<int>(info.param.kind)]) +
           kRows[static_cast<int>(info.param.row)];
}

std::vector<FtpsCase> FtpsCases() {
    std::vector<FtpsCase> cases;
    for (RealFtpKind kind :
         {RealFtpKind::Pyftpdlib, RealFtpKind::Vsftpd, RealFtpKind::PureFtpd, RealFtpKind::Proftpd})
        for (FtpsRow row : {FtpsRow::Pinned, FtpsRow::WrongPin, FtpsRow::Untrusted, FtpsRow::NoTls})
            cases.push_back({kind, row});
    // Servers that demand the data connection resume the control session.
    cases.push_back({RealFtpKind::Vsftpd, FtpsRow::Trusted});
    cases.push_back({RealFtpKind::Proftpd, FtpsRow::OpenProxy});
    return cases;
}

class FtpsInterop : public InteropRun, public testing::WithParamInterface<FtpsCase> {};

// Each run goes through the relay (or the OPEN proxy): its transcript is
// what crossed between client and server, and after AUTH TLS only TLS
// records may follow, never a USER or PASS in the clear.
TEST_P(FtpsInterop, UnattendedRun) {
    const auto [kind, row] = GetParam();
    std::string why;
    auto server = RealFtpServer::Start(
        kind, &why, row == FtpsRow::NoTls ? RealFtpTls::None : RealFtpTls::Required);
    if (!server)
        MISSING_PART(testsupport::RealFtpKindName(kind) << " cannot be started: " << why);
    const bool proxy = row == FtpsRow::OpenProxy;
    testsupport::FtpRelay relay(proxy ? 0 : server->Port(), proxy);
    WriteSettingString("General", "FTPS", "1");
    std::string fingerprint = server->Fingerprint();
    std::string pin = fingerprint;
    if (row == FtpsRow::WrongPin)
        pin[0] = pin[0] == 'A' ? 'B' : 'A';
    if (row == FtpsRow::Untrusted || row == FtpsRow::Trusted)
        pin.clear();
    if (row == FtpsRow::NoTls)
        pin = std::string(64, 'A');
    WriteSettingString("General", "FTPSCertificate", pin);
    // The certificate is for localhost; a pin or a refusal needs no name.
    const std::string host = row == FtpsRow::Trusted ? "localhost" : "127.0.0.1";
    if (proxy) {
        UseServer(host, server->Port(), server->User(), server->Password());
        UseOpenProxy("127.0.0.1", std::to_string(relay.Port()));
    } else {
        UseServer(host, relay.Port(), server->User(), server->Password());
    }
    std::optional<testsupport::ScopedEnv> roots;
    if (row == FtpsRow::Trusted)
        roots.emplace("SSL_CERT_FILE", server->CertificatePath());

    RunAuto();

    ExpectEndRequestedWithoutBoxes();
    const std::string transcript = relay.Transcript();
    const std::string opened =
        proxy ? "OPEN " + host + ":" + std::to_string(server->Port()) + "\r\n" : "";
    ASSERT_EQ(transcript.substr(0, opened.size() + 10), opened + "AUTH TLS\r\n") << transcript;
    const std::string after = transcript.substr(opened.size() + 10);
    if (row == FtpsRow::NoTls) {
        EXPECT_EQ(after, "QUIT\r\n") << "nothing but QUIT after a refused AUTH TLS";
    } else {
        ASSERT_FALSE(after.empty());
        EXPECT_EQ(after[0], '\x16') << "a TLS handshake record follows AUTH TLS";
        EXPECT_EQ(after.find("USER"), std::string::npos);
        EXPECT_EQ(after.find("PASS"), std::string::npos);
    }

    const std::string onServer = server->Root() + "/" + kEncryptedName;
    const bool sent = row == FtpsRow::Pinned || row == FtpsRow::Trusted || proxy;
    if (!sent) {
        ExpectAllInPlace();
        EXPECT_TRUE(std::filesystem::is_empty(server->Root())) << "nothing may arrive";
        const auto journal = Journal();
        ASSERT_EQ(journal.size(), UpToConnect().size() + (row == FtpsRow::NoTls ? 2 : 1));
        EXPECT_EQ(std::vector<std::string>(journal.begin(), journal.begin() + UpToConnect().size()),
                  UpToConnect());
        const std::string& line = journal[UpToConnect().size()];
        if (row == FtpsRow::NoTls) {
            // The server's own refusal of AUTH TLS (500, 530 ...).
            EXPECT_TRUE(line.starts_with(std::string(kConnectError) + "5")) << line;
            return;
        }
        const std::string reason = row == FtpsRow::WrongPin
                                       ? "jeho otisk není nastavený otisk"
                                       : "není vydán důvěryhodnou certifikační autoritou";
        EXPECT_TRUE(line.starts_with(std::string(kConnectError) +
                                     "Certifikát serveru byl odmítnut: " + reason))
            << line;
        EXPECT_TRUE(line.ends_with(". Otisk SHA-256: " + fingerprint + ", subjekt: CN=localhost"))
            << line;
        return;
    }
    ASSERT_TRUE(platform::FileExists(onServer))
        << server->Log() << testing::PrintToString(Journal());
    ExpectIsTheEncryptedFile(onServer);
    ASSERT_NO_FATAL_FAILURE(ExpectArrived(onServer));
    const std::string e = std::to_string(EncryptedSize());
    ASSERT_NO_FATAL_FAILURE(ExpectEndsWith(
        Journal(), {"Transfer souboru...", "Upload ", "Kontrola výsledku souboru...",
                    "Očekávaná velikost " + e + " bytů; odesláno celkově " + e + " bytů",
                    "Velikost souboru na serveru " + e + " bytů", "Data odeslána v pořádku...",
                    "Probíhá mazání souborů - 2 souborů", "Datové soubory smazány. ",
                    std::string(kSuccess) + "\t\t"}));
    ExpectAllDeleted();
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpsInterop, testing::ValuesIn(FtpsCases()), RowName);

} // namespace
