#include "io/cIO.h"

#include <cstdint>

int64_t cIO_read(cIO* io, void* dst, uint64_t n) {
    if (!io->vt->read) return cIO_UNSUPPORTED;
    return io->vt->read(io, dst, n);
}

int64_t cIO_write(cIO* io, const void* src, uint64_t n) {
    if (!io->vt->write) return cIO_UNSUPPORTED;
    return io->vt->write(io, src, n);
}

int64_t cIO_tell(cIO* io) {
    if (!io->vt->tell) return cIO_UNSUPPORTED;
    return io->vt->tell(io);
}

int64_t cIO_seek(cIO* io, int64_t offset, int32_t origin) {
    if (!io->vt->seek) return cIO_UNSUPPORTED;
    return io->vt->seek(io, offset, origin);
}

int32_t cIO_close(cIO* io) {
    if (!io || !io->vt->close) return 0;
    return io->vt->close(io);
}

const uint8_t* cIO_fetch(cIO* io, int64_t at, uint64_t n) {
    if (!io->vt->fetch || at < 0) return nullptr;
    return io->vt->fetch(io, at, n);
}

bool cIO_fetchStays(cIO* io) {
    return io->vt->fetchStays && io->vt->fetchStays(io);
}

int64_t cIO_seekTarget(int64_t position, int64_t size, int64_t offset, int32_t origin) {
    int64_t from;
    switch (origin) {
    case cIO_SEEK_SET:
        from = 0;
        break;
    case cIO_SEEK_CUR:
        from = position;
        break;
    case cIO_SEEK_END:
        from = size;
        break;
    default:
        return -1;
    }
    int64_t target;
    if (__builtin_add_overflow(from, offset, &target) || target < 0) return -1;
    return target;
}

int64_t cIO_getSize(cIO* io) {
    if (!io) return -1;
    int64_t saved = cIO_tell(io);
    if (cIO_seek(io, 0, cIO_SEEK_END) < 0) return -1;
    int64_t size = cIO_tell(io);
    // A size the caller would read from a place other than where it stood is no size.
    if (saved >= 0 && cIO_seek(io, saved, cIO_SEEK_SET) != saved) return -1;
    return size;
}

int64_t cIO_readFully(cIO* io, void* dst, uint64_t n) {
    uint64_t got = 0;
    while (got < n) {
        const int64_t r = cIO_read(io, static_cast<uint8_t*>(dst) + got, n - got);
        if (r < 0 && got == 0) return r;
        if (r <= 0) break;
        got += static_cast<uint64_t>(r);
    }
    return static_cast<int64_t>(got);
}
