// The configuration dialog: the operator edits the FTP server, user name and
// password, the proxy, the run journal and what happens to the data files
// after a successful send. A new dialog is made for each opening; it loads
// its controls from Settings.ini when first shown and writes them back when
// the input passes the check.
#pragma once
#include "settings/KonfiguraceInput.h"
#include "ui/Controls.h"
#include "ui/Dialogs.h"
#include "ui/Form.h"

#include <string>

class TFormKonfigurace : public ui::DialogForm {
public:
    explicit TFormKonfigurace(ui::Window* owner);

    // Controls, in tab order.
    ui::Edit* EditFTPServer;
    ui::Edit* EditLogin;
    ui::Edit* EditHeslo;
    ui::CheckBox* CheckBoxProxy;
    ui::Edit* EditProxyAdresa;
    ui::Edit* EditProxyPort;
    ui::Edit* EditProxyLogin;
    ui::Edit* EditProxyHeslo;
    ui::Edit* EditCestaLog;
    ui::CheckBox* CheckBoxLog;
    ui::Button* ButtonSave;
    ui::Button* LMDButton1;
    ui::Button* LMDButtonDefFTPServer;
    ui::Button* ButtonBrowseLog;
    ui::RadioButton* RadioButtonAll;
    ui::RadioButton* RadioButtonLastOnly;
    ui::GroupBox* GroupBox1;
    ui::RadioButton* RadioLeave;
    ui::RadioButton* RadioDelete;
    ui::RadioButton* RadioMoveTo;
    ui::Button* ButtonBrowse;
    ui::Edit* EditCestaAdresare;
    ui::Panel* Panel1;

    ui::Label* Label5;
    ui::Label* Label1;
    ui::Label* Label2;
    ui::Label* LabelAdresa;
    ui::Label* LabelPort;
    ui::Label* LabelLogin;
    ui::Label* LabelHeslo;
    ui::Label* Label4;

    ui::BrowseDialog BrowseDlg;
    ui::SaveDialog SaveDialog;

    // Event handlers.
    void FormActivate();
    void ButtonSaveClick();
    void LMDButton1Click();
    void LMDButtonDefFTPServerClick();
    void ButtonBrowseClick();
    void ButtonBrowseLogClick();
    void CheckBoxProxyMouseUp();
    void CheckBoxLogMouseUp();
    void RadioLeaveMouseUp();
    void RadioDeleteKeyUp();
    void RadioMoveToMouseUp();
    void RadioMoveToKeyUp();

    void SetProxyControlsEnabled(bool on);
    void SetLogControlsEnabled(bool on);
    // Shows the first failing check's message and returns false; the journal
    // path and move folder completions stay in their fields either way.
    bool ValidateInput();

    // The host behind "Výchozí IP" and the default of FTPServer.
    static std::string DefaultFtpServer();

private:
    konfigurace::KonfiguraceInput ReadControls() const;
    void ShowInput(const konfigurace::KonfiguraceInput& input);
};

// For the main window's "Konfigurace" button: makes a new dialog owned by
// owner, shows it modally centred over the owner, and destroys it when it
// closes. True when the settings were saved.
bool ShowKonfigurace(ui::Window* owner);
