#include "settings/Uformkonfigurace.h"

#include "platform/Paths.h"
#include "settings/Unitpom.h"
#include "ui/Prompts.h"

#include <initializer_list>
#include <memory>

#ifndef RODERUV_DEFAULT_FTP_SERVER
#error "RODERUV_DEFAULT_FTP_SERVER must be defined by the build"
#endif

using konfigurace::KonfiguraceInput;

TFormKonfigurace::TFormKonfigurace(ui::Window* owner) : ui::DialogForm(owner) {
    SetName("FormKonfigurace");
    SetCaption("Konfigurace programu");
    SetClientSize(545, 323);

    // Created in tab order; the labels take no focus.
    EditFTPServer = new ui::Edit(this, 121, 11, 121, 21);
    EditLogin = new ui::Edit(this, 64, 43, 121, 21);
    EditHeslo = new ui::Edit(this, 64, 75, 121, 21);
    EditHeslo->SetPasswordChar('*');
    CheckBoxProxy = new ui::CheckBox(this, 9, 102, 137, 17, "Používat proxy server");
    EditProxyAdresa = new ui::Edit(this, 64, 123, 121, 21);
    EditProxyPort = new ui::Edit(this, 64, 155, 121, 21);
    EditProxyLogin = new ui::Edit(this, 64, 187, 121, 21);
    EditProxyHeslo = new ui::Edit(this, 64, 219, 121, 21);
    EditProxyHeslo->SetPasswordChar('*');
    EditCestaLog = new ui::Edit(this, 233, 111, 233, 21);
    CheckBoxLog = new ui::CheckBox(this, 233, 46, 208, 17, "Zapisovat průběh přenosu do logu");
    ButtonSave = new ui::Button(this, 291, 272, 105, 41, "Uložit nastavení");
    LMDButton1 = new ui::Button(this, 146, 271, 106, 41, "Storno");
    LMDButtonDefFTPServer = new ui::Button(this, 251, 8, 65, 26, "Výchozí IP");
    ButtonBrowseLog = new ui::Button(this, 471, 108, 63, 26, "Procházet");
    RadioButtonAll = new ui::RadioButton(this, 232, 72, 137, 17, "Zachovávat celou historii");
    RadioButtonLastOnly = new ui::RadioButton(this, 393, 72, 145, 17, "Jen výsledek");
    GroupBox1 =
        new ui::GroupBox(this, 232, 136, 305, 116, "Operace se soubory po úspěšném odeslání: ");
    RadioLeave = new ui::RadioButton(GroupBox1, 8, 19, 113, 17, "Ponechat");
    RadioDelete = new ui::RadioButton(GroupBox1, 8, 43, 113, 17, "Smazat");
    RadioMoveTo = new ui::RadioButton(GroupBox1, 8, 67, 153, 17, "Přesunout do adresáře: ");
    ButtonBrowse = new ui::Button(GroupBox1, 236, 59, 60, 22, "Procházet");
    EditCestaAdresare = new ui::Edit(GroupBox1, 7, 86, 290, 21);
    Panel1 = new ui::Panel(this, 203, 39, 9, 214);

    Label5 = new ui::Label(this, 9, 15, "Adresa FTP serveru: ");
    Label1 = new ui::Label(this, 9, 46, "Login: ");
    Label2 = new ui::Label(this, 9, 78, "Heslo: ");
    LabelAdresa = new ui::Label(this, 8, 126, "Adresa: ");
    LabelPort = new ui::Label(this, 8, 158, "Port: ");
    LabelLogin = new ui::Label(this, 7, 190, "Login: ");
    LabelHeslo = new ui::Label(this, 7, 222, "Heslo: ");
    Label4 = new ui::Label(this, 233, 97, "Cesta k LOG souboru:");

    // The positions are kept; a check box or radio button whose caption needs
    // more room in this platform's font grows to the right, where there is
    // free space for each of them.
    for (ui::ToggleControl* b : std::initializer_list<ui::ToggleControl*>{
             CheckBoxProxy, CheckBoxLog, RadioButtonAll, RadioButtonLastOnly, RadioLeave,
             RadioDelete, RadioMoveTo})
        b->GrowToCaption();

    ui::SetTabOrder({EditFTPServer,         EditLogin,       EditHeslo,
                     CheckBoxProxy,         EditProxyAdresa, EditProxyPort,
                     EditProxyLogin,        EditProxyHeslo,  EditCestaLog,
                     CheckBoxLog,           ButtonSave,      LMDButton1,
                     LMDButtonDefFTPServer, ButtonBrowseLog, RadioButtonAll,
                     RadioButtonLastOnly,   RadioLeave,      RadioDelete,
                     RadioMoveTo,           ButtonBrowse,    EditCestaAdresare});

    // Initial states, before loading.
    RadioButtonAll->SetChecked(true);
    RadioLeave->SetChecked(true);
    for (ui::Control* w : std::initializer_list<ui::Control*>{
             EditProxyAdresa, EditProxyPort, EditProxyLogin, EditProxyHeslo, LabelAdresa, LabelPort,
             LabelLogin, LabelHeslo, EditCestaAdresare})
        w->SetEnabled(false);

    BrowseDlg.title = "Adresář pro přesun odeslaných souborů";
    SaveDialog.title = "Uložit log soubor";
    SaveDialog.filter = "Všechny soubory (*.*)|*.*";

    // Enter presses "Uložit nastavení", unless another button has the focus:
    // then, as everywhere on Windows, it presses that one (Enter on a
    // focused "Storno" must not save).
    SetDefaultButton(ButtonSave);
    SetCancelButton(LMDButton1);

    SetOnFirstActivate([this] { FormActivate(); });
    ButtonSave->OnClick([this] { ButtonSaveClick(); });
    LMDButton1->OnClick([this] { LMDButton1Click(); });
    LMDButtonDefFTPServer->OnClick([this] { LMDButtonDefFTPServerClick(); });
    ButtonBrowse->OnClick([this] { ButtonBrowseClick(); });
    ButtonBrowseLog->OnClick([this] { ButtonBrowseLogClick(); });
    CheckBoxProxy->OnMouseUp([this] { CheckBoxProxyMouseUp(); });
    CheckBoxLog->OnMouseUp([this] { CheckBoxLogMouseUp(); });
    RadioLeave->OnMouseUp([this] { RadioLeaveMouseUp(); });
    RadioDelete->OnMouseUp([this] { RadioLeaveMouseUp(); });
    RadioLeave->OnKeyUp([this] { RadioDeleteKeyUp(); });
    RadioDelete->OnKeyUp([this] { RadioDeleteKeyUp(); });
    RadioMoveTo->OnMouseUp([this] { RadioMoveToMouseUp(); });
    RadioMoveTo->OnKeyUp([this] { RadioMoveToKeyUp(); });
}

std::string TFormKonfigurace::DefaultFtpServer() {
    return RODERUV_DEFAULT_FTP_SERVER;
}

void TFormKonfigurace::SetProxyControlsEnabled(bool on) {
    for (ui::Control* w : std::initializer_list<ui::Control*>{
             LabelAdresa, LabelPort, EditProxyAdresa, EditProxyPort, LabelLogin, LabelHeslo,
             EditProxyLogin, EditProxyHeslo})
        w->SetEnabled(on);
}

void TFormKonfigurace::SetLogControlsEnabled(bool on) {
    for (ui::Control* w : std::initializer_list<ui::Control*>{Label4, EditCestaLog, ButtonBrowseLog,
                                                              RadioButtonAll, RadioButtonLastOnly})
        w->SetEnabled(on);
}

void TFormKonfigurace::ShowInput(const KonfiguraceInput& in) {
    EditFTPServer->SetText(in.ftpServer);
    EditLogin->SetText(in.login);
    EditHeslo->SetText(in.heslo);
    CheckBoxProxy->SetChecked(in.proxy);
    CheckBoxLog->SetChecked(in.useLog);
    SetLogControlsEnabled(CheckBoxLog->Checked());
    EditCestaLog->SetText(in.cestaLog);
    // Empty when the proxy is off, whatever the file holds.
    EditProxyLogin->SetText(in.proxyLogin);
    EditProxyHeslo->SetText(in.proxyHeslo);
    EditProxyAdresa->SetText(in.proxyAdresa);
    EditProxyPort->SetText(in.proxyPort);
    SetProxyControlsEnabled(CheckBoxProxy->Checked());
    const bool moveTo = in.filesMoveTo == konfigurace::kMoveTo;
    if (in.filesMoveTo == konfigurace::kDelete)
        RadioDelete->SetChecked(true);
    else if (moveTo)
        RadioMoveTo->SetChecked(true);
    else
        RadioLeave->SetChecked(true);
    EditCestaAdresare->SetEnabled(moveTo);
    ButtonBrowse->SetEnabled(moveTo);
    EditCestaAdresare->SetText(in.cestaAdresare); // empty unless the files are moved
    if (in.lastOnly)
        RadioButtonLastOnly->SetChecked(true);
}

KonfiguraceInput TFormKonfigurace::ReadControls() const {
    KonfiguraceInput in;
    in.ftpServer = EditFTPServer->Text();
    in.login = EditLogin->Text();
    in.heslo = EditHeslo->Text();
    in.proxy = CheckBoxProxy->Checked();
    in.proxyAdresa = EditProxyAdresa->Text();
    in.proxyPort = EditProxyPort->Text();
    in.proxyLogin = EditProxyLogin->Text();
    in.proxyHeslo = EditProxyHeslo->Text();
    in.useLog = CheckBoxLog->Checked();
    in.cestaLog = EditCestaLog->Text();
    in.lastOnly = RadioButtonLastOnly->Checked();
    in.filesMoveTo = RadioMoveTo->Checked()   ? konfigurace::kMoveTo
                     : RadioDelete->Checked() ? konfigurace::kDelete
                                              : konfigurace::kLeave;
    in.cestaAdresare = EditCestaAdresare->Text();
    return in;
}

void TFormKonfigurace::FormActivate() {
    ShowInput(konfigurace::LoadInput(DefaultFtpServer()));
}

bool TFormKonfigurace::ValidateInput() {
    KonfiguraceInput in = ReadControls();
    const std::string message = konfigurace::ValidateInput(in);
    // The completions stay in the fields even when a later check failed.
    if (in.cestaLog != EditCestaLog->Text())
        EditCestaLog->SetText(in.cestaLog);
    if (in.cestaAdresare != EditCestaAdresare->Text())
        EditCestaAdresare->SetText(in.cestaAdresare);
    if (!message.empty()) {
        ui::ShowMessage(message);
        return false;
    }
    return true;
}

void TFormKonfigurace::ButtonSaveClick() {
    if (!ValidateInput())
        return;
    // A write error leaves this handler through the standard error display,
    // so the dialog stays open.
    konfigurace::SaveInput(ReadControls());
    CloseForm(true);
}

void TFormKonfigurace::LMDButton1Click() {
    CloseForm(false);
}

void TFormKonfigurace::LMDButtonDefFTPServerClick() {
    EditFTPServer->SetText(DefaultFtpServer());
}

void TFormKonfigurace::ButtonBrowseClick() {
    BrowseDlg.folder = EditCestaAdresare->Text();
    if (BrowseDlg.Execute())
        EditCestaAdresare->SetText(BrowseDlg.folder);
}

void TFormKonfigurace::ButtonBrowseLogClick() {
    SaveDialog.fileName = EditCestaLog->Text();
    if (!SaveDialog.Execute())
        return;
    const std::string chosen = SaveDialog.fileName;
    const bool hasExtension = platform::ExtractFileName(chosen).find('.') != std::string::npos;
    EditCestaLog->SetText(hasExtension ? chosen : chosen + ".log");
}

void TFormKonfigurace::CheckBoxProxyMouseUp() {
    SetProxyControlsEnabled(CheckBoxProxy->Checked());
}

void TFormKonfigurace::CheckBoxLogMouseUp() {
    SetLogControlsEnabled(CheckBoxLog->Checked());
}

void TFormKonfigurace::RadioLeaveMouseUp() {
    EditCestaAdresare->SetEnabled(false);
    ButtonBrowse->SetEnabled(false);
}

void TFormKonfigurace::RadioDeleteKeyUp() {
    EditCestaAdresare->SetEnabled(false);
    ButtonBrowse->SetEnabled(false);
}

void TFormKonfigurace::RadioMoveToMouseUp() {
    EditCestaAdresare->SetEnabled(true);
    ButtonBrowse->SetEnabled(true);
}

void TFormKonfigurace::RadioMoveToKeyUp() {
    // Chosen with the keyboard only the folder field follows; the browse
    // button keeps its state.
    EditCestaAdresare->SetEnabled(true);
}

bool ShowKonfigurace(ui::Window* owner) {
    auto FormKonfigurace = std::make_unique<TFormKonfigurace>(owner);
    return FormKonfigurace->ShowModal();
}
