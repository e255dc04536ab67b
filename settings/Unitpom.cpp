#include "settings/Unitpom.h"

#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "settings/CBase64Utils.h"
#include "settings/IniFile.h"

#include <cstdint>

namespace {

const char kGeneral[] = "General";

std::string SectionOrGeneral(const std::string& section) {
    return section.empty() ? kGeneral : section;
}

// The stored form of a password of exactly 57 bytes: 76 Base64 characters
// and the encoder's line break, which ends the entry's line as Windows
// writes it (an empty line follows). The one value that may hold a break.
bool IsBrokenBase64Line(const std::string& text) {
    if (text.size() != 78 || text.compare(76, 2, "\r\n") != 0)
        return false;
    for (size_t i = 0; i < 76; ++i) {
        const char c = text[i];
        const bool alphabet = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                              (c >= '0' && c <= '9') || c == '+' || c == '/' || c == '=';
        if (!alphabet)
            return false;
    }
    return true;
}

std::string Cp1250Bytes(const std::string& text) {
    auto bytes = platform::Utf8ToCp1250(text);
    if (!bytes)
        throw ESettingsError("Text \"" + text +
                             "\" nelze uložit do Settings.ini: obsahuje znaky mimo kódování "
                             "Windows-1250.");
    return *bytes;
}

std::string ToFileBytes(const std::string& text, bool isValue = false) {
    // A line break would end the entry early and make the rest of the text a
    // line of its own: another entry, or a section header.
    if (text.find_first_of("\r\n") != std::string::npos && !(isValue && IsBrokenBase64Line(text)))
        throw ESettingsError("Text \"" + text +
                             "\" nelze uložit do Settings.ini: obsahuje konec řádku.");
    return Cp1250Bytes(text);
}

// Loads the file for a change; a file that exists but cannot be read cannot
// be rewritten either.
settings::IniFile LoadForWrite(const std::string& path) {
    std::string bytes;
    if (platform::FileExists(path)) {
        // A UTF-16 file (saved as "Unicode" by an editor) would be destroyed
        // by a rewrite in this form; it is left to the administrator.
        if (!platform::ReadFileBytes(path, bytes) || settings::IniFile::IsUtf16(bytes))
            throw ESettingsError("Unable to write to " + path);
    } else if (platform::DirectoryExists(path)) {
        throw ESettingsError("Unable to write to " + path);
    }
    return settings::IniFile(bytes);
}

bool HoldsPassword(const settings::IniFile& ini) {
    for (const char* key : {"Heslo", "ProxyHeslo"}) {
        const auto value = ini.Read(kGeneral, key);
        if (value && !value->empty())
            return true;
    }
    return false;
}

void Store(const std::string& path, const settings::IniFile& ini) {
    // Replaced as a whole so that a crash or a full disk never leaves half a
    // file; a new file may come to hold passwords, so only its owner may read
    // it, and a file that holds them loses any right of group and others.
    if (!platform::ReplaceFileAtomically(path, ini.Bytes(), 0600, HoldsPassword(ini)))
        throw ESettingsError("Unable to write to " + path);
}

} // namespace

std::string SettingsFilePath() {
    return platform::ApplicationDir() + "Settings.ini";
}

std::vector<std::string> ReadSettingStrings(const std::string& section,
                                            const std::vector<std::string>& keys,
                                            const std::string& defaultValue) {
    std::vector<std::string> values(keys.size(), defaultValue);
    std::string path = SettingsFilePath();
    std::string bytes;
    if (!platform::FileExists(path) || !platform::ReadFileBytes(path, bytes))
        return values;
    auto sectionBytes = platform::Utf8ToCp1250(SectionOrGeneral(section));
    if (!sectionBytes)
        return values;
    settings::IniFile ini(bytes);
    // Keys Windows-1250 cannot hold are never in the file: looked up as
    // nothing that can match, so they keep the default.
    std::vector<std::string> keyBytes;
    keyBytes.reserve(keys.size());
    for (const std::string& key : keys)
        keyBytes.push_back(platform::Utf8ToCp1250(key).value_or("\n"));
    const auto found = ini.ReadMany(*sectionBytes, keyBytes);
    for (size_t i = 0; i < keys.size(); ++i)
        if (found[i])
            values[i] = platform::Cp1250ToUtf8(*found[i]);
    return values;
}

int CountSettingEntries(const std::string& section) {
    std::string path = SettingsFilePath();
    std::string bytes;
    if (!platform::FileExists(path) || !platform::ReadFileBytes(path, bytes))
        return 0;
    auto sectionBytes = platform::Utf8ToCp1250(SectionOrGeneral(section));
    if (!sectionBytes)
        return 0;
    const size_t count = settings::IniFile(bytes).EntryCount(*sectionBytes);
    return count > 2147483647u ? 2147483647 : static_cast<int>(count);
}

std::string ReadSettingString(const std::string& section, const std::string& key,
                              const std::string& defaultValue) {
    return ReadSettingStrings(section, {key}, defaultValue).front();
}

SettingsBatch::SettingsBatch() : path_(SettingsFilePath()), ini_(LoadForWrite(path_)) {}

void SettingsBatch::WriteString(const std::string& section, const std::string& key,
                                const std::string& value) {
    ini_.Write(ToFileBytes(SectionOrGeneral(section)), ToFileBytes(key), ToFileBytes(value, true));
    changed_ = true;
}

void SettingsBatch::EraseSection(const std::string& section) {
    // Without a file there is nothing to erase (and nothing is created).
    if (platform::FileExists(path_) && ini_.EraseSection(ToFileBytes(SectionOrGeneral(section))))
        changed_ = true;
}

void SettingsBatch::Commit() {
    if (changed_)
        Store(path_, ini_);
    changed_ = false;
}

void WriteSettingString(const std::string& section, const std::string& key,
                        const std::string& value) {
    // The texts are checked before the file is touched.
    std::string sectionBytes = ToFileBytes(SectionOrGeneral(section));
    std::string keyBytes = ToFileBytes(key);
    std::string valueBytes = ToFileBytes(value, true);
    std::string path = SettingsFilePath();
    settings::IniFile ini = LoadForWrite(path);
    ini.Write(sectionBytes, keyBytes, valueBytes);
    Store(path, ini);
}

bool ParseSettingInteger(const std::string& text, int& value) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        uint64_t v = 0;
        for (size_t i = 2; i < text.size(); ++i) {
            char c = text[i];
            int d = (c >= '0' && c <= '9')   ? c - '0'
                    : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                    : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                             : -1;
            if (d < 0 || i - 2 >= 8)
                return false;
            v = v * 16 + static_cast<uint64_t>(d);
        }
        value = static_cast<int>(static_cast<uint32_t>(v)); // 32-bit, as the stored form was
        return true;
    }
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size())
        return false;
    int64_t v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        v = v * 10 + (text[i] - '0');
        if (v > 2147483648LL)
            return false;
    }
    if (negative)
        v = -v;
    if (v > 2147483647LL)
        return false;
    value = static_cast<int>(v);
    return true;
}

int ReadSettingInteger(const std::string& key, int defaultValue) {
    std::string path = SettingsFilePath();
    if (!platform::FileExists(path))
        return defaultValue;
    int value;
    return ParseSettingInteger(ReadSettingString(kGeneral, key, ""), value) ? value : defaultValue;
}

void WriteSettingInteger(const std::string& key, int value) {
    WriteSettingString(kGeneral, key, std::to_string(value));
}

void EraseSettingSection(const std::string& section) {
    std::string path = SettingsFilePath();
    if (!platform::FileExists(path))
        return;
    std::string sectionBytes = ToFileBytes(SectionOrGeneral(section));
    settings::IniFile ini = LoadForWrite(path);
    if (ini.EraseSection(sectionBytes))
        Store(path, ini);
}

std::string EncodePassword(const std::string& password) {
    std::string bytes = Cp1250Bytes(password); // any byte survives Base64
    CBase64Utils base64;
    std::string text = base64.Encode(bytes.data(), bytes.size());
    if (bytes.size() > 57) { // a break inside the value would cut the entry short
        std::string oneLine;
        for (char c : text)
            if (c != '\r' && c != '\n')
                oneLine += c;
        text = oneLine;
    }
    return text;
}

std::string DecodePassword(const std::string& stored) {
    CBase64Utils base64;
    std::string bytes = base64.Decode(stored.data(), stored.size());
    bytes = bytes.substr(0, bytes.find('\0'));
    return platform::Cp1250ToUtf8(bytes);
}
