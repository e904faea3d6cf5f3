#include "mdf/cMdfRecordWindow.h"

#include <algorithm>

#include "io/cIO.h"
#include "mdf/cMdfBlock_data.h"

void cMdfRecordWindow_init(cMdfRecordWindow* w) {
    w->start = 0;
    w->bytes = nullptr;
    w->size = 0;
    w->inPlace = false;
    w->stays = false;
    w->source = nullptr;
    w->fetch = nullptr;
    w->sourceAt = 0;
    w->copy.clear();
    w->readAhead = cMdfRecordWindow_READ_AHEAD;
}

void cMdfRecordWindow_drop(cMdfRecordWindow* w) {
    std::string().swap(w->copy);
    w->bytes = nullptr;
    w->size = 0;
    w->inPlace = false;
}

// Out of line: the common case, bytes the window holds, stays small enough to be inlined.
__attribute__((noinline)) bool cMdfRecordWindow_refill(cMdfRecordWindow* w,
                                                       cMdfBlock_data_obj_t* block, uint64_t from,
                                                       uint64_t to) {
    const uint64_t dataSize = cMdfBlock_data_getSize(block);
    if (!block || from > to || to > dataSize) return false;
    w->start = from;
    // A section the source holds in memory is used in place, all of it at once.
    if (const uint8_t* inPlace = cMdfBlock_data_peek(block, from, dataSize - from)) {
        w->bytes = inPlace;
        w->size = dataSize - from;
        w->inPlace = true;
        // The peek checked that the position fits, and went through the stream's fetch.
        w->source = block->source;
        w->fetch = block->source->vt->fetch;
        w->sourceAt = static_cast<int64_t>(block->dataOffset + from);
        w->stays = cIO_fetchStays(block->source);
        return true;
    }
    const uint64_t want = std::min(std::max(to - from, w->readAhead), dataSize - from);
    std::string& buf = w->copy;
    buf.clear();
    w->bytes = nullptr;
    w->size = 0;
    w->inPlace = false;
    w->stays = false;
    cIO* io = cMdfBlock_data_getIOInterface(block);
    if (from > static_cast<uint64_t>(INT64_MAX) ||
        cIO_seek(io, static_cast<int64_t>(from), cIO_SEEK_SET) != static_cast<int64_t>(from))
        return false;
    // Grown piece by piece, so that a data size the stream cannot back costs no more memory
    // than the bytes that really arrive.
    uint64_t got = 0;
    while (got < want) {
        const uint64_t piece = std::min<uint64_t>(want - got, uint64_t{1} << 20);
        buf.resize(got + piece);
        const int64_t n = cIO_read(io, buf.data() + got, piece);
        if (n <= 0) break;
        got += static_cast<uint64_t>(n);
    }
    buf.resize(got);
    w->bytes = reinterpret_cast<const uint8_t*>(buf.data());
    w->size = got;
    return to <= from + got;
}
