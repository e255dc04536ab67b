// The archive and encryption stages on the real window, with the real ZIP
// writer and real GnuPG (a throwaway key made per test), the temporary
// directory moved into the test's folder and the date under test control.
#include "AppFixture.h"

#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "tests/support/GpgHome.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempFolder.h"
#include "ui/Application.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>

namespace {

using testsupport::ShellQuote;

// Runs a Python zipfile check on an archive: prints one line per member,
// "name<TAB>size", and the member bytes into dir/<index>.
std::vector<std::string> ZipMembers(const std::string& archive, const std::string& dir) {
    const std::string script = "import sys,zipfile\n"
                               "z=zipfile.ZipFile(sys.argv[1])\n"
                               "for n,i in enumerate(z.infolist()):\n"
                               "  open(sys.argv[2]+'/'+str(n),'wb').write(z.read(i))\n"
                               "  print(i.filename)\n";
    std::string out;
    const int rc = testsupport::RunShell("python3 -c " + ShellQuote(script) + " " +
                                             ShellQuote(archive) + " " + ShellQuote(dir) + " 2>&1",
                                         &out);
    EXPECT_EQ(rc, 0) << out;
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start < out.size()) {
        std::size_t end = out.find('\n', start);
        if (end == std::string::npos)
            end = out.size();
        names.push_back(out.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

// A script standing in for gpg.exe; it passes the GnuPG check.
void WriteScript(const std::string& path, const std::string& body) {
    testsupport::WriteBytes(path, "#!/bin/sh\n[ \"$1\" = --version ] && exit 0\n" + body);
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
}

class Stages : public AppFixture {
protected:
    Stages() {
        const char* old = std::getenv("TMPDIR");
        if (old)
            oldTmpDir = old;
        UseTempDir(tmp / "temp");
        form = MakeForm();
        form->LogEnabled = true;
        form->LogPath = JournalPath();
        form->LogDelete = false;
        // Every "let events run" of the stages passes here.
        ui::SetExtraPump([this] {
            captions.push_back(form->Caption());
            if (onEvents)
                onEvents();
        });
    }
    ~Stages() override {
        ui::SetExtraPump({});
        form.reset();
        if (oldTmpDir)
            ::setenv("TMPDIR", oldTmpDir->c_str(), 1);
        else
            ::unsetenv("TMPDIR");
    }

    void UseTempDir(const std::string& dir) {
        std::filesystem::create_directories(dir);
        tempDir = dir;
        ::setenv("TMPDIR", dir.c_str(), 1);
    }
    std::string InTemp(const std::string& name) const { return tempDir + "/" + name; }

    // Real GnuPG beside the program: gnupg/ home with the test key, gpg.exe.
    void UseRealGpg() {
        gpg = std::make_unique<testsupport::GpgHome>();
        gpg->SetUpApplicationFolder(tmp.Path(), kGpgRecipientKey);
    }

    // Decrypts the encrypted file and returns the members of the archive in
    // it (their bytes in <dir>/0, 1, ...); the archive passes unzip -t.
    std::vector<std::string> DecryptedMembers(const std::string& encrypted,
                                              const std::string& dir) {
        std::filesystem::create_directories(dir);
        const std::string zip = dir + "/plain.zip";
        std::string log;
        EXPECT_TRUE(gpg->Decrypt(encrypted, zip, &log)) << log;
        std::string out;
        EXPECT_EQ(testsupport::RunShell("unzip -t " + ShellQuote(zip) + " 2>&1", &out), 0) << out;
        return ZipMembers(zip, dir);
    }

    void SetDate(int year, int month, int day) {
        platform::SetClockSource([=] { return platform::DateTime{year, month, day, 9, 5, 7}; });
    }

    std::string AddData(const std::string& name, const std::string& content) {
        const std::string path = DataFile(name, content);
        form->ListFiles->Add(path);
        return path;
    }

    // Both stages as the run calls them.
    std::pair<int, int> ZipAndEncrypt() {
        const int zipResult = form->ZipFiles(transferFile, transferSize);
        if (zipResult != 1)
            return {zipResult, -1};
        return {zipResult, form->EncryptFile(transferFile, transferSize)};
    }

    std::optional<std::string> oldTmpDir;
    std::string tempDir;
    std::unique_ptr<TForm1> form;
    std::unique_ptr<testsupport::GpgHome> gpg; // destroyed before tmp
    std::vector<std::string> captions;
    std::function<void()> onEvents;
    std::string transferFile;
    int64_t transferSize = -1;
};

TEST_F(Stages, ThreeFilesAreZippedEncryptedAndDecryptBackByteIdentical) {
    UseRealGpg();
    const std::string a = AddData("data1.dat", std::string(5000, 'a') + "end");
    const std::string b = AddData("data2.dat", "second file\r\n");
    const std::string random = testsupport::RandomBytes(70000, 7);
    const std::string c = AddData("data3.bin", random);
    testsupport::WriteBytes(InTemp("_ftp_file.zip"), "left by an aborted run");
    form->SetCaption("Zipování souborů...");

    const int zipResult = form->ZipFiles(transferFile, transferSize);
    ASSERT_EQ(zipResult, 1);
    EXPECT_EQ(transferFile, InTemp("_ftp_file.zip"));
    const int64_t zipSize = platform::FileSize(InTemp("_ftp_file.zip"));
    EXPECT_GT(zipSize, 0);
    EXPECT_EQ(transferSize, zipSize);
    // Per-file progress, then the caption is put back.
    ASSERT_GE(captions.size(), 3u);
    EXPECT_EQ(captions[0], "Zipování souborů... - soubor 1 / celkově 3 soubory(ů)");
    EXPECT_EQ(captions[1], "Zipování souborů... - soubor 2 / celkově 3 soubory(ů)");
    EXPECT_EQ(captions[2], "Zipování souborů... - soubor 3 / celkově 3 soubory(ů)");
    EXPECT_EQ(form->Caption(), "Zipování souborů...");

    captions.clear();
    const int encryptResult = form->EncryptFile(transferFile, transferSize);
    ASSERT_EQ(encryptResult, 1);
    const std::string encrypted = InTemp("20260305.zip.gpg");
    EXPECT_EQ(transferFile, encrypted);
    const int64_t encryptedSize = platform::FileSize(encrypted);
    EXPECT_GT(encryptedSize, 0);
    EXPECT_EQ(transferSize, encryptedSize);
    // Nothing in the clear stays: only the encrypted file.
    EXPECT_FALSE(platform::PathExists(InTemp("20260305.zip")));
    EXPECT_FALSE(platform::PathExists(InTemp("_ftp_file.zip")));
    // Events run while gpg runs, at each of the four pauses and once more.
    EXPECT_GE(captions.size(), 6u);

    EXPECT_EQ(JournalLines(), (std::vector<std::string>{
                                  Stamped("Mazání starého souboru " + InTemp("_ftp_file.zip")),
                                  Stamped("Zazipováno celkem 3"),
                                  Stamped("Zazipováno celkem 3; celková velikost " +
                                          std::to_string(zipSize) + " bytů"),
                                  Stamped("Šifrovaný soubor " + encrypted + " o velikosti " +
                                          std::to_string(encryptedSize) + " bytů")}));

    const std::string out = tmp / "out";
    EXPECT_EQ(DecryptedMembers(encrypted, out),
              (std::vector<std::string>{"data1.dat", "data2.dat", "data3.bin"}));
    EXPECT_EQ(testsupport::ReadBytes(out + "/0"), testsupport::ReadBytes(a));
    EXPECT_EQ(testsupport::ReadBytes(out + "/1"), testsupport::ReadBytes(b));
    EXPECT_EQ(testsupport::ReadBytes(out + "/2"), random);
    EXPECT_EQ(platform::FileSize(out + "/plain.zip"), zipSize);
    (void)c;

    // The record of what went into the archive.
    const auto& files = form->SentFiles.Files();
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[2].Path, c);
    for (const auto& f : files) {
        EXPECT_TRUE(f.Archived) << f.Path;
        EXPECT_EQ(f.Size, platform::FileSize(f.Path));
        EXPECT_TRUE(form->SentFiles.IsSentUnchanged(f.Path));
    }
}

// Without $TMPDIR the files go into the user's own folder, made for them;
// the archive and the encrypted file are readable by their owner only. The
// folder is refused once it is not private, and a fresh one serves instead.
TEST_F(Stages, WithoutTmpdirTheUsersOwnFolderHoldsOwnerOnlyFiles) {
    UseRealGpg();
    AddData("data.txt", "patient data");
    ::unsetenv("TMPDIR");
    platform::SetTempRootOverride(tmp / "root");
    std::filesystem::create_directories(tmp / "root");
    const auto modeOf = [](const std::string& path) {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 07777;
    };
    const std::string own = tmp / ("root/roderuv-" + std::to_string(::geteuid()));
    const int zipResult = form->ZipFiles(transferFile, transferSize);
    EXPECT_EQ(modeOf(own + "/_ftp_file.zip"), 0600u);
    const int encryptResult = form->EncryptFile(transferFile, transferSize);
    platform::SetTempRootOverride("");
    ASSERT_EQ(std::make_pair(zipResult, encryptResult), std::make_pair(1, 1));
    EXPECT_EQ(transferFile, own + "/20260305.zip.gpg");
    EXPECT_EQ(modeOf(own), 0700u);
    EXPECT_FALSE(platform::PathExists(own + "/20260305.zip"));
    EXPECT_EQ(modeOf(own + "/20260305.zip.gpg"), 0600u);

    // Once others may look in, the folder is left as it is, and the files go
    // into a fresh private folder beside it, removed with the run.
    ::chmod(own.c_str(), 0750);
    platform::SetTempRootOverride(tmp / "root");
    EXPECT_EQ(form->ZipFiles(transferFile, transferSize), 1);
    EXPECT_EQ(transferFile.rfind(own + "-", 0), 0u) << transferFile;
    EXPECT_EQ(modeOf(platform::ExtractFileDir(transferFile)), 0700u);
    EXPECT_EQ(modeOf(own), 0750u);
    platform::ReleaseTempDir();
    platform::SetTempRootOverride("");
    EXPECT_FALSE(platform::PathExists(platform::ExtractFileDir(transferFile)));
}

TEST_F(Stages, SecondRunOnTheSameDayReplacesTheFirstRunsFiles) {
    UseRealGpg();
    // gpg.exe notes whether the earlier encrypted file was still there.
    std::filesystem::rename(tmp / "gpg.exe", tmp / "gpg-launcher");
    WriteScript(tmp / "gpg.exe",
                "[ -s \"$4.gpg\" ] && echo \"$4.gpg\" >> \"$(dirname \"$0\")/stale\"\n"
                "exec \"$(dirname \"$0\")/gpg-launcher\" \"$@\"\n");
    const std::string data = AddData("data.txt", "first run");
    SetDate(2026, 3, 5);
    ASSERT_EQ(ZipAndEncrypt(), std::make_pair(1, 1));
    const std::string zip1 = InTemp("20260305.zip");
    const std::string gpg1 = InTemp("20260305.zip.gpg");
    ASSERT_TRUE(platform::FileExists(gpg1));

    testsupport::WriteBytes(data, "second run, same day");
    ASSERT_EQ(ZipAndEncrypt(), std::make_pair(1, 1));
    EXPECT_FALSE(platform::FileExists(tmp / "stale")) << testsupport::ReadBytes(tmp / "stale");
    EXPECT_EQ(transferFile, gpg1);
    const std::string out = tmp / "out";
    EXPECT_EQ(DecryptedMembers(gpg1, out), std::vector<std::string>{"data.txt"});
    EXPECT_EQ(testsupport::ReadBytes(out + "/0"), "second run, same day");

    // A run on the next day leaves the earlier day's encrypted file alone.
    SetDate(2026, 3, 6);
    ASSERT_EQ(ZipAndEncrypt(), std::make_pair(1, 1));
    EXPECT_EQ(transferFile, InTemp("20260306.zip.gpg"));
    EXPECT_TRUE(platform::FileExists(gpg1));
    EXPECT_FALSE(platform::PathExists(zip1));
}

TEST_F(Stages, DatedArchiveThatCannotBeDeletedGivesZeroWithItsPath) {
    WriteScript(tmp / "gpg.exe", "exit 0\n");
    AddData("data.txt", "x");
    std::filesystem::create_directories(InTemp("20260305.zip") + "/inside");
    ASSERT_EQ(form->ZipFiles(transferFile, transferSize), 1);
    EXPECT_EQ(form->EncryptFile(transferFile, transferSize), 0);
    EXPECT_EQ(transferFile, InTemp("20260305.zip"));

    // The same for an encrypted file of the day in the way.
    std::filesystem::remove_all(InTemp("20260305.zip"));
    std::filesystem::create_directories(InTemp("20260305.zip.gpg") + "/inside");
    ASSERT_EQ(form->ZipFiles(transferFile, transferSize), 1);
    EXPECT_EQ(form->EncryptFile(transferFile, transferSize), 0);
    EXPECT_EQ(transferFile, InTemp("20260305.zip.gpg"));
}

TEST_F(Stages, OldArchiveThatCannotBeDeletedStopsTheRunNamingItsPath) {
    WriteGoodSettings();
    PutGpg();
    AddData("data.txt", "x");
    const std::string old = InTemp("_ftp_file.zip");
    std::filesystem::create_directories(old + "/inside"); // root may delete any file

    EXPECT_EQ(form->ZipFiles(transferFile, transferSize), 0);
    EXPECT_EQ(transferFile, old);
    EXPECT_EQ(JournalLines(), std::vector<std::string>{Stamped("Mazání starého souboru " + old)});
    EXPECT_TRUE(captions.empty()); // the caption is never touched

    prompts.Clear();
    form->ButtonStartClick(nullptr);
    EXPECT_EQ(prompts.Messages(),
              std::vector<std::string>{"Soubor se stejným názvem již existuje (" + old +
                                       ") a nelze jej smazat. \n\nZkontrolujte prosím právo "
                                       "zapisovat do adresáře."});
}

TEST_F(Stages, LinksPlantedUnderTheTemporaryNamesAreRemovedNotFollowed) {
    WriteGoodSettings();
    PutGpg();
    AddData("data.txt", "x");
    // Links that lead nowhere yet: following them would create the victims.
    const std::string victim = tmp / "victim.zip";
    const std::string victimGpg = tmp / "victim.gpg";
    std::filesystem::create_symlink(victim, InTemp("_ftp_file.zip"));
    std::filesystem::create_symlink(victimGpg, InTemp("20260305.zip.gpg"));

    ASSERT_EQ(form->ZipFiles(transferFile, transferSize), 1);
    EXPECT_FALSE(std::filesystem::exists(victim));
    EXPECT_FALSE(std::filesystem::is_symlink(InTemp("_ftp_file.zip")));
    EXPECT_EQ(JournalLines().front(), Stamped("Mazání starého souboru " + InTemp("_ftp_file.zip")));
    form->EncryptFile(transferFile, transferSize);
    EXPECT_FALSE(std::filesystem::exists(victimGpg));
    EXPECT_FALSE(std::filesystem::is_symlink(InTemp("20260305.zip.gpg")));
}

TEST_F(Stages, GpgRemovedAfterTheCheckGivesFourAndAnEmptyTransferFile) {
    WriteGoodSettings();
    PutGpg();
    AddData("data.txt", "x");
    ASSERT_EQ(form->ZipFiles(transferFile, transferSize), 1);
    std::filesystem::remove(tmp / "gpg.exe");
    const int64_t sizeBefore = transferSize;
    EXPECT_EQ(form->EncryptFile(transferFile, transferSize), 4);
    EXPECT_EQ(transferFile, "");
    EXPECT_EQ(transferSize, sizeBefore);

    // In a whole run: removed while the archive is being made.
    PutGpg();
    onEvents = [this] {
        if (form->Caption().rfind("Zipování souborů...", 0) == 0)
            std::filesystem::remove(tmp / "gpg.exe");
    };
    prompts.Clear();
    form->ButtonStartClick(nullptr);
    EXPECT_EQ(prompts.Messages(), std::vector<std::string>{"Šifrovací aplikaci nelze spustit. "});
}

TEST_F(Stages, GpgWithoutOutputGivesThreeNamingTheEncryptedPath) {
    WriteGoodSettings();
    WriteScript(tmp / "gpg.exe", "exit 2\n");
    AddData("data.txt", "x");
    prompts.Clear();
    form->ButtonStartClick(nullptr);
    const std::string encrypted = InTemp("20260305.zip.gpg");
    EXPECT_EQ(prompts.Messages(),
              std::vector<std::string>{"Šifrovaní se nezdařilo. Výsledný soubor " + encrypted +
                                       " neexistuje nebo má nulovou velikost."});
    // No "Šifrovaný soubor" line for a missing file.
    for (const auto& line : JournalLines())
        EXPECT_EQ(line.find("Šifrovaný soubor"), std::string::npos) << line;
}

TEST_F(Stages, GpgWritingZeroBytesGivesThreeAndJournalsTheSize) {
    WriteGoodSettings();
    // Arguments are -r <key> -e <dated archive>.
    WriteScript(tmp / "gpg.exe", "[ \"$1\" = -r ] && [ \"$3\" = -e ] && : > \"$4.gpg\"\n");
    AddData("data.txt", "x");
    ASSERT_EQ(form->ZipFiles(transferFile, transferSize), 1);
    EXPECT_EQ(form->EncryptFile(transferFile, transferSize), 3);
    const std::string encrypted = InTemp("20260305.zip.gpg");
    EXPECT_EQ(transferFile, encrypted);
    EXPECT_EQ(transferSize, 0);
    EXPECT_EQ(JournalLines().back(),
              Stamped("Šifrovaný soubor " + encrypted + " o velikosti 0 bytů"));

    prompts.Clear();
    form->ButtonStartClick(nullptr);
    EXPECT_EQ(prompts.Messages(),
              std::vector<std::string>{"Šifrovaní se nezdařilo. Výsledný soubor " + encrypted +
                                       " neexistuje nebo má nulovou velikost."});
}

TEST_F(Stages, SizeBeyondThirtyTwoBitsIsJournalledWhole) {
    // A sparse encrypted file of 5 GiB: nothing is written to disk.
    WriteScript(tmp / "gpg.exe", "truncate -s 5G \"$4.gpg\"\n");
    AddData("data.txt", "x");
    ASSERT_EQ(ZipAndEncrypt(), std::make_pair(1, 1));
    EXPECT_EQ(transferSize, int64_t{5} << 30);
    EXPECT_EQ(JournalLines().back(), Stamped("Šifrovaný soubor " + InTemp("20260305.zip.gpg") +
                                             " o velikosti 5368709120 bytů"));
}

TEST_F(Stages, PathsWithBlanksQuotesAndDollarAreArchivedAndEncrypted) {
    UseRealGpg();
    // Both the data path and the temporary directory (and so the argument
    // given to gpg.exe) hold blanks, quotes and '$'.
    UseTempDir(tmp / "temp dir 'q' \"dq\" $HOME `x`");
    const std::string folder = tmp / "data $USER 'a' \"b\"";
    std::filesystem::create_directories(folder);
    const std::string path = folder + "/my \"file\" $PATH 'x'.txt";
    testsupport::WriteBytes(path, "content with $dollar");
    form->ListFiles->Add(path);

    ASSERT_EQ(ZipAndEncrypt(), std::make_pair(1, 1));
    EXPECT_EQ(transferFile, InTemp("20260305.zip.gpg"));
    const std::string out = tmp / "out";
    EXPECT_EQ(DecryptedMembers(transferFile, out),
              std::vector<std::string>{"my \"file\" $PATH 'x'.txt"});
    EXPECT_EQ(testsupport::ReadBytes(out + "/0"), "content with $dollar");
}

TEST_F(Stages, SameNameInTwoFoldersGivesTwoMembersOfThatName) {
    std::filesystem::create_directories(tmp / "a");
    std::filesystem::create_directories(tmp / "b");
    testsupport::WriteBytes(tmp / "a/data.txt", "from a");
    testsupport::WriteBytes(tmp / "b/data.txt", "from b");
    form->ListFiles->Add(tmp / "a/data.txt");
    form->ListFiles->Add(tmp / "b/data.txt");
    ASSERT_EQ(form->ZipFiles(transferFile, transferSize), 1);
    const std::string out = tmp / "out";
    std::filesystem::create_directories(out);
    EXPECT_EQ(ZipMembers(transferFile, out), (std::vector<std::string>{"data.txt", "data.txt"}));
    EXPECT_EQ(testsupport::ReadBytes(out + "/0"), "from a");
    EXPECT_EQ(testsupport::ReadBytes(out + "/1"), "from b");
}

// A file the writer refuses (past its 4 GiB: sparse, never read) is left out
// and shown as a missing file is; without a member there is nothing to send.
TEST_F(Stages, AFileTooLargeForTheArchiveIsLeftOutAndTold) {
    WriteGoodSettings();
    PutGpg();
    const std::string big = DataFile("big.csv", "");
    std::filesystem::resize_file(big, int64_t{5} << 30);
    const std::string leftOut = "Soubor " + big +
                                " je větší než 4 GB, archiv ZIP jej nepojme; "
                                "nebude odeslán.";
    form->ListFiles->Add(big);
    EXPECT_EQ(form->ZipFiles(transferFile, transferSize), 3);
    EXPECT_FALSE(platform::PathExists(transferFile));
    EXPECT_EQ(JournalLines(),
              (std::vector<std::string>{Stamped(leftOut), Stamped("Zazipováno celkem 0"),
                                        Stamped("Zazipováno celkem 0; celková velikost 0 bytů")}));
    AddData("good.csv", "good");
    form->ButtonStartClick(nullptr);
    EXPECT_EQ(prompts.Messages(),
              (std::vector<std::string>{leftOut, "Šifrovaní se nezdařilo. Výsledný soubor " +
                                                     InTemp("20260305.zip.gpg") +
                                                     " neexistuje nebo má nulovou velikost."}));
}

TEST_F(Stages, EmptyListGivesTwoWithoutTouchingTheCaption) {
    form->SetCaption("before");
    EXPECT_EQ(form->ZipFiles(transferFile, transferSize), 2);
    EXPECT_EQ(transferFile, InTemp("_ftp_file.zip"));
    EXPECT_EQ(transferSize, -1);
    EXPECT_TRUE(captions.empty());
    EXPECT_EQ(form->Caption(), "before");
    EXPECT_TRUE(JournalLines().empty());
}

TEST_F(Stages, UnwritableTemporaryDirectoryGivesThreeWithSizeZero) {
    UseTempDir(tmp / "no such folder");
    std::filesystem::remove(tmp / "no such folder");
    AddData("data.txt", "x");
    EXPECT_EQ(form->ZipFiles(transferFile, transferSize), 3);
    EXPECT_EQ(transferSize, 0);
    EXPECT_EQ(JournalLines(),
              (std::vector<std::string>{Stamped("Zazipováno celkem 0"),
                                        Stamped("Zazipováno celkem 0; celková velikost 0 bytů")}));
    EXPECT_FALSE(form->SentFiles.Files().at(0).Archived);
}

TEST_F(Stages, MissingFileIsNotCountedAndRecordedAsNotArchived) {
    const std::string good = AddData("good.txt", "good");
    form->ListFiles->Add(tmp / "missing.txt");
    ASSERT_EQ(form->ZipFiles(transferFile, transferSize), 1);
    EXPECT_EQ(JournalLines().front(), Stamped("Zazipováno celkem 1"));
    const auto& files = form->SentFiles.Files();
    ASSERT_EQ(files.size(), 2u);
    EXPECT_TRUE(files[0].Archived);
    EXPECT_FALSE(files[1].Archived);
    EXPECT_FALSE(form->SentFiles.IsSentUnchanged(tmp / "missing.txt"));

    // The next run starts a fresh record.
    form->ListFiles->Clear();
    form->ListFiles->Add(good);
    ASSERT_EQ(form->ZipFiles(transferFile, transferSize), 1);
    EXPECT_EQ(form->SentFiles.Files().size(), 1u);
}

TEST_F(Stages, EventsRunWhileALargeFileIsCompressed) {
    // Beyond the one "let events run" per file: the window stays alive while
    // the writer's threads work through a file of several megabytes.
    testsupport::ScopedEnv threads("RODERUV_ZIP_THREADS", "2");
    std::string text;
    for (int i = 0; text.size() < (4u << 20); ++i)
        text += "2024-01-" + std::to_string(1 + i % 28) + ";" + std::to_string(i * 7919) + "\n";
    AddData("large.csv", text);
    ASSERT_EQ(form->ZipFiles(transferFile, transferSize), 1);
    EXPECT_GT(captions.size(), 1u);
}

TEST_F(Stages, FileWrittenWhileItIsArchivedIsNotRecordedAsArchived) {
    const std::string big = testsupport::RandomBytes(8 << 20, 3);
    const std::string growing = AddData("growing.bin", big);
    const std::string steady = AddData("steady.txt", "steady");
    std::atomic<bool> stop{false};
    std::thread writer;
    // Start appending when the stage reaches the growing file.
    onEvents = [&] {
        if (!writer.joinable())
            writer = std::thread([&] {
                while (!stop) {
                    std::ofstream(growing, std::ios::app) << 'x';
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            });
    };
    const int result = form->ZipFiles(transferFile, transferSize);
    stop = true;
    writer.join();
    EXPECT_EQ(result, 1);
    const auto& files = form->SentFiles.Files();
    ASSERT_EQ(files.size(), 2u);
    EXPECT_FALSE(files[0].Archived);
    EXPECT_TRUE(files[1].Archived);
    EXPECT_FALSE(form->SentFiles.IsSentUnchanged(growing));
    EXPECT_TRUE(form->SentFiles.IsSentUnchanged(steady));
}

TEST_F(Stages, ArchiveWhoseEndCannotBeWrittenIsRemovedAndNothingCountsAsSent) {
    const std::string random = testsupport::RandomBytes(5000, 5);
    const std::string data = AddData("data.bin", random);
    ASSERT_EQ(form->ZipFiles(transferFile, transferSize), 1);
    const int64_t whole = transferSize;

    // Files of this process may not grow past the archive's last bytes: the
    // data fit, the end of the central directory does not.
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = old;
    limited.rlim_cur = static_cast<rlim_t>(whole - 10);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const int result = form->ZipFiles(transferFile, transferSize);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(result, 3);
    EXPECT_EQ(transferSize, 0);
    EXPECT_FALSE(platform::FileExists(InTemp("_ftp_file.zip")));
    ASSERT_EQ(form->SentFiles.Files().size(), 1u);
    EXPECT_FALSE(form->SentFiles.Files()[0].Archived);
    EXPECT_FALSE(form->SentFiles.IsSentUnchanged(data));
    EXPECT_EQ(JournalLines().back(), Stamped("Zazipováno celkem 0; celková velikost 0 bytů"));
}

TEST_F(Stages, GetFileSizeCountsSixtyFourBits) {
    EXPECT_EQ(form->GetFileSize(tmp / "missing"), 0);
    EXPECT_EQ(form->GetFileSize(DataFile("empty", "")), 0);
    EXPECT_EQ(form->GetFileSize(DataFile("some", std::string(1234, 's'))), 1234);
    EXPECT_EQ(form->GetFileSize(tmp.Path()), 0); // a folder is no file
    const std::string sparse = tmp / "sparse";
    std::filesystem::resize_file(DataFile("sparse", ""), (int64_t{3} << 30) + 7);
    EXPECT_EQ(form->GetFileSize(sparse), (int64_t{3} << 30) + 7);
}

} // namespace
