// The running program's sign for installers: while the program runs, a named
// object tells the installer and the uninstaller of its folder not to touch
// the files (a running executable cannot be replaced).
#pragma once

namespace platform {

// Puts the sign up for the rest of the process's life; the system takes it
// down when the process ends, however it ends. Nothing to do where no
// installer asks (POSIX).
void AnnounceRunningProgram();

} // namespace platform
