// The application object and the few application-wide services the windows
// use: the title, "let events run", the request to end, and the choice of a
// platform without a display for unattended runs.
#pragma once
#include <functional>
#include <string>
#include <vector>

namespace ui {

// Task-bar text and the caption of every plain message box.
inline constexpr const char* kApplicationTitle = "RODERUV";

// The toolkit's application object with the program's title (one per
// process). An exception that escapes the delivery of an event is shown by
// ShowException (Prompts.h) and the program goes on; handlers of the
// controls are guarded already, this is the last line of defence.
class Application {
public:
    Application(int& argc, char** argv);
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;
    // Runs the event loop until the application is asked to end.
    int Run();
};

// The whole program: makes the application object, runs body (which makes
// the main window, runs the event loop and says the exit status) and returns
// what body returned. An exception that escapes body is shown in a box while
// the application object still exists, so that the operator sees it, then
// the program ends with status 0.
int RunProgram(int& argc, char** argv, const std::function<int()>& body);

// The command-line arguments after the program name, in UTF-8, as the
// platform splits them (enclosing quotes removed, letter case unchanged).
// Windows hands main() its arguments in the ANSI code page, so the backend
// takes them from the system's own wide-character command line there.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// True while the application object exists.
bool ApplicationExists();

// Runs the event loop until the application is asked to end (Terminate, or
// the main window closed).
int RunEventLoop();

// "Let events run": processes every event pending in the event loop
// (repaints, button presses), then returns. Also runs the extra pump
// installed with SetExtraPump. Safe to call before any window exists.
void ProcessMessages();

// Processes the pending window events only (without the extra pump); the
// socket layer's own waits use this as their "let events run" step.
void ProcessWindowEvents();

// A function called by ProcessMessages after the window events, so that code
// outside the toolkit (the socket layer) gets its notifications dispatched
// while the user-interface thread waits. Empty removes it.
void SetExtraPump(std::function<void()> pump);

// Asks the application to end. The request takes effect when control returns
// to the main event loop (also when made before the loop has started), so
// the caller finishes its work first. Several requests end it once.
void Terminate();
// Number of Terminate calls since start or the last reset (tests look at it).
int TerminateCount();
void ResetTerminateCount();

// True when a display can be reached (on Linux: DISPLAY or WAYLAND_DISPLAY is
// set to a non-empty value).
bool DisplayReachable();
// True when windows can be made: a display is reachable, or a platform
// without one was chosen explicitly (Qt: QT_QPA_PLATFORM is set).
bool WindowsAvailable();
// Chooses the offscreen platform when no display is reachable. Call before
// the Application is created; used for unattended runs started by cron.
void UseOffscreenWithoutDisplay();
// False where nobody can see or answer a modal box (no application, the
// offscreen platform): Prompts.h then only writes the text to stderr.
bool Interactive();

} // namespace ui
