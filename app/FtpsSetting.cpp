#include "app/FtpsSetting.h"

#include "settings/Unitpom.h"

namespace {

std::string Trimmed(const std::string& Text) {
    const size_t from = Text.find_first_not_of(" \t");
    if (from == std::string::npos)
        return "";
    return Text.substr(from, Text.find_last_not_of(" \t") - from + 1);
}

} // namespace

FtpsSetting ReadFtpsSetting() {
    const std::string value = Trimmed(ReadSettingString("General", "FTPS", ""));
    FtpsSetting setting;
    if (value.empty() || value == "0")
        return setting;
    if (value != "1")
        throw ETlsError("Neplatné nastavení FTPS=" + value +
                        " (0 nebo prázdné: bez TLS, 1: šifrované spojení TLS)");
    setting.On = true;
    try {
        setting.Pin = ParseCertificatePin(ReadSettingString("General", "FTPSCertificate", ""));
    } catch (const ETlsError& Error) {
        throw ETlsError(std::string("Nastavení FTPSCertificate: ") + Error.what());
    }
    return setting;
}
