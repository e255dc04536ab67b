// Archive and encryption stages. Not built yet: they report failure so that
// a run stops cleanly before anything is sent.
#include "app/Umain.h"

#include "platform/Paths.h"

int TForm1::ZipFiles(std::string& TransferFile, int32_t& /*TransferSize*/) {
    TransferFile = platform::TempDir() + "_ftp_file.zip";
    return 3; // no archive
}

int TForm1::EncryptFile(std::string& /*TransferFile*/, int32_t& /*TransferSize*/) {
    return 4; // the encryption program is not started
}
