// One send run at a time per application folder: a run holds a lock on
// "roderuv.lock" beside the program, so a scheduled run that starts while
// another hangs leaves the same data files, Settings.ini and temporary names
// alone. Only the run holds it, not the open window: a window left open on a
// desk never blocks the night's unattended run.
#pragma once
#include "platform/RunLock.h"

// Journal line of a run that found another one going.
inline constexpr const char* kRunInProgressJournal =
    "Odesílání zrušeno - jiné odesílání dat ještě probíhá.";
// What the operator is told instead.
inline constexpr const char* kRunInProgressMessage =
    "Jiná spuštěná kopie programu právě odesílá data. \n\nOdeslání zopakujte prosím po jejím "
    "skončení.";

class RunLock {
public:
    // False only when another run holds the lock. A lock file that cannot be
    // made at all (a read-only folder) does not stop the run: such a run
    // cannot save its list in that folder either, and fails there.
    bool TryAcquire();

private:
    platform::FileLock lock_;
};
