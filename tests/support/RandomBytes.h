// Test data that does not compress: pseudo-random bytes, the same for the
// same seed, so a failing case can be run again with the same input.
#pragma once
#include <cstddef>
#include <string>

namespace testsupport {

// n pseudo-random bytes, the same for the same seed.
std::string RandomBytes(std::size_t n, unsigned seed = 7);

} // namespace testsupport
