#include "support/cstr_support.h"

#include <array>
#include <bit>
#include <cstdarg>
#include <cstdio>
#include <cstring>

void cstr_support_append_fmt(std::string* str, const char* format, ...) {
    if (!str || !format) return;
    size_t used = str->size();
    size_t room = str->capacity() - used;
    // Format straight into the free capacity; std::string keeps one more byte for the NUL.
    str->resize(str->capacity());
    va_list args;
    va_start(args, format);
    int n = vsnprintf(str->data() + used, room + 1, format, args);
    va_end(args);
    if (n < 0) {
        str->resize(used);
        return;
    }
    if (static_cast<size_t>(n) <= room) {
        str->resize(used + static_cast<size_t>(n));
        return;
    }
    str->resize(used + static_cast<size_t>(n));
    va_start(args, format);
    vsnprintf(str->data() + used, static_cast<size_t>(n) + 1, format, args);
    va_end(args);
}

void cstr_support_append_hex_buffer(std::string* str, const void* bytes, size_t count,
                                    char separator, bool uppercase) {
    if (!str || !bytes || count == 0) return;
    const char* digits = uppercase ? "0123456789ABCDEF" : "0123456789abcdef";
    const unsigned char* p = static_cast<const unsigned char*>(bytes);
    size_t old = str->size();
    size_t add = count * 2 + (separator ? count - 1 : 0);
    str->resize(old + add);
    char* out = str->data() + old;
    for (size_t i = 0; i < count; ++i) {
        if (i && separator) *out++ = separator;
        *out++ = digits[p[i] >> 4];
        *out++ = digits[p[i] & 0x0F];
    }
}

namespace {

// "00" to "99": two digits per table step halve the divisions.
constexpr char kDigitPairs[] = "00010203040506070809"
                               "10111213141516171819"
                               "20212223242526272829"
                               "30313233343536373839"
                               "40414243444546474849"
                               "50515253545556575859"
                               "60616263646566676869"
                               "70717273747576777879"
                               "80818283848586878889"
                               "90919293949596979899";
constexpr char kHexUpper[] = "0123456789ABCDEF";

constexpr uint64_t kPowersOfTen[20] = {1ull,
                                       10ull,
                                       100ull,
                                       1000ull,
                                       10000ull,
                                       100000ull,
                                       1000000ull,
                                       10000000ull,
                                       100000000ull,
                                       1000000000ull,
                                       10000000000ull,
                                       100000000000ull,
                                       1000000000000ull,
                                       10000000000000ull,
                                       100000000000000ull,
                                       1000000000000000ull,
                                       10000000000000000ull,
                                       100000000000000000ull,
                                       1000000000000000000ull,
                                       10000000000000000000ull};

// Number of decimal digits of value (1 for 0): the bit length times log10(2) is the count
// or one more, which the table settles.
inline unsigned decimalDigits(uint64_t value) {
    if (value < 10) return 1;
    const unsigned t = static_cast<unsigned>((64 - __builtin_clzll(value)) * 1233) >> 12;
    return t + 1 - (value < kPowersOfTen[t]);
}

// Decimal digits of value, written backwards ending at end.
inline void digitsBackwards(char* end, uint64_t value) {
    while (value >= 100) {
        const unsigned pair = static_cast<unsigned>(value % 100) * 2;
        value /= 100;
        *--end = kDigitPairs[pair + 1];
        *--end = kDigitPairs[pair];
    }
    if (value >= 10) {
        *--end = kDigitPairs[value * 2 + 1];
        *--end = kDigitPairs[value * 2];
    } else {
        *--end = static_cast<char>('0' + value);
    }
}

// Per byte value its two digits and a blank, in the order of the bytes in memory, so that
// one 4-byte store writes them (its fourth byte is overwritten by the next store).
constexpr std::array<uint32_t, 256> kHexTriples = [] {
    std::array<uint32_t, 256> t{};
    for (unsigned i = 0; i < 256; ++i) {
        const uint32_t hi = static_cast<unsigned char>(kHexUpper[i >> 4]);
        const uint32_t lo = static_cast<unsigned char>(kHexUpper[i & 0xF]);
        t[i] = std::endian::native == std::endian::little
                   ? hi | lo << 8 | uint32_t{' '} << 16
                   : hi << 24 | lo << 16 | uint32_t{' '} << 8;
    }
    return t;
}();

// "000" to "999", one per 4-byte entry (the fourth byte is overwritten by what follows).
constexpr std::array<uint32_t, 1000> kThreeDigits = [] {
    std::array<uint32_t, 1000> t{};
    for (unsigned i = 0; i < 1000; ++i) {
        const uint32_t a = '0' + i / 100, b = '0' + i / 10 % 10, c = '0' + i % 10;
        t[i] = std::endian::native == std::endian::little ? a | b << 8 | c << 16
                                                          : a << 24 | b << 16 | c << 8;
    }
    return t;
}();

constexpr uint64_t kAsciiZeros = 0x3030303030303030ull;
constexpr uint64_t kAsciiBlanks = 0x2020202020202020ull;

// The eight decimal digits of value (below 10^8, zeros in front), one per byte, the most
// significant in the lowest byte: the halves, quarters and eighths are split in parallel
// in one register, each with a multiplication that divides exactly in its range.
inline uint64_t eightDigits(uint32_t value) {
    const uint64_t halves = value / 10000 | uint64_t{value % 10000} << 32;
    const uint64_t high = ((halves * 10486) >> 20) & 0x0000007F0000007Full; // / 100
    const uint64_t quarters = (halves - 100 * high) << 16 | high;
    uint64_t tens = ((quarters * 103) >> 10) & 0x000F000F000F000Full; // / 10
    return tens + ((quarters - 10 * tens) << 8);
}

// Fills the first n bytes with c. The trace widths are short: a fixed 16-byte store covers
// them without a library call (the callers' buffers have that room).
inline void fill(char* out, char c, size_t n) {
    if (n <= 16) {
        std::memset(out, c, 16);
        return;
    }
    std::memset(out, c, n);
}

// The hex digits of a value below 16^nibbles (nibbles 1 to 8), upper case, zeros in front,
// most significant first, in the low `nibbles` bytes of the result's memory order.
inline uint64_t hexDigits(uint32_t value, unsigned nibbles) {
    uint64_t x = value;
    // One nibble per byte, the least significant in byte 0.
    x = (x & 0xFFFF0000ull) << 16 | (x & 0xFFFFull);
    x = (x & 0x0000FF000000FF00ull) << 8 | (x & 0x000000FF000000FFull);
    x = (x & 0x00F000F000F000F0ull) << 4 | (x & 0x000F000F000F000Full);
    const uint64_t letters = ((x + 0x0606060606060606ull) >> 4) & 0x0101010101010101ull;
    x += 0x3030303030303030ull + letters * 7; // '0'..'9', and 'A'..'F' 7 further on
    // Most significant digit first: byte order reversed, the digits moved to the front.
    return __builtin_bswap64(x) >> (64 - 8 * nibbles);
}

} // namespace

char* cstr_support_put_uint(char* out, uint64_t value, unsigned width) {
    const unsigned digits = decimalDigits(value);
    const unsigned total = digits < width ? width : digits;
    if (total > digits) fill(out, ' ', total - digits);
    digitsBackwards(out + total, value);
    return out + total;
}

char* cstr_support_put_hex32(char* out, uint32_t value, unsigned digits) {
    // The trace's identifier columns: two digits per byte from the table, most significant
    // first. With the width known where the call is inlined, this is all that is left.
    if (digits == 8 || (digits == 4 && value <= 0xFFFF)) {
        for (int shift = static_cast<int>(digits) * 4 - 8; shift >= 0; shift -= 8) {
            std::memcpy(out, &kHexTriples[(value >> shift) & 0xFF], 2);
            out += 2;
        }
        return out;
    }
    const unsigned n = (32 - static_cast<unsigned>(__builtin_clz(value | 1)) + 3) / 4;
    const unsigned total = n < digits ? digits : n;
    if (total <= 8) { // the zeros in front come with the digits
        const uint64_t text = hexDigits(value, total);
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(out, &text, 8);
            return out + total;
        }
    }
    fill(out, '0', total - n);
    char* p = out + total;
    for (unsigned i = 0; i < n; ++i) {
        *--p = kHexUpper[value & 0xF];
        value >>= 4;
    }
    return out + total;
}

namespace {

// Infinities, NaN and values of 2^53 and more: rare enough for the C library. Kept out of
// line, so that its buffer does not weigh on every other call.
__attribute__((noinline)) char* fixedByLibrary(char* out, double value, unsigned width,
                                               unsigned decimals) {
    char tmp[cstr_support_FIXED_MAX + 1];
    int n = snprintf(tmp, sizeof tmp, "%*.*f", static_cast<int>(width), static_cast<int>(decimals),
                     value);
    if (n < 0) return out;
    size_t length = static_cast<size_t>(n) < sizeof tmp ? static_cast<size_t>(n) : sizeof tmp - 1;
    std::memcpy(out, tmp, length);
    return out + length;
}

} // namespace

char* cstr_support_put_fixed(char* out, double value, unsigned width, unsigned decimals) {
    // value = m * 2^e exactly; m * 10^decimals stays below 2^63 for m < 2^53 and up to
    // three decimals.
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const bool negative = bits >> 63;
    const int biased = static_cast<int>((bits >> 52) & 0x7FF);
    uint64_t m = bits & ((uint64_t{1} << 52) - 1);
    int e;
    if (biased == 0) {
        e = -1074;
    } else {
        m |= uint64_t{1} << 52;
        e = biased - 1075;
    }
    if (biased == 0x7FF || e > 0 || decimals > 3 || width > cstr_support_FIXED_MAX)
        return fixedByLibrary(out, value, width, decimals);
    const uint64_t scale = kPowersOfTen[decimals];
    const uint64_t scaled = m * scale;
    uint64_t q;
    if (e == 0) {
        q = scaled;
    } else if (-e >= 64) {
        q = 0; // scaled < 2^63 <= 2^(-e-1): below one half of the last place
    } else {
        const unsigned shift = static_cast<unsigned>(-e);
        q = scaled >> shift;
        const uint64_t rest = scaled & ((uint64_t{1} << shift) - 1);
        const uint64_t half = uint64_t{1} << (shift - 1);
        // Rounded up in half the cases at random: arithmetic rather than a branch.
        q += static_cast<uint64_t>(rest > half) | (static_cast<uint64_t>(rest == half) & q & 1);
    }
    // [blanks][-]whole[.decimals]. Constant divisors compile to multiplications.
    uint64_t whole = q, fraction = 0;
    switch (decimals) {
    case 1:
        whole = q / 10;
        fraction = q % 10;
        break;
    case 2:
        whole = q / 100;
        fraction = q % 100;
        break;
    case 3:
        whole = q / 1000;
        fraction = q % 1000;
        break;
    default:
        break;
    }
    const unsigned wholeDigits = decimalDigits(whole);
    // The trace columns: a whole part of up to eight digits right-aligned in a field of
    // eight or more. The blanks go first as one store, then the digits as one 8-byte
    // store whose leading zeros are blanks, ending where the decimals start.
    const unsigned field = width - (decimals ? decimals + 1 : 0);
    if (std::endian::native == std::endian::little && !negative && whole < 100000000 &&
        width >= decimals + 1 + 8 && field <= 24) {
        std::memset(out, ' ', 16);
        const uint64_t blanks = ~uint64_t{0} >> (8 * wholeDigits - 1) >> 1;
        const uint64_t text =
            ((eightDigits(static_cast<uint32_t>(whole)) + kAsciiZeros) & ~blanks) |
            (kAsciiBlanks & blanks);
        std::memcpy(out + field - 8, &text, 8);
        char* p = out + field;
        if (decimals) *p++ = '.';
        if (decimals == 3) {
            std::memcpy(p, &kThreeDigits[fraction], 4);
        } else {
            for (unsigned i = decimals; i-- > 0; fraction /= 10)
                p[i] = static_cast<char>('0' + fraction % 10);
        }
        return out + width;
    }
    const unsigned length = negative + wholeDigits + (decimals ? decimals + 1 : 0);
    const unsigned total = length < width ? width : length;
    if (total > length) fill(out, ' ', total - length);
    char* p = out + total;
    if (decimals == 3) { // the version 2.1 offset: a digit and a pair
        p -= 3;
        p[0] = static_cast<char>('0' + fraction / 100);
        std::memcpy(p + 1, kDigitPairs + fraction % 100 * 2, 2);
    } else {
        for (unsigned i = 0; i < decimals; ++i) {
            *--p = static_cast<char>('0' + fraction % 10);
            fraction /= 10;
        }
    }
    if (decimals) *--p = '.';
    digitsBackwards(p, whole);
    if (negative) out[total - length] = '-';
    return out + total;
}

char* cstr_support_put_hex_bytes(char* out, const void* bytes, size_t count) {
    const unsigned char* b = static_cast<const unsigned char*>(bytes);
    size_t i = 0;
    if constexpr (std::endian::native == std::endian::little) {
        // Two bytes, six characters, one 8-byte store.
        for (; i + 2 <= count; i += 2) {
            const uint64_t two = kHexTriples[b[i]] | uint64_t{kHexTriples[b[i + 1]]} << 24;
            std::memcpy(out, &two, 8);
            out += 6;
        }
    }
    for (; i < count; ++i) {
        std::memcpy(out, &kHexTriples[b[i]], 4);
        out += 3;
    }
    return count ? out - 1 : out;
}

char* cstr_support_put_hex_packed(char* out, const void* bytes, size_t count) {
    const unsigned char* b = static_cast<const unsigned char*>(bytes);
    size_t i = 0;
    if constexpr (std::endian::native == std::endian::little) {
        // Four bytes, eight characters, one 8-byte store.
        for (; i + 4 <= count; i += 4) {
            uint64_t four = 0;
            for (size_t k = 0; k < 4; ++k)
                four |= uint64_t{kHexTriples[b[i + k]] & 0xFFFF} << (16 * k);
            std::memcpy(out, &four, 8);
            out += 8;
        }
    }
    for (; i < count; ++i) {
        std::memcpy(out, &kHexTriples[b[i]], 2); // the table holds each byte's digits in order
        out += 2;
    }
    return out;
}
