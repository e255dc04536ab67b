// Where the running executable lies, as the system reports it: the part of
// ApplicationDir() that differs between systems (AppDir_linux.cpp,
// AppDir_win32.cpp). Internal to platform/.
#pragma once
#include <string>

namespace platform {

// The executable's folder with a trailing separator; "" when the system
// cannot say.
std::string ExecutableDir();

} // namespace platform
