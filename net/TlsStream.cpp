// The system-independent parts of the TLS streams: the pin setting, the
// fingerprint's form and the text of a refused certificate.
#include "net/TlsStream.h"

#include "net/SocketApi.h"

#include <cctype>

namespace {

int HexValue(char C) {
    if (C >= '0' && C <= '9')
        return C - '0';
    if (C >= 'a' && C <= 'f')
        return C - 'a' + 10;
    if (C >= 'A' && C <= 'F')
        return C - 'A' + 10;
    return -1;
}

bool IsBlank(char C) {
    return C == ' ' || C == '\t' || C == '\r' || C == '\n';
}

bool StartsWithNoCase(const std::string& Text, const std::string& Prefix) {
    if (Text.size() < Prefix.size())
        return false;
    for (size_t i = 0; i < Prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(Text[i])) !=
            std::tolower(static_cast<unsigned char>(Prefix[i])))
            return false;
    return true;
}

} // namespace

std::optional<TSha256> ParseCertificatePin(const std::string& Text) {
    size_t from = 0;
    size_t to = Text.size();
    while (from < to && IsBlank(Text[from]))
        ++from;
    while (to > from && IsBlank(Text[to - 1]))
        --to;
    std::string text = Text.substr(from, to - from);
    if (text.empty())
        return std::nullopt;
    // What `openssl x509 -noout -fingerprint -sha256` prints, copied whole.
    for (const char* prefix : {"sha256 Fingerprint=", "SHA256 Fingerprint="})
        if (StartsWithNoCase(text, prefix)) {
            text.erase(0, std::char_traits<char>::length(prefix));
            break;
        }
    TSha256 digest{};
    size_t digits = 0;
    for (const char c : text) {
        if (c == ':')
            continue;
        const int v = HexValue(c);
        if (v < 0 || digits >= 64)
            throw ETlsError("Neplatný otisk certifikátu \"" + Text +
                            "\": má být 64 šestnáctkových číslic SHA-256 (dvojtečky mezi nimi "
                            "jsou dovoleny)");
        digest[digits / 2] = static_cast<uint8_t>(digest[digits / 2] << 4 | v);
        ++digits;
    }
    if (digits != 64)
        throw ETlsError("Neplatný otisk certifikátu \"" + Text + "\": má " +
                        std::to_string(digits) +
                        " šestnáctkových číslic, otisk SHA-256 jich má 64");
    return digest;
}

std::string FormatFingerprint(const TSha256& Digest) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < Digest.size(); ++i) {
        if (i)
            text += ':';
        text += kHex[Digest[i] >> 4];
        text += kHex[Digest[i] & 15];
    }
    return text;
}

std::string CertificateRefusal(TCertificateProblem Problem, const std::string& Detail,
                               const std::string& HostName, const TSha256& Fingerprint,
                               const std::string& Subject) {
    const std::string detail = Detail.empty() ? "" : " (" + Detail + ")";
    std::string reason;
    switch (Problem) {
    case TCertificateProblem::PinMismatch:
        reason = "jeho otisk není nastavený otisk";
        break;
    case TCertificateProblem::Untrusted:
        reason = "není vydán důvěryhodnou certifikační autoritou" + detail;
        break;
    case TCertificateProblem::NameMismatch:
        reason = "nepatří serveru " + HostName;
        break;
    case TCertificateProblem::Expired:
        reason = "jeho platnost skončila";
        break;
    case TCertificateProblem::NotYetValid:
        reason = "jeho platnost ještě nezačala";
        break;
    case TCertificateProblem::Other:
        reason = "nelze ho ověřit" + detail;
        break;
    }
    return "Certifikát serveru byl odmítnut: " + reason +
           ". Otisk SHA-256: " + FormatFingerprint(Fingerprint) +
           ", subjekt: " + (Subject.empty() ? std::string("(prázdný)") : Subject);
}

bool IsAddressLiteral(const std::string& HostName) {
    uint32_t addr = 0;
    return sockapi::ParseDotted(HostName, addr);
}
