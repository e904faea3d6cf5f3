#pragma once
// A window of a data block's bytes that records are read from: either in place, in the memory
// the file stream keeps them in (a mapped file, an unwrapped container, a read-ahead buffer),
// or copied out of the stream into the window's own buffer, a read-ahead size at a time.
//
// A window in place may go stale: a read of another block on the shared file stream (an SD
// entry, say) can move a read-ahead buffer. cMdfRecordWindow_valid is the one check of that,
// and cMdfRecordWindow_cover runs it before every use of bytes it already holds.
//
// cMdfRecordWindow:
//   start     - offset in the data section of the window's first byte
//   bytes     - the window's bytes: copy's, or the source's own memory (inPlace)
//   size      - bytes in the window
//   inPlace   - bytes point into the source; the whole rest of the data section is there
//   stays     - in place, and the source never moves them until it is closed
//   source, fetch, sourceAt - for a window in place: the stream it points into, that stream's
//               fetch operation and the window's absolute position there; the check asks the
//               stream for the same bytes again
//   copy      - the copied window's bytes
//   readAhead - bytes copied at a time (at least what the record at hand needs)

#include <cstdint>
#include <string>

struct cIO;
struct cMdfBlock_data_obj_t;

// Bytes of a data section copied at a time by default.
constexpr uint64_t cMdfRecordWindow_READ_AHEAD = 65536;

struct cMdfRecordWindow {
    uint64_t start;
    const uint8_t* bytes;
    uint64_t size;
    bool inPlace;
    bool stays;
    cIO* source;
    const uint8_t* (*fetch)(cIO* io, int64_t at, uint64_t n);
    int64_t sourceAt;
    std::string copy;
    uint64_t readAhead;
};

// An empty window with the default read-ahead.
void cMdfRecordWindow_init(cMdfRecordWindow* window);
// Releases the copy; the window is empty afterwards.
void cMdfRecordWindow_drop(cMdfRecordWindow* window);

// Whether the window's bytes are still where bytes points.
inline bool cMdfRecordWindow_valid(const cMdfRecordWindow* w) {
    return !w->inPlace || w->stays || w->fetch(w->source, w->sourceAt, w->size) == w->bytes;
}

// Fills the window anew from `from` on, holding at least [from, to) of block's data section.
// False when the section or the stream ends before `to`.
bool cMdfRecordWindow_refill(cMdfRecordWindow* w, cMdfBlock_data_obj_t* block, uint64_t from,
                             uint64_t to);

// Makes the window hold bytes [from, to) of block's data section, checking a window in place
// first. Every caller reading one record passes the record's start as `from`, so that all its
// pieces stay in the window together. False when the section ends before `to`.
inline bool cMdfRecordWindow_cover(cMdfRecordWindow* w, cMdfBlock_data_obj_t* block, uint64_t from,
                                   uint64_t to) {
    if (from >= w->start && to <= w->start + w->size && from <= to && cMdfRecordWindow_valid(w))
        return true;
    return cMdfRecordWindow_refill(w, block, from, to);
}

// The window's bytes at offset `at` of the data section; the caller has covered them.
inline const uint8_t* cMdfRecordWindow_at(const cMdfRecordWindow* w, uint64_t at) {
    return w->bytes + (at - w->start);
}

// The end of the bytes the window holds, as an offset of the data section.
inline uint64_t cMdfRecordWindow_end(const cMdfRecordWindow* w) {
    return w->start + w->size;
}
