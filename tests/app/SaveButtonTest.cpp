// "Uložit nastavení": checks the configuration, then saves the list.
#include "AppFixture.h"

#include "platform/FileSystem.h"
#include "settings/Unitpom.h"

namespace {

using SaveButton = AppFixture;

const char* const kIncomplete = "V programu nejsou nastaveny všechny nezbytné přihlašovací údaje. "
                                "\n\nUpravte nastavení stiskem tlačítka \"Konfigurace\". ";

TEST_F(SaveButton, IncompleteSettingsShowTheMessageAndSaveNothing) {
    auto form = MakeForm();
    form->ListFiles->Add(DataFile("a.dat"));
    ui::testing::Press(*form->ButtonSave);
    EXPECT_EQ(prompts.Messages(), (std::vector<std::string>{kIncomplete}));
    EXPECT_FALSE(platform::FileExists(SettingsFilePath()));
}

TEST_F(SaveButton, MissingGpgMessageEndsInTwoLineBreaks) {
    WriteGoodSettings();
    auto form = MakeForm();
    form->ListFiles->Add(DataFile("a.dat"));
    ui::testing::Press(*form->ButtonSave);
    EXPECT_EQ(
        prompts.Messages(),
        (std::vector<std::string>{"Program \"gpg.exe\" nebyl nalezen v adresáři aplikace.\n\n"}));
    EXPECT_EQ(ReadSettingInteger("PocetSouboru", -1), -1);
}

TEST_F(SaveButton, EmptyListIsRefused) {
    WriteGoodSettings();
    PutGpg();
    auto form = MakeForm();
    ui::testing::Press(*form->ButtonSave);
    EXPECT_EQ(prompts.Messages(), (std::vector<std::string>{"V seznamu nejsou žádné soubory."}));
    EXPECT_EQ(ReadSettingInteger("PocetSouboru", -1), -1);
}

TEST_F(SaveButton, MissingFileAskedAndNoKeepsTheOldList) {
    WriteGoodSettings();
    PutGpg();
    auto form = MakeForm();
    const std::string good = DataFile("a.dat");
    const std::string missing = tmp / "chybí.dat";
    form->ListFiles->Add(good);
    form->ListFiles->Add(missing);
    prompts.QueueNo();
    ui::testing::Press(*form->ButtonSave);
    ASSERT_EQ(prompts.Requests().size(), 1u);
    const ui::PromptRequest& q = prompts.Requests()[0];
    EXPECT_EQ(q.kind, ui::PromptKind::Question);
    EXPECT_EQ(q.caption, "Uložit konfiguraci");
    EXPECT_EQ(q.text, "Soubor " + missing +
                          " neexistuje nebo má nulovou velikost. \n\nPřejete si přestro "
                          "konfiguraci uložit ?");
    EXPECT_EQ(ReadSettingInteger("PocetSouboru", -1), -1);
}

TEST_F(SaveButton, MissingFileAskedAndYesSaves) {
    WriteGoodSettings();
    PutGpg();
    auto form = MakeForm();
    form->ListFiles->Add(tmp / "chybí.dat");
    form->ListFiles->Add(DataFile("a.dat"));
    form->ListFiles->Add(DataFile("prázdný.dat", ""));
    prompts.QueueYes();
    ui::testing::Press(*form->ButtonSave);
    ASSERT_EQ(prompts.Requests().size(), 2u);
    EXPECT_EQ(prompts.Requests()[0].text.rfind("Soubor " + (tmp / "prázdný.dat") + " ", 0), 0u)
        << "the last bad file is named";
    EXPECT_EQ(prompts.Messages(), (std::vector<std::string>{"Nastavení programu uloženo."}));
    EXPECT_EQ(ReadSettingInteger("PocetSouboru", -1), 3);
}

TEST_F(SaveButton, AllGoodSavesWithoutQuestion) {
    WriteGoodSettings();
    PutGpg();
    auto form = MakeForm();
    form->ListFiles->Add(DataFile("a.dat"));
    form->ListFiles->Add(DataFile("b.dat"));
    ui::testing::Press(*form->ButtonSave);
    EXPECT_EQ(prompts.Messages(), (std::vector<std::string>{"Nastavení programu uloženo."}));
    EXPECT_TRUE(prompts.Texts(ui::PromptKind::Question).empty());
    EXPECT_EQ(ReadSettingString("Files", "File1", ""), tmp / "b.dat");
}

TEST_F(SaveButton, NoUsableFileSavesWithoutQuestion) {
    WriteGoodSettings();
    PutGpg();
    auto form = MakeForm();
    form->ListFiles->Add(tmp / "chybí.dat");
    ui::testing::Press(*form->ButtonSave);
    EXPECT_TRUE(prompts.Texts(ui::PromptKind::Question).empty());
    EXPECT_EQ(prompts.Messages(), (std::vector<std::string>{"Nastavení programu uloženo."}));
    EXPECT_EQ(ReadSettingInteger("PocetSouboru", -1), 1);
}

TEST_F(SaveButton, JournalIsWrittenOnlyAfterARunTookItsSettings) {
    WriteGoodSettings();
    PutGpg();
    auto form = MakeForm();
    form->ListFiles->Add(tmp / "chybí.dat");
    ui::testing::Press(*form->ButtonSave);
    EXPECT_FALSE(platform::FileExists(JournalPath())) << "before the first run";
    form->LogEnabled = true;
    form->LogPath = JournalPath();
    ui::testing::Press(*form->ButtonSave);
    EXPECT_EQ(
        JournalLines(),
        (std::vector<std::string>{
            Stamped("Kontrola GNU PG"), Stamped("Soubor " + (tmp / "chybí.dat") + " neexistuje."),
            Stamped("Všechny zadané soubory neexistují nebo mají nulovou velikost. Odesílání "
                    "dat je zrušeno. ")}));
}

TEST_F(SaveButton, SettingsWriteErrorIsShownByTheErrorDisplay) {
    WriteGoodSettings();
    PutGpg();
    auto form = MakeForm();
    form->ListFiles->Add(DataFile("a.dat"));
    // A name Windows-1250 cannot hold: the settings store refuses to write
    // it, the exception leaves the handler and the error display shows it.
    form->ListFiles->Add(tmp / "漢字.dat");
    prompts.QueueYes();
    ui::testing::Press(*form->ButtonSave);
    EXPECT_EQ(prompts.Texts(ui::PromptKind::Error).size(), 1u);
    EXPECT_TRUE(prompts.Messages().empty()) << "no success message";
}

} // namespace
