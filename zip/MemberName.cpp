#include "zip/MemberName.h"

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

} // namespace zip
