// Ends the program cleanly when it is asked to: by the system (a service
// manager stopping it, an administrator's kill, Ctrl+C, the end of the
// Windows session) or by closing its window. Outside a run the program just
// ends; during a run the waits are cancelled, the data files are left
// untouched, no box is shown, and the journal says why.
#pragma once

class TForm1;

// Journal line of a run stopped on request.
inline constexpr const char* kRunStoppedJournal =
    "Odesílání přerušeno - systém požádal o ukončení programu.";

// The window whose run a request stops (null: none).
void SetTerminationTarget(TForm1* form);

// Called from the event pump: acts on a request that has come.
void PollTerminationRequest();

// A request that reached the program through its window (the close box,
// Alt+F4 and taskkill's WM_CLOSE, which cannot be told apart, or the end of
// the session): noted as the system's request and acted on at once.
void RequestTermination();

// True once a run was stopped on request: what fails in it afterwards is the
// stop's doing and is neither shown nor journalled.
bool RunStoppedOnRequest();

// Forgets every request and stopped run: for tests, which run many windows
// in one process.
void ForgetTerminationRequests();
