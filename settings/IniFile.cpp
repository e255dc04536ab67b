#include "settings/IniFile.h"

#include "platform/CodePage.h"

#include <algorithm>
#include <unordered_map>

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

// The entry's value as read: trimmed, matching quotes stripped, cut to the
// longest value the profile functions return.
std::string ValueOf(const std::string& line) {
    std::string key, value;
    SplitEntry(line, key, value);
    value = Trim(value);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    if (value.size() > IniFile::kMaxValue)
        value.resize(IniFile::kMaxValue);
    return value;
}

std::string Lower(std::string name) {
    for (char& c : name)
        c = static_cast<char>(platform::Cp1250ToLower(static_cast<unsigned char>(c)));
    return name;
}

// LF alone is written as CR LF, as the file has always been written.
std::string Normal(const std::string& end) {
    return end == "\n" ? std::string("\r\n") : end;
}

} // namespace

IniFile::IniFile(const std::string& bytes) {
    size_t start = 0;
    while (start < bytes.size()) {
        size_t at = bytes.find_first_of("\r\n", start);
        if (at == npos) {
            lines_.push_back({bytes.substr(start), std::string()});
            break;
        }
        size_t endSize = 1;
        if (bytes[at] == '\r' && at + 1 < bytes.size() && bytes[at + 1] == '\n')
            endSize = 2;
        else if (bytes.compare(at, 3, "\r\r\n") == 0)
            endSize = 3;
        lines_.push_back({bytes.substr(start, at - start), bytes.substr(at, endSize)});
        start = at + endSize;
    }
}

bool IniFile::IsUtf16(const std::string& bytes) {
    return bytes.size() >= 2 && ((bytes[0] == '\xFF' && bytes[1] == '\xFE') ||
                                 (bytes[0] == '\xFE' && bytes[1] == '\xFF'));
}

size_t IniFile::FindSection(const std::string& section) const {
    for (size_t i = 0; i < lines_.size(); ++i) {
        auto name = SectionName(lines_[i].text);
        if (name && SameName(*name, section))
            return i;
    }
    return npos;
}

size_t IniFile::SectionEnd(size_t header) const {
    size_t i = header + 1;
    while (i < lines_.size() && !SectionName(lines_[i].text))
        ++i;
    return i;
}

size_t IniFile::FindKey(size_t header, const std::string& key) const {
    size_t end = SectionEnd(header);
    for (size_t i = header + 1; i < end; ++i) {
        // The key is the text before '=' without its blanks; compared in place.
        const std::string& line = lines_[i].text;
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
    return ValueOf(lines_[line].text);
}

std::vector<std::optional<std::string>>
IniFile::ReadMany(const std::string& section, const std::vector<std::string>& keys) const {
    std::vector<std::optional<std::string>> values(keys.size());
    size_t header = FindSection(section);
    if (header == npos || keys.empty())
        return values;
    // Wanted keys by their lower-case form; the first matching line wins, as in Read.
    std::unordered_map<std::string, std::vector<size_t>> wanted;
    for (size_t i = 0; i < keys.size(); ++i)
        wanted[Lower(keys[i])].push_back(i);
    size_t end = SectionEnd(header);
    for (size_t i = header + 1; i < end && !wanted.empty(); ++i) {
        std::string key, value;
        if (!SplitEntry(lines_[i].text, key, value))
            continue;
        auto found = wanted.find(Lower(key));
        if (found == wanted.end())
            continue;
        std::string v = ValueOf(lines_[i].text);
        for (size_t k : found->second)
            values[k] = v;
        wanted.erase(found);
    }
    return values;
}

size_t IniFile::EntryCount(const std::string& section) const {
    size_t header = FindSection(section);
    if (header == npos)
        return 0;
    size_t count = 0;
    size_t end = SectionEnd(header);
    for (size_t i = header + 1; i < end; ++i)
        if (lines_[i].text.find('=') != npos)
            ++count;
    return count;
}

std::string IniFile::NewLineEnd(size_t at) const {
    for (size_t i = std::min(at, lines_.size()); i > 0; --i)
        if (!lines_[i - 1].end.empty())
            return Normal(lines_[i - 1].end);
    for (size_t i = at; i < lines_.size(); ++i)
        if (!lines_[i].end.empty())
            return Normal(lines_[i].end);
    return "\r\n";
}

void IniFile::Write(const std::string& section, const std::string& key, const std::string& value) {
    std::string entry = key + "=" + value;
    size_t header = FindSection(section);
    if (header == npos) {
        std::string end = NewLineEnd(lines_.size());
        lines_.push_back({"[" + section + "]", end});
        lines_.push_back({entry, end});
        return;
    }
    size_t line = FindKey(header, key);
    if (line != npos) {
        lines_[line].text = entry; // keeps its own line end
        return;
    }
    // After the section's last non-blank line, so blank lines between
    // sections stay where they are.
    size_t at = SectionEnd(header);
    while (at > header + 1 && Trim(lines_[at - 1].text).empty())
        --at;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), Line{entry, NewLineEnd(at)});
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
    for (size_t i = 0; i < lines_.size(); ++i) {
        out += lines_[i].text;
        out += lines_[i].end.empty() ? NewLineEnd(i) : Normal(lines_[i].end);
    }
    return out;
}

} // namespace settings
