// The INI file form of Settings.ini, on its raw Windows-1250 bytes.
#pragma once
#include <optional>
#include <string>
#include <vector>

namespace settings {

class IniFile {
public:
    // Splits the bytes into lines (LF or CR LF ends).
    explicit IniFile(const std::string& bytes);

    // The entry's value (trimmed, matching quotes stripped, at most 2047
    // bytes); nothing when the section or key is absent.
    std::optional<std::string> Read(const std::string& section, const std::string& key) const;

    // Replaces the entry in place, or adds it at the end of its section, or
    // adds the section at the end of the file. The value is written unchanged.
    void Write(const std::string& section, const std::string& key, const std::string& value);

    // Removes the section line and its entries; false when there was none.
    bool EraseSection(const std::string& section);

    // The file's bytes, every line ended with CR LF.
    std::string Bytes() const;

    static constexpr size_t kMaxValue = 2047;

private:
    // Index of the section's header line, or npos.
    size_t FindSection(const std::string& section) const;
    // One past the section's last line (the next header or the end).
    size_t SectionEnd(size_t header) const;
    // Index of the key's line inside the section, or npos.
    size_t FindKey(size_t header, const std::string& key) const;

    std::vector<std::string> lines_;
};

} // namespace settings
