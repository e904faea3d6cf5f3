#pragma once
// The one byte-stream interface. A stream object begins with a pointer to its table of
// operations; the fields of its kind follow. An empty slot means "not supported": the
// dispatch wrappers then return -2. Positions and counts are signed 64-bit.
//
// Two optional slots follow the five.
// fetch lets a reader use bytes where they already lie instead of copying them out: it
// hands out a pointer to the n bytes at position at, or null when the stream does not hold
// them in memory (the reader then reads them). It neither reads nor moves the position.
// The pointer stays valid until the next operation on the stream other than another fetch.
// fetchStays says that the stream never moves the bytes it fetched: their pointers stay
// valid until close whatever else is done with the stream (a mapped file, a container's
// content once unwrapped). A reader of such a stream need not fetch a range again to see
// whether it moved. An empty slot means that they may move (a read-ahead buffer does).

#include <cstdint>

struct cIO;

struct cIO_vtable {
    int64_t (*read)(cIO* io, void* dst, uint64_t n);        // bytes delivered, 0 at end, <0 failure
    int64_t (*write)(cIO* io, const void* src, uint64_t n); // bytes accepted, <0 failure
    int64_t (*tell)(cIO* io);                               // position, <0 failure
    int64_t (*seek)(cIO* io, int64_t offset, int32_t origin); // new position, <0 failure
    int32_t (*close)(cIO* io);                                // 0 success; releases the object
    const uint8_t* (*fetch)(cIO* io, int64_t at, uint64_t n) = nullptr; // bytes in place or null
    bool (*fetchStays)(cIO* io) = nullptr; // fetched bytes stay where they are until close
};

struct cIO {
    const cIO_vtable* vt;
};

// Seek origins, the values of SEEK_SET, SEEK_CUR and SEEK_END.
enum cIO_seekOrigin : int32_t { cIO_SEEK_SET = 0, cIO_SEEK_CUR = 1, cIO_SEEK_END = 2 };

// Result of a dispatch wrapper whose slot is empty.
constexpr int64_t cIO_UNSUPPORTED = -2;

// A read, write or seek that is not checked hides a short or failed transfer, and an unchecked
// close hides data that never reached the file: their results must be looked at.
[[nodiscard]] int64_t cIO_read(cIO* io, void* dst, uint64_t n);
// Reads until n bytes are in, the stream ends or a read fails (a stream may hand out less
// than asked before its end): the bytes read, or the failing read's own result when it
// failed before any byte arrived.
[[nodiscard]] int64_t cIO_readFully(cIO* io, void* dst, uint64_t n);
[[nodiscard]] int64_t cIO_write(cIO* io, const void* src, uint64_t n);
int64_t cIO_tell(cIO* io);
[[nodiscard]] int64_t cIO_seek(cIO* io, int64_t offset, int32_t origin);
// 0 for a null stream and for a kind without close. Releases the stream whatever it returns.
[[nodiscard]] int32_t cIO_close(cIO* io);
// The n bytes at position at in place; null for a kind without fetch, a negative at, or a
// range the stream does not hold in memory.
const uint8_t* cIO_fetch(cIO* io, int64_t at, uint64_t n);
// Whether fetched bytes stay where they are until close; false for a kind without the slot.
bool cIO_fetchStays(cIO* io);

// For a stream over bytes it holds: the place offset from origin names, given the stream's
// position and size, or -1 for an unknown origin, an overflow or a place before the start.
// Whether a place past the end is taken is the stream's own choice.
int64_t cIO_seekTarget(int64_t position, int64_t size, int64_t offset, int32_t origin);

// Size by seeking to the end; the position is restored. -1 for null or when a seek fails.
int64_t cIO_getSize(cIO* io);
