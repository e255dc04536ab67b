#include "tests/support/RandomBytes.h"

#include <random>

namespace testsupport {

std::string RandomBytes(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (auto& c : s)
        c = static_cast<char>(gen() & 0xFF);
    return s;
}

} // namespace testsupport
