#include "TrustedRoot.h"

#include <windows.h>

#include <wincrypt.h>

namespace nettest {

namespace {

HCERTSTORE UserRoots() {
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
}

} // namespace

std::unique_ptr<TrustedRoot> TrustedRoot::Add(const std::string&, const std::string& der,
                                              std::string* whyNot) {
    if (!UnderWine()) {
        *whyNot = "Windows asks the user before it trusts a new root";
        return nullptr;
    }
    HCERTSTORE store = UserRoots();
    const BOOL added =
        store && CertAddEncodedCertificateToStore(
                     store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                     static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    if (store)
        CertCloseStore(store, 0);
    if (!added) {
        *whyNot = "cannot add the certificate to the user's root store";
        return nullptr;
    }
    std::unique_ptr<TrustedRoot> root(new TrustedRoot());
    root->der_ = der;
    return root;
}

TrustedRoot::~TrustedRoot() {
    HCERTSTORE store = UserRoots();
    if (!store)
        return;
    PCCERT_CONTEXT wanted =
        CertCreateCertificateContext(X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der_.data()),
                                     static_cast<DWORD>(der_.size()));
    PCCERT_CONTEXT found = wanted ? CertFindCertificateInStore(store, X509_ASN_ENCODING, 0,
                                                               CERT_FIND_EXISTING, wanted, nullptr)
                                  : nullptr;
    if (found)
        CertDeleteCertificateFromStore(found); // frees it
    if (wanted)
        CertFreeCertificateContext(wanted);
    CertCloseStore(store, 0);
}

bool UnderWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

} // namespace nettest
