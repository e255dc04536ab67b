#include "app/FtpServerAddress.h"

#include "settings/PortNumber.h"

FtpServerAddress SplitFtpServer(const std::string& Setting) {
    FtpServerAddress Address{Setting, 21};
    const std::size_t Colon = Setting.find(':');
    if (Colon == std::string::npos || Colon == 0 ||
        Setting.find(':', Colon + 1) != std::string::npos)
        return Address;
    int Port = 0;
    if (!ParsePortNumber(Setting.substr(Colon + 1), Port))
        return Address;
    Address.Host = Setting.substr(0, Colon);
    Address.Port = Port;
    return Address;
}
