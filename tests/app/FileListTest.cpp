// The list of data files: loading and saving through Settings.ini, adding
// with the open dialog, removing the selected lines.
#include "AppFixture.h"

#include "tests/support/System.h"

#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "settings/Unitpom.h"

namespace {

using FileList = AppFixture;

std::string Ini(const AppFixture& f) {
    std::string bytes;
    platform::ReadFileBytes(SettingsFilePath(), bytes);
    (void)f;
    return platform::Cp1250ToUtf8(bytes);
}

TEST_F(FileList, LoadsThreeSavedEntriesInOrder) {
    WriteSettingString("General", "PocetSouboru", "3");
    WriteSettingString("Files", "File0", "/data/první.dat");
    WriteSettingString("Files", "File1", "/data/b.dat");
    WriteSettingString("Files", "File2", "/data/c.dat");
    auto form = MakeForm();
    form->LoadFileList();
    EXPECT_EQ(form->ListFiles->Items(),
              (std::vector<std::string>{"/data/první.dat", "/data/b.dat", "/data/c.dat"}));
}

TEST_F(FileList, MissingSettingsFileLoadsNothing) {
    auto form = MakeForm();
    form->LoadFileList();
    EXPECT_EQ(form->ListFiles->Count(), 0);
    EXPECT_FALSE(platform::FileExists(SettingsFilePath()));
}

// The stored count is trusted only as far as the section holds entries: a
// missing key within that size gives an empty line, and a huge count builds
// no more lines than there are entries.
TEST_F(FileList, CountLargerThanTheKeysIsBoundedByTheSection) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"3", {"", "/data/b.dat", ""}}, // File9 lies beyond the section's three entries
        {"2000000000", {"", "/data/b.dat", ""}},
        {"2", {"", "/data/b.dat"}},
    };
    for (const auto& [count, expected] : cases) {
        testsupport::WriteBytes(
            SettingsFilePath(),
            "[General]\r\nPocetSouboru=" + count +
                "\r\n[Files]\r\nFile1=/data/b.dat\r\nFileX=x\r\nFile9=/data/z.dat\r\n");
        auto form = MakeForm();
        form->LoadFileList();
        EXPECT_EQ(form->ListFiles->Items(), expected) << count;
    }
}

TEST_F(FileList, LoadingAppendsWithoutDuplicateTest) {
    WriteSettingString("General", "PocetSouboru", "1");
    WriteSettingString("Files", "File0", "/a");
    auto form = MakeForm();
    form->ListFiles->Add("/a");
    form->LoadFileList();
    EXPECT_EQ(form->ListFiles->Items(), (std::vector<std::string>{"/a", "/a"}));
}

TEST_F(FileList, SaveWritesCountAndKeysAndRoundTrips) {
    auto form = MakeForm();
    for (int i = 0; i < 12; ++i)
        form->ListFiles->Add("/data/soubor č." + std::to_string(i));
    form->SaveFileList();
    EXPECT_EQ(ReadSettingInteger("PocetSouboru", -1), 12);
    EXPECT_EQ(ReadSettingString("Files", "File10", ""), "/data/soubor č.10");
    const std::string ini = Ini(*this);
    EXPECT_NE(ini.find("File11=/data/soubor č.11\r\n"), std::string::npos) << ini;
    auto again = MakeForm();
    again->LoadFileList();
    EXPECT_EQ(again->ListFiles->Items(), form->ListFiles->Items());
}

TEST_F(FileList, SavingAnEmptyListLeavesCountZeroAndNoFilesSection) {
    auto form = MakeForm();
    form->ListFiles->Add("/a");
    form->ListFiles->Add("/b");
    form->SaveFileList();
    form->ListFiles->Clear();
    form->SaveFileList();
    EXPECT_EQ(ReadSettingInteger("PocetSouboru", -1), 0);
    const std::string ini = Ini(*this);
    EXPECT_EQ(ini.find("[Files]"), std::string::npos) << ini;
    EXPECT_EQ(ini.find("File0"), std::string::npos) << ini;
}

TEST_F(FileList, SavingFewerEntriesRemovesTheOldKeys) {
    auto form = MakeForm();
    for (const char* p : {"/a", "/b", "/c"})
        form->ListFiles->Add(p);
    form->SaveFileList();
    form->ListFiles->Delete(0);
    form->SaveFileList();
    EXPECT_EQ(ReadSettingString("Files", "File2", "gone"), "gone");
    EXPECT_EQ(ReadSettingString("Files", "File0", ""), "/b");
}

TEST_F(FileList, AddAppendsChosenFilesSkipsListedOnesAndRemembersTheFolder) {
    const std::string a = DataFile("a.txt");
    const std::string b = DataFile("b.txt");
    auto form = MakeForm();
    form->ListFiles->Add(a);
    prompts.QueueFiles({b, a, b});
    ui::testing::Press(*form->ButtonAddFiles);
    EXPECT_EQ(form->ListFiles->Items(), (std::vector<std::string>{a, b}));
    ASSERT_EQ(prompts.Requests().size(), 1u);
    const ui::PromptRequest& r = prompts.Requests()[0];
    EXPECT_EQ(r.kind, ui::PromptKind::OpenFiles);
    EXPECT_EQ(r.caption, "Přidat soubor(y) do seznamu...");
    EXPECT_EQ(r.initialDir, platform::CurrentDir()) << "no LastFolder yet";
    EXPECT_TRUE(r.filter.empty());
    EXPECT_EQ(ReadSettingString("General", "LastFolder", ""), tmp.Path());
    EXPECT_EQ(ReadSettingInteger("PocetSouboru", -1), -1) << "the list is not saved";

    prompts.Clear();
    prompts.QueueCancel();
    ui::testing::Press(*form->ButtonAddFiles);
    EXPECT_EQ(prompts.Requests()[0].initialDir, tmp.Path());
}

TEST_F(FileList, PathsOutsideWindows1250AreRefusedNotMangled) {
    auto form = MakeForm();
    const std::string good = tmp / "léčba.csv";
    const std::string greek = tmp / "δεδομένα.csv";
    prompts.QueueFiles({greek, good});
    ui::testing::Press(*form->ButtonAddFiles);
    EXPECT_EQ(form->ListFiles->Items(), (std::vector<std::string>{good}));
    ASSERT_EQ(prompts.Requests().size(), 2u);
    EXPECT_EQ(prompts.Requests()[1].kind, ui::PromptKind::Message);
    EXPECT_NE(prompts.Requests()[1].text.find(greek), std::string::npos);
    EXPECT_EQ(ReadSettingString("General", "LastFolder", ""), tmp.Path());
    form->SaveFileList(); // nothing unstorable reached the list
    EXPECT_EQ(ReadSettingString("Files", "File0", ""), good);
}

// A line break in the path (which would split its line in Settings.ini) is
// refused with the encoding message; a name whose backslashes would lead out
// of the archive's folder with a message of its own.
TEST_F(FileList, PathsThatCannotBeStoredOrArchivedSafelyAreRefused) {
    const std::string good = tmp / "léčba.csv";
    std::vector<std::pair<std::string, std::string>> cases{{tmp / "a\nb.csv", "Windows-1250):\n"},
                                                           {tmp / "x.csv\r", "Windows-1250):\n"}};
    // On Windows a backslash separates folders; elsewhere it is part of a
    // name, which the archive would turn into folders.
    if (!testsupport::OnWindows()) {
        cases.push_back({tmp / "..\\..\\x.csv", "mimo jeho složku:\n"});
        cases.push_back({tmp / "\\etc\\x", "mimo jeho složku:\n"});
    }
    for (const auto& [path, message] : cases) {
        auto form = MakeForm();
        prompts.Clear();
        prompts.QueueFiles({path, good});
        ui::testing::Press(*form->ButtonAddFiles);
        EXPECT_EQ(form->ListFiles->Items(), (std::vector<std::string>{good}));
        ASSERT_EQ(prompts.Requests().size(), 2u);
        EXPECT_NE(prompts.Requests()[1].text.find(message + path), std::string::npos);
    }
}

// Two members of one name (letter case aside, as Windows compares) could not
// be told apart once unpacked: a file named as a listed one is refused.
TEST_F(FileList, AFileNamedAsAListedOneIsRefused) {
    auto form = MakeForm();
    form->ListFiles->Add(tmp / "léčba.csv");
    const std::string refused = platform::JoinPath(tmp / "jinde", "LÉČBA.csv");
    prompts.QueueFiles({refused, tmp / "y.csv", tmp / "Y.csv", tmp / "léčba.csv.bak"});
    ui::testing::Press(*form->ButtonAddFiles);
    EXPECT_EQ(form->ListFiles->Items(),
              (std::vector<std::string>{tmp / "léčba.csv", tmp / "y.csv", tmp / "léčba.csv.bak"}));
    ASSERT_EQ(prompts.Requests().size(), 2u);
    EXPECT_EQ(prompts.Requests()[1].text,
              "Tyto soubory nelze přidat do seznamu, v seznamu už je soubor stejného názvu (velká "
              "a malá písmena se nerozlišují) a v archivu ZIP by je nešlo rozlišit:\n" +
                  refused + "\n" + tmp / "Y.csv");
}

TEST_F(FileList, CancelledAddChangesNothingAndKeepsLastFolder) {
    WriteSettingString("General", "LastFolder", "/somewhere");
    auto form = MakeForm();
    prompts.QueueCancel();
    ui::testing::Press(*form->ButtonAddFiles);
    EXPECT_EQ(form->ListFiles->Count(), 0);
    EXPECT_EQ(ReadSettingString("General", "LastFolder", ""), "/somewhere");
    EXPECT_EQ(prompts.Requests()[0].initialDir, "/somewhere");
}

TEST_F(FileList, IsInListTrimsTheCandidateAndComparesExactly) {
    auto form = MakeForm();
    form->ListFiles->Add("/data/x.dat");
    EXPECT_TRUE(form->IsInList("/data/x.dat"));
    EXPECT_TRUE(form->IsInList("  /data/x.dat\t\r\n"));
    EXPECT_FALSE(form->IsInList("/data/X.dat"));
    EXPECT_FALSE(form->IsInList("/data/x.da"));
}

TEST_F(FileList, RemoveDeletesTheSelectedLinesOnly) {
    auto form = MakeForm();
    for (const char* p : {"/a", "/b", "/c", "/d", "/e"})
        form->ListFiles->Add(p);
    ui::testing::Press(*form->ButtonRemoveFiles); // nothing selected
    EXPECT_EQ(form->ListFiles->Count(), 5);
    form->ListFiles->SetSelected(1, true);
    form->ListFiles->SetSelected(2, true); // two in a row
    form->ListFiles->SetSelected(4, true);
    ui::testing::Press(*form->ButtonRemoveFiles);
    EXPECT_EQ(form->ListFiles->Items(), (std::vector<std::string>{"/a", "/d"}));
    for (int i = 0; i < form->ListFiles->Count(); ++i)
        form->ListFiles->SetSelected(i, true);
    ui::testing::Press(*form->ButtonRemoveFiles);
    EXPECT_EQ(form->ListFiles->Count(), 0);
    EXPECT_TRUE(prompts.Requests().empty()) << "no question is asked";
}

} // namespace
