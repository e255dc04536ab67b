// NthWord and the PASV reply parsing over arbitrary reply text.
#include "net/Nmftp.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    size_t total = 0;
    for (int n = 0; n <= 8; ++n)
        total += NthWord(text, ',', n).size();
    if (total > text.size() * 9 + 9)
        std::abort();
    try {
        uint16_t port = TNMFTP::PassivePort(text);
        if (port == 0)
            std::abort(); // port 0 is never accepted
    } catch (const Exception&) {
    }
    return 0;
}
