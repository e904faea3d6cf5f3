#pragma once
// Growable memory stream; sealed, a read-only one over its bytes.
//   uint64_t capacity; uint64_t size (valid bytes); uint64_t position; uint8_t* data (realloc);
//   cMemoryBudget* budget (null: plain heap memory); bool sealed (cIO_memoryAlloc_seal)
// Capacity doubles on growth (2 when empty). A stream in a budget takes its block from it,
// exactly as large as first asked for, doubles it as far as the budget allows, and gives it
// back at close. A write that cannot grow the block (allocation failure, a spent budget, or a
// size past 64 bits) returns -1 and leaves data, size and position as they were. Bytes
// between the valid end and a later write position read as zeros.

#include <cstddef>
#include <cstdint>

#include "io/cIO.h"
#include "io/cMemoryBudget.h"

cIO* cIO_memoryAlloc_ctor();
cIO* cIO_memoryAlloc_ctorIn(cMemoryBudget* budget);
// The valid bytes of a memory stream (null/0 when empty or for another kind of stream).
// Valid until the next write.
const uint8_t* cIO_memoryAlloc_data(cIO* io);
uint64_t cIO_memoryAlloc_size(cIO* io);
// Bytes allocated for the block (0 for null or another kind of stream).
uint64_t cIO_memoryAlloc_capacity(cIO* io);
// Room for n bytes right after the valid end, for a producer to fill in place instead of
// handing them over through write: a pointer to it, valid until the next call on the
// stream, or null when the block cannot grow (nothing changes then). commit makes the
// first n bytes of that room valid and moves the position behind them.
uint8_t* cIO_memoryAlloc_spare(cIO* io, uint64_t n);
void cIO_memoryAlloc_commit(cIO* io, uint64_t n);
// Ends the writing: the stream, the same object, becomes read-only (no write slot, no seek
// past its end) and the bytes it fetches stay where they are until close (fetchStays). For content
// that is complete once made, such as an unwrapped container's. Gives io.
cIO* cIO_memoryAlloc_seal(cIO* io);
// Gives back the room past the valid end (to the budget, for a stream in one); the block may
// move. Nothing changes where the system declines.
void cIO_memoryAlloc_fit(cIO* io);
