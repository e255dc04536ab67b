// Whole unattended runs on the real window with every real stage, where a
// local path is not what it should be: a journal that is no regular file, a
// temporary folder another user made first. The run neither waits nor
// writes where it should not, and sends; what it makes is its owner's.
#include "WholeRunFixture.h"

#include "platform/Paths.h"
#include "settings/Unitpom.h"
#include "tests/support/ScopedEnv.h"

#include <atomic>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

class LocalFiles : public WholeRunFixture {
protected:
    LocalFiles() {
        PutDataFiles({{tmp / "data/pacienti.csv", "id;jméno\r\n1;Jiří Novák\r\n"},
                      {tmp / "data/výsledky.bin", testsupport::RandomBytes(100000, 4)}});
        UseFake(ftp);
        const std::string name = kEncryptedName;
        LogIn(ftp)
            .Pasv()
            .Store("STOR " + name)
            .Reply("SIZE " + name, "502 Not implemented.")
            .Reply("FEAT", "502 Not implemented.");
    }
    // The run ended by itself and the server got the data files.
    void ExpectSent() {
        ExpectEndRequestedWithoutBoxes();
        EXPECT_EQ(ftp.Verify(), "");
        ASSERT_EQ(ftp.StoredData().size(), 1u);
        testsupport::WriteBytes(tmp / "stored.gpg", ftp.StoredData()[0]);
        ExpectArrived(tmp / "stored.gpg");
    }
    testsupport::FakeFtpServer ftp;
};

// The journal is a FIFO nobody reads, or a terminal: the run neither waits
// nor writes there. The FIFO gets a reader after 15 s, so a run that waited
// in open() ends and is seen to have waited.
class SpecialJournal : public LocalFiles, public testing::WithParamInterface<bool> {};

TEST_P(SpecialJournal, IsNeitherAwaitedNorWritten) {
    std::string path = tmp / "log.fifo";
    int reader = -1, terminal = -1;
    std::atomic<bool> ended{false};
    std::thread opener;
    if (GetParam()) {
        reader = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_TRUE(reader >= 0 && ::grantpt(reader) == 0 && ::unlockpt(reader) == 0);
        path = ::ptsname(reader);
        terminal = ::open(path.c_str(), O_RDWR | O_NOCTTY); // keeps what is written
    } else {
        ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
        opener = std::thread([&] {
            for (int ms = 0; ms < 15000 && !ended; ms += 10)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (!ended)
                reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
        });
    }
    WriteSettingString("General", "CestaLog", path);
    EXPECT_LT(RunAuto(), 10000) << "the run did not wait for the journal";
    ended = true;
    if (opener.joinable())
        opener.join();
    char c;
    EXPECT_FALSE(reader >= 0 && ::read(reader, &c, 1) > 0) << "nothing was written there";
    ExpectSent();
    for (int fd : {reader, terminal})
        if (fd >= 0)
            ::close(fd);
}

INSTANTIATE_TEST_SUITE_P(Rows, SpecialJournal, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? "Terminal" : "FifoNobodyReads";
                         });

// Another user made the user's temporary folder first, open to everyone: it
// is left alone, and a fresh private folder serves the run and goes with it.
// A new journal is 0600, the dated folder of moved files 0700.
TEST_F(LocalFiles, TemporaryFolderOfAnotherUserIsLeftAloneAndTheRunSends) {
    const std::string root = tmp / "shared-tmp";
    const std::string own = "roderuv-" + std::to_string(::geteuid());
    ::mkdir(root.c_str(), 0777);
    ::mkdir((root + "/" + own).c_str(), 0777);
    ::chmod((root + "/" + own).c_str(), 0777);
    (void)::chown((root + "/" + own).c_str(), 65534, 65534); // root only
    WriteSettingInteger("FilesMoveTo", 2);
    WriteSettingString("General", "FilesMoveToDir", tmp / "moved/");
    ::mkdir((tmp / "moved").c_str(), 0755);
    platform::SetTempRootOverride(root);
    {
        testsupport::ScopedEnv noTmpdir("TMPDIR", "");
        form = MakeForm({"/auto"});
        form->FormActivate(nullptr);
    }
    platform::SetTempRootOverride("");

    ExpectSent();
    const auto journal = Journal();
    ASSERT_GE(journal.size(), 8u);
    const std::string refused = "Dočasný adresář " + root + "/" + own +
                                " nelze bezpečně použít, použit je nový adresář " + root + "/" +
                                own + "-";
    EXPECT_EQ(journal[7].rfind(refused, 0), 0u) << journal[7];
    EXPECT_EQ(journal.back(), std::string(kSuccess) + "\t\t");
    EXPECT_EQ(testsupport::ListFolder(root), own + "\n") << "the fresh folder went with the run";
    EXPECT_EQ(testsupport::ListFolder(root + "/" + own), "") << "the planted folder is untouched";
    const auto modeOf = [](const std::string& path) {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 07777u;
    };
    EXPECT_EQ(modeOf(JournalPath()), 0600u) << "the new journal";
    EXPECT_EQ(modeOf(tmp / "moved/20260305"), 0700u) << "the dated folder";
}

} // namespace
