#pragma once
// Copying the short payloads of bus frames (0 to 64 bytes) where they are copied once per
// frame. The C library's memcpy costs a call and a dispatch on the size each time, which
// for a few bytes is more than the copy itself; here a frame's size takes two to four
// overlapping copies of a fixed width, inline, none of which touches a byte outside
// [src, src + n) or [dst, dst + n). Longer copies go to memcpy.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

// As memcpy(dst, src, n): the ranges must not overlap.
__attribute__((always_inline)) inline void copy_short(void* dst, const void* src, size_t n) {
    auto* d = static_cast<unsigned char*>(dst);
    const auto* s = static_cast<const unsigned char*>(src);
    // The first w bytes and the last w bytes, for w <= n <= 2 * w.
    auto ends = [d, s, n](auto w) {
        std::memcpy(d, s, w);
        std::memcpy(d + n - w, s + n - w, w);
    };
    using W16 = std::integral_constant<size_t, 16>;
    using W8 = std::integral_constant<size_t, 8>;
    using W4 = std::integral_constant<size_t, 4>;
    using W2 = std::integral_constant<size_t, 2>;
    if (n > 64) {
        std::memcpy(d, s, n);
    } else if (n > 32) {
        ends(W16{});
        std::memcpy(d + 16, s + 16, 16);
        std::memcpy(d + n - 32, s + n - 32, 16);
    } else if (n >= 16) {
        ends(W16{});
    } else if (n >= 8) {
        ends(W8{});
    } else if (n >= 4) {
        ends(W4{});
    } else if (n >= 2) {
        ends(W2{});
    } else if (n == 1) {
        *d = *s;
    }
}
