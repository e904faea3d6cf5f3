#pragma once
// Growable memory stream.
//   uint64_t capacity; uint64_t size (valid bytes); uint64_t position; uint8_t* data (realloc);
//   cMemoryBudget* budget (null: plain heap memory)
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
// Gives back the room past the valid end (to the budget, for a stream in one); the block may
// move. Nothing changes where the system declines.
void cIO_memoryAlloc_fit(cIO* io);

// Large blocks of fresh memory are filled once from end to end: in 2 MiB pages that costs
// a few faults per 2 MiB instead of one per 4 KiB. Advice only: where the system declines,
// the memory works as before. Not for a block that is grown by reallocation: moving huge
// pages costs more than the faults saved.
void cIO_memoryAlloc_adviseHugePages(void* start, size_t size);

// A large block of fresh memory about to be filled from its start by one producer: a thread
// of its own sets up its pages from the end backwards meanwhile, so that the system's
// clearing of fresh pages (as costly as the filling itself for a fast producer) runs on a
// second processor; the two meet somewhere in the middle. Null when the block is small or no
// thread can be had: the pages are then set up at once, in this call. Advice only.
struct cIO_memoryAlloc_prefault;
cIO_memoryAlloc_prefault* cIO_memoryAlloc_prefaultStart(void* start, size_t size);
// The same for a block whose filled size is not known in advance, only an upper bound: the
// thread keeps at most 32 MiB ahead of the producer's mark, so that the pages set up and
// never written stay few. The producer moves the mark as it fills (null is accepted). Null
// when the block is small or no thread can be had: the producer's writes then set up the
// pages as they go.
cIO_memoryAlloc_prefault* cIO_memoryAlloc_prefaultAhead(void* start, size_t size);
void cIO_memoryAlloc_prefaultMark(cIO_memoryAlloc_prefault* prefault, size_t filled);
// Stops the thread where it is and waits for it; null is accepted.
void cIO_memoryAlloc_prefaultEnd(cIO_memoryAlloc_prefault* prefault);
