// What the configuration dialog edits, apart from its widgets: loading the
// fields from Settings.ini, checking them, and writing them back. The form
// copies its controls into KonfiguraceInput and back, so this part knows
// nothing of the user-interface toolkit.
#pragma once
#include <string>

namespace konfigurace {

// What happens to the data files after a successful send (FilesMoveTo).
enum FilesMoveTo { kLeave = 0, kDelete = 1, kMoveTo = 2 };

struct KonfiguraceInput {
    std::string ftpServer;
    std::string login;
    std::string heslo;
    bool proxy = false;
    std::string proxyAdresa;
    std::string proxyPort;
    std::string proxyLogin;
    std::string proxyHeslo;
    bool useLog = false;
    std::string cestaLog;
    bool lastOnly = false; // DeleteLog: the journal keeps only the result
    int filesMoveTo = kLeave;
    std::string cestaAdresare;
};

// Reads every field from the settings store. The proxy fields stay empty when
// the proxy is off, whatever the file holds; the move folder is read only when
// the files are to be moved.
KonfiguraceInput LoadInput(const std::string& defaultFtpServer);

// Checks the input in the dialog's order. Returns the message of the first
// failing check, or an empty text when the input may be saved. Completes the
// journal path ("Log.log" after a bare folder) and the move folder (a
// trailing separator) in place; the completions stay even when a later
// check fails.
std::string ValidateInput(KonfiguraceInput& input);

// Writes the input to section General in the dialog's order. The other proxy
// keys are written only with the proxy on, FilesMoveToDir only when the files
// are moved. Raises ESettingsError when the file cannot be written; keys
// written before the failing one stay written.
void SaveInput(const KonfiguraceInput& input);

// A proxy port as typed: decimal digits only, 1 to 65535 (ParsePortNumber).
bool ParseProxyPort(const std::string& text, int& port);

} // namespace konfigurace
