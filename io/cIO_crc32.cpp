#include "io/cIO_crc32.h"

#include <new>

#include "io/crc32.h"

namespace {

struct cIO_crc32 {
    cIO base;
    uint32_t crc;
    cIO* inner;
};

int64_t cIO_crc32_read(cIO* io, void* dst, uint64_t n) {
    auto* self = reinterpret_cast<cIO_crc32*>(io);
    int64_t got = cIO_read(self->inner, dst, n);
    if (got > 0) self->crc = update_crc_32_buffer(self->crc, dst, size_t(got));
    return got;
}

int64_t cIO_crc32_write(cIO* io, const void* src, uint64_t n) {
    auto* self = reinterpret_cast<cIO_crc32*>(io);
    int64_t put = cIO_write(self->inner, src, n);
    if (put > 0) self->crc = update_crc_32_buffer(self->crc, src, size_t(put));
    return put;
}

int32_t cIO_crc32_close(cIO* io) {
    delete reinterpret_cast<cIO_crc32*>(io);
    return 0;
}

const cIO_vtable cIO_crc32_vtable = {cIO_crc32_read, cIO_crc32_write, nullptr, nullptr,
                                     cIO_crc32_close};

} // namespace

cIO* cIO_crc32_ctor(cIO* inner) {
    if (inner == nullptr) return nullptr;
    auto* self = new (std::nothrow) cIO_crc32{{&cIO_crc32_vtable}, 0xFFFFFFFFu, inner};
    return reinterpret_cast<cIO*>(self);
}

uint32_t cIO_crc32_getCRC(cIO* io) {
    if (io == nullptr || io->vt != &cIO_crc32_vtable) return 0;
    return reinterpret_cast<cIO_crc32*>(io)->crc;
}
