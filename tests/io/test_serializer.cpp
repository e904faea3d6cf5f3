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

TEST(Serializer, ByteOrderOfReads) {
    cIO* m = memoryWith("\x00\x00\x01\x02\xfe\xff\x00\x00\xc0\x3f", 10);
    cSerializer s = cSerializer_ctor(m);
    uint32_t u = 0;
    ASSERT_TRUE(cSerializer_readU32_BE(&s, &u));
    EXPECT_EQ(u, 258u);
    int16_t i16 = 0;
    float f = 0;
    ASSERT_TRUE(cSerializer_readI16(&s, &i16) && cSerializer_readF32(&s, &f));
    EXPECT_EQ(i16, -2);
    EXPECT_EQ(f, 1.5f);
    s.offset = 0;
    ASSERT_TRUE(cSerializer_readU32(&s, &u));
    EXPECT_EQ(u, 33619968u);
    EXPECT_FALSE(cSerializer_readU32_BE(&s, nullptr));
    EXPECT_EQ(s.offset, 4);
    cIO_close(m);
}

TEST(Serializer, WritesInFileOrderAndReadsBack) {
    cIO* m = cIO_memoryAlloc_ctor();
    cSerializer w = cSerializer_ctor(m);
    const bool t = true;
    const uint16_t u16 = 0xBEEF;
    const int32_t i32 = -7;
    const uint64_t u64 = 0x0102030405060708ull;
    const double f64 = -2.25e300;
    const std::string str = "tail";
    ASSERT_TRUE(cSerializer_writeBool(&w, &t) && cSerializer_writeU16(&w, &u16) &&
                cSerializer_writeI32(&w, &i32) && cSerializer_writeU64(&w, &u64) &&
                cSerializer_writeF64(&w, &f64) && cSerializer_writeCstr(&w, &str) &&
                cSerializer_writeCstrP(&w, "P") && cSerializer_writeCsview(&w, "vw", 2));
    EXPECT_EQ(w.offset, 1 + 2 + 4 + 8 + 8 + 4 + 1 + 2);
    const uint8_t* d = cIO_memoryAlloc_data(m);
    EXPECT_EQ(std::memcmp(d, "\x01\xef\xbe\xf9\xff\xff\xff\x08\x07", 9), 0);
    EXPECT_EQ(std::memcmp(d + 23, "tailPvw", 7), 0);
    cIO_seek(m, 0, cIO_SEEK_SET);
    cSerializer r = cSerializer_ctor(m);
    uint64_t ru64 = 0;
    double rf64 = 0;
    ASSERT_TRUE(cSerializer_skip(&r, 7) && cSerializer_readU64(&r, &ru64) &&
                cSerializer_readF64(&r, &rf64));
    EXPECT_EQ(ru64, u64);
    EXPECT_EQ(rf64, f64);
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
    uint8_t x = 0, y = 0;
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(cSerializer_readU8(&a, &x) && cSerializer_readU8(&b, &y));
        EXPECT_EQ(x, i);
        EXPECT_EQ(y, 100 + i);
    }
    cIO_close(m);
}

TEST(Serializer, FailuresLeaveTheOffsetForARetry) {
    cIO* m = memoryWith("abc", 3);
    // Behind a buffer stream, which stays put when asked to go past its data: the
    // serializer must not take the bytes from wherever it stayed.
    cIO* b = cIO_bufferAlloc_ctor(m, false, 8);
    cSerializer s = cSerializer_ctor(b);
    uint32_t v = 0;
    EXPECT_FALSE(cSerializer_readU32(&s, &v));
    EXPECT_EQ(s.offset, 0);
    uint8_t x = 0;
    EXPECT_TRUE(cSerializer_skip(&s, 20));
    EXPECT_FALSE(cSerializer_readU8(&s, &x));
    EXPECT_TRUE(cSerializer_skip(&s, -20));
    EXPECT_FALSE(cSerializer_writeU8(&s, &x)); // a read-only stream
    EXPECT_TRUE(cSerializer_skip(&s, 1));
    EXPECT_FALSE(cSerializer_skip(&s, INT64_MAX) || cSerializer_skip(nullptr, 1));
    EXPECT_TRUE(cSerializer_skip(&s, -1));
    EXPECT_EQ(s.offset, 0);
    cIO_seek(m, 0, cIO_SEEK_END);
    cIO_write(m, "d", 1); // the stream grew: the same field reads now
    ASSERT_TRUE(cSerializer_readU32(&s, &v));
    EXPECT_EQ(v, 0x64636261u);
    cIO_close(b);
    cIO_close(m);
}

TEST(Serializer, ReadCstrAppendsAndNeverTrustsTheLength) {
    std::string big(200000, 'x');
    big += "12345678";
    cIO* m = memoryWith(big.data(), big.size());
    cIO_seek(m, 200000, cIO_SEEK_SET);
    cSerializer s = cSerializer_ctor(m);
    std::string str = "ab";
    ASSERT_TRUE(cSerializer_readCstr(&s, &str, 8));
    EXPECT_EQ(str, "ab12345678");
    EXPECT_EQ(str.c_str()[10], '\0');
    std::string keep = "keep"; // a damaged length far past the stream's end
    EXPECT_FALSE(cSerializer_readCstr(&s, &keep, (uint64_t)1 << 50));
    EXPECT_EQ(keep, "keep");
    EXPECT_EQ(s.offset, 8);
    s.base = s.offset = 0; // across several growth steps
    std::string all;
    ASSERT_TRUE(cSerializer_readCstr(&s, &all, big.size()));
    EXPECT_EQ(all, big);
    cIO_close(m);
}

TEST(Serializer, NullArgumentsAndOddBools) {
    cSerializer none = cSerializer_ctor(nullptr);
    uint8_t x = 0;
    EXPECT_FALSE(cSerializer_readU8(&none, &x) || cSerializer_readU8(nullptr, &x));
    EXPECT_FALSE(cSerializer_writeU8(&none, &x));
    cIO* m = memoryWith("\x02", 1);
    cSerializer s = cSerializer_ctor(m);
    EXPECT_FALSE(cSerializer_readU8(&s, nullptr) || cSerializer_readCstr(&s, nullptr, 1));
    EXPECT_FALSE(cSerializer_writeCstr(&s, nullptr) || cSerializer_writeCstrP(&s, nullptr));
    EXPECT_EQ(s.offset, 0);
    bool flag = false; // a bool byte of 2 from a damaged file reads as true
    ASSERT_TRUE(cSerializer_readBool(&s, &flag));
    EXPECT_TRUE(flag);
    cIO_close(m);
}
