#pragma once
// What the text formats share beyond the number writers of support/cstr_support.h: a frame's
// time in microseconds and as seconds with six decimals, and right-aligned fields. Each
// writer puts its text at out and returns its end, with no NUL and no check of room (the
// format keeps the batch's text large enough for a line, plus the 16 bytes the number
// writers may write behind their text).

#include <cstdint>
#include <cstring>

#include "support/cstr_support.h"

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

// Microseconds as seconds with six decimals, "%.6f" of us / 1e6 without its rounding.
inline char* cFrameText_putSeconds(char* out, int64_t us) {
    uint64_t magnitude = static_cast<uint64_t>(us);
    if (us < 0) {
        *out++ = '-';
        magnitude = 0 - magnitude;
    }
    out = cstr_support_put_uint(out, magnitude / 1000000, 0);
    // The six decimals with their zeros in front: 1000000 more, whose leading 1 the point
    // then replaces.
    char* end = cstr_support_put_uint(out, 1000000 + magnitude % 1000000, 0);
    *out = '.';
    return end;
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

inline constexpr char cFrameText_hexDigits[] = "0123456789ABCDEF";
