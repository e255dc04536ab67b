// The real configuration dialog driven with mouse clicks and key presses.
// Every box goes to a PromptRecorder, so no test can wait for a user.
#include "settings/Uformkonfigurace.h"

#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "settings/Unitpom.h"
#include "tests/support/TempFolder.h"
#include "ui/Application.h"
#include "ui/PromptRecorder.h"
#include "ui/Testing.h"
#include "ui/Timer.h"

#include <gtest/gtest.h>
#include <memory>

namespace {

using ui::testing::Key;

const char kNoServer[] = "Vyplňte prosím adresu cílového FTP serveru. ";
const char kNoLogin[] =
    "Vyplňte prosím své uživatelské jméno (Login) pro připojení k FTP serveru. ";
const char kNoHeslo[] = "Vyplňte prosím své heslo pro připojení k FTP serveru. ";
const char kNoLogDir[] = "Adresář s log souborem neexistuje.";
const char kLogNotSet[] = "Adresář s log souborem není nastaven.";
const char kNoMoveDir[] = "Není nastaven adresář pro přesun zdrojových souborů.";
const char kMoveDirMissing[] = "Neexistuje adresář pro přesun zdrojových souborů.";
const char kNoProxy[] = "Vyplňte prosím adresu proxy serveru. ";
const char kNoPort[] = "Vyplňte prosím port proxy serveru. ";
const char kBadPort[] = "Port proxy serveru musí být celé číslo v rozmezí 1 - 65535. ";

// Paths by the rules of the system the tests run on: the separator, and a
// root that exists ("/" or the drive "C:\").
const std::string kSep(1, platform::kPathSeparator);
const std::string kRoot = platform::kPathSeparator == '\\' ? "C:\\" : "/";
// A path written with '/' in the system's form (a text only, never looked up).
std::string Sys(std::string path) {
    for (char& c : path)
        if (c == '/')
            c = platform::kPathSeparator;
    return path;
}

class KonfiguraceDialog : public ::testing::Test {
protected:
    void SetUp() override { platform::SetApplicationDirOverride(dir.Path()); }
    void TearDown() override {
        form.reset();
        platform::SetApplicationDirOverride("");
    }

    std::string IniPath() const { return dir / "Settings.ini"; }
    void WriteIni(const std::string& bytes) const { testsupport::WriteBytes(IniPath(), bytes); }
    std::string IniBytes() const { return testsupport::ReadBytes(IniPath()); }
    bool IniExists() const { return platform::FileExists(IniPath()); }

    // Shows a new dialog as the main window would and lets it load.
    TFormKonfigurace& Open() {
        form = std::make_unique<TFormKonfigurace>(nullptr);
        EXPECT_TRUE(ui::testing::ShowActive(*form));
        ui::ProcessMessages();
        return *form;
    }

    void Click(ui::Control* w) { ui::testing::Click(*w); }
    void Save() { Click(form->ButtonSave); }
    // A key pressed and released where the focus is at each moment, as a
    // keyboard does it.
    void PressKey(Key key) { ui::testing::PressKey(*form, key); }
    // Types the text key by key into the emptied field; letters beyond ASCII
    // arrive as from a Czech keyboard layout.
    void Type(ui::Edit* edit, const std::string& text) {
        edit->SetText("");
        ui::testing::TypeText(*edit, text);
    }
    void FillRequired() {
        Type(form->EditFTPServer, "ftp.example.invalid");
        Type(form->EditLogin, "uzivatel");
        Type(form->EditHeslo, "heslo");
    }
    // The one message the last save showed ("" when it showed none).
    std::string SaveAndGetMessage() {
        rec.Clear();
        Save();
        auto messages = rec.Messages();
        EXPECT_LE(messages.size(), 1u);
        return messages.empty() ? std::string() : messages.front();
    }

    testsupport::TempFolder dir;
    ui::PromptRecorder rec;
    std::unique_ptr<TFormKonfigurace> form;
};

TEST_F(KonfiguraceDialog, OpensWithoutSettingsFile) {
    TFormKonfigurace& f = Open();
    EXPECT_EQ(f.Caption(), "Konfigurace programu");
    EXPECT_EQ(f.Geometry().width, 545);
    EXPECT_EQ(f.Geometry().height, 323);
    EXPECT_EQ(f.EditFTPServer->Text(), RODERUV_DEFAULT_FTP_SERVER);
    EXPECT_EQ(TFormKonfigurace::DefaultFtpServer(), RODERUV_DEFAULT_FTP_SERVER);
    for (ui::Edit* e : {f.EditLogin, f.EditHeslo, f.EditProxyAdresa, f.EditProxyPort,
                        f.EditProxyLogin, f.EditProxyHeslo, f.EditCestaLog, f.EditCestaAdresare})
        EXPECT_EQ(e->Text(), "");
    for (ui::Control* w : std::initializer_list<ui::Control*>{
             f.EditProxyAdresa, f.EditProxyPort, f.EditProxyLogin, f.EditProxyHeslo, f.LabelAdresa,
             f.LabelPort, f.LabelLogin, f.LabelHeslo, f.Label4, f.EditCestaLog, f.ButtonBrowseLog,
             f.RadioButtonAll, f.RadioButtonLastOnly, f.EditCestaAdresare, f.ButtonBrowse})
        EXPECT_FALSE(w->Enabled()) << ui::testing::Describe(*w);
    EXPECT_TRUE(f.CheckBoxLog->Enabled());
    EXPECT_FALSE(f.CheckBoxProxy->Checked());
    EXPECT_FALSE(f.CheckBoxLog->Checked());
    EXPECT_TRUE(f.RadioLeave->Checked());
    EXPECT_TRUE(f.RadioButtonAll->Checked());
    EXPECT_TRUE(ui::testing::TextHidden(*f.EditHeslo));
    EXPECT_FALSE(IniExists()); // loading creates nothing
    EXPECT_TRUE(rec.Requests().empty());

    Type(f.EditFTPServer, "jiny.server");
    Click(f.LMDButtonDefFTPServer);
    EXPECT_EQ(f.EditFTPServer->Text(), RODERUV_DEFAULT_FTP_SERVER);
}

// Every caption is shown whole and no control covers another.
TEST_F(KonfiguraceDialog, CaptionsFitAndNothingOverlaps) {
    TFormKonfigurace& f = Open();
    auto name = [](const ui::Control* w) { return ui::testing::Describe(*w); };
    // A label's box may be taller than its line of text; the text is what must
    // stay clear of the controls.
    auto area = [](const ui::Control* w) { return ui::testing::TextArea(*w); };
    std::vector<ui::Control*> placed = f.Children();
    for (ui::Control* w : f.GroupBox1->Children())
        placed.push_back(w);
    ASSERT_EQ(placed.size(), 31u);
    for (ui::Control* w : placed) {
        EXPECT_TRUE(ui::testing::CaptionFits(*w)) << name(w);
        const ui::Rect parent = w->Parent()->Geometry();
        EXPECT_TRUE((ui::Rect{0, 0, parent.width, parent.height}).Contains(w->Geometry()))
            << name(w);
        for (ui::Control* other : placed) {
            if (other == w || other->Parent() != w->Parent() || other == f.GroupBox1 ||
                w == f.GroupBox1)
                continue;
            EXPECT_FALSE(area(w).Intersects(area(other))) << name(w) << " / " << name(other);
        }
    }
    EXPECT_EQ(f.RadioButtonAll->Geometry().left, 232);
    EXPECT_EQ(f.RadioButtonAll->Geometry().top, 72);
}

TEST_F(KonfiguraceDialog, LoadsStoredValues) {
    WriteIni("[General]\r\nFTPServer=ftp.registr.cz\r\nLogin=l\xE9ka\xF8\r\n"
             "Heslo=aGVzbG8=\r\n"
             "Proxy=1\r\nProxyAdresa=proxy.cz\r\nProxyPort=3128\r\nProxyLogin=pl\r\n"
             "ProxyHeslo=cGg=\r\nUseLog=1\r\nCestaLog=/var/log/x.log\r\nDeleteLog=1\r\n"
             "FilesMoveTo=2\r\nFilesMoveToDir=/data/sent/\r\n");
    TFormKonfigurace& f = Open();
    EXPECT_EQ(f.EditFTPServer->Text(), "ftp.registr.cz");
    EXPECT_EQ(f.EditLogin->Text(), "l\xC3\xA9ka\xC5\x99"); // read as Windows-1250
    EXPECT_EQ(f.EditHeslo->Text(), "heslo");
    EXPECT_TRUE(f.CheckBoxProxy->Checked());
    EXPECT_EQ(f.EditProxyAdresa->Text(), "proxy.cz");
    EXPECT_EQ(f.EditProxyPort->Text(), "3128");
    EXPECT_EQ(f.EditProxyLogin->Text(), "pl");
    EXPECT_EQ(f.EditProxyHeslo->Text(), "ph");
    EXPECT_TRUE(f.EditProxyHeslo->Enabled());
    EXPECT_TRUE(f.CheckBoxLog->Checked());
    EXPECT_TRUE(f.EditCestaLog->Enabled());
    EXPECT_EQ(f.EditCestaLog->Text(), "/var/log/x.log");
    EXPECT_TRUE(f.RadioButtonLastOnly->Checked());
    EXPECT_TRUE(f.RadioMoveTo->Checked());
    EXPECT_TRUE(f.ButtonBrowse->Enabled());
    EXPECT_EQ(f.EditCestaAdresare->Text(), "/data/sent/");
}

TEST_F(KonfiguraceDialog, DeleteSettingLoadsWithoutMoveFolder) {
    WriteIni("[General]\r\nFilesMoveTo=1\r\nFilesMoveToDir=/data/sent/\r\n");
    TFormKonfigurace& f = Open();
    EXPECT_TRUE(f.RadioDelete->Checked());
    EXPECT_EQ(f.EditCestaAdresare->Text(), "");
    EXPECT_FALSE(f.EditCestaAdresare->Enabled());
    EXPECT_FALSE(f.ButtonBrowse->Enabled());
}

TEST_F(KonfiguraceDialog, EachCheckInOrderFirstFailureWins) {
    TFormKonfigurace& f = Open();
    f.EditFTPServer->SetText("");
    Click(f.CheckBoxProxy);
    Click(f.CheckBoxLog);
    Click(f.RadioMoveTo);
    ASSERT_TRUE(f.EditProxyAdresa->Enabled());
    ASSERT_TRUE(f.EditCestaLog->Enabled());

    EXPECT_EQ(SaveAndGetMessage(), kNoServer);
    Type(f.EditFTPServer, "ftp.example.invalid");
    EXPECT_EQ(SaveAndGetMessage(), kNoLogin);
    Type(f.EditLogin, "uzivatel");
    EXPECT_EQ(SaveAndGetMessage(), kNoHeslo);
    Type(f.EditHeslo, "heslo");
    EXPECT_EQ(SaveAndGetMessage(), kLogNotSet);
    Type(f.EditCestaLog, dir / Sys("missing/run.log"));
    EXPECT_EQ(SaveAndGetMessage(), kNoLogDir);
    Type(f.EditCestaLog, dir.Path() + kSep);
    EXPECT_EQ(SaveAndGetMessage(), kNoMoveDir);
    EXPECT_EQ(f.EditCestaLog->Text(), dir / "Log.log"); // completion stays
    Type(f.EditCestaAdresare, dir / "missing");
    EXPECT_EQ(SaveAndGetMessage(), kMoveDirMissing);
    EXPECT_EQ(f.EditCestaAdresare->Text(), dir / "missing" + kSep); // completion stays
    ASSERT_TRUE(platform::CreateDir(dir / "sent"));
    Type(f.EditCestaAdresare, dir / "sent");
    EXPECT_EQ(SaveAndGetMessage(), kNoProxy);
    Type(f.EditProxyAdresa, "proxy.local");
    EXPECT_EQ(SaveAndGetMessage(), kNoPort);
    Type(f.EditProxyPort, "80a");
    EXPECT_EQ(SaveAndGetMessage(), kBadPort);
    EXPECT_TRUE(f.Visible());
    EXPECT_FALSE(IniExists());            // nothing written by a failed check
    EXPECT_TRUE(f.ButtonSave->Focused()); // no field was focused

    Type(f.EditProxyPort, "8080");
    EXPECT_EQ(SaveAndGetMessage(), "");
    EXPECT_FALSE(f.Visible());
    EXPECT_TRUE(f.Accepted());
    EXPECT_EQ(ReadSettingString("", "CestaLog", ""), dir / "Log.log");
    EXPECT_EQ(ReadSettingString("", "FilesMoveToDir", ""), dir / "sent" + kSep);
    EXPECT_EQ(ReadSettingString("", "ProxyPort", ""), "8080");
    EXPECT_EQ(ReadSettingString("", "UseLog", ""), "1");
}

// Keys the dialog does not show (FTPS, the certificate pin, the time-out)
// stay as they were, byte for byte, when it saves.
TEST_F(KonfiguraceDialog, SavingKeepsTheKeysItDoesNotShow) {
    const std::string hidden = "FTPS=1\r\nFTPSCertificate=sha256 Fingerprint=AB:CD:EF\r\n"
                               "TimeOut=30\r\n";
    WriteIni("[General]\r\n" + hidden + "CestaLog=" + dir / "run.log" + "\r\n");
    Open();
    FillRequired();
    EXPECT_EQ(SaveAndGetMessage(), "");
    EXPECT_NE(IniBytes().find("[General]\r\n" + hidden), std::string::npos) << IniBytes();
}

TEST_F(KonfiguraceDialog, JournalFolderCheckedEvenWithJournalOff) {
    // A path stored earlier stays in the disabled field with the journal off.
    WriteIni("[General]\r\nUseLog=0\r\nCestaLog=" + dir / Sys("missing/run.log") + "\r\n");
    TFormKonfigurace& f = Open();
    EXPECT_FALSE(f.EditCestaLog->Enabled());
    FillRequired();
    EXPECT_EQ(SaveAndGetMessage(), kNoLogDir);
    f.EditCestaLog->SetText("run.log"); // a bare name has no folder
    EXPECT_EQ(SaveAndGetMessage(), kNoLogDir);
    f.EditCestaLog->SetText(dir / "run.log");
    EXPECT_EQ(SaveAndGetMessage(), "");
    EXPECT_EQ(ReadSettingString("", "CestaLog", ""), dir / "run.log");
    EXPECT_EQ(ReadSettingString("", "UseLog", ""), "0");
}

TEST_F(KonfiguraceDialog, JournalPathCompletions) {
    TFormKonfigurace& f = Open();
    FillRequired();
    Click(f.CheckBoxLog);
    Type(f.EditCestaLog, kRoot);
    Click(f.RadioMoveTo); // and no folder: a later check fails
    EXPECT_EQ(SaveAndGetMessage(), kNoMoveDir);
    EXPECT_EQ(f.EditCestaLog->Text(), kRoot + "Log.log"); // the root is a folder too
    if (platform::kPathSeparator == '\\') {
        // A drive letter and a colon name the drive's folder.
        Type(f.EditCestaLog, "C:");
        EXPECT_EQ(SaveAndGetMessage(), kNoMoveDir);
        EXPECT_EQ(f.EditCestaLog->Text(), "C:\\Log.log");
    }
    Type(f.EditCestaLog, dir.Path() + kSep);
    Type(f.EditCestaAdresare, kRoot);
    EXPECT_EQ(SaveAndGetMessage(), "");
    EXPECT_EQ(ReadSettingString("", "CestaLog", ""), dir / "Log.log");
    EXPECT_EQ(ReadSettingString("", "FilesMoveToDir", ""), kRoot);
}

TEST_F(KonfiguraceDialog, FirstFailingCheckWinsOverIncompleteProxy) {
    TFormKonfigurace& f = Open();
    Click(f.CheckBoxProxy);
    Type(f.EditFTPServer, "ftp.example.invalid");
    EXPECT_EQ(SaveAndGetMessage(), kNoLogin);
    EXPECT_FALSE(IniExists());
}

TEST_F(KonfiguraceDialog, ProxyPorts) {
    TFormKonfigurace& f = Open();
    FillRequired();
    Click(f.CheckBoxProxy);
    Type(f.EditProxyAdresa, "proxy.local");
    for (const char* bad : {"0", "65536", "abc", "21x", "-1", "0x15", "99999999999"}) {
        Type(f.EditProxyPort, bad);
        EXPECT_EQ(SaveAndGetMessage(), kBadPort) << bad;
    }
    Type(f.EditProxyPort, "");
    EXPECT_EQ(SaveAndGetMessage(), kNoPort);
    EXPECT_FALSE(IniExists());
    for (const char* good : {"1", "65535", "0021"}) {
        Open();
        FillRequired();
        if (!form->CheckBoxProxy->Checked()) // on since the previous save
            Click(form->CheckBoxProxy);
        Type(form->EditProxyAdresa, "proxy.local");
        Type(form->EditProxyPort, good);
        EXPECT_EQ(SaveAndGetMessage(), "") << good;
        EXPECT_EQ(ReadSettingString("", "ProxyPort", ""), good); // as typed
    }
}

TEST_F(KonfiguraceDialog, ProxySwitchedOffKeepsOldValuesInTheFile) {
    WriteIni("[General]\r\nProxy=1\r\nProxyAdresa=old.proxy\r\nProxyPort=3128\r\n"
             "ProxyLogin=oldlogin\r\nProxyHeslo=b2xk\r\n");
    TFormKonfigurace& f = Open();
    EXPECT_EQ(f.EditProxyAdresa->Text(), "old.proxy");
    FillRequired();
    Click(f.CheckBoxProxy); // off
    EXPECT_FALSE(f.CheckBoxProxy->Checked());
    EXPECT_FALSE(f.EditProxyAdresa->Enabled());
    EXPECT_EQ(f.EditProxyAdresa->Text(), "old.proxy"); // contents untouched
    EXPECT_EQ(SaveAndGetMessage(), "");

    TFormKonfigurace& g = Open();
    EXPECT_FALSE(g.CheckBoxProxy->Checked());
    for (ui::Edit* e : {g.EditProxyAdresa, g.EditProxyPort, g.EditProxyLogin, g.EditProxyHeslo}) {
        EXPECT_EQ(e->Text(), "");
        EXPECT_FALSE(e->Enabled());
    }
    EXPECT_EQ(ReadSettingString("", "Proxy", ""), "0");
    EXPECT_EQ(ReadSettingString("", "ProxyAdresa", ""), "old.proxy");
    EXPECT_EQ(ReadSettingString("", "ProxyPort", ""), "3128");
    EXPECT_EQ(ReadSettingString("", "ProxyLogin", ""), "oldlogin");
    EXPECT_EQ(ReadSettingString("", "ProxyHeslo", ""), "b2xk");

    // Switched on again, what the fields hold now is stored.
    Click(g.CheckBoxProxy);
    Type(g.EditProxyAdresa, "new.proxy");
    Type(g.EditProxyPort, "8080");
    EXPECT_EQ(SaveAndGetMessage(), "");
    EXPECT_EQ(ReadSettingString("", "Proxy", ""), "1");
    EXPECT_EQ(ReadSettingString("", "ProxyAdresa", ""), "new.proxy");
    EXPECT_EQ(ReadSettingString("", "ProxyLogin", ""), "");
    EXPECT_EQ(ReadSettingString("", "ProxyHeslo", ""), "");
}

TEST_F(KonfiguraceDialog, MoveFolderKeptWhenFilesAreNotMoved) {
    WriteIni("[General]\r\nFilesMoveTo=2\r\nFilesMoveToDir=/old/sent/\r\n");
    TFormKonfigurace& f = Open();
    FillRequired();
    Click(f.RadioDelete);
    EXPECT_FALSE(f.EditCestaAdresare->Enabled());
    EXPECT_FALSE(f.ButtonBrowse->Enabled());
    EXPECT_EQ(SaveAndGetMessage(), "");
    EXPECT_EQ(ReadSettingString("", "FilesMoveTo", ""), "1");
    EXPECT_EQ(ReadSettingString("", "FilesMoveToDir", ""), "/old/sent/");
}

TEST_F(KonfiguraceDialog, KeyboardAndMouseOnRadioMoveTo) {
    TFormKonfigurace& f = Open();
    f.RadioLeave->SetFocus();
    ASSERT_TRUE(f.RadioLeave->Focused());
    PressKey(Key::Down);
    EXPECT_TRUE(f.RadioDelete->Checked());
    PressKey(Key::Down);
    ASSERT_TRUE(f.RadioMoveTo->Focused());
    EXPECT_TRUE(f.RadioMoveTo->Checked());
    EXPECT_TRUE(f.EditCestaAdresare->Enabled());
    EXPECT_FALSE(f.ButtonBrowse->Enabled()); // the keyboard leaves it as it was

    PressKey(Key::Up); // back to "Smazat" with the keyboard
    EXPECT_TRUE(f.RadioDelete->Checked());
    EXPECT_FALSE(f.EditCestaAdresare->Enabled());

    Click(f.RadioMoveTo);
    EXPECT_TRUE(f.RadioMoveTo->Checked());
    EXPECT_TRUE(f.EditCestaAdresare->Enabled());
    EXPECT_TRUE(f.ButtonBrowse->Enabled());
    Click(f.RadioLeave);
    EXPECT_FALSE(f.EditCestaAdresare->Enabled());
    EXPECT_FALSE(f.ButtonBrowse->Enabled());
}

TEST_F(KonfiguraceDialog, SpaceBarOnCheckBoxesLeavesDependantsAlone) {
    TFormKonfigurace& f = Open();
    f.CheckBoxProxy->SetFocus();
    PressKey(Key::Space);
    EXPECT_TRUE(f.CheckBoxProxy->Checked());
    EXPECT_FALSE(f.EditProxyAdresa->Enabled());
    EXPECT_FALSE(f.LabelPort->Enabled());
    Click(f.CheckBoxProxy);
    EXPECT_FALSE(f.CheckBoxProxy->Checked());
    EXPECT_FALSE(f.EditProxyAdresa->Enabled());
    Click(f.CheckBoxProxy);
    EXPECT_TRUE(f.CheckBoxProxy->Checked());
    for (ui::Control* w : std::initializer_list<ui::Control*>{
             f.EditProxyAdresa, f.EditProxyPort, f.EditProxyLogin, f.EditProxyHeslo, f.LabelAdresa,
             f.LabelPort, f.LabelLogin, f.LabelHeslo})
        EXPECT_TRUE(w->Enabled()) << ui::testing::Describe(*w);

    f.CheckBoxLog->SetFocus();
    PressKey(Key::Space);
    EXPECT_TRUE(f.CheckBoxLog->Checked());
    EXPECT_FALSE(f.EditCestaLog->Enabled());
    Click(f.CheckBoxLog);
    Click(f.CheckBoxLog);
    EXPECT_TRUE(f.CheckBoxLog->Checked());
    for (ui::Control* w : std::initializer_list<ui::Control*>{
             f.Label4, f.EditCestaLog, f.ButtonBrowseLog, f.RadioButtonAll, f.RadioButtonLastOnly})
        EXPECT_TRUE(w->Enabled()) << ui::testing::Describe(*w);
}

TEST_F(KonfiguraceDialog, StornoEscAndCloseBoxLeaveTheFileUnchanged) {
    const std::string original = "[General]\r\nFTPServer=puvodni\r\nLogin=a\r\nHeslo=Yg==\r\n"
                                 "Proxy=0\r\nProxyAdresa=p\r\n";
    WriteIni(original);
    auto edit = [&](TFormKonfigurace& f) {
        Type(f.EditFTPServer, "zmeneno");
        Click(f.CheckBoxProxy);
        Click(f.RadioDelete);
    };
    edit(Open());
    Click(form->LMDButton1);
    EXPECT_FALSE(form->Visible());
    EXPECT_FALSE(form->Accepted());
    EXPECT_EQ(IniBytes(), original);

    edit(Open());
    PressKey(Key::Escape);
    EXPECT_FALSE(form->Visible());
    EXPECT_EQ(IniBytes(), original);

    edit(Open());
    EXPECT_TRUE(ui::testing::PressCloseBox(*form));
    EXPECT_FALSE(form->Visible());
    EXPECT_EQ(IniBytes(), original);
    EXPECT_TRUE(rec.Requests().empty());
}

TEST_F(KonfiguraceDialog, EnterSaves) {
    TFormKonfigurace& f = Open();
    FillRequired();
    f.EditHeslo->SetFocus();
    PressKey(Key::Enter);
    EXPECT_FALSE(f.Visible());
    EXPECT_TRUE(f.Accepted());
    EXPECT_EQ(ReadSettingString("", "Login", ""), "uzivatel");
}

TEST_F(KonfiguraceDialog, EnterOnAFocusedButtonPressesThatButton) {
    const std::string original = "[General]\r\nLogin=a\r\nHeslo=Yg==\r\n";
    WriteIni(original);
    TFormKonfigurace& f = Open();
    Type(f.EditFTPServer, "");
    f.LMDButtonDefFTPServer->SetFocus();
    PressKey(Key::Enter);
    EXPECT_TRUE(f.Visible());
    EXPECT_EQ(f.EditFTPServer->Text(), RODERUV_DEFAULT_FTP_SERVER);
    f.LMDButton1->SetFocus();
    PressKey(Key::Enter);
    EXPECT_FALSE(f.Visible());
    EXPECT_FALSE(f.Accepted());
    EXPECT_EQ(IniBytes(), original);
    EXPECT_TRUE(rec.Requests().empty());
}

TEST_F(KonfiguraceDialog, TabOrder) {
    TFormKonfigurace& f = Open();
    const std::vector<ui::Control*> expected = {
        f.EditFTPServer,         f.EditLogin,       f.EditHeslo,
        f.CheckBoxProxy,         f.EditProxyAdresa, f.EditProxyPort,
        f.EditProxyLogin,        f.EditProxyHeslo,  f.EditCestaLog,
        f.CheckBoxLog,           f.ButtonSave,      f.LMDButton1,
        f.LMDButtonDefFTPServer, f.ButtonBrowseLog, f.RadioButtonAll,
        f.RadioButtonLastOnly,   f.RadioLeave,      f.RadioDelete,
        f.RadioMoveTo,           f.ButtonBrowse,    f.EditCestaAdresare};
    std::vector<ui::Control*> chain;
    ui::Control* w = f.EditFTPServer;
    do {
        chain.push_back(w);
        w = ui::testing::NextInTabOrder(*w);
    } while (w != nullptr && w != f.EditFTPServer && chain.size() < 100);
    EXPECT_EQ(chain, expected);
}

TEST_F(KonfiguraceDialog, SavesEveryKeyInOrder) {
    TFormKonfigurace& f = Open();
    FillRequired();
    Click(f.CheckBoxLog);
    Type(f.EditCestaLog, dir / "j.log");
    Click(f.RadioButtonLastOnly);
    Click(f.CheckBoxProxy);
    Type(f.EditProxyAdresa, "p");
    Type(f.EditProxyPort, "21");
    Type(f.EditProxyLogin, " pl ");
    Type(f.EditProxyHeslo, "x");
    Click(f.RadioMoveTo);
    Type(f.EditCestaAdresare, dir.Path());
    EXPECT_EQ(SaveAndGetMessage(), "");
    EXPECT_EQ(IniBytes(), "[General]\r\nFTPServer=ftp.example.invalid\r\nLogin=uzivatel\r\n"
                          "Heslo=aGVzbG8=\r\nUseLog=1\r\nCestaLog=" +
                              dir / "j.log" +
                              "\r\nDeleteLog=1\r\nProxy=1\r\nProxyLogin= pl \r\nProxyHeslo=eA==\r\n"
                              "ProxyAdresa=p\r\nProxyPort=21\r\nFilesMoveTo=2\r\nFilesMoveToDir=" +
                              dir.Path() + kSep + "\r\n");
}

TEST_F(KonfiguraceDialog, PasswordsRoundTrip) {
    const std::string czech = "Příliš žluťoučký kůň úpěl ďábelské ódy";
    const std::string of57(57, 'k');
    std::string of100;
    for (int i = 0; i < 100; ++i)
        of100 += static_cast<char>('!' + i % 90);
    for (const auto& [heslo, proxyHeslo] :
         {std::pair{czech, of100}, std::pair{of100, czech}, std::pair{of57, of57}}) {
        TFormKonfigurace& f = Open();
        FillRequired();
        Type(f.EditHeslo, heslo);
        if (!f.CheckBoxProxy->Checked()) // on since the previous save
            Click(f.CheckBoxProxy);
        Type(f.EditProxyAdresa, "p");
        Type(f.EditProxyPort, "1");
        Type(f.EditProxyHeslo, proxyHeslo);
        ASSERT_EQ(f.EditHeslo->Text(), heslo);
        EXPECT_EQ(SaveAndGetMessage(), "");

        TFormKonfigurace& g = Open();
        EXPECT_EQ(g.EditHeslo->Text(), heslo);
        EXPECT_EQ(g.EditProxyHeslo->Text(), proxyHeslo);
    }
    // 57 bytes are stored as 76 characters followed by a line break.
    const std::string bytes = IniBytes();
    const std::string stored = ReadSettingString("", "Heslo", "");
    EXPECT_EQ(stored.size(), 76u);
    EXPECT_NE(bytes.find("\r\nHeslo=" + stored + "\r\n\r\n"), std::string::npos);
    EXPECT_NE(bytes.find("\r\nProxyHeslo=" + stored + "\r\n\r\n"), std::string::npos);
}

TEST_F(KonfiguraceDialog, TextsWindows1250CannotHoldAreRefusedBeforeWriting) {
    TFormKonfigurace& f = Open();
    FillRequired();
    Type(f.EditLogin, "uživatel✓");
    const std::string message = SaveAndGetMessage();
    EXPECT_NE(message.find("\"Login\""), std::string::npos) << message;
    EXPECT_NE(message.find("Windows-1250"), std::string::npos) << message;
    EXPECT_TRUE(f.Visible());
    EXPECT_FALSE(IniExists());
    Type(f.EditLogin, "uživatel€"); // both in Windows-1250
    EXPECT_EQ(SaveAndGetMessage(), "");
    EXPECT_EQ(ReadSettingString("", "Login", ""), "uživatel€");
}

TEST_F(KonfiguraceDialog, WriteErrorKeepsTheDialogOpen) {
    TFormKonfigurace& f = Open();
    FillRequired();
    ASSERT_TRUE(platform::CreateDir(IniPath())); // a folder where the file belongs
    Save();
    EXPECT_TRUE(rec.Messages().empty());
    EXPECT_EQ(rec.Texts(ui::PromptKind::Error),
              std::vector<std::string>{"Unable to write to " + IniPath()});
    EXPECT_TRUE(f.Visible());
    EXPECT_EQ(f.EditLogin->Text(), "uzivatel");
}

TEST_F(KonfiguraceDialog, BrowseForMoveFolder) {
    TFormKonfigurace& f = Open();
    Click(f.RadioMoveTo);
    Type(f.EditCestaAdresare, "/start/here");
    rec.QueueCancel();
    Click(f.ButtonBrowse);
    ASSERT_EQ(rec.Requests().size(), 1u);
    EXPECT_EQ(rec.Requests()[0].kind, ui::PromptKind::BrowseFolder);
    EXPECT_EQ(rec.Requests()[0].initialDir, "/start/here");
    EXPECT_EQ(f.EditCestaAdresare->Text(), "/start/here");
    rec.QueuePath("/chosen/folder");
    Click(f.ButtonBrowse);
    EXPECT_EQ(f.EditCestaAdresare->Text(), "/chosen/folder");
}

TEST_F(KonfiguraceDialog, BrowseForJournalFile) {
    TFormKonfigurace& f = Open();
    Click(f.CheckBoxLog);
    Click(f.ButtonBrowseLog);
    ASSERT_EQ(rec.Requests().size(), 1u); // cancelled by the recorder
    const ui::PromptRequest& r = rec.Requests()[0];
    EXPECT_EQ(r.kind, ui::PromptKind::SaveFile);
    EXPECT_EQ(r.caption, "Uložit log soubor");
    EXPECT_EQ(r.filter, "Všechny soubory (*.*)|*.*");
    EXPECT_EQ(r.fileName, "");
    EXPECT_EQ(f.EditCestaLog->Text(), "");

    rec.QueuePath(Sys("/logs/prenos"));
    Click(f.ButtonBrowseLog);
    EXPECT_EQ(f.EditCestaLog->Text(), Sys("/logs/prenos.log"));
    rec.QueuePath(Sys("/logs.d/prenos.txt"));
    Click(f.ButtonBrowseLog);
    EXPECT_EQ(rec.Requests().back().fileName, Sys("/logs/prenos.log"));
    EXPECT_EQ(f.EditCestaLog->Text(), Sys("/logs.d/prenos.txt"));
    rec.QueuePath(Sys("/logs.d/prenos"));
    Click(f.ButtonBrowseLog);
    // A dot in a folder is no extension.
    EXPECT_EQ(f.EditCestaLog->Text(), Sys("/logs.d/prenos.log"));
}

// The main window's entry point: a real modal loop, driven from inside it.
TEST_F(KonfiguraceDialog, ShowKonfiguraceRunsModallyAndDestroysTheDialog) {
    ui::Form owner;
    owner.SetClientSize(514, 262);
    owner.ShowCentred();
    const int windowsBefore = ui::testing::LiveWindows();
    TFormKonfigurace* seen = nullptr;
    ui::Timer guard;
    rec.onModalForm = [&](const ui::PromptRequest& r) {
        seen = dynamic_cast<TFormKonfigurace*>(r.form);
        EXPECT_NE(seen, nullptr);
        if (seen == nullptr)
            return ui::PromptResult{};
        EXPECT_EQ(ui::testing::LiveWindows(), windowsBefore + 1);
        EXPECT_EQ(seen->Name(), "FormKonfigurace");
        EXPECT_EQ(seen->Owner(), &owner);
        const ui::Rect dialog = ui::testing::Frame(*seen);
        const ui::Rect main = ui::testing::Frame(owner);
        EXPECT_NEAR(dialog.CentreX(), main.CentreX(), 2);
        EXPECT_NEAR(dialog.CentreY(), main.CentreY(), 2);
        // Never hang: whatever happens, the loop ends within seconds.
        guard.OnTick([&] {
            guard.Stop();
            seen->CloseForm(false);
        });
        guard.Start(5000);
        ui::testing::RunLater([&] {
            // The dialog loads once it is shown, from its own loop.
            EXPECT_TRUE(
                ui::testing::WaitFor([&] { return !seen->EditFTPServer->Text().empty(); }, 5000));
            Type(seen->EditLogin, "z okna");
            Type(seen->EditHeslo, "h");
            Click(seen->ButtonSave);
        });
        const bool accepted = seen->RunModalLoop();
        guard.Stop();
        return ui::PromptResult{accepted, {}};
    };
    EXPECT_TRUE(ShowKonfigurace(&owner));
    EXPECT_NE(seen, nullptr);
    EXPECT_EQ(ui::testing::LiveWindows(), windowsBefore); // destroyed after closing
    EXPECT_EQ(ReadSettingString("", "Login", ""), "z okna");
    EXPECT_EQ(ReadSettingString("", "FTPServer", ""), RODERUV_DEFAULT_FTP_SERVER);
}

// Not a check: writes pictures of the dialog, as opened without settings and
// filled in, for a person to look at when RODERUV_SCREENSHOT names a folder
// (run under xvfb-run with QT_QPA_PLATFORM=xcb).
TEST_F(KonfiguraceDialog, Screenshot) {
    const char* folder = std::getenv("RODERUV_SCREENSHOT");
    if (folder == nullptr || *folder == '\0')
        GTEST_SKIP() << "RODERUV_SCREENSHOT not set";
    Open();
    ui::testing::Wait(300);
    EXPECT_TRUE(ui::testing::Screenshot(*form, std::string(folder) + "/konfigurace-prazdna.png"));
    WriteIni("[General]\r\nFTPServer=ftp.registr-tano.cz\r\nLogin=nemocnice.brno\r\n"
             "Heslo=aGVzbG8=\r\nProxy=1\r\nProxyAdresa=proxy.nemocnice.cz\r\nProxyPort=3128\r\n"
             "UseLog=1\r\nCestaLog=/var/log/roderuv/Log.log\r\nFilesMoveTo=2\r\n"
             "FilesMoveToDir=/data/odeslano/\r\n");
    Open();
    ui::testing::Wait(300);
    EXPECT_TRUE(ui::testing::Screenshot(*form, std::string(folder) + "/konfigurace-vyplnena.png"));
}

} // namespace
