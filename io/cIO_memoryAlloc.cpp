#include "io/cIO_memoryAlloc.h"

#include <cassert>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

struct cIO_memoryAlloc {
    cIO base;
    uint64_t capacity;
    uint64_t size;
    uint64_t position;
    uint8_t* data;
    cMemoryBudget* budget;
    bool sealed; // read-only from now on: the block never moves again
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
    const int64_t target = cIO_seekTarget((int64_t)m->position, (int64_t)m->size, offset, origin);
    if (target < 0 || (m->sealed && (uint64_t)target > m->size)) return -1;
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

bool cIO_memoryAlloc_fetchStays(cIO*) {
    return true;
}

const cIO_vtable kSealedTable = {cIO_memoryAlloc_read,      nullptr,
                                 cIO_memoryAlloc_tell,      cIO_memoryAlloc_seek,
                                 cIO_memoryAlloc_close,     cIO_memoryAlloc_fetch,
                                 cIO_memoryAlloc_fetchStays};

cIO_memoryAlloc* cIO_memoryAlloc_cast(cIO* io) {
    if (!io || (io->vt != &kMemoryTable && io->vt != &kSealedTable)) return nullptr;
    return (cIO_memoryAlloc*)io;
}

} // namespace

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
    assert(m != nullptr && !m->sealed);
    if (n > UINT64_MAX - m->size || !cIO_memoryAlloc_reserve(m, m->size + n)) return nullptr;
    return m->data + m->size;
}

void cIO_memoryAlloc_commit(cIO* io, uint64_t n) {
    cIO_memoryAlloc* m = cIO_memoryAlloc_cast(io);
    assert(m != nullptr && n <= m->capacity - m->size);
    m->size += n;
    m->position = m->size;
}

cIO* cIO_memoryAlloc_seal(cIO* io) {
    assert(cIO_memoryAlloc_cast(io) != nullptr);
    io->vt = &kSealedTable;
    ((cIO_memoryAlloc*)io)->sealed = true;
    return io;
}

void cIO_memoryAlloc_fit(cIO* io) {
    cIO_memoryAlloc* m = cIO_memoryAlloc_cast(io);
    assert(m != nullptr && !m->sealed);
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
