// Tests that need what a machine may lack (a real FTP server, a package
// fetched while testing) skip without it when run by hand. The test command
// installs all of it and sets RODERUV_REQUIRE_ALL=1: there the lack fails
// the test, so a run that passes has used every real part.
#pragma once
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>

namespace testsupport {

inline bool EverythingRequired() {
    const char* value = std::getenv("RODERUV_REQUIRE_ALL");
    return value != nullptr && std::strcmp(value, "1") == 0;
}

} // namespace testsupport

// Use as GTEST_SKIP(), with the reason streamed in: MISSING_PART("x: " << why).
#define MISSING_PART(message)                                                                      \
    do {                                                                                           \
        if (testsupport::EverythingRequired())                                                     \
            FAIL() << message;                                                                     \
        GTEST_SKIP() << message;                                                                   \
    } while (0)
