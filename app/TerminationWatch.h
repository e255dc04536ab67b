// Ends the program cleanly when the system asks it to (a service manager
// stopping it, an administrator's kill, Ctrl+C): outside a run the program
// just ends; during a run it ends as when the operator closes the window,
// its waits cancelled and the data files left untouched, and the journal
// says why.
#pragma once

class TForm1;

// Journal line of a run stopped on request.
inline constexpr const char* kRunStoppedJournal =
    "Odesílání přerušeno - systém požádal o ukončení programu.";

// The window whose run a request stops (null: none).
void SetTerminationTarget(TForm1* form);

// Called from the event pump: acts on a request that has come.
void PollTerminationRequest();
