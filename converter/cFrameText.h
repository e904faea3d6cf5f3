#pragma once
// Small writers the text formats share: each puts its text at out and returns its end, with
// no NUL and no check of room (the format keeps the batch's text large enough for a line).

#include <cstdint>
#include <cstring>

// A frame's time in whole microseconds, rounded to the nearest: the logger's clock counts
// microseconds, and the double on the Unix scale keeps them exactly enough to round back.
inline int64_t cFrameText_micros(double seconds) {
    const double us = seconds * 1e6;
    return static_cast<int64_t>(us < 0 ? us - 0.5 : us + 0.5);
}

inline char* cFrameText_put(char* out, const char* text, size_t length) {
    std::memcpy(out, text, length);
    return out + length;
}

// "%u" of a value below 2^32.
inline char* cFrameText_putUint(char* out, uint64_t value) {
    char digits[20];
    char* d = digits + sizeof digits;
    do {
        *--d = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    const size_t n = static_cast<size_t>(digits + sizeof digits - d);
    std::memcpy(out, d, n);
    return out + n;
}

// "%0<digits>u" of a value below 10^digits.
inline char* cFrameText_putZeroPadded(char* out, uint32_t value, unsigned digits) {
    for (unsigned i = digits; i > 0; --i) {
        out[i - 1] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    return out + digits;
}

// Microseconds as seconds with six decimals, "%.6f" of us / 1e6 without its rounding.
inline char* cFrameText_putSeconds(char* out, int64_t us) {
    uint64_t magnitude = static_cast<uint64_t>(us);
    if (us < 0) {
        *out++ = '-';
        magnitude = 0 - magnitude;
    }
    out = cFrameText_putUint(out, magnitude / 1000000);
    *out++ = '.';
    return cFrameText_putZeroPadded(out, static_cast<uint32_t>(magnitude % 1000000), 6);
}

inline constexpr char cFrameText_hexDigits[] = "0123456789ABCDEF";

// "%0<digits>X".
inline char* cFrameText_putHex(char* out, uint32_t value, unsigned digits) {
    for (unsigned i = digits; i > 0; --i) {
        out[i - 1] = cFrameText_hexDigits[value & 0xF];
        value >>= 4;
    }
    return out + digits;
}

// "%X": upper-case hexadecimal without zeros in front.
inline char* cFrameText_putHexShort(char* out, uint32_t value) {
    unsigned digits = 1;
    while (digits < 8 && (value >> (4 * digits)) != 0)
        ++digits;
    return cFrameText_putHex(out, value, digits);
}

// Two upper-case hex digits per byte, no separator.
inline char* cFrameText_putHexPacked(char* out, const uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        out[2 * i] = cFrameText_hexDigits[bytes[i] >> 4];
        out[2 * i + 1] = cFrameText_hexDigits[bytes[i] & 0xF];
    }
    return out + 2 * count;
}
