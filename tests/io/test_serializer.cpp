// Binary serializer: byte order, consecutive fields, failures that leave the offset alone.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>

#include "io/cIO.h"
#include "io/cIO_readBuffer.h"
#include "io/cSerializer.h"
#include "io_test_support.h"

namespace {

// The address of a value, for the calls that take their operand by pointer.
template <class T> const T* of(const T& v) {
    return &v;
}

// The value a read gives, failing the test when the read fails.
template <class T> T got(bool (*read)(cSerializer*, T*), cSerializer* s) {
    T v{};
    EXPECT_TRUE(read(s, &v)) << s->offset;
    return v;
}

} // namespace

TEST(Serializer, ByteOrderOfReadsAndTwoSerializersOnOneStream) {
    cIO* m = memoryOf("\x00\x00\x01\x02\xfe\xff\x00\x00\xc0\x3f", 10);
    cSerializer s = cSerializer_ctor(m);
    // Braces read the fields in order.
    EXPECT_EQ((std::tuple{got(cSerializer_readU32_BE, &s), got(cSerializer_readI16, &s),
                          got(cSerializer_readF32, &s)}),
              std::make_tuple(258u, int16_t(-2), 1.5f));
    s.offset = 0;
    EXPECT_EQ(got(cSerializer_readU32, &s), 33619968u);
    EXPECT_FALSE(cSerializer_readU32_BE(&s, nullptr));
    EXPECT_EQ(s.offset, 4);
    // Each keeps its own place, whatever the other did to the stream.
    cIO_seek(m, 6, cIO_SEEK_SET);
    cSerializer b = cSerializer_ctor(m);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(got(cSerializer_readU8, &s), uint8_t("\xfe\xff\x00\x00"[i]));
        EXPECT_EQ(got(cSerializer_readU8, &b), uint8_t("\x00\x00\xc0\x3f"[i]));
    }
    cIO_close(m);
}

TEST(Serializer, WritesInFileOrderAndReadsBack) {
    cIO* m = cIO_memoryAlloc_ctor();
    cSerializer w = cSerializer_ctor(m);
    ASSERT_TRUE(cSerializer_writeBool(&w, of(true)) &&
                cSerializer_writeU16(&w, of<uint16_t>(0xBEEF)) &&
                cSerializer_writeI32(&w, of(-7)) &&
                cSerializer_writeU64(&w, of<uint64_t>(0x0102030405060708)) &&
                cSerializer_writeF64(&w, of(-2.25e300)) &&
                cSerializer_writeCstr(&w, of(std::string("tail"))) &&
                cSerializer_writeCstrP(&w, "P") && cSerializer_writeCsview(&w, "vw", 2));
    EXPECT_EQ(w.offset, 1 + 2 + 4 + 8 + 8 + 4 + 1 + 2);
    const uint8_t* d = cIO_memoryAlloc_data(m);
    EXPECT_EQ(std::memcmp(d, "\x01\xef\xbe\xf9\xff\xff\xff\x08\x07", 9), 0);
    EXPECT_EQ(std::memcmp(d + 23, "tailPvw", 7), 0);
    cIO_seek(m, 0, cIO_SEEK_SET);
    cSerializer r = cSerializer_ctor(m);
    ASSERT_TRUE(cSerializer_skip(&r, 7));
    EXPECT_EQ((std::tuple{got(cSerializer_readU64, &r), got(cSerializer_readF64, &r)}),
              std::make_tuple(0x0102030405060708ull, -2.25e300));
    cIO_close(m);
}

TEST(Serializer, FailuresLeaveTheOffsetForARetry) {
    cIO* m = memoryOf("abc", 3);
    // Behind a buffer stream, which stays put when asked to go past its data: the
    // serializer must not take the bytes from wherever it stayed.
    cIO* b = cIO_bufferAlloc_ctor(m, false, 8);
    cSerializer s = cSerializer_ctor(b);
    uint32_t v = 0;
    EXPECT_FALSE(cSerializer_readU32(&s, &v));
    EXPECT_EQ(s.offset, 0);
    uint8_t x = 0;
    EXPECT_TRUE(cSerializer_skip(&s, 20) && !cSerializer_readU8(&s, &x));
    EXPECT_TRUE(cSerializer_skip(&s, -20) && !cSerializer_writeU8(&s, &x)); // read-only
    EXPECT_TRUE(cSerializer_skip(&s, 1) && !cSerializer_skip(&s, INT64_MAX) &&
                !cSerializer_skip(nullptr, 1) && cSerializer_skip(&s, -1));
    EXPECT_FALSE(cSerializer_readU8(&s, nullptr) || cSerializer_readCstr(&s, nullptr, 1));
    EXPECT_EQ(s.offset, 0);
    cSerializer direct = cSerializer_ctor(m); // writable
    EXPECT_FALSE(cSerializer_writeCstr(&direct, nullptr) ||
                 cSerializer_writeCstrP(&direct, nullptr));
    EXPECT_EQ(direct.offset, 0);
    cIO_seek(m, 0, cIO_SEEK_END);
    cIO_write(m, "\x02", 1); // the stream grew: the same field reads now
    EXPECT_EQ(got(cSerializer_readU32, &s), 0x02636261u);
    bool flag = false; // a bool byte of 2 from a damaged file reads as true
    s.offset = 3;
    EXPECT_TRUE(cSerializer_readBool(&s, &flag) && flag);
    cIO_close(b);
    cIO_close(m);
    cSerializer none = cSerializer_ctor(nullptr);
    EXPECT_FALSE(cSerializer_readU8(&none, &x) || cSerializer_readU8(nullptr, &x) ||
                 cSerializer_writeU8(&none, &x));
}

TEST(Serializer, ReadCstrAppendsAndNeverTrustsTheLength) {
    std::string big(200000, 'x');
    big += "12345678";
    cIO* m = memoryOf(big.data(), big.size());
    cIO_seek(m, 200000, cIO_SEEK_SET);
    cSerializer s = cSerializer_ctor(m);
    std::string str = "ab";
    ASSERT_TRUE(cSerializer_readCstr(&s, &str, 8));
    EXPECT_EQ(str, "ab12345678");
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
