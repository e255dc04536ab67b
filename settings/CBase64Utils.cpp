#include "settings/CBase64Utils.h"

namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int ValueOf(unsigned char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}
} // namespace

std::string CBase64Utils::Encode(const char* bytes, size_t count) {
    std::string out;
    out.reserve((count + 2) / 3 * 4 + (count / 57 + 1) * 2);
    size_t lineChars = 0;
    auto put = [&](char c) { out += c; };
    const auto* in = reinterpret_cast<const unsigned char*>(bytes);
    for (size_t i = 0; i < count; i += 3) {
        size_t left = count - i;
        unsigned v = in[i] << 16;
        if (left > 1)
            v |= in[i + 1] << 8;
        if (left > 2)
            v |= in[i + 2];
        put(kAlphabet[(v >> 18) & 63]);
        put(kAlphabet[(v >> 12) & 63]);
        put(left > 1 ? kAlphabet[(v >> 6) & 63] : '=');
        put(left > 2 ? kAlphabet[v & 63] : '=');
        lineChars += 4;
        // Only a full group of three completes a line, so a final padded group
        // never gets a break of its own (56 bytes give 76 characters, no break).
        if (left > 2 && lineChars == 76) {
            out += "\r\n";
            lineChars = 0;
        }
    }
    return out;
}

std::string CBase64Utils::Decode(const char* text, size_t length) {
    std::string out;
    unsigned acc = 0;
    int bits = 0;
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '=')
            break;
        int v = ValueOf(c);
        if (v < 0) {
            if (c != '\r' && c != '\n')
                ErrorFlag = true;
            continue;
        }
        acc = (acc << 6) | static_cast<unsigned>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((acc >> bits) & 0xFF);
        }
    }
    return out;
}
