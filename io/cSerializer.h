#pragma once
// Fixed-size fields at consecutive positions of a stream. A serializer remembers where it
// started and how far it got and seeks there before every field, so several serializers
// can take turns on one stream.
//   cIO* stream (not owned); int64_t base (tell at construction); int64_t offset (consumed).
// Fields are little-endian unless named _BE. A short transfer, a stream that cannot seek to
// the field, or a null destination returns false and leaves offset unchanged.

#include <cstdint>
#include <string>
#include <string_view>

#include "io/cIO.h"

struct cSerializer {
    cIO* stream;
    int64_t base;
    int64_t offset;
};

cSerializer cSerializer_ctor(cIO* stream);
bool cSerializer_skip(cSerializer* ser, int64_t n);

bool cSerializer_readU8(cSerializer* ser, uint8_t* dst);
bool cSerializer_readU16(cSerializer* ser, uint16_t* dst);
bool cSerializer_readI16(cSerializer* ser, int16_t* dst);
bool cSerializer_readU32(cSerializer* ser, uint32_t* dst);
bool cSerializer_readU64(cSerializer* ser, uint64_t* dst);
bool cSerializer_readF64(cSerializer* ser, double* dst);
bool cSerializer_readU32_BE(cSerializer* ser, uint32_t* dst);
bool cSerializer_readRaw(cSerializer* ser, void* dst, uint64_t n);
// Appends n bytes to str (existing text kept). On failure str is back to its old text; the
// string grows only as bytes arrive, so a damaged length cannot force a huge allocation.
bool cSerializer_readCstr(cSerializer* ser, std::string* str, uint64_t n);
