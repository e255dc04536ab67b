// Shared set-up of the archive writer tests.
#pragma once
#include "OutsideTools.h"
#include "ZipReader.h"
#include "tests/support/System.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace ziptest {

using testsupport::SetFileTimes;

// Pseudo-random bytes, the same for the same seed.
std::string RandomBytes(size_t size, uint32_t seed);

// Parses the archive and checks what must hold for every archive this
// writer closes: local header = central header (bit 3 clear), fixed fields,
// the extended-timestamp fields' layout, end record offset and size, and
// entry data that inflates to the stated size and CRC.
::testing::AssertionResult WellFormed(const std::string& path, Archive& archive);

// WellFormed plus every outside validator (see OutsideTools.h).
::testing::AssertionResult PassesEverything(const std::string& path, Archive& archive,
                                            bool uniqueNames = true);

} // namespace ziptest
