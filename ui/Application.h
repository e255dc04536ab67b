// The application object and the few application-wide services the windows
// use: the title, "let events run", the request to end, and the choice of the
// offscreen platform for unattended runs without a display.
#pragma once
#include <QApplication>
#include <functional>
#include <string>

namespace ui {

// Task-bar text and the caption of every plain message box.
inline constexpr const char* kApplicationTitle = "RODERUV";

// QApplication with the program's title. An exception that escapes the
// delivery of an event is shown by ShowException (Prompts.h) and the program
// goes on; handlers connected through the controls of Controls.h are guarded
// already, this is the last line of defence.
class Application : public QApplication {
public:
    Application(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
    // Runs the event loop until the application is asked to end.
    int Run();
};

// "Let events run": processes every event pending in the event loop
// (repaints, button presses), then returns. Also runs the extra pump
// installed with SetExtraPump. Safe to call before any window exists.
void ProcessMessages();

// Processes the pending Qt events only (without the extra pump); the socket
// layer's own waits use this as their "let events run" step.
void ProcessQtEvents();

// A function called by ProcessMessages after the Qt events, so that code
// outside Qt (the socket layer) gets its notifications dispatched while the
// user-interface thread waits. Empty removes it.
void SetExtraPump(std::function<void()> pump);

// Asks the application to end. The request takes effect when control returns
// to the main event loop (also when made before the loop has started), so
// the caller finishes its work first. Several requests end it once.
void Terminate();
// Number of Terminate calls since start or the last reset (tests look at it).
int TerminateCount();
void ResetTerminateCount();

// True when DISPLAY or WAYLAND_DISPLAY is set to a non-empty value.
bool DisplayReachable();
// Sets QT_QPA_PLATFORM=offscreen when no display is reachable. Call before
// the Application is created; used for unattended runs started by cron.
void UseOffscreenWithoutDisplay();
// False on the offscreen and minimal platforms, where nobody can see or
// answer a modal box (Prompts.h then only writes the text to stderr).
bool Interactive();

} // namespace ui
