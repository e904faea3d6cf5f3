#pragma once
// What the unwrapped content of containers (decompressed or decrypted files) may hold in
// memory at once, for the whole run: every job draws on the same budget, and blocks given
// back and kept for reuse still count. A block is taken from the budget, may be resized, and
// is given back when its content is no longer needed.
//
// Fresh memory is costly: the system clears each page, and a virtual machine may first have
// to back it (790 MB of fresh pages took 0.45 to 1.5 s to set up on the machines measured,
// writing the same pages again 0.05 s). So a large block given back is kept, still counted,
// and the next take reuses it; kept blocks are freed first whenever a take would pass the
// limit.
//
// The limit is taken from what the process may really use (cMemoryBudget_systemLimit): the
// memory limit of its control group, its address-space and data-size limits, and the memory
// the system has available, whichever is smallest, less room for the rest of the program.

#include <cstdint>

struct cMemoryBudget;

// A budget of limit bytes; null when memory runs out.
cMemoryBudget* cMemoryBudget_ctor(uint64_t limit);
// Frees the kept blocks and the budget. Every taken block must have been given back.
void cMemoryBudget_dtor(cMemoryBudget* budget);

// The run's budget: made at first use from cMemoryBudget_systemLimit, kept until the process
// ends. The message of a spent budget names the limit it was taken from.
cMemoryBudget* cMemoryBudget_run();

// The smallest of the control group's memory limit (version 2 memory.max or version 1
// memory.limit_in_bytes of the process's own group and the groups above it), the address-space
// and data-size limits less what the process already uses of them, and the available memory,
// less room for the rest of the program. *source (when given) names the limit that decided.
uint64_t cMemoryBudget_systemLimit(const char** source);

uint64_t cMemoryBudget_limit(const cMemoryBudget* budget);
// Bytes taken and kept at this moment.
uint64_t cMemoryBudget_held(const cMemoryBudget* budget);
// Bytes a take could have at this moment: the limit less what is taken (kept blocks give way).
uint64_t cMemoryBudget_available(const cMemoryBudget* budget);

// A block of size bytes (size > 0) counted against the budget, or null, logging why, when
// the budget cannot hold it or the system has no memory. Its bytes are undefined.
[[nodiscard]] uint8_t* cMemoryBudget_take(cMemoryBudget* budget, uint64_t size);
// Resizes a taken block of *size bytes to want bytes, or, when the budget cannot hold that,
// to as much as it can hold but no less than atLeast (atLeast <= want). The bytes it held
// stay; the block may move. Null, logging why, with block and *size unchanged, when not even
// atLeast can be had; else the block, *size its new size.
[[nodiscard]] uint8_t* cMemoryBudget_resize(cMemoryBudget* budget, uint8_t* block, uint64_t* size,
                                            uint64_t want, uint64_t atLeast);
// Gives a taken block back (null is accepted): kept for reuse when large, else freed.
void cMemoryBudget_give(cMemoryBudget* budget, uint8_t* block, uint64_t size);
// Frees the kept blocks: for a run whose next inputs need none.
void cMemoryBudget_releaseKept(cMemoryBudget* budget);
