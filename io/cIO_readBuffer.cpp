#include "io/cIO_readBuffer.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <sys/mman.h>

namespace {

// A large buffer is filled once from end to end: in 2 MiB pages that costs a few faults per
// 2 MiB instead of one per 4 KiB. Advice only, on the whole huge pages inside the block:
// where the system declines, the memory works as before.
void adviseHugePages(void* start, size_t size) {
    constexpr uintptr_t kHuge = uintptr_t{2} << 20;
    if (size < 2 * kHuge) return;
    const uintptr_t from = ((uintptr_t)start + kHuge - 1) & ~(kHuge - 1);
    const uintptr_t to = ((uintptr_t)start + size) & ~(kHuge - 1);
    if (to > from) madvise((void*)from, to - from, MADV_HUGEPAGE);
}

struct cIO_buffer {
    cIO base;
    uint64_t capacity;
    uint64_t filled;
    uint64_t cursor;
    int64_t windowStart;
    uint64_t reach;
    uint8_t* buffer;
    cIO* inner;
    uint8_t ownsInner;
};

// What a refill after a jump reads, unless more is asked for: one page.
constexpr uint64_t kJumpReach = 4096;

// The bytes a refill at `at` reads, for a caller that wants `asked` of them. The reach
// starts at the capacity, so that the first refill fills the buffer (one as large as the
// file then holds all of it). A refill anywhere but where the buffer ended (a jump) reads
// one page, and each refill that goes on from there, or into an empty buffer, twice as much
// as the last, up to the capacity. Readers that take turns between places in the file, as
// the data groups' record readers do, would otherwise pay the whole capacity for every
// small read: a large buffer made a conversion many times slower instead of faster.
uint64_t cIO_buffer_reach(cIO_buffer* b, int64_t at, uint64_t asked) {
    const bool goesOn = b->filled == 0 || at == b->windowStart + (int64_t)b->filled;
    if (!goesOn)
        b->reach = kJumpReach;
    else if (b->reach <= b->capacity / 2)
        b->reach *= 2;
    else
        b->reach = b->capacity;
    const uint64_t size = b->reach > asked ? b->reach : asked;
    return size < b->capacity ? size : b->capacity;
}

// Loads the buffer from inner position `at`, with at least `asked` bytes when the capacity
// and the stream allow. On failure the buffer is emptied (its bytes may have been
// overwritten by the failed read) but the position stays where it was.
bool cIO_buffer_refill(cIO_buffer* b, int64_t at, uint64_t asked) {
    const uint64_t size = cIO_buffer_reach(b, at, asked);
    if (cIO_seek(b->inner, at, cIO_SEEK_SET) == at) {
        int64_t got = cIO_read(b->inner, b->buffer, size);
        if (got > 0) {
            b->filled = (uint64_t)got < size ? (uint64_t)got : size;
            b->cursor = 0;
            b->windowStart = at;
            return true;
        }
    }
    b->windowStart += (int64_t)b->cursor;
    b->filled = 0;
    b->cursor = 0;
    return false;
}

int64_t cIO_buffer_readSlow(cIO_buffer* b, uint8_t* dst, uint64_t n) {
    uint64_t done = 0;
    while (done < n) {
        if (b->cursor == b->filled &&
            !cIO_buffer_refill(b, b->windowStart + (int64_t)b->cursor, n - done))
            break;
        uint64_t avail = b->filled - b->cursor;
        uint64_t want = n - done;
        uint64_t k = avail < want ? avail : want;
        memcpy(dst + done, b->buffer + b->cursor, (size_t)k);
        b->cursor += k;
        done += k;
    }
    return (int64_t)done;
}

int64_t cIO_buffer_read(cIO* io, void* dst, uint64_t n) {
    cIO_buffer* b = (cIO_buffer*)io;
    // Hot path: the MDF reader's small reads are served from memory.
    if (n <= b->filled - b->cursor) {
        memcpy(dst, b->buffer + b->cursor, (size_t)n);
        b->cursor += n;
        return (int64_t)n;
    }
    if (n > (uint64_t)INT64_MAX) n = (uint64_t)INT64_MAX;
    return cIO_buffer_readSlow(b, (uint8_t*)dst, n);
}

int64_t cIO_buffer_tell(cIO* io) {
    cIO_buffer* b = (cIO_buffer*)io;
    return b->windowStart + (int64_t)b->cursor;
}

int64_t cIO_buffer_seek(cIO* io, int64_t offset, int32_t origin) {
    cIO_buffer* b = (cIO_buffer*)io;
    int64_t target;
    switch (origin) {
    case cIO_SEEK_SET:
        target = offset;
        break;
    case cIO_SEEK_CUR:
        if (__builtin_add_overflow(b->windowStart + (int64_t)b->cursor, offset, &target)) return -1;
        break;
    case cIO_SEEK_END:
        if (cIO_seek(b->inner, offset, cIO_SEEK_END) < 0) return -1;
        target = cIO_tell(b->inner);
        break;
    default:
        return -1;
    }
    if (target < 0) return -1;
    // Anywhere inside the buffered range, its end included, costs no inner call.
    if (target >= b->windowStart && (uint64_t)(target - b->windowStart) <= b->filled) {
        b->cursor = (uint64_t)(target - b->windowStart);
        return target;
    }
    if (cIO_buffer_refill(b, target, 0)) return target;
    // The very end of the inner data is a valid place to stand although a refill there
    // reads nothing; without this, a size taken by seeking to the end would come out as
    // the current position.
    if (target == cIO_getSize(b->inner)) {
        b->windowStart = target;
        return target;
    }
    return b->windowStart + (int64_t)b->cursor;
}

int32_t cIO_buffer_close(cIO* io) {
    cIO_buffer* b = (cIO_buffer*)io;
    if (!b) return -1;
    int32_t rc = 0;
    if (b->inner && b->ownsInner) rc = cIO_close(b->inner);
    // The inner stream is gone whatever its close reported (the file stream releases
    // itself), so this layer goes too rather than keep a dangling inner pointer.
    free(b);
    return rc;
}

// The bytes the buffer holds now, those a read there would deliver; nothing is read.
const uint8_t* cIO_buffer_fetch(cIO* io, int64_t at, uint64_t n) {
    const cIO_buffer* b = (const cIO_buffer*)io;
    if (at < b->windowStart) return nullptr;
    const uint64_t offset = (uint64_t)(at - b->windowStart);
    if (offset > b->filled || n > b->filled - offset) return nullptr;
    return b->buffer + offset;
}

const cIO_vtable kBufferTable = {cIO_buffer_read, nullptr,          cIO_buffer_tell,
                                 cIO_buffer_seek, cIO_buffer_close, cIO_buffer_fetch};

void cIO_buffer_setup(cIO_buffer* b, cIO* inner, bool ownsInner, uint8_t* buffer,
                      uint64_t capacity) {
    b->base.vt = &kBufferTable;
    b->capacity = capacity;
    b->filled = 0;
    b->cursor = 0;
    b->windowStart = 0;
    b->reach = capacity;
    b->buffer = buffer;
    b->inner = inner;
    b->ownsInner = ownsInner ? 1 : 0;
}

} // namespace

cIO* cIO_bufferAlloc_ctor(cIO* inner, bool ownsInner, size_t size) {
    if (size > SIZE_MAX - 7 - sizeof(cIO_buffer)) return nullptr;
    size_t capacity = (size + 7) & ~(size_t)7;
    cIO_buffer* b = (cIO_buffer*)calloc(1, sizeof(cIO_buffer) + capacity);
    if (!b) return nullptr;
    adviseHugePages(b + 1, capacity);
    cIO_buffer_setup(b, inner, ownsInner, (uint8_t*)(b + 1), capacity);
    return &b->base;
}
