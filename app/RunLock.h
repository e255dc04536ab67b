// One send run at a time per application folder: a run holds a lock on
// "roderuv.lock" beside the program, so a scheduled run that starts while
// another hangs leaves the same data files, Settings.ini and temporary names
// alone. Only the run holds it, not the open window: a window left open on a
// desk never blocks the night's unattended run.
#pragma once
#include "platform/RunLock.h"

#include <string>

// Journal line of a run that found another one going.
inline constexpr const char* kRunInProgressJournal =
    "Odesílání zrušeno - jiné odesílání dat ještě probíhá.";
// What the operator is told instead.
inline constexpr const char* kRunInProgressMessage =
    "Jiná spuštěná kopie programu právě odesílá data. \n\nOdeslání zopakujte prosím po jejím "
    "skončení.";

class RunLock {
public:
    // Acquired, HeldElsewhere, or why the lock cannot be had. Only a lock
    // this run holds lets it start: without one, two runs could overlap.
    platform::LockOutcome TryAcquire();

    // The lock file's path.
    static std::string Path();
    // Journal line and the operator's message of a run that could not take
    // the lock for a reason other than another run.
    static std::string RefusedJournal(platform::LockOutcome outcome);
    static std::string RefusedMessage(platform::LockOutcome outcome);

private:
    platform::FileLock lock_;
};
