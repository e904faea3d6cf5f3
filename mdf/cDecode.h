#pragma once
// Bit extraction from record bytes in little-endian (Intel) or big-endian (Motorola) bit
// order.
//
// Bit numbering, counted from the start of the buffer:
//   little-endian: position p is bit (p % 8) of byte (p / 8), bit 0 the least significant;
//                  the field's bit i is at start + i.
//   big-endian:    position p is bit (7 - p % 8) of byte (p / 8); the field runs from start
//                  on, its first bit the most significant.
// A raw value holds at most 64 bits: a longer field yields its 64 least significant bits.

#include <bit>
#include <cstdint>
#include <cstring>

// The field's bits, not sign-extended; 0 when the field does not lie wholly inside the
// bytes or its length is 0. Runs once per channel per record: a little-endian field that fits
// in the 8 bytes loaded from its first byte (every field up to 56 bits, and the byte-aligned
// 64-bit timestamp) is one load, shift and mask, inline; every other field goes through
// cDecode_getRawBitsSlow, which gives the same result for all fields.
uint64_t cDecode_getRawBitsSlow(const uint8_t* bytes, uint64_t byteCount, uint64_t start,
                                uint64_t bitLength, bool littleEndian);
inline uint64_t cDecode_getRawBits(const uint8_t* bytes, uint64_t byteCount, uint64_t start,
                                   uint64_t bitLength, bool littleEndian) {
    uint64_t b = start >> 3;
    if (littleEndian && bitLength - 1 < 64 && (start & 7) + bitLength <= 64 && bytes &&
        byteCount >= 8 && b <= byteCount - 8 && std::endian::native == std::endian::little) {
        uint64_t v;
        std::memcpy(&v, bytes + b, 8);
        return (v >> (start & 7)) & (~uint64_t{0} >> (64 - bitLength));
    }
    return cDecode_getRawBitsSlow(bytes, byteCount, start, bitLength, littleEndian);
}
