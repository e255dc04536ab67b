// What both systems share of running a program: the simple form of the call
// and the end of the program's error output.
#include "platform/Process.h"
#include "platform/ErrorTail.h"

namespace platform {

ProcessResult RunAndWait(const std::string& program, const std::vector<std::string>& args,
                         void (*idle)()) {
    ProcessOptions options;
    if (idle)
        options.idle = idle;
    return RunAndWait(program, args, options);
}

void ErrorTail::Add(const char* data, std::size_t size) {
    bytes_.append(data, size);
    // Trimmed now and then rather than at every byte: a chatty program
    // costs no more than copying what it writes.
    if (bytes_.size() > 2 * limit_ + 4096) {
        bytes_.erase(0, bytes_.size() - limit_);
        cut_ = true;
    }
}

std::string ErrorTail::Text(std::string (*legacy)(const std::string&)) const {
    std::string kept = bytes_;
    bool cut = cut_;
    if (kept.size() > limit_) {
        kept.erase(0, kept.size() - limit_);
        cut = true;
    }
    // A line cut at its front would be read wrong, and could start inside
    // a UTF-8 sequence.
    if (cut) {
        const std::size_t newline = kept.find('\n');
        kept.erase(0, newline == std::string::npos ? kept.size() : newline + 1);
    }
    return IsUtf8(kept) ? kept : legacy(kept);
}

bool IsUtf8(const std::string& bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        std::size_t more = 0;
        unsigned long code = c;
        if (c < 0x80)
            more = 0;
        else if (c >= 0xC2 && c <= 0xDF)
            more = 1, code = c & 0x1F;
        else if (c >= 0xE0 && c <= 0xEF)
            more = 2, code = c & 0x0F;
        else if (c >= 0xF0 && c <= 0xF4)
            more = 3, code = c & 0x07;
        else
            return false;
        if (i + more >= bytes.size() && more > 0)
            return false;
        for (std::size_t k = 1; k <= more; ++k) {
            const unsigned char d = static_cast<unsigned char>(bytes[i + k]);
            if ((d & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (d & 0x3F);
        }
        // Overlong forms, surrogates and code points beyond Unicode.
        if ((more == 2 && code < 0x800) || (more == 3 && (code < 0x10000 || code > 0x10FFFF)) ||
            (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += more + 1;
    }
    return true;
}

} // namespace platform
