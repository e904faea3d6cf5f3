#pragma once
// Helpers shared by the io tests.

#include <cstdint>
#include <random>
#include <vector>

#include "io/cIO_memoryAlloc.h"

using Bytes = std::vector<uint8_t>;

// A memory stream holding the bytes, positioned at 0.
inline cIO* memoryOf(const void* bytes, size_t n) {
    cIO* m = cIO_memoryAlloc_ctor();
    if (n != 0) cIO_write(m, bytes, n);
    cIO_seek(m, 0, cIO_SEEK_SET);
    return m;
}
inline cIO* memoryOf(const Bytes& b) {
    return memoryOf(b.data(), b.size());
}

// Logger-like data: in each 16 bytes, ten that change slowly and six of a small alphabet.
inline Bytes sampleData(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (size_t i = 0; i < n; i++)
        b[i] = (i % 16 < 10) ? uint8_t(i / 64) : uint8_t(rng() % 7);
    return b;
}
