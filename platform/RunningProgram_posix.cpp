// No installer on POSIX systems asks whether the program runs.
#include "platform/RunningProgram.h"

namespace platform {

void AnnounceRunningProgram() {}

} // namespace platform
