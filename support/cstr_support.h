#pragma once
// Appending formatted text to strings. The program's text string is std::string: it may
// hold any byte value and is always NUL-terminated through c_str().

#include <cstddef>
#include <ctime>
#include <string>

// printf-style append; formats into the free capacity first, grows once when it does not fit.
void cstr_support_append_fmt(std::string* str, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
// Two hex digits per byte, high nibble first; separator 0 means none between bytes.
void cstr_support_append_hex_buffer(std::string* str, const void* bytes, size_t count,
                                    char separator, bool uppercase);
// strftime expansion appended; an empty expansion appends nothing.
void cstr_support_strftime(std::string* str, const char* format, const struct tm* time);
