// The INI file form of Settings.ini, on its raw Windows-1250 bytes.
#pragma once
#include <optional>
#include <string>
#include <vector>

namespace settings {

class IniFile {
public:
    // Splits the bytes into lines. As in Windows' own profile functions a
    // line ends at LF, CR LF, CR CR LF (a file converted to CR LF twice) or a
    // lone CR, so no CR is ever part of a name or value.
    explicit IniFile(const std::string& bytes);

    // True when the bytes start with a UTF-16 byte-order mark: such a file is
    // not in this form and must never be rewritten as if it were.
    static bool IsUtf16(const std::string& bytes);

    // The entry's value (trimmed, matching quotes stripped, at most 2047
    // bytes); nothing when the section or key is absent.
    std::optional<std::string> Read(const std::string& section, const std::string& key) const;

    // The values of several keys of one section in one pass over it (each
    // as Read gives it); the work grows with the section, not with the
    // product of section and keys.
    std::vector<std::optional<std::string>> ReadMany(const std::string& section,
                                                     const std::vector<std::string>& keys) const;

    // Number of entry lines (lines holding '=') in the section; 0 without it.
    std::size_t EntryCount(const std::string& section) const;

    // Replaces the entry in place, or adds it at the end of its section, or
    // adds the section at the end of the file. The value is written unchanged.
    void Write(const std::string& section, const std::string& key, const std::string& value);

    // Removes the section line and its entries; false when there was none.
    bool EraseSection(const std::string& section);

    // The file's bytes. Every line keeps the end it was read with, except
    // that LF (and a last line without any end) is written as CR LF, as it
    // always was; so a rewrite of one key in a CR CR LF or CR file leaves
    // the other lines byte for byte. A new or replaced line takes the end of
    // the line before it (CR LF in a new file).
    std::string Bytes() const;

    static constexpr size_t kMaxValue = 2047;

private:
    // Index of the section's header line, or npos.
    size_t FindSection(const std::string& section) const;
    // One past the section's last line (the next header or the end).
    size_t SectionEnd(size_t header) const;
    // Index of the key's line inside the section, or npos.
    size_t FindKey(size_t header, const std::string& key) const;

    // The end a line added at index `at` gets.
    std::string NewLineEnd(std::size_t at) const;

    struct Line {
        std::string text;
        std::string end; // "\r\n", "\n", "\r\r\n", "\r" or "" (last line only)
    };
    std::vector<Line> lines_;
};

} // namespace settings
