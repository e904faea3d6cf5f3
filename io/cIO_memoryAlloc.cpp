#include "io/cIO_memoryAlloc.h"

#include <atomic>
#include <cassert>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>

#include <sys/mman.h>
#include <unistd.h>

namespace {

uintptr_t pageSize() {
    return static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
}

// [from, to) cut inward to whole units of `unit` bytes (a power of two): advice on memory
// works on whole pages, and only the pages wholly inside a block are the block's own.
struct Span {
    uintptr_t from, to;
};
Span within(uintptr_t from, uintptr_t to, uintptr_t unit) {
    return {(from + unit - 1) & ~(unit - 1), to & ~(unit - 1)};
}

struct cIO_memoryAlloc {
    cIO base;
    uint64_t capacity;
    uint64_t size;
    uint64_t position;
    uint8_t* data;
    cMemoryBudget* budget;
};

// A block from the budget: the first exactly as large as asked for (unwrapped content is
// mostly written in one piece of known size, or into room reserved for it), then doubled as
// far as the budget allows.
bool reserveInBudget(cIO_memoryAlloc* m, uint64_t needed) {
    if (!m->data) {
        m->data = cMemoryBudget_take(m->budget, needed);
        if (m->data) m->capacity = needed;
        return m->data != nullptr;
    }
    const uint64_t doubled = m->capacity > UINT64_MAX / 2 ? UINT64_MAX : m->capacity * 2;
    uint8_t* grown = cMemoryBudget_resize(m->budget, m->data, &m->capacity,
                                          doubled > needed ? doubled : needed, needed);
    if (!grown) return false;
    m->data = grown;
    return true;
}

// Grows the block until it holds `needed` bytes, doubling. On failure nothing changes.
bool cIO_memoryAlloc_reserve(cIO_memoryAlloc* m, uint64_t needed) {
    if (needed <= m->capacity) return true;
    if (m->budget) return reserveInBudget(m, needed);
    uint64_t cap = m->capacity ? m->capacity : 2;
    while (cap < needed) {
        if (cap > UINT64_MAX / 2) return false;
        cap *= 2;
    }
    if (cap > SIZE_MAX) return false;
    uint8_t* grown = (uint8_t*)realloc(m->data, (size_t)cap);
    if (!grown) return false;
    m->data = grown;
    m->capacity = cap;
    return true;
}

// Bytes between the valid end and a later position were never written; they read as zeros.
void cIO_memoryAlloc_fillGap(cIO_memoryAlloc* m) {
    if (m->position > m->size) {
        memset(m->data + m->size, 0, (size_t)(m->position - m->size));
        m->size = m->position;
    }
}

int64_t cIO_memoryAlloc_write(cIO* io, const void* src, uint64_t n) {
    cIO_memoryAlloc* m = (cIO_memoryAlloc*)io;
    if (n == 0) return 0;
    if (!src || n > (uint64_t)INT64_MAX || n > UINT64_MAX - m->position) return -1;
    if (!cIO_memoryAlloc_reserve(m, m->position + n)) return -1;
    cIO_memoryAlloc_fillGap(m);
    memcpy(m->data + m->position, src, (size_t)n);
    m->position += n;
    if (m->position > m->size) m->size = m->position;
    return (int64_t)n;
}

int64_t cIO_memoryAlloc_read(cIO* io, void* dst, uint64_t n) {
    cIO_memoryAlloc* m = (cIO_memoryAlloc*)io;
    if (m->position >= m->size) return 0;
    uint64_t avail = m->size - m->position;
    uint64_t k = n < avail ? n : avail;
    if (k > (uint64_t)INT64_MAX) k = (uint64_t)INT64_MAX;
    if (k == 0) return 0;
    memcpy(dst, m->data + m->position, (size_t)k);
    m->position += k;
    return (int64_t)k;
}

int64_t cIO_memoryAlloc_tell(cIO* io) {
    cIO_memoryAlloc* m = (cIO_memoryAlloc*)io;
    return (int64_t)m->position;
}

int64_t cIO_memoryAlloc_seek(cIO* io, int64_t offset, int32_t origin) {
    cIO_memoryAlloc* m = (cIO_memoryAlloc*)io;
    int64_t from;
    switch (origin) {
    case cIO_SEEK_SET:
        from = 0;
        break;
    case cIO_SEEK_CUR:
        from = (int64_t)m->position;
        break;
    case cIO_SEEK_END:
        from = (int64_t)m->size;
        break;
    default:
        return -1;
    }
    int64_t target;
    if (__builtin_add_overflow(from, offset, &target) || target < 0) return -1;
    if (origin == cIO_SEEK_END && (uint64_t)target > m->size) {
        // Seeking past the end from the end extends the stream with zeros.
        if (!cIO_memoryAlloc_reserve(m, (uint64_t)target)) return -1;
        memset(m->data + m->size, 0, (size_t)((uint64_t)target - m->size));
        m->size = (uint64_t)target;
    }
    if ((uint64_t)target > m->capacity) return -1;
    m->position = (uint64_t)target;
    return target;
}

int32_t cIO_memoryAlloc_close(cIO* io) {
    cIO_memoryAlloc* m = (cIO_memoryAlloc*)io;
    if (!m) return -1;
    if (m->budget)
        cMemoryBudget_give(m->budget, m->data, m->capacity);
    else
        free(m->data);
    free(m);
    return 0;
}

const uint8_t* cIO_memoryAlloc_fetch(cIO* io, int64_t at, uint64_t n) {
    cIO_memoryAlloc* m = (cIO_memoryAlloc*)io;
    if ((uint64_t)at > m->size || n > m->size - (uint64_t)at) return nullptr;
    return m->data ? m->data + at : nullptr;
}

const cIO_vtable kMemoryTable = {cIO_memoryAlloc_read,  cIO_memoryAlloc_write,
                                 cIO_memoryAlloc_tell,  cIO_memoryAlloc_seek,
                                 cIO_memoryAlloc_close, cIO_memoryAlloc_fetch};

cIO_memoryAlloc* cIO_memoryAlloc_cast(cIO* io) {
    if (!io || io->vt != &kMemoryTable) return nullptr;
    return (cIO_memoryAlloc*)io;
}

} // namespace

void cIO_memoryAlloc_adviseHugePages(void* start, size_t size) {
    constexpr uintptr_t kHuge = uintptr_t{2} << 20;
    if (size < 2 * kHuge) return;
    const Span huge = within((uintptr_t)start, (uintptr_t)start + size, kHuge);
    if (huge.to > huge.from) madvise((void*)huge.from, huge.to - huge.from, MADV_HUGEPAGE);
}

struct cIO_memoryAlloc_prefault {
    std::thread thread;
    std::atomic<bool> stop{false};
    std::atomic<size_t> filled{0}; // of a block filled ahead: the producer's mark
};

namespace {

constexpr uintptr_t kPrefaultPiece = uintptr_t{4} << 20;
constexpr size_t kPrefaultAtLeast = size_t{32} << 20;

// Whole pieces on 4 MiB boundaries, from the last to the first, so that the huge pages of the
// block are never split between two calls.
void prefaultBackwards(cIO_memoryAlloc_prefault* p, uintptr_t from, uintptr_t to) {
    const uintptr_t first = from & ~(kPrefaultPiece - 1);
    for (uintptr_t piece = (to - 1) & ~(kPrefaultPiece - 1);
         piece >= first && !p->stop.load(std::memory_order_relaxed); piece -= kPrefaultPiece) {
        const uintptr_t a = piece < from ? from : piece;
        const uintptr_t b = piece + kPrefaultPiece > to ? to : piece + kPrefaultPiece;
        if (madvise(reinterpret_cast<void*>(a), b - a, MADV_POPULATE_WRITE) != 0) return;
        if (piece == 0) return;
    }
}

// At most kPrefaultLead bytes past the producer's mark, so that no more than that is ever
// backed by memory and not (yet) written; the thread waits for the producer meanwhile.
constexpr size_t kPrefaultLead = size_t{32} << 20;

void prefaultAhead(cIO_memoryAlloc_prefault* p, uintptr_t base, uintptr_t from, uintptr_t to,
                   uintptr_t page) {
    uintptr_t at = from;
    while (at < to && !p->stop.load(std::memory_order_relaxed)) {
        uintptr_t limit = base + p->filled.load(std::memory_order_relaxed) + kPrefaultLead;
        limit = (limit < to ? limit : to) & ~(page - 1);
        if (at >= limit) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            continue;
        }
        const uintptr_t next = (at & ~(kPrefaultPiece - 1)) + kPrefaultPiece;
        const uintptr_t b = next < limit ? next : limit;
        if (madvise(reinterpret_cast<void*>(at), b - at, MADV_POPULATE_WRITE) != 0) return;
        at = b;
    }
}

// The pages wholly inside the block, and a thread that sets them up. A whole block that gets
// no thread (a small one, or none to be had) is set up at once by the caller's thread.
cIO_memoryAlloc_prefault* startPrefault(void* start, size_t size, bool ahead) {
    const uintptr_t page = pageSize();
    const uintptr_t base = reinterpret_cast<uintptr_t>(start);
    const auto [from, to] = within(base, base + size, page);
    auto* p = size < kPrefaultAtLeast ? nullptr : new (std::nothrow) cIO_memoryAlloc_prefault;
    if (p) {
        try {
            p->thread = ahead ? std::thread(prefaultAhead, p, base, from, to, page)
                              : std::thread(prefaultBackwards, p, from, to);
            return p;
        } catch (const std::system_error&) {
            delete p;
        }
    }
    if (!ahead && to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
    return nullptr;
}

} // namespace

cIO_memoryAlloc_prefault* cIO_memoryAlloc_prefaultAhead(void* start, size_t size) {
    return startPrefault(start, size, true);
}

void cIO_memoryAlloc_prefaultMark(cIO_memoryAlloc_prefault* prefault, size_t filled) {
    if (prefault) prefault->filled.store(filled, std::memory_order_relaxed);
}

cIO_memoryAlloc_prefault* cIO_memoryAlloc_prefaultStart(void* start, size_t size) {
    return startPrefault(start, size, false);
}

void cIO_memoryAlloc_prefaultEnd(cIO_memoryAlloc_prefault* prefault) {
    if (!prefault) return;
    prefault->stop.store(true, std::memory_order_relaxed);
    prefault->thread.join();
    delete prefault;
}

cIO* cIO_memoryAlloc_ctor() {
    return cIO_memoryAlloc_ctorIn(nullptr);
}

cIO* cIO_memoryAlloc_ctorIn(cMemoryBudget* budget) {
    cIO_memoryAlloc* m = (cIO_memoryAlloc*)calloc(1, sizeof(cIO_memoryAlloc));
    if (!m) return nullptr;
    m->base.vt = &kMemoryTable;
    m->budget = budget;
    return &m->base;
}

const uint8_t* cIO_memoryAlloc_data(cIO* io) {
    cIO_memoryAlloc* m = cIO_memoryAlloc_cast(io);
    return m && m->size ? m->data : nullptr;
}

uint64_t cIO_memoryAlloc_size(cIO* io) {
    cIO_memoryAlloc* m = cIO_memoryAlloc_cast(io);
    return m ? m->size : 0;
}

uint64_t cIO_memoryAlloc_capacity(cIO* io) {
    cIO_memoryAlloc* m = cIO_memoryAlloc_cast(io);
    return m ? m->capacity : 0;
}

uint8_t* cIO_memoryAlloc_spare(cIO* io, uint64_t n) {
    cIO_memoryAlloc* m = cIO_memoryAlloc_cast(io);
    assert(m != nullptr);
    if (n > UINT64_MAX - m->size || !cIO_memoryAlloc_reserve(m, m->size + n)) return nullptr;
    return m->data + m->size;
}

void cIO_memoryAlloc_commit(cIO* io, uint64_t n) {
    cIO_memoryAlloc* m = cIO_memoryAlloc_cast(io);
    assert(m != nullptr && n <= m->capacity - m->size);
    m->size += n;
    m->position = m->size;
}

void cIO_memoryAlloc_fit(cIO* io) {
    cIO_memoryAlloc* m = cIO_memoryAlloc_cast(io);
    assert(m != nullptr);
    if (m->size == 0 || m->size == m->capacity) return;
    uint8_t* fitted = nullptr;
    if (m->budget) {
        fitted = cMemoryBudget_resize(m->budget, m->data, &m->capacity, m->size, m->size);
    } else if ((fitted = (uint8_t*)realloc(m->data, (size_t)m->size))) {
        m->capacity = m->size;
    }
    if (fitted) m->data = fitted;
    if (m->position > m->capacity) m->position = m->size;
}
