// Base64 against a plain reference encoder, and decoding of arbitrary text.
#include "settings/CBase64Utils.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {
std::string Reference(const std::string& in) {
    static const char* a = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < in.size(); i += 3) {
        uint32_t v = (uint8_t(in[i]) << 16) | (uint8_t(in[i + 1]) << 8) | uint8_t(in[i + 2]);
        out += a[v >> 18];
        out += a[(v >> 12) & 63];
        out += a[(v >> 6) & 63];
        out += a[v & 63];
    }
    if (in.size() - i == 1) {
        uint32_t v = uint8_t(in[i]) << 16;
        out += a[v >> 18];
        out += a[(v >> 12) & 63];
        out += "==";
    } else if (in.size() - i == 2) {
        uint32_t v = (uint8_t(in[i]) << 16) | (uint8_t(in[i + 1]) << 8);
        out += a[v >> 18];
        out += a[(v >> 12) & 63];
        out += a[(v >> 6) & 63];
        out += '=';
    }
    return out;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string in(reinterpret_cast<const char*>(data), size);
    CBase64Utils b;
    std::string enc = b.Encode(in.data(), in.size());
    std::string flat;
    for (char c : enc)
        if (c != '\r' && c != '\n')
            flat += c;
    if (flat != Reference(in))
        std::abort();
    CBase64Utils d;
    if (d.Decode(enc.data(), enc.size()) != in || d.ErrorFlag)
        std::abort();
    CBase64Utils junk;
    std::string out = junk.Decode(in.data(), in.size());
    if (out.size() > in.size() * 3 / 4 + 1)
        std::abort();
    return 0;
}
