#pragma once
// Growable memory stream.
//   uint64_t capacity; uint64_t size (valid bytes); uint64_t position; uint8_t* data (realloc).
// Capacity doubles on growth (2 when empty).

#include "io/cIO.h"

cIO* cIO_memoryAlloc_ctor();
// The valid bytes of a memory stream (null/0 when empty). Valid until the next write.
const uint8_t* cIO_memoryAlloc_data(cIO* io);
uint64_t cIO_memoryAlloc_size(cIO* io);
