#include "settings/PortNumber.h"

bool ParsePortNumber(const std::string& Text, int& Port) {
    // Nine digits cannot overflow the count; more are no port anyway.
    if (Text.empty() || Text.size() > 9)
        return false;
    int Value = 0;
    for (char C : Text) {
        if (C < '0' || C > '9')
            return false;
        Value = Value * 10 + (C - '0');
    }
    if (Value < 1 || Value > 65535)
        return false;
    Port = Value;
    return true;
}
