// The send run on the real window with stand-in stages: every check result,
// every stage result, the messages, the journal lines, the caption and the
// start button afterwards, and the end of the program.
#include "AppFixture.h"
#include "FakeStages.h"

#include "app/RunLock.h"
#include "platform/FileSystem.h"
#include "settings/Unitpom.h"
#include "tests/support/ScopedEnv.h"
#include "ui/Application.h"
#include "ui/Timer.h"

#include <filesystem>
#include <functional>
#include <stdexcept>
#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

const std::string kDashes(53, '-');
const char* const kIncomplete = "V programu nejsou nastaveny všechny nezbytné přihlašovací údaje. "
                                "\n\nUpravte nastavení stiskem tlačítka \"Konfigurace\". ";
const char* const kNoGpg = "Program \"gpg.exe\" nebyl nalezen v adresáři aplikace.";
const char* const kNoUsable = "Všechny zadané soubory neexistují nebo mají nulovou velikost. "
                              "Odesílání dat je zrušeno. ";
const char* const kSuccess =
    "Odeslání dat na FTP server proběhlo v pořádku. Program bude ukončen. ";

class Run : public AppFixture {
protected:
    Run() {
        Stages() = FakeStages{};
        WriteGoodSettings();
        PutGpg();
        form = MakeForm();
        good1 = DataFile("data1.dat", "123");
        good2 = DataFile("data2.dat", "4567");
        form->ListFiles->Add(good1);
        form->ListFiles->Add(good2);
    }
    ~Run() override { Stages() = FakeStages{}; }

    // Journal lines from the run header on: the two dashes lines, then the
    // given texts each with the fixed time stamp.
    std::vector<std::string> Expected(const std::vector<std::string>& texts) const {
        std::vector<std::string> lines{kDashes, kDashes};
        for (const std::string& t : texts)
            lines.push_back(Stamped(t));
        return lines;
    }

    // After every run: the caption is the window's own and the button works.
    void ExpectIdle() const {
        EXPECT_EQ(form->Caption(), "Projekt TANO - Odesílání dat - verze 1.3");
        EXPECT_TRUE(form->ButtonStart->Enabled());
    }

    void Start() { ui::testing::Press(*form->ButtonStart); }

    std::unique_ptr<TForm1> form;
    std::string good1;
    std::string good2;
};

// Splits a text at its line breaks as the journal stores it.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
        std::size_t nl = text.find('\n', start);
        out.push_back(text.substr(start, nl - start));
        if (nl == std::string::npos)
            return out;
        start = nl + 1;
    }
}

const std::vector<std::string> kStagesAll{"ZipFiles", "EncryptFile", "ConnectFtp", "UploadFile",
                                          "CheckUpload"};

TEST_F(Run, SuccessGoesThroughEveryStageInOrder) {
    Start();
    EXPECT_EQ(Stages().calls, kStagesAll);
    EXPECT_EQ(Stages().uploadedPath, Stages().encryptFile) << "the encrypted file is sent";
    EXPECT_EQ(Stages().checkedName, "20260305.zip.gpg");
    EXPECT_EQ(Stages().checkedSize, Stages().encryptSize);
    EXPECT_EQ(prompts.Messages(), (std::vector<std::string>{kSuccess}));
    EXPECT_EQ(
        JournalLines(),
        Expected({"Start ", "Kontrola nastavení", "Kontrola GNU PG", "Kontrola seznamu souborů",
                  "Zipování souborů...", "Šifrování souboru...", "Připojování k FTP serveru...",
                  "Transfer souboru...", "Kontrola výsledku souboru...",
                  "Data odeslána v pořádku...", std::string(kSuccess) + "\t\t"}));
    EXPECT_EQ(ui::TerminateCount(), 1);
    EXPECT_EQ(ReadSettingInteger("PocetSouboru", -1), 2) << "the list is saved before the archive";
    ExpectIdle();
}

TEST_F(Run, SuccessInAutoModeShowsNoBox) {
    form->AutoMode = true;
    Start();
    EXPECT_TRUE(prompts.Requests().empty());
    EXPECT_EQ(JournalLines().back(), Stamped(std::string(kSuccess) + "\t\t"));
    EXPECT_EQ(ui::TerminateCount(), 1);
    ExpectIdle();
}

// Another run of the same application folder holds the run lock: this run
// touches nothing (no check, no saved list, no stage), journals one line and
// tells an operator so. Once the lock is free, runs go through, one after
// another (each releases it at its end).
TEST_F(Run, AnotherRunInProgressLeavesEverythingAlone) {
    for (const bool autoMode : {false, true}) {
        SCOPED_TRACE(autoMode ? "unattended" : "interactive");
        platform::FileLock other;
        ASSERT_EQ(other.TryAcquire(tmp / "roderuv.lock"), platform::LockOutcome::Acquired);
        testsupport::WriteBytes(JournalPath(), "");
        prompts.Clear();
        form->AutoMode = autoMode;
        Start();
        EXPECT_EQ(JournalLines(), (std::vector<std::string>{Stamped(kRunInProgressJournal)}));
        EXPECT_EQ(prompts.Messages(), autoMode ? std::vector<std::string>{}
                                               : std::vector<std::string>{kRunInProgressMessage});
        EXPECT_TRUE(Stages().calls.empty());
        EXPECT_EQ(ReadSettingInteger("PocetSouboru", -1), -1) << "the list is not saved";
        ExpectIdle();
    }
    for (int run = 0; run < 2; ++run) {
        Stages().calls.clear();
        Start();
        EXPECT_EQ(Stages().calls, kStagesAll);
    }
}

// A lock that cannot be had for any other reason stops the run just as
// firmly, and says why: without it two runs could overlap.
TEST_F(Run, LockThatCannotBeHadStopsTheRunWithTheReason) {
    const std::string lock = tmp / "roderuv.lock";
    std::vector<std::pair<std::function<void()>, std::string>> rows = {
        {[&] { platform::CreateDir(lock); }, "není to obyčejný soubor"}};
#ifndef _WIN32
    rows.push_back({[&] { ::symlink(DataFile("elsewhere.lock", "").c_str(), lock.c_str()); },
                    "je to symbolický odkaz"});
#endif
    for (const auto& [make, reason] : rows)
        for (const bool autoMode : {false, true}) {
            SCOPED_TRACE(reason + (autoMode ? ", unattended" : ", interactive"));
            std::filesystem::remove_all(testsupport::NativePath(lock));
            make();
            testsupport::WriteBytes(JournalPath(), "");
            prompts.Clear();
            form->AutoMode = autoMode;
            Start();
            EXPECT_EQ(JournalLines(),
                      (std::vector<std::string>{Stamped("Odesílání zrušeno - zámek " + lock +
                                                        " nelze použít: " + reason + ".")}));
            const std::string box = "Odesílání dat nelze spustit: zámek " + lock +
                                    " nelze použít (" + reason +
                                    "). \n\nBez něj by se mohla dvě odesílání překrýt. Opravte "
                                    "prosím soubor nebo právo zapisovat do adresáře aplikace.";
            EXPECT_EQ(prompts.Messages(),
                      autoMode ? std::vector<std::string>{} : std::vector<std::string>{box});
            EXPECT_TRUE(Stages().calls.empty());
            EXPECT_EQ(ReadSettingInteger("PocetSouboru", -1), -1) << "the list is not saved";
            ExpectIdle();
        }
}

TEST_F(Run, WhileRunningTheCaptionShowsTheStageAndTheButtonIsDisabled) {
    std::vector<std::string> seen;
    Stages().during = [&](const std::string& stage) {
        EXPECT_FALSE(form->ButtonStart->Enabled()) << stage;
        EXPECT_TRUE(form->ButtonSave->Enabled()) << stage;
        seen.push_back(form->Caption());
    };
    Start();
    EXPECT_EQ(seen, (std::vector<std::string>{"Zipování souborů...", "Šifrování souboru...",
                                              "Připojování k FTP serveru...", "Transfer souboru...",
                                              "Kontrola výsledku souboru..."}));
    ExpectIdle();
}

TEST_F(Run, PendingEventsRunAtTheMarkedPoints) {
    // Events pending when the run starts are processed at its first "let
    // events run", after the settings caption has been set.
    std::vector<std::string> captions;
    ui::testing::RunLater([&] { captions.push_back(form->Caption()); });
    Stages().during = [&](const std::string& stage) {
        if (stage == "ZipFiles")
            ui::testing::RunLater([&] { captions.push_back(form->Caption()); });
    };
    Start();
    EXPECT_EQ(captions,
              (std::vector<std::string>{"Kontrola nastavení programu", "Šifrování souboru..."}));
}

TEST_F(Run, IncompleteSettingsInteractive) {
    WriteSettingString("General", "Login", "");
    Start();
    EXPECT_EQ(prompts.Messages(), (std::vector<std::string>{kIncomplete}));
    std::vector<std::string> expected = Expected({"Start ", "Kontrola nastavení"});
    std::vector<std::string> msg = Lines(kIncomplete);
    msg[0] = Stamped(msg[0]);
    expected.insert(expected.end(), msg.begin(), msg.end());
    EXPECT_EQ(JournalLines(), expected);
    EXPECT_TRUE(Stages().calls.empty());
    EXPECT_EQ(ui::TerminateCount(), 0) << "the program stays open";
    ExpectIdle();
}

TEST_F(Run, IncompleteSettingsInAutoModeEndsWithoutBox) {
    WriteSettingString("General", "Heslo", "");
    form->AutoMode = true;
    Start();
    EXPECT_TRUE(prompts.Requests().empty());
    EXPECT_EQ(JournalLines().size(), 7u);
    EXPECT_EQ(JournalLines()[3], Stamped("Kontrola nastavení"));
    EXPECT_GE(ui::TerminateCount(), 1);
    ExpectIdle();
}

TEST_F(Run, EveryRequiredSettingIsChecked) {
    for (const char* key : {"FTPServer", "Login", "Heslo", "Proxy"}) {
        WriteGoodSettings();
        WriteSettingString("General", key, "");
        EXPECT_FALSE(form->CheckSettings()) << key;
    }
    WriteGoodSettings();
    EXPECT_TRUE(form->CheckSettings());
}

TEST_F(Run, ProxyOnWithoutAddressOrPortFailsTheCheck) {
    WriteSettingString("General", "Proxy", "1");
    WriteSettingString("General", "ProxyPort", "8021");
    Start();
    EXPECT_EQ(prompts.Messages(), (std::vector<std::string>{kIncomplete}));
    EXPECT_TRUE(Stages().calls.empty()) << "no connection attempt";
    WriteSettingString("General", "ProxyAdresa", "proxy.example");
    EXPECT_TRUE(form->CheckSettings());
    WriteSettingString("General", "ProxyPort", "");
    EXPECT_FALSE(form->CheckSettings());
    ExpectIdle();
}

TEST_F(Run, ProxyOffIgnoresTheProxyKeys) {
    WriteSettingString("General", "Proxy", "0");
    WriteSettingString("General", "ProxyAdresa", "");
    EXPECT_TRUE(form->CheckSettings());
}

TEST_F(Run, NoSettingsFileFailsTheCheck) {
    platform::DeleteFile(SettingsFilePath());
    EXPECT_FALSE(form->CheckSettings());
}

TEST_F(Run, MissingGpg) {
    platform::DeleteFile(tmp / "gpg.exe");
    Start();
    EXPECT_EQ(prompts.Messages(), (std::vector<std::string>{kNoGpg}));
    EXPECT_EQ(JournalLines(),
              Expected({"Start ", "Kontrola nastavení", "Kontrola GNU PG", kNoGpg}));
    EXPECT_TRUE(Stages().calls.empty());
    ExpectIdle();
}

// gpg.exe is there but cannot find GnuPG: the check asks it, and the run
// fails with gpg's own reason in the journal. The window lives meanwhile.
TEST_F(Run, GpgThatCannotFindGnuPGFailsTheCheckWithItsReason) {
    const char* reason = "gpg.exe (RODERUV): GnuPG for Windows was not found";
    testsupport::ScopedEnv say("FAKE_GPG_STDERR", reason);
    testsupport::ScopedEnv status("FAKE_GPG_EXIT", "2");
    testsupport::ScopedEnv slow("FAKE_GPG_SLEEP", "1000");
    int ticks = 0;
    ui::Timer timer;
    timer.OnTick([&] { ++ticks; });
    timer.Start(50);
    Start();
    EXPECT_GE(ticks, 10) << "a timer of the window ran while gpg ran";
    EXPECT_EQ(prompts.Messages(), (std::vector<std::string>{kNoGpg}));
    EXPECT_EQ(JournalLines(), Expected({"Start ", "Kontrola nastavení", "Kontrola GNU PG",
                                        std::string("Hlášení GNU PG: ") + reason, kNoGpg}));
    EXPECT_TRUE(Stages().calls.empty());
}

TEST_F(Run, EmptyList) {
    form->ListFiles->Clear();
    Start();
    EXPECT_EQ(prompts.Messages(), (std::vector<std::string>{"V seznamu nejsou žádné soubory."}));
    EXPECT_EQ(JournalLines(),
              Expected({"Start ", "Kontrola nastavení", "Kontrola GNU PG",
                        "Kontrola seznamu souborů", "V seznamu nejsou žádné soubory."}));
    EXPECT_TRUE(Stages().calls.empty());
    ExpectIdle();
}

TEST_F(Run, MissingAndGoodFilesReportAndGoOn) {
    const std::string missing = tmp / "chybějící.dat";
    const std::string empty = DataFile("prázdný.dat", "");
    form->ListFiles->Add(missing);
    form->ListFiles->Add(empty);
    Start();
    EXPECT_EQ(prompts.Messages(),
              (std::vector<std::string>{"Soubor " + empty + " neexistuje nebo má nulovou velikost.",
                                        kSuccess}));
    EXPECT_EQ(Stages().calls, kStagesAll);
    const std::vector<std::string> lines = JournalLines();
    ASSERT_GE(lines.size(), 9u);
    EXPECT_EQ(lines[5], Stamped("Kontrola seznamu souborů"));
    EXPECT_EQ(lines[6], Stamped("Soubor " + missing + " neexistuje."));
    EXPECT_EQ(lines[7], Stamped("Soubor " + empty + " má nulovou velikost."));
    EXPECT_EQ(lines[8], Stamped("Zipování souborů...")) << "the message is not journalled";
    ExpectIdle();
}

TEST_F(Run, OnlyMissingAndEmptyFilesCancelInteractive) {
    form->ListFiles->Clear();
    const std::string missing = tmp / "chybí.dat";
    const std::string empty = DataFile("nic.dat", "");
    form->ListFiles->Add(missing);
    form->ListFiles->Add(empty);
    Start();
    EXPECT_EQ(prompts.Messages(), (std::vector<std::string>{kNoUsable}));
    EXPECT_EQ(JournalLines(),
              Expected({"Start ", "Kontrola nastavení", "Kontrola GNU PG",
                        "Kontrola seznamu souborů", "Soubor " + missing + " neexistuje.",
                        "Soubor " + empty + " má nulovou velikost.", kNoUsable}));
    EXPECT_TRUE(Stages().calls.empty());
    EXPECT_EQ(ui::TerminateCount(), 0);
    EXPECT_EQ(ReadSettingInteger("PocetSouboru", -1), -1) << "nothing saved";
    ExpectIdle();
}

TEST_F(Run, OnlyEmptyFilesInAutoModeJournalTheCancelAndEnd) {
    form->ListFiles->Clear();
    const std::string empty = DataFile("nic.dat", "");
    form->ListFiles->Add(empty);
    form->Params = {"/auto"};
    form->CheckAutoStart();
    EXPECT_TRUE(prompts.Requests().empty());
    EXPECT_EQ(JournalLines(),
              Expected({"Start ", "Kontrola nastavení", "Kontrola GNU PG",
                        "Kontrola seznamu souborů", "Soubor " + empty + " má nulovou velikost.",
                        kNoUsable, "Odesílání zrušeno - jen prázdné soubory."}));
    EXPECT_EQ(ui::TerminateCount(), 1) << "the request to end comes from CheckAutoStart";
    ExpectIdle();
}

// Stage failures: the message, whether it is shown before it is journalled,
// and which stages ran.
struct StageCase {
    const char* name;
    std::function<void(FakeStages&)> arrange;
    std::string message;
    bool shownFirst;
    std::size_t stagesRun;
};

class StageFailure : public Run, public testing::WithParamInterface<StageCase> {};

TEST_P(StageFailure, EndsTheRunWithItsMessage) {
    const StageCase& c = GetParam();
    c.arrange(Stages());
    // Records, for each box, how many journal lines existed when it appeared.
    std::vector<std::pair<std::string, std::size_t>> shown;
    ui::PromptHook previous = ui::SetPromptHook([&](const ui::PromptRequest& r) {
        shown.emplace_back(r.text, JournalLines().size());
        return ui::PromptResult{true, {}};
    });
    Start();
    ui::SetPromptHook(previous);

    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].first, c.message);
    const std::vector<std::string> lines = JournalLines();
    std::vector<std::string> msgLines = Lines(c.message);
    msgLines[0] = Stamped(msgLines[0]);
    ASSERT_GE(lines.size(), msgLines.size());
    EXPECT_EQ(
        std::vector<std::string>(lines.end() - static_cast<long>(msgLines.size()), lines.end()),
        msgLines);
    EXPECT_EQ(shown[0].second, c.shownFirst ? lines.size() - msgLines.size() : lines.size());
    EXPECT_EQ(Stages().calls.size(), c.stagesRun);
    EXPECT_EQ(ui::TerminateCount(), 0);
    ExpectIdle();
}

const std::string kRights = ") a nelze jej smazat. \n\nZkontrolujte prosím právo zapisovat do "
                            "adresáře.";

INSTANTIATE_TEST_SUITE_P(
    Run, StageFailure,
    testing::Values(
        StageCase{"zip0", [](FakeStages& s) { s.zipResult = 0; },
                  "Soubor se stejným názvem již existuje (/tmp/_ftp_file.zip" + kRights, false, 1},
        StageCase{"zip2", [](FakeStages& s) { s.zipResult = 2; },
                  "Zazipovaný soubor nelze nalézt. \n\nZkontrolujte prosím právo zapisovat do "
                  "adresáře.",
                  false, 1},
        StageCase{"zip3", [](FakeStages& s) { s.zipResult = 3; },
                  "Zipování se nezdařilo. Výsledný soubor /tmp/_ftp_file.zip neexistuje nebo má "
                  "nulovou velikost.",
                  false, 1},
        StageCase{"enc0",
                  [](FakeStages& s) {
                      s.encryptResult = 0;
                      s.encryptFile = "/tmp/20260305.zip";
                  },
                  "Soubor se stejným názvem již existuje (/tmp/20260305.zip" + kRights, false, 2},
        StageCase{"enc3", [](FakeStages& s) { s.encryptResult = 3; },
                  "Šifrovaní se nezdařilo. Výsledný soubor /tmp/20260305.zip.gpg neexistuje nebo "
                  "má nulovou velikost.",
                  false, 2},
        StageCase{"enc4",
                  [](FakeStages& s) {
                      s.encryptResult = 4;
                      s.encryptFile = "";
                  },
                  "Šifrovací aplikaci nelze spustit. ", false, 2},
        StageCase{"connect",
                  [](FakeStages& s) {
                      s.connectResult = false;
                      s.connectError = "Connection Failed";
                  },
                  "Chyba při připojování k FTP serveru: Connection Failed", false, 3},
        StageCase{"upload", [](FakeStages& s) { s.uploadResult = false; }, "Soubor neodeslán.",
                  true, 4},
        StageCase{"check", [](FakeStages& s) { s.checkResult = false; },
                  "Transfer souboru se nezdařil.", true, 5}),
    [](const testing::TestParamInfo<StageCase>& info) { return std::string(info.param.name); });

TEST_F(Run, OtherStageResultsCountAsSuccess) {
    Stages().zipResult = 7;
    Stages().encryptResult = -1;
    Start();
    EXPECT_EQ(Stages().calls, kStagesAll);
    EXPECT_EQ(prompts.Messages(), (std::vector<std::string>{kSuccess}));
}

TEST_F(Run, FailureInAutoModeShowsNoBoxAndEnds) {
    Stages().connectResult = false;
    Stages().connectError = "Connection Failed";
    form->AutoMode = true;
    Start();
    EXPECT_TRUE(prompts.Requests().empty());
    EXPECT_EQ(JournalLines().back(),
              Stamped("Chyba při připojování k FTP serveru: Connection Failed"));
    EXPECT_EQ(ui::TerminateCount(), 1);
    ExpectIdle();
}

TEST_F(Run, ConnectErrorWithItsLineEndIsJournalledOnce) {
    Stages().connectResult = false;
    Stages().connectError = "530 Login incorrect.\r\n";
    Start();
    const std::string bytes = JournalBytes();
    EXPECT_NE(bytes.find("530 Login incorrect.\r\n\r\n"), std::string::npos);
    EXPECT_EQ(bytes.find("\r\r"), std::string::npos);
}

TEST_F(Run, DeletingFailsIsShownThenTheRunSucceeds) {
    WriteSettingInteger("FilesMoveTo", 1);
    Stages().deleteResult = false;
    Start();
    EXPECT_EQ(prompts.Messages(),
              (std::vector<std::string>{"Datové soubory se nepodařilo smazány. ", kSuccess}));
    const std::vector<std::string> lines = JournalLines();
    EXPECT_EQ(lines[lines.size() - 2], Stamped("Datové soubory se nepodařilo smazány. "));
    EXPECT_EQ(ui::TerminateCount(), 1);
}

TEST_F(Run, DeletingAndMovingResults) {
    struct {
        int mode;
        bool ok;
        const char* journal;
        bool shown;
    } cases[] = {
        {1, true, "Datové soubory smazány. ", false},
        {2, true, "Datové soubory byly přesunuty. ", false},
        {2, false, "Datové soubory nebyly přesunuty. ", true},
    };
    for (const auto& c : cases) {
        Stages() = FakeStages{};
        Stages().deleteResult = c.ok;
        Stages().moveResult = c.ok;
        prompts.Clear();
        platform::DeleteFile(JournalPath());
        WriteSettingInteger("FilesMoveTo", c.mode);
        Start();
        const std::vector<std::string> lines = JournalLines();
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[lines.size() - 2], Stamped(c.journal));
        EXPECT_EQ(Stages().calls.back(), c.mode == 1 ? "DeleteDataFiles" : "MoveDataFiles");
        EXPECT_EQ(prompts.Messages().size(), c.shown ? 2u : 1u) << c.journal;
    }
}

TEST_F(Run, AutoModeHidesThePostSendFailureBox) {
    WriteSettingInteger("FilesMoveTo", 2);
    Stages().moveResult = false;
    form->AutoMode = true;
    Start();
    EXPECT_TRUE(prompts.Requests().empty());
}

TEST_F(Run, OtherPostSendModesLeaveTheFilesAlone) {
    for (int mode : {0, 3, -1}) {
        Stages() = FakeStages{};
        WriteSettingInteger("FilesMoveTo", mode);
        Start();
        EXPECT_EQ(Stages().calls, kStagesAll) << mode;
    }
}

TEST_F(Run, AnExceptionFromAStageEndsTheRunAndReachesTheErrorDisplay) {
    Stages().during = [](const std::string& stage) {
        if (stage == "EncryptFile")
            throw std::runtime_error("'x' is not a valid integer value");
    };
    Start();
    EXPECT_EQ(prompts.Texts(ui::PromptKind::Error),
              (std::vector<std::string>{"'x' is not a valid integer value"}));
    EXPECT_TRUE(prompts.Messages().empty());
    EXPECT_EQ(ui::TerminateCount(), 0);
    ExpectIdle();
}

TEST_F(Run, AnExceptionInAnUnattendedRunWithoutDisplayStillEndsTheProgram) {
    Stages().during = [](const std::string&) { throw std::runtime_error("boom"); };
    form->Params = {"/auto"};
    EXPECT_THROW(form->CheckAutoStart(), std::runtime_error);
    EXPECT_EQ(ui::TerminateCount(), 1) << "nobody could ever close the window";
    ExpectIdle();
}

// With ExitCode on, the exit status is where the last unattended run ended:
// a run the operator started leaves 0, and of two switches the second run
// decides (the upload fails in every other run).
TEST_F(Run, ExitStatusIsThatOfTheLastUnattendedRun) {
    WriteSettingInteger("ExitCode", 1);
    Stages().uploadResult = false;
    Start();
    EXPECT_EQ(form->ExitStatus(), 0) << "the operator's run";
    Stages().during = [](const std::string& stage) {
        if (stage == "UploadFile")
            Stages().uploadResult = !Stages().uploadResult;
    };
    form->Params = {"/auto", "/auto"};
    form->CheckAutoStart();
    EXPECT_EQ(form->ExitStatus(), ExitStatusOf(RunOutcome::UploadFailed)) << "sent, then failed";
    Stages().uploadResult = true;
    form->CheckAutoStart();
    EXPECT_EQ(form->ExitStatus(), 0) << "failed, then sent";
    Stages().during = [](const std::string&) { throw std::runtime_error("boom"); };
    form->Params = {"/auto"};
    EXPECT_THROW(form->CheckAutoStart(), std::runtime_error);
    EXPECT_EQ(form->ExitStatus(), ExitStatusOf(RunOutcome::UnexpectedError));
}

TEST_F(Run, SecondRunStartsWithAFreshHeader) {
    Stages().uploadResult = false;
    Start();
    Start();
    int headers = 0;
    for (const std::string& l : JournalLines())
        headers += l == kDashes;
    EXPECT_EQ(headers, 4);
    EXPECT_EQ(prompts.Messages().size(), 2u);
}

TEST_F(Run, JournalSettingsAreRefreshedAtEveryRun) {
    Stages().uploadResult = false;
    Start();
    EXPECT_TRUE(form->LogEnabled);
    EXPECT_EQ(form->LogPath, JournalPath());
    WriteSettingInteger("UseLog", 0);
    WriteSettingInteger("DeleteLog", 1);
    const std::string before = JournalBytes();
    Start();
    EXPECT_FALSE(form->LogEnabled);
    EXPECT_TRUE(form->LogDelete);
    EXPECT_EQ(JournalBytes(), before);
}

} // namespace
