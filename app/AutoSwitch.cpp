#include "app/AutoSwitch.h"

#include "platform/CodePage.h"

#include <optional>

bool IsAutoSwitch(const std::string& argument) {
    // The first character is one Windows-1250 byte; compare what follows it.
    std::optional<std::string> bytes = platform::Utf8ToCp1250(argument);
    if (!bytes || bytes->empty())
        return false;
    std::string rest = bytes->substr(1);
    for (char& c : rest)
        c = static_cast<char>(platform::Cp1250ToLower(static_cast<unsigned char>(c)));
    return rest == "auto";
}

bool HasAutoSwitch(const std::vector<std::string>& arguments) {
    for (const std::string& a : arguments)
        if (IsAutoSwitch(a))
            return true;
    return false;
}
