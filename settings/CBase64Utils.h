// Base64 (RFC 4648, standard alphabet) under which the passwords are stored.
#pragma once
#include <string>

class CBase64Utils {
public:
    bool ErrorFlag = false; // set by Decode when it skipped a character other than CR/LF

    // Base64 of the bytes; CR LF follows every 76th output character.
    std::string Encode(const char* bytes, size_t count);
    // Decoded bytes up to the first '=' or the end of the given length.
    // Users take the result up to its first zero byte.
    std::string Decode(const char* text, size_t length);
};
