// Conversion between the program's UTF-8 text and the Windows-1250 bytes of
// Settings.ini, the run journal, stored passwords and FTP commands.
#pragma once
#include <optional>
#include <string>

namespace platform {

// Every byte string maps to UTF-8; the five bytes that Windows-1250 leaves
// undefined map to the code points of the same value, so any byte string
// read from disk or the network comes back unchanged through Utf8ToCp1250.
std::string Cp1250ToUtf8(const std::string& bytes);

// Returns nothing when the text holds a character Windows-1250 cannot
// represent (or is not valid UTF-8); never substitutes a replacement.
std::optional<std::string> Utf8ToCp1250(const std::string& text);

// True when Utf8ToCp1250 would succeed.
bool FitsCp1250(const std::string& text);

// Lower-cases one Windows-1250 byte (ASCII and the Central European letters).
unsigned char Cp1250ToLower(unsigned char c);

} // namespace platform
