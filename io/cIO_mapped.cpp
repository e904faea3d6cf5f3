#include "io/cIO_mapped.h"

#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "io/cIO_file.h"
#include "support/log.h"

namespace {

// The mappings the fault handler may repair, as a list that only ever grows: a handler can
// take no lock and must never meet freed memory, so a guard is never freed, only cleared for
// the next mapping to take. The list is as long as the most inputs ever mapped at once,
// whatever the job count. A guard is free while its start is 0.
struct Guard {
    std::atomic<uintptr_t> start{0};
    std::atomic<uintptr_t> end{0};
    std::atomic<bool> cut{false};
    Guard* next = nullptr; // set before the guard is published, never changed after
};
constexpr uintptr_t kReserved = 1;
std::atomic<Guard*> guards{nullptr};
struct sigaction previousHandler;

// Runs on the faulting thread. A fault inside a guarded mapping means the file shrank below
// the faulting page; every later page is past the end as well, so one anonymous mapping of
// zero pages replaces the rest of the mapping and the faulting access is retried on it.
void onBusError(int signal, siginfo_t* info, void* context) {
    const uintptr_t at = reinterpret_cast<uintptr_t>(info->si_addr);
    const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    for (Guard* g = guards.load(std::memory_order_acquire); g != nullptr; g = g->next) {
        const uintptr_t start = g->start.load(std::memory_order_acquire);
        const uintptr_t end = g->end.load(std::memory_order_acquire);
        if (start <= kReserved || at < start || at >= end) continue;
        const uintptr_t from = at & ~(page - 1);
        void* zeros = mmap(reinterpret_cast<void*>(from), end - from, PROT_READ,
                           MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
        if (zeros == MAP_FAILED) break;
        g->cut.store(true, std::memory_order_release);
        return;
    }
    // Not ours: whoever handled the signal before, or the default action.
    if ((previousHandler.sa_flags & SA_SIGINFO) && previousHandler.sa_sigaction) {
        previousHandler.sa_sigaction(signal, info, context);
    } else if (previousHandler.sa_handler != SIG_DFL && previousHandler.sa_handler != SIG_IGN) {
        previousHandler.sa_handler(signal);
    } else {
        ::signal(SIGBUS, SIG_DFL);
        raise(SIGBUS); // delivered when the handler returns
    }
}

bool installHandler() {
    static std::once_flag once;
    static bool installed = false;
    std::call_once(once, [] {
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_sigaction = onBusError;
        action.sa_flags = SA_SIGINFO | SA_RESTART;
        sigemptyset(&action.sa_mask);
        installed = sigaction(SIGBUS, &action, &previousHandler) == 0;
    });
    return installed;
}

// A free guard of the list, or a new one put in front of it. It is reserved with the start 1,
// which the handler passes over, until its end is set. Null only when memory runs out.
Guard* takeGuard(const void* data, uint64_t size) {
    Guard* g = guards.load(std::memory_order_acquire);
    for (; g != nullptr; g = g->next) {
        uintptr_t expected = 0;
        if (g->start.compare_exchange_strong(expected, kReserved)) break;
    }
    if (g == nullptr) {
        g = new (std::nothrow) Guard;
        if (g == nullptr) return nullptr;
        g->start.store(kReserved, std::memory_order_relaxed);
        g->next = guards.load(std::memory_order_relaxed);
        while (!guards.compare_exchange_weak(g->next, g, std::memory_order_release,
                                             std::memory_order_relaxed)) {
        }
    }
    const uintptr_t start = reinterpret_cast<uintptr_t>(data);
    g->end.store(start + size, std::memory_order_release);
    g->cut.store(false, std::memory_order_release);
    g->start.store(start, std::memory_order_release);
    return g;
}

struct cIO_mapped {
    cIO base;
    const uint8_t* data;
    uint64_t size;
    uint64_t position;
    cIO* file;
    Guard* guard;
};

int64_t cIO_mapped_read(cIO* io, void* dst, uint64_t n) {
    cIO_mapped* m = (cIO_mapped*)io;
    if (m->position >= m->size) return 0;
    const uint64_t left = m->size - m->position;
    const uint64_t k = n < left ? n : left;
    std::memcpy(dst, m->data + m->position, (size_t)k);
    m->position += k;
    return (int64_t)k;
}

int64_t cIO_mapped_tell(cIO* io) {
    return (int64_t)((cIO_mapped*)io)->position;
}

// Any place from 0 to the end; a target outside gives -1 and keeps the position.
int64_t cIO_mapped_seek(cIO* io, int64_t offset, int32_t origin) {
    cIO_mapped* m = (cIO_mapped*)io;
    const int64_t target = cIO_seekTarget((int64_t)m->position, (int64_t)m->size, offset, origin);
    if (target < 0 || (uint64_t)target > m->size) return -1;
    m->position = (uint64_t)target;
    return target;
}

const uint8_t* cIO_mapped_fetch(cIO* io, int64_t at, uint64_t n) {
    const cIO_mapped* m = (const cIO_mapped*)io;
    if ((uint64_t)at > m->size || n > m->size - (uint64_t)at) return nullptr;
    return m->data + at;
}

// The mapping is read-only and stays until close.
bool cIO_mapped_fetchStays(cIO*) {
    return true;
}

int32_t cIO_mapped_close(cIO* io) {
    cIO_mapped* m = (cIO_mapped*)io;
    if (!m) return -1;
    const bool cut = m->guard->cut.load(std::memory_order_acquire);
    if (cut) {
        struct stat st;
        const int fd = cIO_file_descriptor(m->file);
        const long long now = fd >= 0 && fstat(fd, &st) == 0 ? (long long)st.st_size : -1;
        ZF_LOGE("The input file shrank from %llu to %lld bytes while it was being converted",
                (unsigned long long)m->size, now);
    }
    munmap(const_cast<uint8_t*>(m->data), (size_t)m->size);
    m->guard->start.store(0, std::memory_order_release);
    const int32_t rc = cIO_close(m->file);
    delete m;
    return cut ? cIO_mapped_CUT : rc;
}

const cIO_vtable kMappedTable = {cIO_mapped_read,      nullptr,          cIO_mapped_tell,
                                 cIO_mapped_seek,      cIO_mapped_close, cIO_mapped_fetch,
                                 cIO_mapped_fetchStays};

} // namespace

cIO* cIO_mapped_open(cIO* file) {
    const int fd = cIO_file_descriptor(file);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) return nullptr;
    if (!installHandler()) return nullptr;
    const uint64_t size = (uint64_t)st.st_size;
    cIO_mapped* m = new (std::nothrow) cIO_mapped{};
    if (!m) return nullptr;
    // Populated at once: setting up every page in one call costs less than a fault per page
    // during the conversion, and the pages are the cache's own, not memory of ours.
    void* data = mmap(nullptr, (size_t)size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (data == MAP_FAILED) {
        delete m;
        return nullptr;
    }
    m->guard = takeGuard(data, size);
    if (m->guard == nullptr) {
        munmap(data, (size_t)size);
        delete m;
        return nullptr;
    }
    m->base.vt = &kMappedTable;
    m->data = (const uint8_t*)data;
    m->size = size;
    m->file = file;
    ZF_LOGD("Input mapped (%llu bytes)", (unsigned long long)size);
    return &m->base;
}
