#include "WholeRunFixture.h"

#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "settings/Unitpom.h"
#include "tests/support/ScopedEnv.h"
#include "ui/Application.h"

#include <sys/stat.h>

using testsupport::ShellQuote;

WholeRunFixture::WholeRunFixture() {
    for (const char* dir : {"data", "temp", "received"})
        ::mkdir((tmp / dir).c_str(), 0755);
    gpg.SetUpApplicationFolder(tmp.Path());
    WriteGoodSettings();
}

void WholeRunFixture::PutDataFiles(DataFiles dataFiles) {
    files = std::move(dataFiles);
    for (const auto& [path, content] : files)
        testsupport::WriteBytes(path, content);
    SaveDataFileList();
}

void WholeRunFixture::SaveDataFileList() {
    WriteSettingInteger("PocetSouboru", static_cast<int>(files.size()));
    for (std::size_t i = 0; i < files.size(); ++i)
        WriteSettingString("Files", "File" + std::to_string(i), files[i].first);
}

void WholeRunFixture::UseServer(const std::string& host, int port, const std::string& user,
                                const std::string& password) {
    WriteSettingString("General", "FTPServer", host + ":" + std::to_string(port));
    WriteSettingString("General", "Login", user);
    WriteSettingString("General", "Heslo", EncodePassword(password));
}

void WholeRunFixture::UseFake(const testsupport::FakeFtpServer& ftp) {
    UseServer("127.0.0.1", ftp.Port(), "user", "heslo");
}

testsupport::FakeFtpServer& WholeRunFixture::LogIn(testsupport::FakeFtpServer& ftp,
                                                   testsupport::Pace pace) {
    return ftp.LogIn("user", "heslo", pace).Reply("TYPE L 8", "200 Type set.", pace);
}

int64_t WholeRunFixture::RunAuto() {
    testsupport::ScopedEnv tmpdir("TMPDIR", tmp / "temp");
    form = MakeForm({"/auto"});
    const auto start = std::chrono::steady_clock::now();
    form->FormActivate(nullptr);
    return MsSince(start);
}

int64_t WholeRunFixture::RunInteractive() {
    testsupport::ScopedEnv tmpdir("TMPDIR", tmp / "temp");
    form = MakeForm();
    form->FormActivate(nullptr);
    const auto start = std::chrono::steady_clock::now();
    form->ButtonStartClick(form->ButtonStart);
    return MsSince(start);
}

int64_t WholeRunFixture::MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

std::string WholeRunFixture::Encrypted() const {
    return tmp / ("temp/" + std::string(kEncryptedName));
}

int64_t WholeRunFixture::EncryptedSize() const {
    return platform::FileSize(Encrypted());
}

std::vector<std::string> WholeRunFixture::UpToArchive() {
    const std::string dashes(53, '-');
    return {dashes,
            dashes,
            "Start ",
            "Kontrola nastavení",
            "Kontrola GNU PG",
            "Kontrola seznamu souborů",
            "Zipování souborů..."};
}

std::string WholeRunFixture::JournalledArchiveSize() const {
    const std::string before =
        "Zazipováno celkem " + std::to_string(files.size()) + "; celková velikost ";
    const std::string after = " bytů";
    for (const std::string& line : Journal()) {
        const std::size_t at = line.find(before); // after a stamp of the real clock too
        if (at != std::string::npos && line.size() > at + before.size() + after.size())
            return line.substr(at + before.size(), line.size() - at - before.size() - after.size());
    }
    return "(none)";
}

std::vector<std::string> WholeRunFixture::UpToEncrypt() const {
    const std::string n = std::to_string(files.size());
    const std::string z = JournalledArchiveSize();
    return Plus(UpToArchive(), {"Zazipováno celkem " + n,
                                "Zazipováno celkem " + n + "; celková velikost " + z + " bytů",
                                "Šifrování souboru..."});
}

std::vector<std::string> WholeRunFixture::UpToConnect() const {
    return Plus(UpToEncrypt(), {"Šifrovaný soubor " + Encrypted() + " o velikosti " +
                                    std::to_string(EncryptedSize()) + " bytů",
                                "Připojování k FTP serveru..."});
}

std::vector<std::string> WholeRunFixture::Sent() const {
    const std::string e = std::to_string(EncryptedSize());
    return Plus(UpToConnect(),
                {"Transfer souboru...", "Upload ", "Kontrola výsledku souboru...",
                 "Očekávaná velikost " + e + " bytů; odesláno celkově " + e + " bytů"});
}

std::vector<std::string> WholeRunFixture::ConnectFailed(const std::string& error,
                                                        bool replyLine) const {
    auto lines = Plus(UpToConnect(), {kConnectError + error});
    if (replyLine)
        lines.push_back("");
    return lines;
}

std::vector<std::string> WholeRunFixture::UploadFailed() const {
    return Plus(UpToConnect(),
                {"Transfer souboru...", "Upload ", "Chyba při uploadu.", "Soubor neodeslán."});
}

std::vector<std::string> WholeRunFixture::Plus(std::vector<std::string> a,
                                               const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

void WholeRunFixture::ExpectEndsWith(const std::vector<std::string>& journal,
                                     const std::vector<std::string>& tail) {
    ASSERT_GE(journal.size(), tail.size());
    EXPECT_EQ(std::vector<std::string>(journal.end() - static_cast<std::ptrdiff_t>(tail.size()),
                                       journal.end()),
              tail);
}

void WholeRunFixture::ExpectEndRequestedWithoutBoxes() const {
    EXPECT_GE(ui::TerminateCount(), 1) << "an unattended run always ends the program";
    EXPECT_TRUE(prompts.Requests().empty()) << "an unattended run shows nothing";
}

void WholeRunFixture::ExpectAllInPlace() const {
    for (const auto& [path, content] : files)
        EXPECT_TRUE(platform::FileExists(path) && testsupport::ReadBytes(path) == content)
            << path << " must stay in place, unchanged";
}

void WholeRunFixture::ExpectAllDeleted() const {
    for (const auto& [path, content] : files)
        EXPECT_FALSE(platform::FileExists(path)) << path << " should have been deleted";
}

void WholeRunFixture::ExpectFailed(const std::vector<std::string>& journal) const {
    ExpectEndRequestedWithoutBoxes();
    ExpectAllInPlace();
    EXPECT_EQ(Journal(), journal);
}

void WholeRunFixture::ExpectIsTheEncryptedFile(const std::string& onServer) const {
    EXPECT_TRUE(testsupport::ReadBytes(onServer) == testsupport::ReadBytes(Encrypted()))
        << onServer << " differs from the encrypted file";
}

void WholeRunFixture::ExpectStoredIsTheEncryptedFile(const testsupport::FakeFtpServer& ftp) const {
    ASSERT_EQ(ftp.StoredData().size(), 1u);
    EXPECT_TRUE(ftp.StoredData()[0] == testsupport::ReadBytes(Encrypted()));
    const std::string stored = tmp / "stored.gpg";
    testsupport::WriteBytes(stored, ftp.StoredData()[0]);
    ExpectDecryptsToSoundArchive(stored, tmp / "stored.zip");
}

void WholeRunFixture::ExpectDecryptsToSoundArchive(const std::string& encrypted,
                                                   const std::string& zip) const {
    std::string log;
    ASSERT_TRUE(gpg.Decrypt(encrypted, zip, &log)) << log;
    // The size the journal gives (a journal on a full disk may lack it).
    if (JournalledArchiveSize() != "(none)") {
        EXPECT_EQ(std::to_string(platform::FileSize(zip)), JournalledArchiveSize());
    }
    std::string out;
    EXPECT_EQ(testsupport::RunShell("unzip -tq " + ShellQuote(zip) + " 2>&1", &out), 0) << out;
}

void WholeRunFixture::ExpectArrived(const std::string& serverFile,
                                    std::vector<std::size_t> which) const {
    if (which.empty())
        for (std::size_t i = 0; i < files.size(); ++i)
            which.push_back(i);
    const std::string zip = tmp / "received.zip";
    ASSERT_NO_FATAL_FAILURE(ExpectDecryptsToSoundArchive(serverFile, zip));
    // Each member into received/<number>; its name as UTF-8 on a line of its
    // own (Windows-1250 names without the UTF-8 flag read as code page 437).
    const std::string script = "import sys,zipfile\n"
                               "z=zipfile.ZipFile(sys.argv[1])\n"
                               "for n,i in enumerate(z.infolist()):\n"
                               "  open(sys.argv[2]+'/'+str(n),'wb').write(z.read(i))\n"
                               "  name=i.filename if i.flag_bits&0x800 else "
                               "i.filename.encode('cp437').decode('cp1250')\n"
                               "  sys.stdout.buffer.write((name+'\\n').encode('utf-8'))\n";
    std::string out;
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
