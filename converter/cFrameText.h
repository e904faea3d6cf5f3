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

// The number of decimal digits of value ("%u" of it is that long).
inline unsigned cFrameText_digitCount(uint64_t value) {
    unsigned n = 1;
    for (uint64_t power = 10; n < 20 && value >= power; power *= 10)
        ++n;
    return n;
}

// "%u". The digits are written in place, last first, once their count is known: a copy out
// of a scratch buffer would be a copy of varying length, a call into the C library per field.
inline char* cFrameText_putUint(char* out, uint64_t value) {
    const unsigned n = cFrameText_digitCount(value);
    for (unsigned i = n; i > 0; --i) {
        out[i - 1] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    return out + n;
}

// Right-aligns the text just written at [start, end) in width columns, as "%*s" does.
inline char* cFrameText_alignRight(char* start, char* end, size_t width) {
    const size_t length = static_cast<size_t>(end - start);
    if (length >= width) return end;
    const size_t pad = width - length;
    for (size_t i = length; i > 0; --i)
        start[i - 1 + pad] = start[i - 1];
    for (size_t i = 0; i < pad; ++i)
        start[i] = ' ';
    return start + width;
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
