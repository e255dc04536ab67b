#include "platform/AbruptEnd.h"
#include "platform/Termination.h"

#include <csignal>

namespace platform {
namespace {

volatile std::sig_atomic_t requested = 0;
volatile std::sig_atomic_t signalled = 0;

// The first signal only sets the flag: the program polls it from its event
// pump, which every wait for the network, gpg or the window runs every few
// milliseconds, and ends the run in order. A second one does not wait for
// that: what must not stay behind goes (all async-signal-safe), then the
// signal ends the process the system's way.
void OnTerminationSignal(int signal) {
    if (signalled == 0) {
        signalled = 1;
        requested = 1;
        return;
    }
    CleanUpForAbruptEnd();
    std::signal(signal, SIG_DFL);
    std::raise(signal); // delivered when the handler returns
}

} // namespace

void CatchTerminationRequests() {
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGTERM);
    sigaddset(&action.sa_mask, SIGINT);
    // Restart interrupted system calls, so no code of the program meets a
    // stray EINTR.
    action.sa_flags = SA_RESTART;
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
    signalled = 0;
}

} // namespace platform
