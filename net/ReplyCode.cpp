#include "net/ReplyCode.h"

#include "net/SockError.h"

int16_t ParseReplyNumber(const std::string& Line) {
    int64_t Number = 0;
    for (size_t I = 0; I < Line.size() && I < 10 && Line[I] >= '0' && Line[I] <= '9'; ++I)
        Number = Number * 10 + (Line[I] - '0');
    if (Number > INT16_MAX)
        throw ESockError("Reply number out of range");
    return static_cast<int16_t>(Number);
}
