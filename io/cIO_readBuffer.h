#pragma once
// Read-ahead buffer over an inner stream. Positions are those of the inner stream.
//   uint64_t capacity; uint64_t filled; uint64_t cursor (read offset in the buffer);
//   int64_t windowStart (inner position of the buffer's first byte); uint64_t reach (what
//   the last refill set out to read unless asked for more: the capacity at first, one page
//   after a jump away from the buffered bytes, doubled by each refill where the buffer
//   ended or into an empty buffer, never above the capacity); uint8_t* buffer; cIO* inner;
//   uint8_t ownsInner (close the inner stream on close).
// No write. A seek to a target the inner stream cannot deliver from returns the unchanged
// position; a negative target gives -1. A refill lands only where the inner seek reports
// it did, otherwise the read ends short. fetch hands out what the buffer holds now. close always
// releases the object and returns the inner stream's close result when it owns it.

#include <cstddef>
#include <cstdint>

#include "io/cIO.h"

// Rounds size up to a multiple of 8 and allocates record and zeroed buffer in one block.
cIO* cIO_bufferAlloc_ctor(cIO* inner, bool ownsInner, size_t size);
