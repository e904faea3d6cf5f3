#include "fs/cFS_tempGuard.h"

#include <atomic>
#include <climits>
#include <csignal>
#include <cstring>
#include <ctime>
#include <unistd.h>

namespace {

// One slot per file being written under a temporary name. A slot's state says who may touch
// its path: a free slot is taken with a compare-and-swap (FILLING) and its path copied in;
// then the file is being created (CREATING), then it exists (ARMED). The handler reads the
// paths of CREATING and ARMED slots only, so it never sees a half-copied one.
constexpr int kSlots = 64;
enum { FREE = 0, FILLING = 1, CREATING = 2, ARMED = 3 };
struct Slot {
    std::atomic<int> state{FREE};
    char path[PATH_MAX];
};
Slot slots[kSlots];
// Set first thing by the handler. A creation checks it after entering its slot, the handler
// looks at the slots after setting it, both sequentially consistent: either the creation is
// called off, or the handler sees its slot.
std::atomic<int> ending{0};
static_assert(std::atomic<int>::is_always_lock_free, "the handler reads the states");

// How long the handler waits for a creation under way (it may be on the handler's own
// thread, which cannot finish it): 100 times a millisecond.
constexpr int kWaitSteps = 100;

const int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

void onSignal(int sig) {
    ending.store(1);
    for (Slot& s : slots) {
        for (int i = 0; i < kWaitSteps && s.state.load() == CREATING; ++i) {
            const struct timespec step = {0, 1000000};
            nanosleep(&step, nullptr); // async-signal-safe
        }
        const int state = s.state.load();
        if (state == CREATING || state == ARMED) unlink(s.path); // async-signal-safe
    }
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

bool cFS_tempGuard_enter(const char* fullPath, int* ticket) {
    *ticket = -1;
    if (ending.load()) return false;
    const size_t n = std::strlen(fullPath);
    if (n >= PATH_MAX) return true;
    for (int i = 0; i < kSlots; ++i) {
        Slot& s = slots[i];
        int expected = FREE;
        if (!s.state.compare_exchange_strong(expected, FILLING)) continue;
        std::memcpy(s.path, fullPath, n + 1);
        s.state.store(CREATING);
        if (ending.load()) {
            s.state.store(FREE);
            return false;
        }
        *ticket = i;
        return true;
    }
    return true;
}

void cFS_tempGuard_created(int ticket, bool created) {
    if (ticket < 0 || ticket >= kSlots) return;
    slots[ticket].state.store(created ? ARMED : FREE);
}

void cFS_tempGuard_disarm(const char* fullPath) {
    for (Slot& s : slots) {
        int expected = ARMED;
        if (s.state.load() != ARMED || std::strcmp(s.path, fullPath) != 0) continue;
        if (s.state.compare_exchange_strong(expected, FILLING)) s.state.store(FREE);
        return;
    }
}
