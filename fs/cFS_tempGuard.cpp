#include "fs/cFS_tempGuard.h"

#include <atomic>
#include <climits>
#include <csignal>
#include <cstring>
#include <unistd.h>

namespace {

// One slot per file being written under a temporary name; a run writes at most one per job.
// A slot's state says who may touch its path: free (0) slots are taken by a writer with a
// compare-and-swap, the writer copies the path in (1), and only then arms it (2); the handler
// reads only armed slots, so it never sees a half-copied path.
constexpr int kSlots = 64;
struct Slot {
    std::atomic<int> state{0};
    char path[PATH_MAX];
};
Slot slots[kSlots];
enum { FREE = 0, WRITING = 1, ARMED = 2 };
static_assert(std::atomic<int>::is_always_lock_free, "the handler reads the states");

const int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

void onSignal(int sig) {
    for (Slot& s : slots)
        if (s.state.load() == ARMED) unlink(s.path); // async-signal-safe
    // SA_RESETHAND restored the default action: the signal, unblocked when we return, ends
    // the process.
    raise(sig);
}

} // namespace

void cFS_tempGuard_install() {
    for (int sig : kSignals) {
        struct sigaction old {};
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        struct sigaction sa {};
        sa.sa_handler = onSignal;
        sigemptyset(&sa.sa_mask);
        for (int other : kSignals)
            sigaddset(&sa.sa_mask, other); // one handler run at a time
        sa.sa_flags = SA_RESETHAND;
        sigaction(sig, &sa, nullptr);
    }
}

void cFS_tempGuard_arm(const char* fullPath) {
    const size_t n = std::strlen(fullPath);
    if (n >= PATH_MAX) return;
    for (Slot& s : slots) {
        int expected = FREE;
        if (!s.state.compare_exchange_strong(expected, WRITING)) continue;
        std::memcpy(s.path, fullPath, n + 1);
        s.state.store(ARMED);
        return;
    }
}

void cFS_tempGuard_disarm(const char* fullPath) {
    for (Slot& s : slots) {
        int expected = ARMED;
        if (s.state.load() != ARMED || std::strcmp(s.path, fullPath) != 0) continue;
        if (s.state.compare_exchange_strong(expected, WRITING)) s.state.store(FREE);
        return;
    }
}
