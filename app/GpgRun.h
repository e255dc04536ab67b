// gpg.exe from the application folder, run for the send run and for its
// GnuPG check: the window stays alive while gpg runs, gpg is ended when the
// run is stopped or when it outruns the time-out, and what it said on its
// error output comes back as journal lines.
#pragma once
#include <string>
#include <vector>

struct GpgRun {
    bool started = false;   // false: gpg.exe could not be started at all
    bool succeeded = false; // it ended by itself with exit status 0
    bool stopped = false;   // ended because the run was stopped
    // For the journal when it did not succeed: why it was ended, and the
    // last lines of its error output (its own words: the reason it failed).
    std::vector<std::string> reason;
};

// The application folder's gpg.exe.
std::string GpgProgramPath();

// Runs gpg.exe with args and waits for its end, letting events run.
GpgRun RunGpg(const std::vector<std::string>& args);

// The last lines of a program's error output (UTF-8) as journal lines: at
// most a few hundred bytes, empty lines left out, control characters made
// visible, each line marked as GnuPG's.
std::vector<std::string> GpgReasonLines(const std::string& errorOutput);
