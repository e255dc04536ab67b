// The optional settings FTPS and FTPSCertificate: whether the run talks to
// the FTP server over explicit TLS, and how the server is authenticated.
#pragma once
#include "net/TlsStream.h"

#include <optional>
#include <string>

struct FtpsSetting {
    bool On = false;
    // Only the certificate with this SHA-256 fingerprint; none: the system's
    // trusted roots and the server's name.
    std::optional<TSha256> Pin;
};

// FTPS missing, empty or 0: plain FTP, as ever; 1: explicit TLS required.
// Any other value, and with FTPS=1 an FTPSCertificate that is no SHA-256
// fingerprint, raises ETlsError with the text for the journal: a setting
// nobody can read must never mean plain FTP.
FtpsSetting ReadFtpsSetting();
