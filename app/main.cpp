// Entry point: the application object, the main window, the event loop.
// The exit status is always 0, also after a failed unattended run.
#include "app/AutoSwitch.h"
#include "app/Umain.h"
#include "platform/Termination.h"
#include "ui/Application.h"
#include "ui/Prompts.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    // A service manager's or an administrator's request to end is turned into
    // the window's own way of ending (TerminationWatch.h), exit status 0.
    platform::CatchTerminationRequests();
    const std::vector<std::string> params(argv + (argc > 0 ? 1 : 0), argv + argc);
    // Started by cron with the switch: no display is needed.
    if (HasAutoSwitch(params)) {
        ui::UseOffscreenWithoutDisplay();
    } else if (!ui::DisplayReachable() && std::getenv("QT_QPA_PLATFORM") == nullptr) {
        // The window cannot be shown anywhere; say so instead of letting the
        // toolkit abort, and keep the exit status 0.
        std::fprintf(stderr, "%s: no display; start with /auto for an unattended run\n",
                     ui::kApplicationTitle);
        return 0;
    }
    try {
        ui::Application app(argc, argv);
        TForm1 Form1(nullptr, params);
        Form1.ShowCentred();
        app.Run();
    } catch (const std::exception& e) {
        ui::ShowException(e.what());
    } catch (...) {
        ui::ShowException("Unknown error");
    }
    return 0;
}
