#include "app/FtpServerAddress.h"

FtpServerAddress SplitFtpServer(const std::string& Setting) {
    FtpServerAddress Address{Setting, 21};
    const std::size_t Colon = Setting.find(':');
    if (Colon == std::string::npos || Colon == 0 ||
        Setting.find(':', Colon + 1) != std::string::npos)
        return Address;
    const std::string Digits = Setting.substr(Colon + 1);
    if (Digits.empty() || Digits.size() > 5)
        return Address;
    int Port = 0;
    for (char C : Digits) {
        if (C < '0' || C > '9')
            return Address;
        Port = Port * 10 + (C - '0');
    }
    if (Port < 1 || Port > 65535)
        return Address;
    Address.Host = Setting.substr(0, Colon);
    Address.Port = Port;
    return Address;
}
