// Deleting and moving the data files after the upload, on the real window:
// only files recorded as sent unchanged are touched, the dated folder, its
// journal lines, and copies that never replace an earlier file.
#include "AppFixture.h"

#include "app/FreeFileName.h"
#include "platform/FileSystem.h"
#include "settings/Unitpom.h"

#include <sys/stat.h>

namespace {

class DataFiles : public AppFixture {
protected:
    DataFiles() {
        WriteGoodSettings();
        form = MakeForm();
        // As a run sets them at its start.
        form->LogEnabled = true;
        form->LogPath = JournalPath();
        ::mkdir((tmp / "a").c_str(), 0755);
        ::mkdir((tmp / "b").c_str(), 0755);
        ::mkdir((tmp / "out").c_str(), 0755);
    }

    // A listed data file recorded as sent whole, as the archive stage does.
    std::string Sent(const std::string& name, const std::string& content) {
        const std::string path = DataFile(name, content);
        form->ListFiles->Add(path);
        Record(path);
        return path;
    }
    void Record(const std::string& path) {
        platform::FileInfo info;
        platform::FileIdentity id;
        ASSERT_TRUE(platform::GetFileInfo(path, info) && platform::GetFileIdentity(path, id));
        form->SentFiles.Add(
            {path, true, info.size, info.lastWrite, info.lastWriteNsec, id, true, {}});
    }

    std::vector<std::string> Journal() const {
        std::vector<std::string> out;
        for (const std::string& line : JournalLines())
            out.push_back(line.substr(std::string(kStamp).size()));
        return out;
    }

    std::unique_ptr<TForm1> form;
};

TEST(FreeName, NumberGoesBeforeTheLastDot) {
    EXPECT_EQ(NumberedFileName("/x/data.csv", 1), "/x/data.csv");
    EXPECT_EQ(NumberedFileName("/x/data.csv", 2), "/x/data (2).csv");
    EXPECT_EQ(NumberedFileName("/x/zprava.tar.gz", 3), "/x/zprava.tar (3).gz");
    EXPECT_EQ(NumberedFileName("/x/README", 2), "/x/README (2)");
    EXPECT_EQ(NumberedFileName("/x/.profil", 2), "/x/.profil (2)");
    EXPECT_EQ(NumberedFileName("/x.d/data", 2), "/x.d/data (2)");
}

TEST_F(DataFiles, DeleteRemovesEverySentFileAndKeepsTheList) {
    const auto f1 = Sent("a/jedna.csv", "1");
    const auto f2 = Sent("a/dvě.csv", "22");
    const auto f3 = Sent("b/tři.bin", "333");
    form->SetCaption("Data odeslána v pořádku...");
    EXPECT_TRUE(form->DeleteDataFiles());
    EXPECT_FALSE(platform::FileExists(f1));
    EXPECT_FALSE(platform::FileExists(f2));
    EXPECT_FALSE(platform::FileExists(f3));
    EXPECT_EQ(form->ListFiles->Items(), (std::vector<std::string>{f1, f2, f3}));
    EXPECT_EQ(form->Caption(), "Data odeslána v pořádku...");
    EXPECT_EQ(Journal(), (std::vector<std::string>{"Probíhá mazání souborů - 3 souborů"}));
}

TEST_F(DataFiles, DeleteLeavesFilesThatWereNotSentOrChanged) {
    const auto sent = Sent("a/sent.csv", "sent");
    const auto notSent = DataFile("a/notsent.csv", "not sent");
    form->ListFiles->Add(notSent);
    form->SentFiles.Add({notSent, false, 8, 0, 0, {}, false, {}});
    const auto changed = Sent("a/changed.csv", "old");
    testsupport::WriteBytes(changed, "written after the archive");
    const auto unrecorded = DataFile("a/unrecorded.csv", "x");
    form->ListFiles->Add(unrecorded);
    EXPECT_FALSE(form->DeleteDataFiles());
    EXPECT_FALSE(platform::FileExists(sent));
    EXPECT_EQ(testsupport::ReadBytes(notSent), "not sent");
    EXPECT_EQ(testsupport::ReadBytes(changed), "written after the archive");
    EXPECT_TRUE(platform::FileExists(unrecorded));
    EXPECT_EQ(Journal(), (std::vector<std::string>{"Probíhá mazání souborů - 4 souborů"}));
}

TEST_F(DataFiles, DeleteOfAFileAlreadyGoneFails) {
    const auto f1 = Sent("a/one.csv", "1");
    const auto f2 = Sent("a/two.csv", "2");
    platform::DeleteFile(f1);
    EXPECT_FALSE(form->DeleteDataFiles());
    EXPECT_FALSE(platform::FileExists(f2));
}

TEST_F(DataFiles, MoveCreatesTheDatedFolderAndMovesEveryFile) {
    WriteSettingString("General", "FilesMoveToDir", tmp / "out/");
    const auto f1 = Sent("a/pacienti_září.csv", "jedna");
    const auto f2 = Sent("b/léčba.csv", "dvě");
    form->SetCaption("Data odeslána v pořádku...");
    EXPECT_TRUE(form->MoveDataFiles());
    const std::string dated = tmp / "out/20260305/";
    EXPECT_TRUE(platform::DirectoryExists(dated));
    EXPECT_EQ(testsupport::ReadBytes(dated + "pacienti_září.csv"), "jedna");
    EXPECT_EQ(testsupport::ReadBytes(dated + "léčba.csv"), "dvě");
    EXPECT_FALSE(platform::FileExists(f1));
    EXPECT_FALSE(platform::FileExists(f2));
    EXPECT_EQ(form->ListFiles->Items(), (std::vector<std::string>{f1, f2}));
    EXPECT_EQ(form->Caption(), "Data odeslána v pořádku...");
    EXPECT_EQ(Journal(), (std::vector<std::string>{"Probíhá přesun souborů - 2 souborů"}));
}

TEST_F(DataFiles, MoveIntoMissingParentTouchesNoFile) {
    WriteSettingString("General", "FilesMoveToDir", tmp / "chybi/");
    const auto f1 = Sent("a/one.csv", "1");
    form->SetCaption("Data odeslána v pořádku...");
    EXPECT_FALSE(form->MoveDataFiles());
    EXPECT_TRUE(platform::FileExists(f1));
    EXPECT_FALSE(platform::DirectoryExists(tmp / "chybi"));
    EXPECT_EQ(Journal(),
              (std::vector<std::string>{
                  "Probíhá přesun souborů - 1 souborů",
                  "Cílový adresář \"" + (tmp / "chybi/20260305/") + "\" se nepodařilo vytvořit. ",
              }));
    // The run puts the caption back when it ends.
    EXPECT_EQ(form->Caption(), "Data odeslána v pořádku... - probíhá přesun souborů");
}

TEST_F(DataFiles, MoveWithoutFolderSettingTouchesNoFile) {
    const auto f1 = Sent("a/one.csv", "1");
    EXPECT_FALSE(form->MoveDataFiles());
    EXPECT_TRUE(platform::FileExists(f1));
    EXPECT_EQ(Journal(), (std::vector<std::string>{"Probíhá přesun souborů - 1 souborů",
                                                   "Není nastaven cílový adresář pro přesun."}));
}

TEST_F(DataFiles, MoveFolderWithoutTrailingSeparatorLiesBesideIt) {
    WriteSettingString("General", "FilesMoveToDir", tmp / "out");
    const auto f1 = Sent("a/one.csv", "1");
    EXPECT_TRUE(form->MoveDataFiles());
    EXPECT_EQ(testsupport::ReadBytes(tmp / "out20260305/one.csv"), "1");
}

TEST_F(DataFiles, MoveNeverOverwritesAndKeepsEveryContent) {
    WriteSettingString("General", "FilesMoveToDir", tmp / "out/");
    ::mkdir((tmp / "out/20260305").c_str(), 0755);
    // An earlier run the same day, and two listed files of the same name.
    testsupport::WriteBytes(tmp / "out/20260305/data.csv", "earlier run");
    testsupport::WriteBytes(tmp / "out/20260305/data (2).csv", "earlier run, second");
    const auto f1 = Sent("a/data.csv", "from a");
    const auto f2 = Sent("b/data.csv", "from b");
    EXPECT_TRUE(form->MoveDataFiles());
    EXPECT_EQ(testsupport::ReadBytes(tmp / "out/20260305/data.csv"), "earlier run");
    EXPECT_EQ(testsupport::ReadBytes(tmp / "out/20260305/data (2).csv"), "earlier run, second");
    EXPECT_EQ(testsupport::ReadBytes(tmp / "out/20260305/data (3).csv"), "from a");
    EXPECT_EQ(testsupport::ReadBytes(tmp / "out/20260305/data (4).csv"), "from b");
    EXPECT_FALSE(platform::FileExists(f1));
    EXPECT_FALSE(platform::FileExists(f2));
}

TEST_F(DataFiles, MoveLeavesFilesThatWereNotSent) {
    WriteSettingString("General", "FilesMoveToDir", tmp / "out/");
    const auto sent = Sent("a/sent.csv", "sent");
    const auto notSent = DataFile("a/notsent.csv", "not sent");
    form->ListFiles->Add(notSent);
    EXPECT_FALSE(form->MoveDataFiles());
    EXPECT_FALSE(platform::FileExists(sent));
    EXPECT_TRUE(platform::FileExists(tmp / "out/20260305/sent.csv"));
    EXPECT_EQ(testsupport::ReadBytes(notSent), "not sent");
    EXPECT_FALSE(platform::FileExists(tmp / "out/20260305/notsent.csv"));
}

TEST_F(DataFiles, CopyThatCannotBeMadeKeepsTheSource) {
    WriteSettingString("General", "FilesMoveToDir", tmp / "out/");
    const auto f1 = Sent("a/one.csv", "1");
    // Something that is not a file stands at every name of the series' start.
    ::mkdir((tmp / "out/20260305").c_str(), 0755);
    ::symlink("/nonexistent/target", (tmp / "out/20260305/one.csv").c_str());
    EXPECT_FALSE(form->MoveDataFiles());
    EXPECT_EQ(testsupport::ReadBytes(f1), "1");
}

} // namespace
