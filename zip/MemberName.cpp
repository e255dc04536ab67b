#include "zip/MemberName.h"

#include "platform/CodePage.h"

namespace zip {

bool IsSafeMemberName(const std::string& name) {
    auto isSlash = [](char c) { return c == '/' || c == '\\'; };
    if (!name.empty() && isSlash(name.front()))
        return false;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = start;
        while (end < name.size() && !isSlash(name[end]))
            ++end;
        if (name.compare(start, end - start, "..") == 0)
            return false;
        start = end + 1;
    }
    return true;
}

std::string MemberNameKey(const std::string& name) {
    // Compared as stored, in Windows-1250. A name that code page cannot hold
    // never becomes a member; it keys as it is.
    std::string key = platform::Utf8ToCp1250(name).value_or(name);
    for (char& c : key)
        c = c == '\\' ? '/'
                      : static_cast<char>(platform::Cp1250ToLower(static_cast<unsigned char>(c)));
    return key;
}

} // namespace zip
