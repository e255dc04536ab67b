// Windows-1250 <-> UTF-8: bytes always round-trip; text either converts
// exactly or is refused.
#include "platform/CodePage.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string in(reinterpret_cast<const char*>(data), size);
    auto back = platform::Utf8ToCp1250(platform::Cp1250ToUtf8(in));
    if (!back || *back != in)
        std::abort();
    auto bytes = platform::Utf8ToCp1250(in);
    if (bytes && platform::Cp1250ToUtf8(*bytes) != in)
        std::abort();
    for (char c : in)
        platform::Cp1250ToLower(static_cast<unsigned char>(c));
    return 0;
}
