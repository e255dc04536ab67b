// FTP reply numbers: the one parser of a reply line's number and named
// checks for the reply classes of RFC 959.
#pragma once
#include <cstdint>
#include <string>

// The leading decimal digits of the line, at most its first ten characters;
// 0 when it starts with no digit. Raises ESockError "Reply number out of
// range" for a number beyond the 16-bit field that holds it.
int16_t ParseReplyNumber(const std::string& Line);

// A reply's first line as RFC 959 writes it: three digits, the first from
// 1 to 5, then a blank, "-" (more lines follow) or the line end.
bool HasReplyCode(const std::string& Line);
// A line that ends a multi-line reply: three digits, then a blank or the
// line end (RFC 959 wants the opening line's digits; the caller compares).
bool EndsReply(const std::string& Line);
// No control byte in the line but TAB (text may hold it) and its end, LF
// with at most one CR before it. A NUL, a lone CR, an escape and the like
// make the line no reply at all.
bool IsReplyText(const std::string& Line);

// 1xx: the command was accepted, another reply follows.
inline bool IsPositivePreliminary(int N) {
    return N >= 100 && N <= 199;
}
// 2xx: the command is done.
inline bool IsPositiveCompletion(int N) {
    return N >= 200 && N <= 299;
}
// 1xx to 3xx: anything but a refusal.
inline bool IsPositive(int N) {
    return N >= 100 && N <= 399;
}
// 4xx or 5xx: the command was refused, for now or for good.
inline bool IsRefusal(int N) {
    return N >= 400 && N <= 599;
}
// 5xx: refused for good.
inline bool IsPermanentRefusal(int N) {
    return N >= 500 && N <= 599;
}
// 500 to 502: the server does not know or does not offer the command.
inline bool IsUnsupported(int N) {
    return N >= 500 && N <= 502;
}
// 301 to 599: a command that should run on at once (PORT, STOR, QUIT) was
// met by a demand for more (3xx) or by a refusal. 300 is no reply of
// RFC 959 and is let through, as it always was.
inline bool IsIntermediateOrRefusal(int N) {
    return N >= 301 && N <= 599;
}
