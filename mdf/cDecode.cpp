#include "mdf/cDecode.h"

#include <bit>
#include <cstring>

namespace {

// Up to 8 bytes from p as a little-endian value; bytes past the end read as 0.
inline uint64_t loadLE(const uint8_t* p, uint64_t avail) {
    uint64_t v = 0;
    if (avail >= 8) {
        std::memcpy(&v, p, 8);
    } else {
        std::memcpy(&v, p, avail);
    }
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    return v;
}

inline uint64_t loadBE(const uint8_t* p, uint64_t avail) {
    uint64_t v = 0;
    if (avail >= 8) {
        std::memcpy(&v, p, 8);
    } else {
        std::memcpy(&v, p, avail);
    }
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
    return v;
}

inline bool fits(uint64_t byteCount, uint64_t start, uint64_t bitLength) {
    if (byteCount > (UINT64_MAX >> 3)) byteCount = UINT64_MAX >> 3;
    uint64_t bits = byteCount * 8;
    return bitLength <= bits && start <= bits - bitLength;
}

// The caller has checked that the field lies inside the bytes and is not empty.
uint64_t extract(const uint8_t* bytes, uint64_t byteCount, uint64_t start, uint64_t bitLength,
                 bool littleEndian) {
    if (littleEndian) {
        // The 64 least significant bits of the field are the 64 bits from start on.
        uint64_t len = bitLength < 64 ? bitLength : 64;
        uint64_t b = start >> 3;
        unsigned shift = static_cast<unsigned>(start & 7);
        uint64_t v = loadLE(bytes + b, byteCount - b) >> shift;
        if (shift + len > 64) v |= static_cast<uint64_t>(bytes[b + 8]) << (64 - shift);
        return len == 64 ? v : v & ((uint64_t{1} << len) - 1);
    }
    // Big-endian: only the last 64 positions of a longer field end up in the value.
    if (bitLength > 64) {
        start += bitLength - 64;
        bitLength = 64;
    }
    unsigned shift = static_cast<unsigned>(start & 7);
    uint64_t b = start >> 3;
    if (shift + bitLength <= 64) {
        uint64_t v = loadBE(bytes + b, byteCount - b);
        v >>= 64 - shift - bitLength;
        return bitLength == 64 ? v : v & ((uint64_t{1} << bitLength) - 1);
    }
    uint64_t v = 0;
    for (uint64_t p = start; p < start + bitLength; ++p) {
        v = (v << 1) | ((bytes[p >> 3] >> (7 - (p & 7))) & 1u);
    }
    return v;
}

} // namespace

uint64_t cDecode_getRawBitsSlow(const uint8_t* bytes, uint64_t byteCount, uint64_t start,
                                uint64_t bitLength, bool littleEndian) {
    if (!bytes || bitLength == 0 || !fits(byteCount, start, bitLength)) return 0;
    return extract(bytes, byteCount, start, bitLength, littleEndian);
}
