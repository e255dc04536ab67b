// Requests from the system to end the program: SIGTERM and SIGINT here (a
// console control event or the end of the session on Windows). Once caught,
// a request no longer kills the process on the spot; it is only noted, and
// the program polls for it and ends in its own way.
#pragma once

namespace platform {

// Catches the requests from now on. A second signal ends the process the
// system's way, should the first not be acted on yet, after the clean-up for
// an abrupt end (AbruptEnd.h); so does the end of the Windows session or
// console after a few seconds.
void CatchTerminationRequests();

// True once a request has come. Cheap: meant to be polled often.
bool TerminationRequested();

// Notes a request that reached the program another way (Windows tells a
// window that the session ends; its window was closed during a run).
void NoteTerminationRequest();

// Forgets a noted request: for tests, which run many windows in one process.
void ForgetTerminationRequest();

} // namespace platform
