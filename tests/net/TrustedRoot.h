// A test's certificate made a trusted root of the system for as long as the
// object lives, so that the "system's trust" path of the TLS streams can be
// tested: on Linux through OpenSSL's SSL_CERT_FILE (read when a TLS session
// is made); under Wine in the user's root store (real Windows would ask the
// user, so there Add refuses).
#pragma once
#include <memory>
#include <string>

namespace nettest {

class TrustedRoot {
public:
    // pemPath: the certificate as a Linux file; der: its bytes.
    static std::unique_ptr<TrustedRoot> Add(const std::string& pemPath, const std::string& der,
                                            std::string* whyNot);
    ~TrustedRoot();
    TrustedRoot(const TrustedRoot&) = delete;
    TrustedRoot& operator=(const TrustedRoot&) = delete;

private:
    TrustedRoot() = default;
    std::string previous_; // POSIX: the variable's earlier value
    bool hadPrevious_ = false;
    std::string der_; // Windows: the certificate to remove again
};

// True in a Windows program that runs under Wine.
bool UnderWine();

} // namespace nettest
