// Creating a file under a fixed name that must be new, so that nothing
// planted under that name (a link above all) is ever written through.
#pragma once
#include <string>

namespace platform {

// Creates an empty file at path for its owner only (0600; on Windows the
// folder's own rights), and only when nothing at all is there, not even a
// link; false otherwise.
bool CreateNewPrivateFile(const std::string& path);

} // namespace platform
