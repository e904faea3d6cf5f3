#include "fs/cFS_tempGuard.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <new>
#include <unistd.h>

// One entry per file that carries a temporary name. Entries form a list that only grows
// (they are never freed, so the handler can walk it at any moment) and are used again.
// An entry's state says who may touch its path:
//   FREE      nobody; enter takes it with a compare-and-swap to FILLING
//   FILLING   the entering thread alone, which copies the path in
//   CREATING  the file is being made under that name (the path no longer changes)
//   ARMED     the file exists under that name
//   HANDLED   the signal handler took it with a compare-and-swap and removes the file
// The handler reads the path only of an entry it took, so it never sees a half-copied one,
// and an owner that finishes at the same moment finds its entry taken and leaves it.
struct cFS_tempGuard_entry {
    std::atomic<int> state{1}; // FILLING: a new entry belongs to the thread that made it
    cFS_tempGuard_entry* next = nullptr;
    char* path = nullptr;
    size_t room = 0;
};

namespace {

enum { FREE = 0, FILLING = 1, CREATING = 2, ARMED = 3, HANDLED = 4 };

std::atomic<cFS_tempGuard_entry*> head{nullptr};
// Set first thing by the handler. A creation checks it after entering its entry, the
// handler looks at the entries after setting it, both sequentially consistent: either the
// creation is called off, or the handler sees its entry.
std::atomic<int> ending{0};
static_assert(std::atomic<int>::is_always_lock_free, "the handler reads the states");
static_assert(std::atomic<cFS_tempGuard_entry*>::is_always_lock_free, "the handler walks");

// How long the handler waits for a creation under way (it may be on the handler's own
// thread, which cannot finish it): 100 times a millisecond.
constexpr int kWaitSteps = 100;

const int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGXFSZ};

void onSignal(int sig) {
    const int saved = errno;
    ending.store(1);
    for (cFS_tempGuard_entry* e = head.load(); e; e = e->next) {
        for (int i = 0; i < kWaitSteps && e->state.load() == CREATING; ++i) {
            const struct timespec step = {0, 1000000};
            nanosleep(&step, nullptr); // async-signal-safe
        }
        for (int state : {CREATING, ARMED}) {
            int expected = state;
            if (e->state.compare_exchange_strong(expected, HANDLED)) unlink(e->path);
        }
    }
    errno = saved;
    // SA_RESETHAND restored the default action: the signal, unblocked when we return, ends
    // the process.
    raise(sig);
}

// A free entry, or a new one put at the head of the list; null without memory.
cFS_tempGuard_entry* takeEntry() {
    for (cFS_tempGuard_entry* e = head.load(); e; e = e->next) {
        int expected = FREE;
        if (e->state.compare_exchange_strong(expected, FILLING)) return e;
    }
    cFS_tempGuard_entry* e = new (std::nothrow) cFS_tempGuard_entry;
    if (!e) return nullptr;
    e->next = head.load();
    while (!head.compare_exchange_weak(e->next, e)) {
    }
    return e;
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
            sigaddset(&sa.sa_mask, other); // one handler run at a time on a thread
        sa.sa_flags = SA_RESETHAND;
        sigaction(sig, &sa, nullptr);
    }
}

bool cFS_tempGuard_enter(const char* fullPath, cFS_tempGuard_entry** entry) {
    *entry = nullptr;
    if (ending.load()) {
        errno = EINTR;
        return false;
    }
    const size_t n = std::strlen(fullPath);
    cFS_tempGuard_entry* e = takeEntry();
    if (!e) {
        errno = ENOMEM;
        return false;
    }
    if (e->room < n + 1) {
        // Nobody else reads the path of an entry being filled.
        char* bigger = new (std::nothrow) char[n + 1];
        if (!bigger) {
            e->state.store(FREE);
            errno = ENOMEM;
            return false;
        }
        delete[] e->path;
        e->path = bigger;
        e->room = n + 1;
    }
    std::memcpy(e->path, fullPath, n + 1);
    e->state.store(CREATING);
    if (ending.load()) {
        int expected = CREATING;
        e->state.compare_exchange_strong(expected, FREE);
        errno = EINTR;
        return false;
    }
    *entry = e;
    return true;
}

void cFS_tempGuard_created(cFS_tempGuard_entry* entry, bool created) {
    if (!entry) return;
    int expected = CREATING;
    entry->state.compare_exchange_strong(expected, created ? ARMED : FREE);
}

void cFS_tempGuard_disarm(cFS_tempGuard_entry* entry) {
    if (!entry) return;
    int expected = ARMED;
    entry->state.compare_exchange_strong(expected, FREE);
}

size_t cFS_tempGuard_held() {
    size_t held = 0;
    for (cFS_tempGuard_entry* e = head.load(); e; e = e->next) {
        const int state = e->state.load();
        held += state == CREATING || state == ARMED;
    }
    return held;
}
