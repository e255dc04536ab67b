#include "TrustedRoot.h"

#include "tests/support/System.h"

#include <cstdlib>

namespace nettest {

std::unique_ptr<TrustedRoot> TrustedRoot::Add(const std::string& pemPath, const std::string&,
                                              std::string*) {
    std::unique_ptr<TrustedRoot> root(new TrustedRoot());
    if (const char* value = std::getenv("SSL_CERT_FILE")) {
        root->previous_ = value;
        root->hadPrevious_ = true;
    }
    testsupport::SetEnvironment("SSL_CERT_FILE", pemPath);
    return root;
}

TrustedRoot::~TrustedRoot() {
    if (hadPrevious_)
        testsupport::SetEnvironment("SSL_CERT_FILE", previous_);
    else
        testsupport::UnsetEnvironment("SSL_CERT_FILE");
}

bool UnderWine() {
    return false;
}

} // namespace nettest
