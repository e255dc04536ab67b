#include "app/TerminationWatch.h"

#include "app/Umain.h"
#include "platform/Termination.h"
#include "ui/Application.h"

namespace {

TForm1* target = nullptr;
bool runStopped = false;
bool endRequested = false;

} // namespace

void SetTerminationTarget(TForm1* form) {
    target = form;
}

void PollTerminationRequest() {
    if (!platform::TerminationRequested())
        return;
    const bool running = target != nullptr && !target->ButtonStart->Enabled();
    if (running && !runStopped) {
        // Also a run that started after the request: it stops at once too.
        runStopped = true;
        // Nobody is there to answer a box: the run ends as an unattended one.
        target->AutoMode = true;
        target->WriteLog(kRunStoppedJournal, true);
        target->StopRun(); // cancels the waits and asks the program to end
    } else if (!running && !endRequested) {
        endRequested = true;
        ui::Terminate();
    }
}

void RequestTermination() {
    platform::NoteTerminationRequest();
    PollTerminationRequest();
}

bool RunStoppedOnRequest() {
    return runStopped;
}

void ForgetTerminationRequests() {
    platform::ForgetTerminationRequest();
    runStopped = false;
    endRequested = false;
}
