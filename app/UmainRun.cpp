// The send run and its three checks.
#include "app/Umain.h"

#include "app/RunLock.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "settings/Unitpom.h"
#include "ui/Application.h"
#include "ui/Prompts.h"

namespace {

const char* const kMsgSettings = "V programu nejsou nastaveny všechny nezbytné přihlašovací údaje. "
                                 "\n\nUpravte nastavení stiskem tlačítka \"Konfigurace\". ";
const char* const kMsgNoGpg = "Program \"gpg.exe\" nebyl nalezen v adresáři aplikace.";
const char* const kMsgEmptyList = "V seznamu nejsou žádné soubory.";
const char* const kMsgNoUsableFile = "Všechny zadané soubory neexistují nebo mají nulovou "
                                     "velikost. Odesílání dat je zrušeno. ";
const char* const kMsgWriteRights = ") a nelze jej smazat. \n\nZkontrolujte prosím právo "
                                    "zapisovat do adresáře.";

// Puts the caption back and enables the start button on every way out of a
// run, an exception included.
class FinalStep {
public:
    FinalStep(TForm1& form, std::string caption) : form_(form), caption_(std::move(caption)) {}
    ~FinalStep() {
        form_.SetCaption(caption_);
        form_.SetRunning(false);
    }
    FinalStep(const FinalStep&) = delete;
    FinalStep& operator=(const FinalStep&) = delete;

private:
    TForm1& form_;
    std::string caption_;
};

} // namespace

void TForm1::FailRun(const std::string& message, const std::string& savedCaption, bool shownFirst) {
    if (shownFirst && !AutoMode)
        ui::ShowMessage(message);
    WriteLog(message, true);
    if (!shownFirst && !AutoMode)
        ui::ShowMessage(message);
    SetCaption(savedCaption);
    if (AutoMode)
        ui::Terminate();
}

void TForm1::ButtonStartClick(ui::Control*) {
    SetRunning(true);
    const std::string savedCaption = Caption();
    FinalStep finalStep(*this, savedCaption);

    LogEnabled = ReadSettingInteger("UseLog", 0) != 0;
    LogPath = ReadSettingString("General", "CestaLog", "");
    LogDelete = ReadSettingInteger("DeleteLog", 0) != 0;
    // Before anything is touched, the journal's trimming included.
    RunLock runLock;
    if (!runLock.TryAcquire()) {
        WriteLog(kRunInProgressJournal, true);
        if (!AutoMode)
            ui::ShowMessage(kRunInProgressMessage);
        return; // an unattended run ends through CheckAutoStart
    }
    if (LogEnabled)
        TrimLog();

    const std::string separator(53, '-');
    WriteLog(separator, false);
    WriteLog(separator, false);
    WriteLog("Start ", true);

    // Shows a stage's text in the caption and journals it.
    auto beginStage = [this](const std::string& text) {
        SetCaption(text);
        WriteLog(Caption(), true);
    };

    SetCaption("Kontrola nastavení programu");
    WriteLog("Kontrola nastavení", true);
    ui::ProcessMessages();
    if (!CheckSettings())
        return FailRun(kMsgSettings, savedCaption, false);

    WriteLog("Kontrola GNU PG", true);
    if (!CheckGpg())
        return FailRun(kMsgNoGpg, savedCaption, false);

    beginStage("Kontrola seznamu souborů");
    ui::ProcessMessages();
    std::string badFile;
    switch (CheckFiles(badFile)) {
    case 0:
        return FailRun(kMsgEmptyList, savedCaption, false);
    case 2:
        // Only reported (the check journalled each bad file); the usable
        // files are sent.
        if (!AutoMode)
            ui::ShowMessage("Soubor " + badFile + " neexistuje nebo má nulovou velikost.");
        SetCaption(savedCaption);
        break;
    case 3:
        if (AutoMode) {
            // CheckAutoStart asks the application to end.
            WriteLog("Odesílání zrušeno - jen prázdné soubory.", true);
            return;
        }
        ui::ShowMessage(kMsgNoUsableFile);
        SetCaption(savedCaption);
        ui::ProcessMessages();
        return;
    default:
        break;
    }

    SaveFileList();

    std::string transferFile;
    int64_t transferSize = 0;
    beginStage("Zipování souborů...");
    ui::ProcessMessages();
    switch (ZipFiles(transferFile, transferSize)) {
    case 0:
        return FailRun("Soubor se stejným názvem již existuje (" + transferFile + kMsgWriteRights,
                       savedCaption, false);
    case 2:
        return FailRun("Zazipovaný soubor nelze nalézt. \n\nZkontrolujte prosím právo zapisovat "
                       "do adresáře.",
                       savedCaption, false);
    case 3:
        return FailRun("Zipování se nezdařilo. Výsledný soubor " + transferFile +
                           " neexistuje nebo má nulovou velikost.",
                       savedCaption, false);
    default:
        break;
    }

    beginStage("Šifrování souboru...");
    ui::ProcessMessages();
    switch (EncryptFile(transferFile, transferSize)) {
    case 0:
        return FailRun("Soubor se stejným názvem již existuje (" + transferFile + kMsgWriteRights,
                       savedCaption, false);
    case 3:
        return FailRun("Šifrovaní se nezdařilo. Výsledný soubor " + transferFile +
                           " neexistuje nebo má nulovou velikost.",
                       savedCaption, false);
    case 4:
        return FailRun("Šifrovací aplikaci nelze spustit. ", savedCaption, false);
    default:
        break;
    }

    beginStage("Připojování k FTP serveru...");
    ui::ProcessMessages();
    std::string connectError;
    if (!ConnectFtp(connectError))
        return FailRun("Chyba při připojování k FTP serveru: " + connectError, savedCaption, false);

    beginStage("Transfer souboru...");
    ui::ProcessMessages();
    std::string remoteName;
    if (!UploadFile(transferFile, remoteName))
        return FailRun("Soubor neodeslán.", savedCaption, true);

    beginStage("Kontrola výsledku souboru...");
    ui::ProcessMessages();
    if (!CheckUpload(remoteName, transferSize))
        return FailRun("Transfer souboru se nezdařil.", savedCaption, true);

    beginStage("Data odeslána v pořádku...");

    // The data have been sent: a failure here is only reported.
    std::string message;
    switch (ReadSettingInteger("FilesMoveTo", 0)) {
    case 1:
        if (DeleteDataFiles()) {
            message = "Datové soubory smazány. ";
        } else {
            message = "Datové soubory se nepodařilo smazány. ";
            if (!AutoMode)
                ui::ShowMessage(message);
        }
        WriteLog(message, true);
        break;
    case 2:
        if (MoveDataFiles()) {
            message = "Datové soubory byly přesunuty. ";
        } else {
            message = "Datové soubory nebyly přesunuty. ";
            if (!AutoMode)
                ui::ShowMessage(message);
        }
        WriteLog(message, true);
        break;
    default:
        break;
    }

    message = "Odeslání dat na FTP server proběhlo v pořádku. Program bude ukončen. ";
    if (!AutoMode)
        ui::ShowMessage(message);
    WriteLog(message + "\t\t", true);
    ui::Terminate();
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

bool TForm1::CheckGpg() {
    const std::string dir = platform::IncludeTrailingSeparator(platform::ApplicationDir());
    return platform::FileExists(dir + "gpg.exe");
}

int TForm1::CheckFiles(std::string& BadFile) {
    const int count = ListFiles->Count();
    if (count == 0)
        return 0;
    int result = 1;
    int missing = 0;
    int empty = 0;
    for (int i = 0; i < count; ++i) {
        const std::string line = ListFiles->Item(i);
        if (!platform::FileExists(line)) {
            BadFile = line;
            WriteLog("Soubor " + line + " neexistuje.", true);
            ++missing;
            result = 2;
        } else if (GetFileSize(line) == 0) {
            BadFile = line;
            WriteLog("Soubor " + line + " má nulovou velikost.", true);
            ++empty;
            result = 2;
        }
    }
    if (missing + empty == count) {
        WriteLog(kMsgNoUsableFile, true);
        return 3;
    }
    return result;
}
