// Lets the socket layer's notifications run on the user-interface thread:
// while the socket layer waits it processes the window events, while the
// program idles a short timer of the window delivers socket notifications,
// and "let events run" (ui::ProcessMessages) delivers them too.
#pragma once

class QTimer;

void InstallNetPump(QTimer& timer);
