#include "app/ConvertError.h"

#include <cstdint>

int StrToInt(const std::string& Text) {
    std::size_t I = 0;
    bool Negative = false;
    if (I < Text.size() && (Text[I] == '-' || Text[I] == '+')) {
        Negative = Text[I] == '-';
        ++I;
    }
    int64_t Value = 0;
    bool Digits = false;
    for (; I < Text.size(); ++I) {
        const char C = Text[I];
        if (C < '0' || C > '9' || Value > 2147483648LL)
            break;
        Value = Value * 10 + (C - '0');
        Digits = true;
    }
    const int64_t Limit = Negative ? 2147483648LL : 2147483647LL;
    if (!Digits || I != Text.size() || Value > Limit)
        throw EConvertError("'" + Text + "' is not a valid integer value");
    return static_cast<int>(Negative ? -Value : Value);
}
