// Transfer stage and the FTP client's life. Not built yet: connecting fails
// with a clear text, so a run stops before anything is sent.
#include "app/Umain.h"

void TForm1::CreateFtpClient() {
    NMFTP = nullptr;
}

void TForm1::DestroyFtpClient() {
    NMFTP = nullptr;
}

bool TForm1::ConnectFtp(std::string& ConnectError) {
    ConnectError = "FTP client not available";
    return false;
}

bool TForm1::UploadFile(const std::string& /*LocalPath*/, std::string& /*RemoteName*/) {
    return false;
}

bool TForm1::CheckUpload(const std::string& /*RemoteName*/, int32_t /*ExpectedSize*/) {
    return false;
}
