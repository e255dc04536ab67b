#include "settings/IniFile.h"

#include "platform/CodePage.h"

namespace settings {
namespace {

constexpr size_t npos = std::string::npos;

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == npos)
        return std::string();
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (platform::Cp1250ToLower(static_cast<unsigned char>(a[i])) !=
            platform::Cp1250ToLower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// The name of a section line ("[General]"), or nothing for other lines.
std::optional<std::string> SectionName(const std::string& line) {
    size_t first = line.find_first_not_of(" \t");
    if (first == npos || line[first] != '[') // most lines: decided without copying
        return std::nullopt;
    std::string t = Trim(line);
    size_t close = t.find(']');
    if (close == npos)
        return std::nullopt;
    return Trim(t.substr(1, close - 1));
}

// Splits an entry line into its trimmed key and raw value text.
bool SplitEntry(const std::string& line, std::string& key, std::string& value) {
    size_t eq = line.find('=');
    if (eq == npos)
        return false;
    key = Trim(line.substr(0, eq));
    value = line.substr(eq + 1);
    return true;
}

} // namespace

IniFile::IniFile(const std::string& bytes) {
    size_t start = 0;
    while (start < bytes.size()) {
        size_t lf = bytes.find('\n', start);
        size_t end = lf == npos ? bytes.size() : lf;
        std::string line = bytes.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines_.push_back(std::move(line));
        if (lf == npos)
            break;
        start = lf + 1;
    }
}

size_t IniFile::FindSection(const std::string& section) const {
    for (size_t i = 0; i < lines_.size(); ++i) {
        auto name = SectionName(lines_[i]);
        if (name && SameName(*name, section))
            return i;
    }
    return npos;
}

size_t IniFile::SectionEnd(size_t header) const {
    size_t i = header + 1;
    while (i < lines_.size() && !SectionName(lines_[i]))
        ++i;
    return i;
}

size_t IniFile::FindKey(size_t header, const std::string& key) const {
    size_t end = SectionEnd(header);
    for (size_t i = header + 1; i < end; ++i) {
        // The key is the text before '=' without its blanks; compared in place.
        const std::string& line = lines_[i];
        size_t eq = line.find('=');
        if (eq == npos)
            continue;
        size_t b = line.find_first_not_of(" \t");
        size_t e = eq;
        while (e > b && (line[e - 1] == ' ' || line[e - 1] == '\t'))
            --e;
        if (b < eq && e - b == key.size() && SameName(line.substr(b, e - b), key))
            return i;
        if (b == eq && key.empty())
            return i;
    }
    return npos;
}

std::optional<std::string> IniFile::Read(const std::string& section, const std::string& key) const {
    size_t header = FindSection(section);
    if (header == npos)
        return std::nullopt;
    size_t line = FindKey(header, key);
    if (line == npos)
        return std::nullopt;
    std::string k, value;
    SplitEntry(lines_[line], k, value);
    value = Trim(value);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    if (value.size() > kMaxValue)
        value.resize(kMaxValue);
    return value;
}

void IniFile::Write(const std::string& section, const std::string& key, const std::string& value) {
    std::string entry = key + "=" + value;
    size_t header = FindSection(section);
    if (header == npos) {
        lines_.push_back("[" + section + "]");
        lines_.push_back(entry);
        return;
    }
    size_t line = FindKey(header, key);
    if (line != npos) {
        lines_[line] = entry;
        return;
    }
    // After the section's last non-blank line, so blank lines between
    // sections stay where they are.
    size_t at = SectionEnd(header);
    while (at > header + 1 && Trim(lines_[at - 1]).empty())
        --at;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), entry);
}

bool IniFile::EraseSection(const std::string& section) {
    size_t header = FindSection(section);
    if (header == npos)
        return false;
    size_t end = SectionEnd(header);
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(header),
                 lines_.begin() + static_cast<std::ptrdiff_t>(end));
    return true;
}

std::string IniFile::Bytes() const {
    std::string out;
    for (const auto& line : lines_) {
        out += line;
        out += "\r\n";
    }
    return out;
}

} // namespace settings
