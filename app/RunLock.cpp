#include "app/RunLock.h"

#include "platform/Paths.h"

bool RunLock::TryAcquire() {
    const std::string path = platform::ApplicationDir() + "roderuv.lock";
    return lock_.TryAcquire(path) != platform::LockOutcome::HeldElsewhere;
}
