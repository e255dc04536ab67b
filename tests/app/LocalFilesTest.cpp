// Whole unattended runs on the real window with every real stage, where a
// local path is not what it should be: a journal that is no regular file, a
// temporary folder another user made first. The run must neither wait nor
// write where it should not, and still send; what it makes is its owner's.
#include "WholeRunFixture.h"

#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "settings/Unitpom.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/SpecialFiles.h"

#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using testsupport::FakeFtpServer;

const std::string kStor = std::string("STOR ") + WholeRunFixture::kEncryptedName;

class LocalFiles : public WholeRunFixture {
protected:
    LocalFiles() {
        PutDataFiles({{tmp / "data/pacienti.csv", "id;jméno\r\n1;Jiří Novák\r\n"},
                      {tmp / "data/výsledky.bin", testsupport::RandomBytes(100000, 4)}});
        UseFake(ftp);
        WriteSettingInteger("FilesMoveTo", 1);
        LogIn(ftp).Pasv().Store(kStor).Reply(std::string("SIZE ") + kEncryptedName,
                                             "502 Command not implemented.");
    }

    // The run ended by itself and the server got the data files.
    void ExpectSent() {
        ExpectEndRequestedWithoutBoxes();
        EXPECT_EQ(ftp.Verify(), "");
        ASSERT_EQ(ftp.StoredData().size(), 1u);
        testsupport::WriteBytes(tmp / "stored.gpg", ftp.StoredData()[0]);
        ExpectArrived(tmp / "stored.gpg");
    }

    FakeFtpServer ftp;
};

// The journal names something that is no regular file: the run does not
// wait for it, writes nothing into it and sends as without a journal. The
// FIFO nobody reads gets a reader after 15 s, so a run that waited for one
// ends and is seen to have waited.
class SpecialJournal : public LocalFiles, public testing::WithParamInterface<const char*> {};

TEST_P(SpecialJournal, IsNeitherAwaitedNorWritten) {
    const std::string kind = GetParam();
    testsupport::FifoReader fifo(kind == "FifoNobodyReads" ? 15000 : 0);
    testsupport::Terminal terminal;
    const std::string path = kind == "Terminal" ? terminal.Path() : fifo.Make(tmp / "log.fifo");
    ASSERT_FALSE(path.empty());
    WriteSettingString("General", "CestaLog", path);
    EXPECT_LT(RunAuto(), 10000) << "the run did not wait for the journal";
    EXPECT_FALSE(kind == "Terminal" ? terminal.Reached() : fifo.Reached())
        << "nothing was written into it";
    ExpectSent();
}

INSTANTIATE_TEST_SUITE_P(Rows, SpecialJournal,
                         testing::Values("FifoNobodyReads", "FifoWithAReader", "Terminal"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param);
                         });

// Another user made the user's temporary folder first, open to everyone: it
// is left alone, and the run uses a fresh private folder, which goes again
// with the run. What the run makes is its owner's alone: a new journal and
// the dated folder of the moved files.
TEST_F(LocalFiles, TemporaryFolderOfAnotherUserIsLeftAloneAndTheRunSends) {
    const std::string root = tmp / "shared-tmp";
    const std::string planted = root + "/roderuv-" + std::to_string(::geteuid());
    ::mkdir(root.c_str(), 0777);
    ::mkdir(planted.c_str(), 0777);
    ::chmod(planted.c_str(), 0777);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(planted.c_str(), 65534, 65534), 0);
    }
    platform::SetTempRootOverride(root);
    WriteSettingInteger("FilesMoveTo", 2);
    WriteSettingString("General", "FilesMoveToDir", tmp / "moved/");
    ::mkdir((tmp / "moved").c_str(), 0755);
    {
        testsupport::ScopedEnv noTmpdir("TMPDIR", "");
        form = MakeForm({"/auto"});
        form->FormActivate(nullptr);
    }
    platform::SetTempRootOverride("");

    ExpectSent();
    const auto journal = Journal();
    ASSERT_GE(journal.size(), 8u);
    EXPECT_EQ(journal[7].rfind("Dočasný adresář " + planted +
                                   " nelze bezpečně použít, použit je nový adresář " + planted +
                                   "-",
                               0),
              0u)
        << journal[7];
    EXPECT_EQ(journal.back(), std::string(kSuccess) + "\t\t");
    EXPECT_EQ(testsupport::ListFolder(root), "roderuv-" + std::to_string(::geteuid()) + "\n")
        << "the fresh folder went with the run";
    EXPECT_EQ(testsupport::ListFolder(planted), "") << "nothing was put into the planted folder";
    struct stat st {};
    ASSERT_EQ(::stat(JournalPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u) << "the new journal";
    ASSERT_EQ(::stat((tmp / "moved/20260305").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u) << "the dated folder";
}

} // namespace
