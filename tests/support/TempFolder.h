// A fresh folder under the temporary directory, removed with everything in it.
#pragma once
#include <string>

// Tests that took the file helpers and the random bytes from this header
// before they had headers of their own still get them through it.
#include "tests/support/Files.h"
#include "tests/support/RandomBytes.h"

namespace testsupport {

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return path_; } // without a trailing separator
    // The folder joined with the system's separator.
    std::string operator/(const std::string& name) const;

private:
    std::string path_;
};

} // namespace testsupport
