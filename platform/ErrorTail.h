// The end of a child program's standard error, kept while it arrives: the
// last bytes written, handed on from the start of a line as UTF-8.
#pragma once
#include <cstddef>
#include <string>

namespace platform {

class ErrorTail {
public:
    explicit ErrorTail(std::size_t limit) : limit_(limit) {}
    void Add(const char* data, std::size_t size);
    // Bytes that are not UTF-8 go through legacy (the system's own code page).
    std::string Text(std::string (*legacy)(const std::string&)) const;

private:
    std::size_t limit_;
    std::string bytes_;
    bool cut_ = false; // bytes were dropped from the front
};

bool IsUtf8(const std::string& bytes);

} // namespace platform
