#include "fs/cFS_tempGuard.h"

#include <atomic>
#include <climits>
#include <csignal>
#include <cstring>
#include <unistd.h>

namespace {

// Written only with the guard disarmed, read by the handler only while armed: the handler
// never sees a half-copied path.
char guardedPath[PATH_MAX];
volatile std::sig_atomic_t armed = 0;

const int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

void onSignal(int sig) {
    if (armed) unlink(guardedPath); // async-signal-safe
    armed = 0;
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
    armed = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    const size_t n = std::strlen(fullPath);
    if (n >= sizeof(guardedPath)) return;
    std::memcpy(guardedPath, fullPath, n + 1);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    armed = 1;
}

void cFS_tempGuard_disarm(const char* fullPath) {
    if (armed && std::strcmp(guardedPath, fullPath) == 0) armed = 0;
}
