// Transfer stage: the FTP client NMFTP configured from the settings, the
// connection with log-in and transfer type, the upload of the encrypted file
// and the check of what was sent. The client is created with the window and
// lives as long as the program, so a connection left open by one run is used
// again by the next (Connect returns at once; "TYPE L 8" is sent again).
#include "app/ConvertError.h"
#include "app/FtpServerAddress.h"
#include "app/FtpsSetting.h"
#include "app/TimeOutSetting.h"
#include "app/Umain.h"

#include "net/Nmftp.h"
#include "platform/Paths.h"
#include "settings/Unitpom.h"

#include <exception>
#include <optional>

namespace {

// A message that holds the server's reply line, without its CR LF.
std::string WithoutLineEnd(std::string Text) {
    while (!Text.empty() && (Text.back() == '\n' || Text.back() == '\r'))
        Text.pop_back();
    return Text;
}

// Where a fresh connection goes: to the proxy, which is told the server,
// or straight to the server.
void AimAt(TNMFTP& Ftp, const std::string& Server, bool ProxyOn, int ProxyPort) {
    if (ProxyOn) {
        Ftp.Proxy = ReadSettingString("General", "ProxyAdresa", "");
        Ftp.ProxyPort = static_cast<uint16_t>(ProxyPort);
        // The proxy is told the server as configured ("OPEN host" or
        // "OPEN host:port"); it makes the onward connection itself.
        Ftp.Host = Server;
    } else {
        // A proxy switched off since an earlier run is not used again.
        Ftp.Proxy.clear();
        Ftp.ProxyPort = 0;
        const FtpServerAddress Address = SplitFtpServer(Server);
        Ftp.Host = Address.Host;
        Ftp.Port = Address.Port;
    }
}

} // namespace

void TForm1::CreateFtpClient() {
    NMFTP = new TNMFTP();
    NMFTP->Port = 21;
    NMFTP->ReportLevel = 0;
    NMFTP->Vendor = 2411;
    NMFTP->ParseList = true;
    NMFTP->ProxyPort = 0;
    NMFTP->Passive = false;
    NMFTP->FirewallType = FtOpen;
    NMFTP->FWAuthenticate = false;
}

void TForm1::DestroyFtpClient() {
    // No QUIT: the connection ends with the program, and a server that does
    // not answer must not keep the program from ending.
    delete NMFTP;
    NMFTP = nullptr;
}

bool TForm1::ConnectFtp(std::string& ConnectError) {
    const std::string Server = ReadSettingString("General", "FTPServer", "");
    NMFTP->UserID = ReadSettingString("General", "Login", "");
    NMFTP->Password = DecodePassword(ReadSettingString("General", "Heslo", ""));
    NMFTP->FWAuthenticate = false;
    NMFTP->Passive = true;
    NMFTP->TimeOut = FtpTimeOutMs();

    const bool ProxyOn = ReadSettingInteger("Proxy", 0) != 0;
    int ProxyPort = 0;
    if (ProxyOn) {
        // A hand-edited port that is not a number is an error of the settings
        // file, not of the connection: it leaves the run (outside the trap).
        ProxyPort = StrToInt(ReadSettingString("General", "ProxyPort", ""));
        NMFTP->FWUserID = ReadSettingString("General", "ProxyLogin", "");
        NMFTP->FWPassword = DecodePassword(ReadSettingString("General", "ProxyHeslo", ""));
        NMFTP->FWAuthenticate = false;
        if (ProxyPort < 1 || ProxyPort > 65535) {
            ConnectError = "Neplatné číslo portu proxy serveru: " + std::to_string(ProxyPort);
            return false;
        }
    }

    // Explicit TLS, end to end with the server also through the proxy: the
    // certificate belongs to the host in FTPServer (without its port).
    FtpsSetting Ftps;
    try {
        Ftps = ReadFtpsSetting();
    } catch (const std::exception& Error) {
        ConnectError = Error.what();
        return false;
    }
    NMFTP->Ftps = Ftps.On;
    NMFTP->TlsPeer = TTlsPeer{SplitFtpServer(Server).Host, Ftps.Pin};

    // Servers end an idle connection with a notice ("421 Timeout.") and
    // close it; the unread notice keeps the socket looking connected. Input
    // that nobody asked for means the connection is not to be used again,
    // and neither is one that TLS does not protect as now configured.
    if (NMFTP->Connected && (NMFTP->DataAvailable() || !NMFTP->ConnectedAsAsked()))
        NMFTP->RequestCloseSocket();

    // A connection still open from an earlier run is used as it is (Connect
    // returns at once), and its data connections must go to the machine it
    // is connected to: changed settings take effect with the next fresh
    // connection.
    if (!NMFTP->Connected)
        AimAt(*NMFTP, Server, ProxyOn, ProxyPort);

    try {
        NMFTP->Connect();
        NMFTP->Mode(3);
    } catch (const std::exception& Error) {
        // A refused log-in has closed the connection already; after a refused
        // "TYPE L 8" the logged-in connection stays open for the next run.
        ConnectError = Error.what();
        return false;
    }
    ConnectError.clear();
    return true;
}

bool TForm1::UploadFile(const std::string& LocalPath, std::string& RemoteName) {
    if (!NMFTP->Connected) {
        WriteLog("Upload se nezdařil.", true);
        return false;
    }
    RemoteName = platform::ExtractFileName(LocalPath);
    WriteLog("Upload ", true);
    // Over TLS the reason is journalled too: a refused data connection
    // ("522 ... session reuse required") is for an administrator to read.
    const bool Secure = NMFTP->Secure();
    try {
        // Stored in the log-in directory; a refused STOR, a lost data
        // connection or a final reply other than 2xx (451 after the data)
        // all raise.
        NMFTP->Upload(LocalPath, RemoteName);
    } catch (const ETimeOutError& Error) {
        // A silent server is told apart from a refusing one: the operator
        // reads which wait ran out.
        WriteLog("Chyba při uploadu.", true);
        WriteLog(Error.what(), true);
        return false;
    } catch (const std::exception& Error) {
        WriteLog("Chyba při uploadu.", true);
        if (Secure)
            WriteLog(WithoutLineEnd(Error.what()), true);
        return false;
    }
    return true;
}

bool TForm1::CheckUpload(const std::string& RemoteName, int64_t ExpectedSize) {
    // What really went out on the data connection, not the size the client
    // read before sending.
    const int64_t Sent = NMFTP->GetBytesSent();
    WriteLog("Očekávaná velikost " + std::to_string(ExpectedSize) + " bytů; odesláno celkově " +
                 std::to_string(Sent) + " bytů",
             true);
    if (Sent != ExpectedSize)
        return false;

    // What arrived, where the server can say: SIZE, else MLST where FEAT
    // offers it. Only a well-formed "not implemented" (500, 502, 504) or
    // "no such file" (550, the file already taken away) means it cannot
    // tell; then the 226 or 250 after the data and the server's orderly end
    // of the data connection, which Upload checked, decide. Any other answer
    // leaves the upload unproven.
    std::optional<int64_t> OnServer;
    try {
        OnServer = NMFTP->Size(RemoteName);
        if (!OnServer)
            OnServer = NMFTP->MlstSize(RemoteName);
    } catch (const std::exception& Error) {
        WriteLog("Velikost souboru na serveru nelze ověřit: " + WithoutLineEnd(Error.what()), true);
        return false;
    }
    if (!OnServer)
        return true;
    WriteLog("Velikost souboru na serveru " + std::to_string(*OnServer) + " bytů", true);
    return *OnServer == ExpectedSize;
}
