// Binary serializer: byte order, consecutive fields, failures that leave the offset alone.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "io/cIO.h"
#include "io/cIO_memoryAlloc.h"
#include "io/cIO_readBuffer.h"
#include "io/cSerializer.h"

namespace {

cIO* memoryWith(const void* bytes, size_t n) {
    cIO* m = cIO_memoryAlloc_ctor();
    cIO_write(m, bytes, n);
    cIO_seek(m, 0, cIO_SEEK_SET);
    return m;
}

} // namespace

TEST(Serializer, ByteOrder) {
    const uint8_t bytes[] = {0x00, 0x00, 0x01, 0x02};
    cIO* m = memoryWith(bytes, 4);
    cSerializer be = cSerializer_ctor(m);
    uint32_t v = 0;
    ASSERT_TRUE(cSerializer_readU32_BE(&be, &v));
    EXPECT_EQ(v, 258u);
    cIO_seek(m, 0, cIO_SEEK_SET);
    cSerializer le = cSerializer_ctor(m);
    ASSERT_TRUE(cSerializer_readU32(&le, &v));
    EXPECT_EQ(v, 33619968u);
    EXPECT_FALSE(cSerializer_readU32_BE(&le, nullptr));
    cIO_close(m);
}

TEST(Serializer, EveryFieldRoundTripsLittleEndian) {
    cIO* m = cIO_memoryAlloc_ctor();
    cSerializer w = cSerializer_ctor(m);
    const uint8_t u8 = 0xFE;
    const int8_t i8 = -3;
    const bool t = true;
    const uint16_t u16 = 0xBEEF;
    const int16_t i16 = -12345;
    const uint32_t u32 = 0x01020304;
    const int32_t i32 = -7;
    const float f32 = 1.5f;
    const uint64_t u64 = 0x0102030405060708ull;
    const int64_t i64 = INT64_MIN + 9;
    const double f64 = -2.25e300;
    const std::string s = "tail";
    ASSERT_TRUE(cSerializer_writeU8(&w, &u8) && cSerializer_writeI8(&w, &i8) &&
                cSerializer_writeBool(&w, &t) && cSerializer_writeU16(&w, &u16) &&
                cSerializer_writeI16(&w, &i16) && cSerializer_writeU32(&w, &u32) &&
                cSerializer_writeI32(&w, &i32) && cSerializer_writeF32(&w, &f32) &&
                cSerializer_writeU64(&w, &u64) && cSerializer_writeI64(&w, &i64) &&
                cSerializer_writeF64(&w, &f64) && cSerializer_writeCstr(&w, &s) &&
                cSerializer_writeCstrP(&w, "P") && cSerializer_writeCsview(&w, "vw", 2));
    EXPECT_EQ(w.offset, 1 + 1 + 1 + 2 + 2 + 4 + 4 + 4 + 8 + 8 + 8 + 4 + 1 + 2);
    const uint8_t* d = cIO_memoryAlloc_data(m);
    // The file order of a few fields, byte by byte.
    EXPECT_EQ(d[3], 0xEF);
    EXPECT_EQ(d[4], 0xBE);
    EXPECT_EQ(d[7], 0x04);
    EXPECT_EQ(d[10], 0x01);
    EXPECT_EQ(d[19], 0x08);
    EXPECT_EQ(d[26], 0x01);
    EXPECT_EQ(std::memcmp(d + 43, "tailPvw", 7), 0);

    cIO_seek(m, 0, cIO_SEEK_SET);
    cSerializer r = cSerializer_ctor(m);
    uint8_t ru8;
    int8_t ri8;
    bool rt;
    uint16_t ru16;
    int16_t ri16;
    uint32_t ru32;
    int32_t ri32;
    float rf32;
    uint64_t ru64;
    int64_t ri64;
    double rf64;
    std::string rs;
    ASSERT_TRUE(cSerializer_readU8(&r, &ru8) && cSerializer_readI8(&r, &ri8) &&
                cSerializer_readBool(&r, &rt) && cSerializer_readU16(&r, &ru16) &&
                cSerializer_readI16(&r, &ri16) && cSerializer_readU32(&r, &ru32) &&
                cSerializer_readI32(&r, &ri32) && cSerializer_readF32(&r, &rf32) &&
                cSerializer_readU64(&r, &ru64) && cSerializer_readI64(&r, &ri64) &&
                cSerializer_readF64(&r, &rf64) && cSerializer_readCstr(&r, &rs, 7));
    EXPECT_EQ(ru8, u8);
    EXPECT_EQ(ri8, i8);
    EXPECT_EQ(rt, t);
    EXPECT_EQ(ru16, u16);
    EXPECT_EQ(ri16, i16);
    EXPECT_EQ(ru32, u32);
    EXPECT_EQ(ri32, i32);
    EXPECT_EQ(rf32, f32);
    EXPECT_EQ(ru64, u64);
    EXPECT_EQ(ri64, i64);
    EXPECT_EQ(rf64, f64);
    EXPECT_EQ(rs, "tailPvw");
    cIO_close(m);
}

TEST(Serializer, TwoSerializersTakeTurnsOnOneStream) {
    uint8_t bytes[200];
    for (int i = 0; i < 200; ++i)
        bytes[i] = (uint8_t)i;
    cIO* m = memoryWith(bytes, sizeof bytes);
    cSerializer a = cSerializer_ctor(m);
    cIO_seek(m, 100, cIO_SEEK_SET);
    cSerializer b = cSerializer_ctor(m);
    EXPECT_EQ(b.base, 100);
    uint8_t x = 0;
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(cSerializer_readU8(&a, &x));
        EXPECT_EQ(x, i);
        ASSERT_TRUE(cSerializer_readU8(&b, &x));
        EXPECT_EQ(x, 100 + i);
    }
    cIO_close(m);
}

TEST(Serializer, ShortReadLeavesTheOffsetForARetry) {
    cIO* m = memoryWith("\x01\x02\x03", 3);
    cSerializer s = cSerializer_ctor(m);
    uint32_t v = 0xAAAAAAAA;
    EXPECT_FALSE(cSerializer_readU32(&s, &v));
    EXPECT_EQ(s.offset, 0);
    cIO_seek(m, 0, cIO_SEEK_END);
    cIO_write(m, "\x04", 1);
    ASSERT_TRUE(cSerializer_readU32(&s, &v));
    EXPECT_EQ(v, 0x04030201u);
    EXPECT_EQ(s.offset, 4);
    cIO_close(m);
}

TEST(Serializer, SkipPastTheEndThenReadFailsEvenThroughABuffer) {
    cIO* m = memoryWith("abcdefghij", 10);
    // The buffer stream stays put when asked to go past its data; the serializer must not
    // take the bytes from wherever it stayed.
    cIO* b = cIO_bufferAlloc_ctor(m, false, 8);
    cSerializer s = cSerializer_ctor(b);
    uint8_t x;
    ASSERT_TRUE(cSerializer_readU8(&s, &x));
    EXPECT_TRUE(cSerializer_skip(&s, 20));
    EXPECT_FALSE(cSerializer_readU8(&s, &x));
    EXPECT_EQ(s.offset, 21);
    EXPECT_TRUE(cSerializer_skip(&s, -16));
    ASSERT_TRUE(cSerializer_readU8(&s, &x));
    EXPECT_EQ(x, 'f');
    EXPECT_FALSE(cSerializer_skip(&s, INT64_MAX));
    EXPECT_FALSE(cSerializer_skip(nullptr, 1));
    cIO_close(b);
    cIO_close(m);
}

TEST(Serializer, ReadCstrAppendsAndRestoresOnFailure) {
    cIO* m = memoryWith("12345678", 8);
    cSerializer s = cSerializer_ctor(m);
    std::string str = "ab";
    ASSERT_TRUE(cSerializer_readCstr(&s, &str, 8));
    EXPECT_EQ(str.size(), 10u);
    EXPECT_EQ(str, "ab12345678");
    EXPECT_EQ(str.c_str()[10], '\0');
    // A damaged length far beyond the stream fails without a huge allocation.
    std::string again = "keep";
    EXPECT_FALSE(cSerializer_readCstr(&s, &again, (uint64_t)1 << 50));
    EXPECT_EQ(again, "keep");
    EXPECT_EQ(s.offset, 8);
    EXPECT_FALSE(cSerializer_readCstr(&s, nullptr, 1));
    cIO_close(m);
}

TEST(Serializer, LongStringsCrossTheGrowthSteps) {
    std::string big(200000, 'x');
    big[199999] = 'y';
    cIO* m = memoryWith(big.data(), big.size());
    cSerializer s = cSerializer_ctor(m);
    std::string out;
    ASSERT_TRUE(cSerializer_readCstr(&s, &out, big.size()));
    EXPECT_EQ(out, big);
    cIO_close(m);
}

TEST(Serializer, NullArgumentsAndUnsupportedStreams) {
    cSerializer none = cSerializer_ctor(nullptr);
    uint8_t x = 0;
    EXPECT_FALSE(cSerializer_readU8(&none, &x));
    EXPECT_FALSE(cSerializer_readU8(nullptr, &x));
    EXPECT_FALSE(cSerializer_writeU8(&none, &x));
    EXPECT_FALSE(cSerializer_writeCstrP(&none, nullptr));
    cIO* m = memoryWith("z", 1);
    cSerializer s = cSerializer_ctor(m);
    EXPECT_FALSE(cSerializer_readU8(&s, nullptr));
    EXPECT_FALSE(cSerializer_writeCstr(&s, nullptr));
    EXPECT_EQ(s.offset, 0);
    // A bool field holding 2 reads as true.
    cIO_seek(m, 0, cIO_SEEK_SET);
    cIO_write(m, "\x02", 1);
    bool flag = false;
    ASSERT_TRUE(cSerializer_readBool(&s, &flag));
    EXPECT_TRUE(flag);
    cIO_close(m);

    // A read-only stream refuses writes.
    cIO* src = memoryWith("abc", 3);
    cIO* ro = cIO_bufferAlloc_ctor(src, true, 8);
    cSerializer r = cSerializer_ctor(ro);
    EXPECT_FALSE(cSerializer_writeU8(&r, &x));
    EXPECT_EQ(r.offset, 0);
    cIO_close(ro);
}
