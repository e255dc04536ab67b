#include "platform/AbruptEnd.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <limits.h>
#include <unistd.h>

namespace platform {
namespace {

// Fixed storage: a signal handler may not allocate, and reads a slot only
// once its text is complete (the fence orders the two).
struct Slot {
    volatile std::sig_atomic_t used = 0;
    char path[PATH_MAX] = {};
};
Slot slots[4];
volatile std::sig_atomic_t childGroup = 0;

} // namespace

void RemoveOnAbruptEnd(const std::string& path) {
    if (path.empty() || path.size() >= PATH_MAX)
        return;
    Slot* freeSlot = nullptr;
    for (Slot& slot : slots) {
        if (slot.used && path == slot.path)
            return;
        if (!slot.used && freeSlot == nullptr)
            freeSlot = &slot;
    }
    if (freeSlot == nullptr)
        return;
    std::memcpy(freeSlot->path, path.c_str(), path.size() + 1);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    freeSlot->used = 1;
}

void ForgetOnAbruptEnd(const std::string& path) {
    for (Slot& slot : slots)
        if (slot.used && path == slot.path)
            slot.used = 0;
}

void CleanUpForAbruptEnd() {
    // kill and unlink are async-signal-safe.
    if (childGroup > 0)
        ::kill(-static_cast<pid_t>(childGroup), SIGKILL);
    for (Slot& slot : slots)
        if (slot.used)
            ::unlink(slot.path);
}

void SetChildForAbruptEnd(std::intptr_t group, std::intptr_t) {
    childGroup = static_cast<std::sig_atomic_t>(group);
}

} // namespace platform
