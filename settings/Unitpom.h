// The settings store: every setting and the saved list of data files live in
// Settings.ini in the application directory. Each call opens the file, does
// one read or write and closes it; nothing is cached. Texts are UTF-8 here
// and Windows-1250 in the file.
#pragma once
#include "settings/IniFile.h"

#include <stdexcept>
#include <string>
#include <vector>

// Raised by the writes: "Unable to write to " + the settings file's full path
// (also for a UTF-16 file, which is never rewritten), or a refusal of a text
// that Windows-1250 cannot hold or that holds a line break.
class ESettingsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Full path of Settings.ini (built afresh on every call).
std::string SettingsFilePath();

// An empty section name means "General".
std::string ReadSettingString(const std::string& section, const std::string& key,
                              const std::string& defaultValue);
void WriteSettingString(const std::string& section, const std::string& key,
                        const std::string& value);
// Always section "General"; "0x" + hex digits is read as hexadecimal.
int ReadSettingInteger(const std::string& key, int defaultValue);
void WriteSettingInteger(const std::string& key, int value);
// Removes a whole section; does nothing (and creates nothing) without a file.
void EraseSettingSection(const std::string& section);

// Several changes in one rewrite of Settings.ini. The file ends up exactly as
// after the same single writes and erasures in the same order; only the
// number of rewrites differs (a list of thousands of data files would
// otherwise be written, and flushed to disk, once per file). When Commit
// raises, nothing of the batch is written.
class SettingsBatch {
public:
    SettingsBatch(); // takes Settings.ini as it is now
    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    void EraseSection(const std::string& section);
    void Commit();

private:
    std::string path_;
    settings::IniFile ini_;
    bool changed_ = false;
};

// The values of several keys of one section from one reading of the file
// (each the default when absent), as ReadSettingString gives them one by one.
std::vector<std::string> ReadSettingStrings(const std::string& section,
                                            const std::vector<std::string>& keys,
                                            const std::string& defaultValue);

// Number of entries the section holds in Settings.ini (0 without the file or
// the section): a bound for lists whose stored count may be wrong.
int CountSettingEntries(const std::string& section);

// Reads an integer text as the store does; false when it is not an integer.
bool ParseSettingInteger(const std::string& text, int& value);

// The stored form of a password: Base64 of its Windows-1250 bytes. Up to 57
// bytes this is exactly CBase64Utils::Encode; longer ones are kept on one line
// so they survive the one-line entry. Raises ESettingsError for a password
// that Windows-1250 cannot hold.
std::string EncodePassword(const std::string& password);
// The password from its stored form (up to its first zero byte).
std::string DecodePassword(const std::string& stored);
