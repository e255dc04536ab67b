// The send run and its three checks. ButtonStartClick reads as the run's
// steps; each step is a member of SendRun below, which keeps what the steps
// hand on to each other.
#include "app/Umain.h"

#include "app/GpgRun.h"
#include "app/RunLock.h"
#include "app/StageResults.h"
#include "app/TerminationWatch.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "settings/KonfiguraceInput.h"
#include "settings/Unitpom.h"
#include "ui/Application.h"
#include "ui/Prompts.h"

#include <string>
#include <vector>

namespace {

const char* const kMsgSettings = "V programu nejsou nastaveny všechny nezbytné přihlašovací údaje. "
                                 "\n\nUpravte nastavení stiskem tlačítka \"Konfigurace\". ";
const char* const kMsgNoGpg = "Program \"gpg.exe\" nebyl nalezen v adresáři aplikace.";
const char* const kMsgEmptyList = "V seznamu nejsou žádné soubory.";
const char* const kMsgNoUsableFile = "Všechny zadané soubory neexistují nebo mají nulovou "
                                     "velikost. Odesílání dat je zrušeno. ";
const char* const kMsgCheckWriteRights = "\n\nZkontrolujte prosím právo zapisovat do adresáře.";
const std::string kMsgArchiveNotFound =
    std::string("Zazipovaný soubor nelze nalézt. ") + kMsgCheckWriteRights;
const char* const kMsgSuccess =
    "Odeslání dat na FTP server proběhlo v pořádku. Program bude ukončen. ";

// An older file of the run's name that cannot be removed.
std::string InTheWay(const std::string& file) {
    return "Soubor se stejným názvem již existuje (" + file + ") a nelze jej smazat. " +
           kMsgCheckWriteRights;
}

// A stage's output that is missing or empty.
std::string NoResult(const std::string& what, const std::string& file) {
    return what + " se nezdařilo. Výsledný soubor " + file +
           " neexistuje nebo má nulovou velikost.";
}

// A stage's result that ends the run, with the run's message for it.
struct StageFailure {
    int result;
    std::string message;
};

// Of a run that sent and verified, the outcome that tells the most: a listed
// file that did not go means data the registry still lacks, which weighs
// more than data files left behind after a good send.
RunOutcome SentOutcome(bool someNotSent, bool dataFilesNotHandled) {
    if (someNotSent)
        return RunOutcome::SentSomeFilesNotSent;
    return dataFilesNotHandled ? RunOutcome::SentDataFilesNotHandled : RunOutcome::Sent;
}

// One send run on the window: its steps, and what they hand on to each
// other. A step returns false when the run ends there (it has then told the
// operator and the journal why). The destructor is the run's final step: on
// every way out, an exception included, the caption is put back and the
// start button enabled. Each way out records where the run ended in
// LastRunOutcome; until then it says UnexpectedError, which is what an
// escaping exception leaves.
class SendRun {
public:
    explicit SendRun(TForm1& form) : form_(form), savedCaption_(form.Caption()) {
        form_.LastRunOutcome = RunOutcome::UnexpectedError;
    }
    ~SendRun() {
        form_.SetCaption(savedCaption_);
        form_.SetRunning(false);
        platform::ReleaseTempDir(); // a fresh temporary folder goes with its run
    }
    SendRun(const SendRun&) = delete;
    SendRun& operator=(const SendRun&) = delete;

    void RefreshJournalSettings();
    void RefuseSecondRun();
    void RefuseWithoutLock(platform::LockOutcome outcome);
    void StartJournal();
    bool CheckSettings();
    bool CheckGpg();
    bool CheckFiles();
    bool Archive();
    bool Encrypt();
    bool Connect();
    bool Upload();
    bool Verify();
    void HandleDataFiles();
    void Succeed();

private:
    enum Order { kJournalFirst, kShownFirst };

    // A stage's text into the caption and the journal; BeginStage then lets
    // events run, ShowStage does not.
    void BeginStage(const std::string& caption);
    void ShowStage(const std::string& caption);
    void ShowUnlessAuto(const std::string& message);
    // The common failure exit; returns false for the step to hand on.
    bool Fail(RunOutcome outcome, const std::string& message, Order order = kJournalFirst);
    bool CancelWithoutUsableFile();
    // Fails with the message listed for a stage's result; any other result
    // (1, success, among them) goes on.
    bool FailOn(RunOutcome outcome, int result, const std::vector<StageFailure>& failures);
    void ReportDataFiles(bool allDone, const std::string& done, const std::string& failed);

    TForm1& form_;
    const std::string savedCaption_;
    std::string transferFile_; // the archive, then the encrypted file
    int64_t transferSize_ = 0;
    std::string remoteName_;   // the encrypted file's name on the server
    bool someNotSent_ = false; // listed files missing, empty or left out
    bool dataFilesNotHandled_ = false;
};

void SendRun::BeginStage(const std::string& caption) {
    ShowStage(caption);
    ui::ProcessMessages();
}

void SendRun::ShowStage(const std::string& caption) {
    form_.SetCaption(caption);
    form_.WriteLog(form_.Caption(), true);
}

void SendRun::ShowUnlessAuto(const std::string& message) {
    if (!form_.AutoMode)
        ui::ShowMessage(message);
}

bool SendRun::Fail(RunOutcome outcome, const std::string& message, Order order) {
    // A stopped run fails because its waits were cancelled; the journal
    // already says that it was stopped, and no box may follow.
    if (RunStoppedOnRequest()) {
        form_.LastRunOutcome = RunOutcome::Stopped;
        return false;
    }
    form_.LastRunOutcome = outcome;
    if (order == kShownFirst)
        ShowUnlessAuto(message);
    form_.WriteLog(message, true);
    if (order == kJournalFirst)
        ShowUnlessAuto(message);
    form_.SetCaption(savedCaption_);
    if (form_.AutoMode)
        ui::Terminate();
    return false;
}

void SendRun::RefreshJournalSettings() {
    form_.LogEnabled = ReadSettingInteger("UseLog", 0) != 0;
    form_.LogPath = ReadSettingString("General", "CestaLog", "");
    form_.LogDelete = ReadSettingInteger("DeleteLog", 0) != 0;
}

void SendRun::RefuseSecondRun() {
    form_.LastRunOutcome = RunOutcome::AnotherRunInProgress;
    form_.WriteLog(kRunInProgressJournal, true);
    ShowUnlessAuto(kRunInProgressMessage); // an unattended run ends through CheckAutoStart
}

// The lock cannot be had at all: without it two runs could overlap, so this
// one does not start either.
void SendRun::RefuseWithoutLock(platform::LockOutcome outcome) {
    form_.LastRunOutcome = RunOutcome::RunLockUnusable;
    form_.WriteLog(RunLock::RefusedJournal(outcome), true);
    ShowUnlessAuto(RunLock::RefusedMessage(outcome));
}

void SendRun::StartJournal() {
    if (form_.LogEnabled)
        form_.TrimLog();
    const std::string separator(53, '-');
    form_.WriteLog(separator, false);
    form_.WriteLog(separator, false);
    form_.WriteLog("Start ", true);
}

bool SendRun::CheckSettings() {
    // The caption and the journal line differ here.
    form_.SetCaption("Kontrola nastavení programu");
    form_.WriteLog("Kontrola nastavení", true);
    ui::ProcessMessages();
    return form_.CheckSettings() || Fail(RunOutcome::SettingsIncomplete, kMsgSettings);
}

bool SendRun::CheckGpg() {
    form_.WriteLog("Kontrola GNU PG", true); // the caption stays
    std::vector<std::string> reason;
    if (form_.CheckGpg(&reason))
        return true;
    for (const std::string& line : reason)
        form_.WriteLog(line, true);
    return Fail(RunOutcome::GnuPGCheckFailed, kMsgNoGpg);
}

bool SendRun::CheckFiles() {
    BeginStage("Kontrola seznamu souborů");
    std::string badFile;
    switch (form_.CheckFiles(badFile)) {
    case kFilesListEmpty:
        return Fail(RunOutcome::ListEmpty, kMsgEmptyList);
    case kFilesSomeUnusable:
        // Only reported (the check journalled each bad file); the usable
        // files are sent.
        someNotSent_ = true;
        ShowUnlessAuto("Soubor " + badFile + " neexistuje nebo má nulovou velikost.");
        form_.SetCaption(savedCaption_);
        return true;
    case kFilesNoneUsable:
        return CancelWithoutUsableFile();
    default:
        return true;
    }
}

// The check has journalled the operator's text already.
bool SendRun::CancelWithoutUsableFile() {
    form_.LastRunOutcome = RunOutcome::NoUsableFile;
    if (form_.AutoMode) {
        // CheckAutoStart asks the application to end.
        form_.WriteLog("Odesílání zrušeno - jen prázdné soubory.", true);
        return false;
    }
    ui::ShowMessage(kMsgNoUsableFile);
    form_.SetCaption(savedCaption_);
    ui::ProcessMessages();
    return false;
}

bool SendRun::FailOn(RunOutcome outcome, int result, const std::vector<StageFailure>& failures) {
    for (const StageFailure& failure : failures)
        if (failure.result == result)
            return Fail(outcome, failure.message);
    return true;
}

// The messages name the path the stage left in the transfer file.
bool SendRun::Archive() {
    BeginStage("Zipování souborů...");
    const int result = form_.ZipFiles(transferFile_, transferSize_);
    // A file left out is told as a missing file is: the last one (the stage
    // journalled each), before the archive's own outcome.
    std::string leftOut;
    for (const ArchivedFile& file : form_.SentFiles.Files())
        if (!file.LeftOut.empty())
            leftOut = file.LeftOut;
    if (!leftOut.empty()) {
        someNotSent_ = true;
        ShowUnlessAuto(leftOut);
    }
    return FailOn(RunOutcome::ArchiveFailed, result,
                  {{kZipOlderFileInTheWay, InTheWay(transferFile_)},
                   {kZipListEmpty, kMsgArchiveNotFound},
                   {kZipArchiveMissing, NoResult("Zipování", transferFile_)}});
}

bool SendRun::Encrypt() {
    BeginStage("Šifrování souboru...");
    const int result = form_.EncryptFile(transferFile_, transferSize_);
    return FailOn(RunOutcome::EncryptionFailed, result,
                  {{kEncryptOlderFileInTheWay, InTheWay(transferFile_)},
                   {kEncryptOutputMissing, NoResult("Šifrovaní", transferFile_)},
                   {kEncryptCannotStart, "Šifrovací aplikaci nelze spustit. "}});
}

bool SendRun::Connect() {
    BeginStage("Připojování k FTP serveru...");
    std::string connectError;
    return form_.ConnectFtp(connectError) ||
           Fail(RunOutcome::ConnectionFailed,
                "Chyba při připojování k FTP serveru: " + connectError);
}

bool SendRun::Upload() {
    BeginStage("Transfer souboru...");
    return form_.UploadFile(transferFile_, remoteName_) ||
           Fail(RunOutcome::UploadFailed, "Soubor neodeslán.", kShownFirst);
}

bool SendRun::Verify() {
    BeginStage("Kontrola výsledku souboru...");
    return form_.CheckUpload(remoteName_, transferSize_) ||
           Fail(RunOutcome::UploadNotVerified, "Transfer souboru se nezdařil.", kShownFirst);
}

// The data have been sent: a failure here is only reported.
void SendRun::HandleDataFiles() {
    ShowStage("Data odeslána v pořádku..."); // events are not let run here
    switch (ReadSettingInteger("FilesMoveTo", konfigurace::kLeave)) {
    case konfigurace::kDelete:
        return ReportDataFiles(form_.DeleteDataFiles(), "Datové soubory smazány. ",
                               "Datové soubory se nepodařilo smazány. ");
    case konfigurace::kMoveTo:
        return ReportDataFiles(form_.MoveDataFiles(), "Datové soubory byly přesunuty. ",
                               "Datové soubory nebyly přesunuty. ");
    default:
        return;
    }
}

void SendRun::ReportDataFiles(bool allDone, const std::string& done, const std::string& failed) {
    if (!allDone) {
        dataFilesNotHandled_ = true;
        ShowUnlessAuto(failed);
    }
    form_.WriteLog(allDone ? done : failed, true);
}

void SendRun::Succeed() {
    form_.LastRunOutcome = SentOutcome(someNotSent_, dataFilesNotHandled_);
    ShowUnlessAuto(kMsgSuccess);
    form_.WriteLog(std::string(kMsgSuccess) + "\t\t", true);
    ui::Terminate();
}

} // namespace

void TForm1::ButtonStartClick(ui::Control*) {
    SetRunning(true);
    SendRun run(*this);
    run.RefreshJournalSettings();
    // Before anything is touched, the journal's trimming included.
    RunLock runLock;
    const platform::LockOutcome lock = runLock.TryAcquire();
    if (lock == platform::LockOutcome::HeldElsewhere)
        return run.RefuseSecondRun();
    if (lock != platform::LockOutcome::Acquired)
        return run.RefuseWithoutLock(lock);
    run.StartJournal();
    if (!run.CheckSettings() || !run.CheckGpg() || !run.CheckFiles())
        return;
    SaveFileList(); // the list as it is now goes with every archive
    if (!run.Archive() || !run.Encrypt() || !run.Connect() || !run.Upload() || !run.Verify())
        return;
    run.HandleDataFiles();
    run.Succeed();
}

bool TForm1::CheckSettings() {
    if (ReadSettingString("General", "FTPServer", "").empty())
        return false;
    if (ReadSettingString("General", "Login", "").empty())
        return false;
    if (ReadSettingString("General", "Heslo", "").empty())
        return false;
    const std::string proxy = ReadSettingString("General", "Proxy", "");
    if (proxy.empty())
        return false;
    if (proxy == "0")
        return true;
    if (ReadSettingString("General", "ProxyAdresa", "").empty())
        return false;
    if (ReadSettingString("General", "ProxyPort", "").empty())
        return false;
    return true;
}

bool TForm1::CheckGpg(std::vector<std::string>* Reason) {
    if (!platform::FileExists(GpgProgramPath()))
        return false;
    // The file alone proves nothing: on Windows it is a launcher, which
    // works only where GnuPG for Windows is installed.
    GpgRun run = RunGpg({"--version"});
    if (!run.succeeded && Reason)
        *Reason = std::move(run.reason);
    return run.succeeded;
}

int TForm1::CheckFiles(std::string& BadFile) {
    const int count = ListFiles->Count();
    if (count == 0)
        return kFilesListEmpty;
    int result = kFilesAllUsable;
    int unusable = 0; // missing or empty
    // Empty by the size the file system keeps: a file that cannot be read
    // (held open by another program) is not empty, and the archive stage
    // says why it is not sent.
    for (int i = 0; i < count; ++i) {
        const std::string line = ListFiles->Item(i);
        if (!platform::FileExists(line)) {
            BadFile = line;
            WriteLog("Soubor " + line + " neexistuje.", true);
            ++unusable;
            result = kFilesSomeUnusable;
        } else if (platform::FileSize(line) == 0) {
            BadFile = line;
            WriteLog("Soubor " + line + " má nulovou velikost.", true);
            ++unusable;
            result = kFilesSomeUnusable;
        }
    }
    if (unusable == count) {
        WriteLog(kMsgNoUsableFile, true);
        return kFilesNoneUsable;
    }
    return result;
}
