// Lets the socket layer's notifications run on the user-interface thread:
// while the socket layer waits it processes the window events, while the
// program idles a short timer of the window delivers socket notifications,
// and "let events run" (ui::ProcessMessages) delivers them too. All three
// also look for a request from the system to end the program.
#pragma once
#include <functional>

namespace ui {
class Timer;
}

void InstallNetPump(ui::Timer& timer);

// Called after the window events ran at every step of the socket layer's
// waits (empty: nothing). The main window uses it once it has been closed
// during a run, to cancel every further wait of its FTP client.
void SetNetWaitCheck(std::function<void()> check);
