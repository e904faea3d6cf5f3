#include "io/cIO_scoped.h"

#include <cstdint>
#include <new>

namespace {

struct cIO_scoped {
    cIO base;
    cIO* inner;
    int64_t start;
    int64_t end; // <= 0: no end
};

// How many of n bytes the window lets through at the inner stream's position: none when
// the inner stream sits outside the window (an inner seek to start that fell short must
// not expose bytes before the window), else n cut at the end. -1 when tell fails.
int64_t cIO_scoped_limit(cIO_scoped* s, uint64_t n, uint64_t* allowed) {
    int64_t pos = cIO_tell(s->inner);
    if (pos < 0) {
        if (s->end > 0) return -1;
        *allowed = n; // no end: nothing to cut, pass the call on as it is
        return 0;
    }
    if (pos < s->start || (s->end > 0 && pos >= s->end)) {
        *allowed = 0;
        return 0;
    }
    *allowed = n;
    if (s->end > 0 && (uint64_t)(s->end - pos) < n) *allowed = (uint64_t)(s->end - pos);
    return 0;
}

int64_t cIO_scoped_read(cIO* io, void* dst, uint64_t n) {
    cIO_scoped* s = (cIO_scoped*)io;
    uint64_t allowed;
    if (cIO_scoped_limit(s, n, &allowed) < 0) return -1;
    if (allowed == 0) return 0;
    return cIO_read(s->inner, dst, allowed);
}

int64_t cIO_scoped_write(cIO* io, const void* src, uint64_t n) {
    cIO_scoped* s = (cIO_scoped*)io;
    uint64_t allowed;
    if (cIO_scoped_limit(s, n, &allowed) < 0) return -1;
    if (allowed == 0) return 0;
    return cIO_write(s->inner, src, allowed);
}

int64_t cIO_scoped_tell(cIO* io) {
    cIO_scoped* s = (cIO_scoped*)io;
    if (!s->inner) return -1;
    int64_t pos = cIO_tell(s->inner);
    if (pos < 0) return -1;
    if (s->end > 0 && pos > s->end) return -1;
    return pos - s->start;
}

int64_t cIO_scoped_seek(cIO* io, int64_t offset, int32_t origin) {
    cIO_scoped* s = (cIO_scoped*)io;
    if (!s->inner) return -1;
    int64_t from;
    switch (origin) {
    case cIO_SEEK_SET:
        from = s->start;
        break;
    case cIO_SEEK_CUR:
        from = cIO_tell(s->inner);
        if (from < 0) return -1;
        break;
    case cIO_SEEK_END:
        from = s->end > 0 ? s->end : cIO_getSize(s->inner);
        if (from < 0) return -1;
        break;
    default:
        return -1;
    }
    int64_t target;
    if (__builtin_add_overflow(from, offset, &target)) target = offset < 0 ? INT64_MIN : INT64_MAX;
    if (s->end > 0 && target > s->end) target = s->end;
    if (target < s->start) target = s->start;
    if (target < 0) return -1;
    if (cIO_seek(s->inner, target, cIO_SEEK_SET) != target) return -1;
    return target - s->start;
}

int32_t cIO_scoped_close(cIO* io) {
    delete (cIO_scoped*)io;
    return 0;
}

const uint8_t* cIO_scoped_fetch(cIO* io, int64_t at, uint64_t n) {
    const cIO_scoped* s = (const cIO_scoped*)io;
    int64_t from;
    if (__builtin_add_overflow(s->start, at, &from)) return nullptr;
    if (s->end > 0 && (from > s->end || n > uint64_t(s->end - from))) return nullptr;
    return cIO_fetch(s->inner, from, n);
}

bool cIO_scoped_fetchStays(cIO* io) {
    return cIO_fetchStays(((const cIO_scoped*)io)->inner);
}

const cIO_vtable kScopedTable = {cIO_scoped_read,      cIO_scoped_write, cIO_scoped_tell,
                                 cIO_scoped_seek,      cIO_scoped_close, cIO_scoped_fetch,
                                 cIO_scoped_fetchStays};

} // namespace

cIO* cIO_scoped_ctor(cIO* inner, int64_t start, int64_t end) {
    if (!inner) return nullptr;
    cIO_scoped* s = new (std::nothrow) cIO_scoped;
    if (!s) return nullptr;
    s->base.vt = &kScopedTable;
    s->inner = inner;
    s->start = start;
    s->end = end;
    // One that falls short leaves the inner stream outside the window, where reads and
    // writes deliver nothing until a seek of the window's own lands.
    (void)cIO_seek(inner, start, cIO_SEEK_SET);
    return &s->base;
}
