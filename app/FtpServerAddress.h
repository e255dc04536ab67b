// The FTP server setting as host and port: "ftp.example.org" connects to
// port 21, "ftp.example.org:2121" (or "127.0.0.1:2121") to the port given.
#pragma once
#include <string>

struct FtpServerAddress {
    std::string Host;
    int Port = 21;
};

// Splits "host:port" at its only colon when the part after it is a decimal
// port from 1 to 65535; any other text is taken whole as the host, so an
// existing setting without a port keeps working unchanged.
FtpServerAddress SplitFtpServer(const std::string& Setting);
