#include "platform/AbruptEnd.h"
#include "platform/Termination.h"
#include "platform/Wide_win32.h"

#include <atomic>

namespace platform {
namespace {

std::atomic<bool> requested{false};

// Runs on a thread of its own that the system starts. Ctrl+C and Ctrl+Break
// are only noted. For the console's close, the end of the session and the
// shutdown the process ends when the handler returns, so it gives the
// program a few seconds to act on the request first, then cleans up what a
// run still holds.
BOOL WINAPI OnConsoleControl(DWORD event) {
    requested = true;
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        ::Sleep(4000);
        CleanUpForAbruptEnd();
    }
    return TRUE;
}

} // namespace

void CatchTerminationRequests() {
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

bool TerminationRequested() {
    return requested;
}

void NoteTerminationRequest() {
    requested = true;
}

void ForgetTerminationRequest() {
    requested = false;
}

} // namespace platform
