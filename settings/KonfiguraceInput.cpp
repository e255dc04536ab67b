#include "settings/KonfiguraceInput.h"

#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "settings/PortNumber.h"
#include "settings/Unitpom.h"

#include <utility>
#include <vector>

namespace konfigurace {

namespace {

const char kGeneral[] = ""; // the store's name for section General

bool EndsWithSeparator(const std::string& text) {
    return !text.empty() && text.back() == platform::kPathSeparator;
}

// The first field whose text Windows-1250 cannot hold, so that nothing is
// written when one of them would be refused half-way through the save.
std::string CheckCodePage(const KonfiguraceInput& in) {
    std::vector<std::pair<const char*, const std::string*>> fields = {
        {"Adresa FTP serveru", &in.ftpServer},
        {"Login", &in.login},
        {"Heslo", &in.heslo},
        {"Cesta k LOG souboru", &in.cestaLog},
    };
    if (in.proxy) {
        fields.push_back({"Adresa proxy serveru", &in.proxyAdresa});
        fields.push_back({"Port proxy serveru", &in.proxyPort});
        fields.push_back({"Login pro proxy server", &in.proxyLogin});
        fields.push_back({"Heslo pro proxy server", &in.proxyHeslo});
    }
    if (in.filesMoveTo == kMoveTo)
        fields.push_back({"Přesunout do adresáře", &in.cestaAdresare});
    for (const auto& [label, text] : fields)
        if (!platform::FitsCp1250(*text))
            return std::string("Pole \"") + label +
                   "\" obsahuje znaky, které nelze uložit (kódování Windows-1250). "
                   "Upravte je prosím. ";
    return std::string();
}

} // namespace

KonfiguraceInput LoadInput(const std::string& defaultFtpServer) {
    KonfiguraceInput in;
    in.ftpServer = ReadSettingString(kGeneral, "FTPServer", defaultFtpServer);
    in.login = ReadSettingString(kGeneral, "Login", "");
    in.heslo = DecodePassword(ReadSettingString(kGeneral, "Heslo", ""));
    in.proxy = ReadSettingInteger("Proxy", 0) != 0;
    in.useLog = ReadSettingInteger("UseLog", 0) != 0;
    in.cestaLog = ReadSettingString(kGeneral, "CestaLog", "");
    if (in.proxy) {
        in.proxyLogin = ReadSettingString(kGeneral, "ProxyLogin", "");
        in.proxyHeslo = DecodePassword(ReadSettingString(kGeneral, "ProxyHeslo", ""));
        in.proxyAdresa = ReadSettingString(kGeneral, "ProxyAdresa", "");
        in.proxyPort = ReadSettingString(kGeneral, "ProxyPort", "");
    }
    switch (ReadSettingInteger("FilesMoveTo", 0)) {
    case 1:
        in.filesMoveTo = kDelete;
        break;
    case 2:
        in.filesMoveTo = kMoveTo;
        in.cestaAdresare = ReadSettingString(kGeneral, "FilesMoveToDir", "");
        break;
    default:
        in.filesMoveTo = kLeave;
        break;
    }
    in.lastOnly = ReadSettingInteger("DeleteLog", 0) != 0;
    return in;
}

bool ParseProxyPort(const std::string& text, int& port) {
    return ParsePortNumber(text, port);
}

std::string ValidateInput(KonfiguraceInput& in) {
    if (in.ftpServer.empty())
        return "Vyplňte prosím adresu cílového FTP serveru. ";
    if (in.login.empty())
        return "Vyplňte prosím své uživatelské jméno (Login) pro připojení k FTP serveru. ";
    if (in.heslo.empty())
        return "Vyplňte prosím své heslo pro připojení k FTP serveru. ";
    // The journal path is checked even with the journal off: it is saved anyway.
    if (!in.cestaLog.empty()) {
        if (!platform::DirectoryExists(platform::ExtractFileDir(in.cestaLog)))
            return "Adresář s log souborem neexistuje.";
        if (platform::ExtractFileName(in.cestaLog).empty())
            in.cestaLog = platform::IncludeTrailingSeparator(in.cestaLog) + "Log.log";
    }
    if (in.useLog && in.cestaLog.empty())
        return "Adresář s log souborem není nastaven.";
    if (in.filesMoveTo == kMoveTo) {
        if (in.cestaAdresare.empty())
            return "Není nastaven adresář pro přesun zdrojových souborů.";
        if (!EndsWithSeparator(in.cestaAdresare))
            in.cestaAdresare += platform::kPathSeparator;
        if (!platform::DirectoryExists(platform::ExtractFileDir(in.cestaAdresare)))
            return "Neexistuje adresář pro přesun zdrojových souborů.";
    }
    if (in.proxy) {
        if (in.proxyAdresa.empty())
            return "Vyplňte prosím adresu proxy serveru. ";
        if (in.proxyPort.empty())
            return "Vyplňte prosím port proxy serveru. ";
        int port = 0;
        if (!ParseProxyPort(in.proxyPort, port))
            return "Port proxy serveru musí být celé číslo v rozmezí 1 - 65535. ";
    }
    return CheckCodePage(in);
}

void SaveInput(const KonfiguraceInput& in) {
    WriteSettingString(kGeneral, "FTPServer", in.ftpServer);
    WriteSettingString(kGeneral, "Login", in.login);
    WriteSettingString(kGeneral, "Heslo", EncodePassword(in.heslo));
    WriteSettingInteger("UseLog", in.useLog ? 1 : 0);
    WriteSettingString(kGeneral, "CestaLog", in.cestaLog);
    WriteSettingInteger("DeleteLog", in.lastOnly ? 1 : 0);
    if (in.proxy) {
        WriteSettingInteger("Proxy", 1);
        WriteSettingString(kGeneral, "ProxyLogin", in.proxyLogin);
        WriteSettingString(kGeneral, "ProxyHeslo", EncodePassword(in.proxyHeslo));
        WriteSettingString(kGeneral, "ProxyAdresa", in.proxyAdresa);
        WriteSettingString(kGeneral, "ProxyPort", in.proxyPort);
    } else {
        WriteSettingInteger("Proxy", 0);
    }
    int moveTo = in.filesMoveTo == kDelete ? 1 : in.filesMoveTo == kMoveTo ? 2 : 0;
    WriteSettingInteger("FilesMoveTo", moveTo);
    if (moveTo == 2)
        WriteSettingString(kGeneral, "FilesMoveToDir", in.cestaAdresare);
}

} // namespace konfigurace
