#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "io/cIO_crc32.h"
#include "io/cIO_memoryAlloc.h"
#include "io/crc32.h"

namespace {
const char kCheck[] = "123456789";
int64_t failingRead(cIO*, void*, uint64_t) {
    return -1;
}
int64_t failingWrite(cIO*, const void*, uint64_t) {
    return -1;
}
const cIO_vtable failingVt = {failingRead, failingWrite, nullptr, nullptr, nullptr};
} // namespace

TEST(Crc32, CheckValuesAndEveryLengthAndAlignment) {
    EXPECT_EQ(crc_32(kCheck, 9), 0xCBF43926u);
    EXPECT_EQ(crc_32("The quick brown fox jumps over the lazy dog", 43), 0x414FA339u);
    EXPECT_EQ(crc_32(nullptr, 9), 0u);
    EXPECT_EQ(crc_32(kCheck, 0), 0u);
    EXPECT_EQ(update_crc_32(0, 1), 0x77073096u); // one bare table step
    // The bulk routine (eight bytes a step) equals single steps at any length and offset.
    std::mt19937 rng(7);
    std::vector<uint8_t> data(301);
    for (auto& b : data)
        b = uint8_t(rng());
    for (size_t start = 0; start < 9; start++) {
        for (size_t len = 0; len + start <= data.size(); len += 7) {
            uint32_t reg = 0xFFFFFFFFu;
            for (size_t i = 0; i < len; i++)
                reg = update_crc_32(reg, data[start + i]);
            EXPECT_EQ(update_crc_32_buffer(0xFFFFFFFFu, data.data() + start, len), reg);
        }
    }
}

TEST(Crc32Stream, CarriesTheJamcrcRegisterThroughReadsAndWrites) {
    cIO* mem = cIO_memoryAlloc_ctor();
    cIO* crc = cIO_crc32_ctor(mem);
    ASSERT_NE(crc, nullptr);
    EXPECT_EQ(cIO_crc32_getCRC(crc), 0xFFFFFFFFu); // nothing carried yet
    EXPECT_EQ(cIO_write(crc, kCheck, 9), 9);
    EXPECT_EQ(cIO_crc32_getCRC(crc), 0x340BC6D9u);
    cIO_close(crc);
    ASSERT_EQ(cIO_seek(mem, 0, cIO_SEEK_SET), 0);
    crc = cIO_crc32_ctor(mem);
    char buf[16] = {};
    EXPECT_EQ(cIO_read(crc, buf, 4), 4);
    EXPECT_EQ(cIO_read(crc, buf + 4, 16), 5);
    EXPECT_EQ(cIO_read(crc, buf, 16), 0);
    EXPECT_EQ(std::memcmp(buf, "123456789", 4), 0);
    EXPECT_EQ(cIO_crc32_getCRC(crc), 0x340BC6D9u);
    EXPECT_EQ(cIO_close(crc), 0);
    EXPECT_EQ(cIO_crc32_getCRC(mem), 0u); // not a CRC stream
    cIO_close(mem);
    // Inner failures pass unchanged and leave the register.
    cIO failing{&failingVt};
    crc = cIO_crc32_ctor(&failing);
    EXPECT_EQ(cIO_read(crc, buf, 4), -1);
    EXPECT_EQ(cIO_write(crc, buf, 4), -1);
    EXPECT_EQ(cIO_crc32_getCRC(crc), 0xFFFFFFFFu);
    cIO_close(crc);
}
