#include "io/cIO_heatshrink.h"

#include <new>

#include "io/heatshrink_decoder.h"

namespace {

struct cIO_heatshrink {
    cIO base;
    cIO* source;
    heatshrink_decoder* hsd;
};

int64_t cIO_heatshrink_read(cIO* io, void* dst, uint64_t n) {
    auto* self = reinterpret_cast<cIO_heatshrink*>(io);
    if (n == 0) return 0;
    if (n > uint64_t(INT64_MAX)) n = uint64_t(INT64_MAX);
    uint8_t* out = static_cast<uint8_t*>(dst);
    uint64_t done = 0;
    uint8_t chunk[heatshrink_INPUT_BUFFER_SIZE];
    // finish reports MORE only while bytes are still to come; should it ever do so without
    // the next poll producing anything, the data has ended all the same.
    bool finishing = false;
    while (done < n) {
        size_t produced = 0;
        HSD_poll_res pres = heatshrink_decoder_poll(self->hsd, out + done, n - done, &produced);
        done += produced;
        if (pres == HSDR_POLL_MORE) continue;
        if (pres != HSDR_POLL_EMPTY) return -1;
        if (produced > 0) finishing = false;
        if (done == n) break;
        int64_t got = cIO_read(self->source, chunk, sizeof chunk);
        if (got < 0) return -1;
        if (got == 0) {
            if (finishing || heatshrink_decoder_finish(self->hsd) != HSDR_FINISH_MORE)
                return int64_t(done);
            finishing = true;
            size_t taken = 0;
            heatshrink_decoder_sink(self->hsd, chunk, 0, &taken);
            continue;
        }
        size_t taken = 0;
        if (heatshrink_decoder_sink(self->hsd, chunk, size_t(got), &taken) < 0) return -1;
        if (taken < size_t(got)) {
            // Cannot happen with a drained decoder and a chunk of its buffer's size; push
            // the surplus back rather than lose it.
            if (cIO_seek(self->source, int64_t(taken) - got, cIO_SEEK_CUR) < 0) return -1;
        }
    }
    return int64_t(done);
}

int64_t cIO_heatshrink_write(cIO*, const void*, uint64_t) {
    return -1;
}
int64_t cIO_heatshrink_tell(cIO*) {
    return -1;
}
int64_t cIO_heatshrink_seek(cIO*, int64_t, int32_t) {
    return -1;
}

int32_t cIO_heatshrink_close(cIO* io) {
    auto* self = reinterpret_cast<cIO_heatshrink*>(io);
    if (self == nullptr) return 0;
    heatshrink_decoder_free(self->hsd);
    delete self;
    return 0;
}

const cIO_vtable vtable_r = {cIO_heatshrink_read, cIO_heatshrink_write, cIO_heatshrink_tell,
                             cIO_heatshrink_seek, cIO_heatshrink_close};

} // namespace

cIO* cIO_heatshrink_open(cIO* source, uint8_t windowBits, uint8_t lookaheadBits) {
    if (source == nullptr) return nullptr;
    heatshrink_decoder* hsd =
        heatshrink_decoder_alloc(heatshrink_INPUT_BUFFER_SIZE, windowBits, lookaheadBits);
    if (hsd == nullptr) return nullptr;
    auto* self = new (std::nothrow) cIO_heatshrink{{&vtable_r}, source, hsd};
    if (self == nullptr) {
        heatshrink_decoder_free(hsd);
        return nullptr;
    }
    return reinterpret_cast<cIO*>(self);
}
