#include "app/Umain.h"

#include "app/AutoSwitch.h"
#include "app/ListablePath.h"
#include "app/NetPump.h"
#include "app/StageResults.h"
#include "app/TerminationWatch.h"
#include "net/Nmftp.h"
#include "platform/AbruptEnd.h"
#include "platform/CodePage.h"
#include "platform/Paths.h"
#include "settings/Uformkonfigurace.h"
#include "settings/Unitpom.h"
#include "ui/Application.h"
#include "ui/Prompts.h"
#include "zip/MemberName.h"

#include <algorithm>
#include <utility>

namespace {

// The platform's path limit on the original system; folder texts are cut to it.
constexpr std::size_t kMaxPathChars = 260;

// Cuts a UTF-8 text to at most n characters (never inside a character).
std::string CutToChars(const std::string& text, std::size_t n) {
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (chars == n)
                return text.substr(0, i);
            ++chars;
        }
    }
    return text;
}

// Removes leading and trailing blanks and control characters.
std::string Trim(const std::string& text) {
    std::size_t b = 0;
    std::size_t e = text.size();
    while (b < e && static_cast<unsigned char>(text[b]) <= ' ')
        ++b;
    while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ')
        --e;
    return text.substr(b, e - b);
}

} // namespace

TForm1::TForm1(std::vector<std::string> commandLine) {
    SetCaption(kMainCaption);
    SetClientSize(514, 262);

    CreateFtpClient();
    ButtonStart = new ui::Button(this, 409, 208, 96, 41, "Odeslat soubory");
    ListFiles = new ui::ListBox(this, 16, 8, 377, 241, 13);
    ButtonAddFiles = new ui::Button(this, 409, 8, 96, 41, "Přidat soubor(y)");
    ButtonRemoveFiles = new ui::Button(this, 409, 58, 96, 41, "Smazat soubor(y)");
    ButtonKonfigurace = new ui::Button(this, 409, 108, 96, 41, "Konfigurace");
    ButtonSave = new ui::Button(this, 409, 158, 96, 41, "Uložit nastavení");
    ui::SetTabOrder(
        {ButtonStart, ListFiles, ButtonAddFiles, ButtonRemoveFiles, ButtonKonfigurace, ButtonSave});
    // As in a dialog: Enter presses the focused button, else this one.
    SetDefaultButton(ButtonStart);

    ButtonStart->OnClick([this] { ButtonStartClick(ButtonStart); });
    ButtonAddFiles->OnClick([this] { ButtonAddFilesClick(ButtonAddFiles); });
    ButtonRemoveFiles->OnClick([this] { ButtonRemoveFilesClick(ButtonRemoveFiles); });
    ButtonKonfigurace->OnClick([this] { ButtonKonfiguraceClick(ButtonKonfigurace); });
    ButtonSave->OnClick([this] { ButtonSaveClick(ButtonSave); });
    SetOnFirstActivate([this] { FormActivate(this); });
    SetOnCloseRequest([this] { FormClose(this); });
    // The system's own request to end reaches a Windows program without a
    // console only as a message to its window.
    SetOnSessionEnd([] { RequestTermination(); });
    // The run cannot unwind before the system ends the program (it waits
    // below this message): gpg and the archive in the clear go now.
    SetOnSessionEnded([] { platform::CleanUpForAbruptEnd(); });

    Params = std::move(commandLine);

    InstallNetPump(socketTimer_);
    SetTerminationTarget(this);
}

TForm1::~TForm1() {
    SetTerminationTarget(nullptr);
    socketTimer_.Stop();
    if (closedDuringRun_)
        SetNetWaitCheck({});
    DestroyFtpClient();
}

void TForm1::FormClose(ui::Control*) {
    // Whoever closes the window during a run (the operator, or taskkill,
    // whose message is the same) wants the program to end, as the system does.
    if (!ButtonStart->Enabled())
        RequestTermination();
}

void TForm1::StopRun() {
    if (NMFTP != nullptr) {
        // The run goes on to its end (the data files are only touched after
        // a good upload); every wait of the client from now on is cancelled
        // at its first step, also the QUIT after a failed log-in.
        closedDuringRun_ = true;
        SetNetWaitCheck([this] {
            if (NMFTP != nullptr)
                NMFTP->Cancel();
        });
        NMFTP->Cancel();
    }
    ui::Terminate();
}

void TForm1::FormActivate(ui::Control*) {
    LoadFileList();
    if (!Params.empty())
        CheckAutoStart();
}

void TForm1::LoadFileList() {
    // The stored count is not trusted beyond what the section holds: a wrong
    // or hostile count must not make the start-up build millions of lines.
    const int n = std::min(ReadSettingInteger("PocetSouboru", 0), CountSettingEntries("Files"));
    std::vector<std::string> keys;
    for (int i = 0; i < n; ++i)
        keys.push_back("File" + std::to_string(i));
    // One reading of the file for the whole list.
    for (const std::string& path : ReadSettingStrings("Files", keys, ""))
        ListFiles->Add(path);
}

void TForm1::SaveFileList() {
    // Erase, count and keys in one rewrite of Settings.ini: the file ends as
    // after the single writes, without one flush to disk per data file, and a
    // failure leaves the old list whole instead of half written.
    const int n = ListFiles->Count();
    SettingsBatch batch;
    batch.EraseSection("Files");
    batch.WriteString("General", "PocetSouboru", std::to_string(n));
    for (int i = 0; i < n; ++i)
        batch.WriteString("Files", "File" + std::to_string(i), ListFiles->Item(i));
    batch.Commit();
}

bool TForm1::IsInList(const std::string& path) const {
    const std::string wanted = Trim(path);
    for (int i = 0; i < ListFiles->Count(); ++i)
        if (ListFiles->Item(i) == wanted)
            return true;
    return false;
}

bool TForm1::HasListedName(const std::string& path) const {
    const std::string wanted = zip::MemberNameKey(platform::ExtractFileName(Trim(path)));
    for (int i = 0; i < ListFiles->Count(); ++i)
        if (zip::MemberNameKey(platform::ExtractFileName(ListFiles->Item(i))) == wanted)
            return true;
    return false;
}

void TForm1::CheckAutoStart() {
    // Index loop: every matching argument runs once, in order.
    for (std::size_t i = 0; i < Params.size(); ++i) {
        if (!IsAutoSwitch(Params[i]))
            continue;
        AutoMode = true;
        ranUnattended_ = true;
        try {
            ButtonStartClick(ButtonStart);
        } catch (...) {
            unattendedOutcome_ = LastRunOutcome;
            // Without a display nobody can close the window: an unattended
            // run that ended in an error must still end the program, or it
            // would stay in memory until the next scheduled start.
            if (!ui::Interactive())
                ui::Terminate();
            throw;
        }
        // With several switches the last run tells how the night ended, as
        // the last command of a script does.
        unattendedOutcome_ = LastRunOutcome;
        ui::Terminate();
    }
}

int TForm1::ExitStatus() const {
    // A run the operator started is seen on the screen; only an unattended
    // one reports through the exit status, and only when asked to.
    if (!ranUnattended_ || !ExitCodeRequested())
        return 0;
    return ExitStatusOf(unattendedOutcome_);
}

void TForm1::SetRunning(bool running) {
    ButtonStart->SetEnabled(!running);
}

void TForm1::ButtonAddFilesClick(ui::Control*) {
    std::string candidate = CutToChars(platform::CurrentDir(), kMaxPathChars);
    OpenDialog.title = "Přidat soubor(y) do seznamu...";
    OpenDialog.initialDir = ReadSettingString("General", "LastFolder", platform::CurrentDir());
    if (!OpenDialog.Execute())
        return;
    const std::vector<std::string>& files = OpenDialog.files();
    if (!files.empty())
        candidate = CutToChars(platform::ExtractFileDir(files.front()), kMaxPathChars);
    // Settings.ini, the journal and the archive keep names in Windows-1250;
    // a path it cannot hold would be mangled there, so it is not listed, nor
    // is one whose name would unpack outside the archive's folder.
    // Nor is one whose file name a listed file has already (letter case
    // aside): both would be members of that name, one lost on unpacking.
    std::string refused;
    std::string unsafe;
    std::string sameName;
    for (const std::string& path : files) {
        const ListablePath listable = CheckListablePath(path);
        if (listable == ListablePath::NotStorable)
            refused += "\n" + path;
        else if (listable == ListablePath::UnsafeInArchive)
            unsafe += "\n" + path;
        else if (IsInList(path))
            continue;
        else if (HasListedName(path))
            sameName += "\n" + path;
        else
            ListFiles->Add(path);
    }
    if (CheckListablePath(candidate) != ListablePath::NotStorable)
        WriteSettingString("General", "LastFolder", candidate);
    if (!refused.empty())
        ui::ShowMessage("Tyto soubory nelze přidat do seznamu, jejich cesta obsahuje znaky, "
                        "které program neumí uložit (kódování Windows-1250):" +
                        refused);
    if (!unsafe.empty())
        ui::ShowMessage("Tyto soubory nelze přidat do seznamu, jejich název obsahuje zpětná "
                        "lomítka, která by v archivu ZIP vedla mimo jeho složku:" +
                        unsafe);
    if (!sameName.empty())
        ui::ShowMessage("Tyto soubory nelze přidat do seznamu, v seznamu už je soubor stejného "
                        "názvu (velká a malá písmena se nerozlišují) a v archivu ZIP by je nešlo "
                        "rozlišit:" +
                        sameName);
}

void TForm1::ButtonRemoveFilesClick(ui::Control*) {
    int i = 0;
    while (i < ListFiles->Count()) {
        if (ListFiles->Selected(i))
            ListFiles->Delete(i);
        else
            ++i;
    }
}

void TForm1::ButtonKonfiguraceClick(ui::Control*) {
    // A new dialog for each opening; nothing is reloaded afterwards, every
    // consumer reads the settings afresh.
    TFormKonfigurace FormKonfigurace(this);
    FormKonfigurace.ShowModal();
}

void TForm1::ButtonSaveClick(ui::Control*) {
    if (!CheckSettings()) {
        ui::ShowMessage("V programu nejsou nastaveny všechny nezbytné přihlašovací údaje. "
                        "\n\nUpravte nastavení stiskem tlačítka \"Konfigurace\". ");
        return;
    }
    WriteLog("Kontrola GNU PG", true);
    if (!CheckGpg()) {
        ui::ShowMessage("Program \"gpg.exe\" nebyl nalezen v adresáři aplikace.\n\n");
        return;
    }
    std::string badFile;
    switch (CheckFiles(badFile)) {
    case kFilesListEmpty:
        ui::ShowMessage("V seznamu nejsou žádné soubory.");
        return;
    case kFilesSomeUnusable:
        if (!ui::AskYesNo("Uložit konfiguraci",
                          "Soubor " + badFile +
                              " neexistuje nebo má nulovou velikost. \n\nPřejete si přestro "
                              "konfiguraci uložit ?"))
            return;
        break;
    default:
        break;
    }
    SaveFileList();
    ui::ShowMessage("Nastavení programu uloženo.");
}
