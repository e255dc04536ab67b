#include "FakeStages.h"

#include "app/Umain.h"

FakeStages& Stages() {
    static FakeStages stages;
    return stages;
}

namespace {
void Called(const std::string& name) {
    Stages().calls.push_back(name);
    if (Stages().during)
        Stages().during(name);
}
} // namespace

void TForm1::CreateFtpClient() {}
void TForm1::DestroyFtpClient() {}

int TForm1::ZipFiles(std::string& TransferFile, int64_t& TransferSize) {
    Called("ZipFiles");
    TransferFile = Stages().zipFile;
    TransferSize = Stages().zipSize;
    return Stages().zipResult;
}

int TForm1::EncryptFile(std::string& TransferFile, int64_t& TransferSize) {
    Called("EncryptFile");
    TransferFile = Stages().encryptFile;
    TransferSize = Stages().encryptSize;
    return Stages().encryptResult;
}

bool TForm1::ConnectFtp(std::string& ConnectError) {
    Called("ConnectFtp");
    ConnectError = Stages().connectError;
    return Stages().connectResult;
}

bool TForm1::UploadFile(const std::string& LocalPath, std::string& RemoteName) {
    Called("UploadFile");
    Stages().uploadedPath = LocalPath;
    RemoteName = "20260305.zip.gpg";
    return Stages().uploadResult;
}

bool TForm1::CheckUpload(const std::string& RemoteName, int64_t ExpectedSize) {
    Called("CheckUpload");
    Stages().checkedName = RemoteName;
    Stages().checkedSize = ExpectedSize;
    return Stages().checkResult;
}

bool TForm1::DeleteDataFiles() {
    Called("DeleteDataFiles");
    return Stages().deleteResult;
}

bool TForm1::MoveDataFiles() {
    Called("MoveDataFiles");
    return Stages().moveResult;
}
