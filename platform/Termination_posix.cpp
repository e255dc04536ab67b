#include "platform/Termination.h"

#include <csignal>

namespace platform {
namespace {

volatile std::sig_atomic_t requested = 0;

// Only sets the flag: that is all a handler may safely do. The program polls
// it from its event pump, which every wait for the network or the window
// runs every few milliseconds, so nothing needs waking.
void OnTerminationSignal(int) {
    requested = 1;
}

} // namespace

void CatchTerminationRequests() {
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    // Restart interrupted system calls, so no code of the program meets a
    // stray EINTR; reset to the default after the first request.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

bool TerminationRequested() {
    return requested != 0;
}

void NoteTerminationRequest() {
    requested = 1;
}

void ForgetTerminationRequest() {
    requested = 0;
}

} // namespace platform
