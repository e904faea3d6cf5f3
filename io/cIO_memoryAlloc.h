#pragma once
// Growable memory stream.
//   uint64_t capacity; uint64_t size (valid bytes); uint64_t position; uint8_t* data (realloc);
//   bool reuse (the block goes to the thread's kept block at close, see reuseBlocks).
// Capacity doubles on growth (2 when empty). A write that cannot grow the block (allocation
// failure, or a size past 64 bits) returns -1 and leaves data, size and position as they
// were. Bytes between the valid end and a later write position read as zeros.

#include <cstddef>
#include <cstdint>

#include "io/cIO.h"

cIO* cIO_memoryAlloc_ctor();
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

// Fresh memory is costly: the system clears each page, and a virtual machine may first have
// to back it (on the machines measured, setting up 790 MB of fresh pages took 0.45 to 1.5 s;
// writing the same pages again, 0.05 s). A thread that unwraps one container after another
// would pay that for each. A stream marked here, before its first write, leaves its block to
// its thread at close when the block is of 32 MiB or more, and its first allocation of that
// size takes the block so left when it is large enough, giving back the pages beyond what it
// asked for. A thread keeps one block at most.
void cIO_memoryAlloc_reuseBlocks(cIO* io);
// Frees the calling thread's kept block, if any: for a thread whose next input needs none.
void cIO_memoryAlloc_releaseKept();

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
