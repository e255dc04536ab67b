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

namespace {

bool IsDigit(char C) {
    return C >= '0' && C <= '9';
}

// Where the line's end (LF, or CR LF) begins; the size when it has none.
size_t LineEnd(const std::string& Line) {
    size_t End = Line.size();
    if (End > 0 && Line[End - 1] == '\n') {
        --End;
        if (End > 0 && Line[End - 1] == '\r')
            --End;
    }
    return End;
}

} // namespace

bool HasReplyCode(const std::string& Line) {
    if (Line.size() < 3 || Line[0] < '1' || Line[0] > '5' || !IsDigit(Line[1]) || !IsDigit(Line[2]))
        return false;
    return LineEnd(Line) == 3 || Line[3] == ' ' || Line[3] == '-';
}

bool EndsReply(const std::string& Line) {
    return Line.size() >= 3 && IsDigit(Line[0]) && IsDigit(Line[1]) && IsDigit(Line[2]) &&
           (LineEnd(Line) == 3 || Line[3] == ' ');
}

bool IsReplyText(const std::string& Line) {
    const size_t End = LineEnd(Line);
    for (size_t I = 0; I < End; ++I) {
        const unsigned char C = static_cast<unsigned char>(Line[I]);
        if ((C < 0x20 && C != '\t') || C == 0x7f)
            return false;
    }
    return true;
}
