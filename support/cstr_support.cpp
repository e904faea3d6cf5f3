#include "support/cstr_support.h"

#include <cstdarg>
#include <cstdio>

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

void cstr_support_strftime(std::string* str, const char* format, const struct tm* time) {
    if (!str || !format || !time || !*format) return;
    // strftime gives 0 both for "does not fit" and for an empty expansion, so the room is
    // bounded: a format cannot expand to more than a few hundred bytes per character.
    size_t limit = 256 + 512 * std::char_traits<char>::length(format);
    for (size_t room = 64; room <= limit; room *= 2) {
        std::string buf(room, '\0');
        size_t n = strftime(buf.data(), room, format, time);
        if (n > 0) {
            str->append(buf.data(), n);
            return;
        }
    }
}
