// The Windows build has no OpenSSL (none is packaged for mingw-w64 here):
// the fake server's TLS steps say so instead of running.
#include "tests/support/FakeFtpTls.h"

namespace testsupport {

struct FakeTlsContext::Impl {};
struct FakeTlsConnection::Impl {};

std::unique_ptr<FakeTlsContext> FakeTlsContext::Make(std::string* whyNot) {
    *whyNot = "the fake FTP server has TLS only in the Linux build (OpenSSL)";
    return nullptr;
}

FakeTlsContext::~FakeTlsContext() = default;

std::unique_ptr<FakeTlsConnection> FakeTlsContext::Accept(sockapi::THandle, int,
                                                          const std::function<bool()>&,
                                                          std::string* whyNot, bool) {
    *whyNot = "no TLS in this build";
    return nullptr;
}

FakeTlsConnection::~FakeTlsConnection() = default;
long FakeTlsConnection::Read(char*, size_t, int) {
    return 0;
}
bool FakeTlsConnection::Pending() const {
    return false;
}
bool FakeTlsConnection::Write(const std::string&, int) {
    return false;
}
void FakeTlsConnection::SendCloseNotify(int) {}
bool FakeTlsConnection::Resumed() const {
    return false;
}

} // namespace testsupport
