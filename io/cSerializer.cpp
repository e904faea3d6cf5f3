#include "io/cSerializer.h"

#include <cstring>
#include <new>

namespace {

// Where the next field lies, or -1 when base + offset does not fit.
int64_t cSerializer_at(const cSerializer* ser) {
    int64_t at;
    if (__builtin_add_overflow(ser->base, ser->offset, &at) || at < 0) return -1;
    return at;
}

// The stream must really be at the field: a stream that cannot get there (a buffer stream
// asked to go past its data stays where it was) would otherwise hand out the wrong bytes.
bool cSerializer_seek(cSerializer* ser) {
    int64_t at = cSerializer_at(ser);
    return at >= 0 && cIO_seek(ser->stream, at, cIO_SEEK_SET) == at;
}

bool cSerializer_get(cSerializer* ser, void* dst, uint64_t n) {
    if (!ser || !ser->stream || !dst || n > (uint64_t)INT64_MAX) return false;
    if (!cSerializer_seek(ser)) return false;
    if (cIO_readFully(ser->stream, dst, n) != (int64_t)n) return false;
    ser->offset += (int64_t)n;
    return true;
}

uint64_t cSerializer_le(const uint8_t* b, int n) {
    uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = (v << 8) | b[i];
    return v;
}

template <typename T> bool cSerializer_readLe(cSerializer* ser, T* dst) {
    uint8_t b[sizeof(T)];
    if (!dst || !cSerializer_get(ser, b, sizeof(T))) return false;
    uint64_t v = cSerializer_le(b, (int)sizeof(T));
    if constexpr (sizeof(T) == 4) {
        uint32_t u = (uint32_t)v;
        memcpy(dst, &u, sizeof(T));
    } else if constexpr (sizeof(T) == 2) {
        uint16_t u = (uint16_t)v;
        memcpy(dst, &u, sizeof(T));
    } else if constexpr (sizeof(T) == 1) {
        uint8_t u = (uint8_t)v;
        memcpy(dst, &u, sizeof(T));
    } else {
        memcpy(dst, &v, sizeof(T));
    }
    return true;
}

// Strings taken from a file may claim any length: grow in steps as the bytes arrive, so a
// damaged length costs no more memory than the stream really holds.
constexpr uint64_t kCstrStep = 1 << 16;

} // namespace

cSerializer cSerializer_ctor(cIO* stream) {
    cSerializer ser;
    ser.stream = stream;
    ser.base = stream ? cIO_tell(stream) : 0;
    ser.offset = 0;
    return ser;
}

bool cSerializer_skip(cSerializer* ser, int64_t n) {
    if (!ser) return false;
    int64_t next;
    if (__builtin_add_overflow(ser->offset, n, &next)) return false;
    ser->offset = next;
    return true;
}

bool cSerializer_readU8(cSerializer* ser, uint8_t* dst) {
    return cSerializer_readLe(ser, dst);
}
bool cSerializer_readU16(cSerializer* ser, uint16_t* dst) {
    return cSerializer_readLe(ser, dst);
}
bool cSerializer_readI16(cSerializer* ser, int16_t* dst) {
    return cSerializer_readLe(ser, dst);
}
bool cSerializer_readU32(cSerializer* ser, uint32_t* dst) {
    return cSerializer_readLe(ser, dst);
}
bool cSerializer_readU64(cSerializer* ser, uint64_t* dst) {
    return cSerializer_readLe(ser, dst);
}
bool cSerializer_readF64(cSerializer* ser, double* dst) {
    return cSerializer_readLe(ser, dst);
}

bool cSerializer_readU32_BE(cSerializer* ser, uint32_t* dst) {
    uint8_t b[4];
    if (!dst || !cSerializer_get(ser, b, 4)) return false;
    *dst = (uint32_t)b[0] << 24 | (uint32_t)b[1] << 16 | (uint32_t)b[2] << 8 | b[3];
    return true;
}

bool cSerializer_readRaw(cSerializer* ser, void* dst, uint64_t n) {
    if (n == 0) return ser && ser->stream;
    return cSerializer_get(ser, dst, n);
}

bool cSerializer_readCstr(cSerializer* ser, std::string* str, uint64_t n) {
    if (!ser || !ser->stream || !str || n > (uint64_t)INT64_MAX) return false;
    const size_t keep = str->size();
    if (n > str->max_size() - keep) return false;
    cSerializer probe = *ser;
    try {
        uint64_t done = 0;
        while (done < n) {
            uint64_t step = n - done < kCstrStep ? n - done : kCstrStep;
            str->resize(keep + (size_t)(done + step));
            if (!cSerializer_get(&probe, &(*str)[keep + (size_t)done], step)) {
                str->resize(keep);
                return false;
            }
            done += step;
        }
    } catch (...) {
        str->resize(keep);
        return false;
    }
    ser->offset = probe.offset;
    return true;
}
