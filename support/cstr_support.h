#pragma once
// Appending formatted text to strings. The program's text string is std::string: it may
// hold any byte value and is always NUL-terminated through c_str().

#include <cstddef>
#include <cstdint>
#include <string>

// printf-style append; formats into the free capacity first, grows once when it does not fit.
void cstr_support_append_fmt(std::string* str, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
// Two hex digits per byte, high nibble first; separator 0 means none between bytes.
void cstr_support_append_hex_buffer(std::string* str, const void* bytes, size_t count,
                                    char separator, bool uppercase);

// Writers for the hot output paths. Each writes into a caller's buffer at out and returns
// the end of the text, exactly what printf gives for the conversion named; no NUL is
// written. The buffer needs room for the longest text of the call plus 16 bytes: blanks
// and zeros in front are filled 16 bytes at a time, and may land behind the end.
//
// "%*" PRIu64 with the given minimum width (blanks in front); max(width, 20) bytes at most.
char* cstr_support_put_uint(char* out, uint64_t value, unsigned width);
// "%0*X": upper-case hexadecimal, at least digits digits (zeros in front), at most
// max(digits, 8) bytes.
char* cstr_support_put_hex32(char* out, uint32_t value, unsigned digits);
// "%*.*f", rounded as printf rounds (the exact binary value, ties to even). Finite values
// below 2^53 with 0 to 3 decimals take an exact integer path; everything else (more
// decimals, larger values, infinities, NaN) goes through snprintf. width is at most
// cstr_support_FIXED_MAX; the text takes at most cstr_support_FIXED_MAX bytes.
constexpr unsigned cstr_support_FIXED_MAX = 330;
char* cstr_support_put_fixed(char* out, double value, unsigned width, unsigned decimals);
// Two upper-case hex digits per byte, one blank between bytes: 3 * count - 1 bytes (none
// for count 0); up to three bytes behind the end may be overwritten.
char* cstr_support_put_hex_bytes(char* out, const void* bytes, size_t count);
// Two upper-case hex digits per byte, no separator: 2 * count bytes, nothing behind them.
char* cstr_support_put_hex_packed(char* out, const void* bytes, size_t count);
