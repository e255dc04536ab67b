// Entry point: the application object, the main window, the event loop.
// The exit status is 0, also after a failed unattended run, unless the
// setting ExitCode asks an unattended run to say where it stopped
// (RunOutcome.h).
#include "app/AutoSwitch.h"
#include "app/Umain.h"
#include "platform/RunningProgram.h"
#include "platform/Termination.h"
#include "ui/Application.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    // First of all, so that an installer never replaces the files under a
    // program that is just starting.
    platform::AnnounceRunningProgram();
    // A service manager's or an administrator's request to end is turned into
    // the window's own way of ending (TerminationWatch.h).
    platform::CatchTerminationRequests();
    const std::vector<std::string> params = ui::ProgramArguments(argc, argv);
    // Started by cron with the switch: no display is needed.
    if (HasAutoSwitch(params)) {
        ui::UseOffscreenWithoutDisplay();
    } else if (!ui::WindowsAvailable()) {
        // The window cannot be shown anywhere; say so instead of letting the
        // toolkit abort. Nothing ran: exit status 0.
        std::fprintf(stderr, "%s: no display; start with /auto for an unattended run\n",
                     ui::kApplicationTitle);
        return 0;
    }
    // An exception escaping the window is shown in a box before the
    // application object goes.
    return ui::RunProgram(argc, argv, [&params] {
        TForm1 Form1(params);
        Form1.ShowCentred();
        ui::RunEventLoop();
        return Form1.ExitStatus();
    });
}
