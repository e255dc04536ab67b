// Sets an environment variable for one scope and puts the old value back.
#pragma once
#include "tests/support/System.h"

#include <cstdlib>
#include <string>

namespace testsupport {

class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            had_ = true;
            old_ = old;
        }
        SetEnvironment(name, value);
    }
    ~ScopedEnv() {
        if (had_)
            SetEnvironment(name_, old_);
        else
            UnsetEnvironment(name_);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    bool had_ = false;
    std::string old_;
};

} // namespace testsupport
