#include <gtest/gtest.h>

#include <random>
#include <tuple>

#include "io/cIO_crc32.h"
#include "io/crc32.h"
#include "io_test_support.h"

namespace {
const char kCheck[] = "123456789";
const cIO_vtable failingVt = {[](cIO*, void*, uint64_t) -> int64_t { return -1; },
                              [](cIO*, const void*, uint64_t) -> int64_t { return -1; }, nullptr,
                              nullptr, nullptr};
} // namespace

TEST(Crc32, CheckValuesAndEveryLengthAndAlignment) {
    // The last is one bare table step.
    EXPECT_EQ(std::make_tuple(crc_32(kCheck, 9),
                              crc_32("The quick brown fox jumps over the lazy dog", 43),
                              crc_32(nullptr, 9), crc_32(kCheck, 0), update_crc_32(0, 1)),
              std::make_tuple(0xCBF43926u, 0x414FA339u, 0u, 0u, 0x77073096u));
    // The bulk routine (eight bytes a step) equals single steps at any length and offset.
    std::mt19937 rng(7);
    std::vector<uint8_t> data(301);
    for (auto& b : data)
        b = uint8_t(rng());
    for (size_t start = 0; start < 9; start++) {
        uint32_t reg = 0xFFFFFFFFu;
        for (size_t len = 0; start + len < data.size();
             reg = update_crc_32(reg, data[start + len++]))
            EXPECT_EQ(update_crc_32_buffer(0xFFFFFFFFu, &data[start], len), reg)
                << start << "+" << len;
    }
}

TEST(Crc32Stream, CarriesTheJamcrcRegisterThroughReadsAndWrites) {
    cIO* mem = cIO_memoryAlloc_ctor();
    cIO* crc = cIO_crc32_ctor(mem);
    ASSERT_NE(crc, nullptr);
    EXPECT_EQ(cIO_crc32_getCRC(crc), 0xFFFFFFFFu); // nothing carried yet
    run(crc, "w=9:123456789");
    EXPECT_EQ(cIO_crc32_getCRC(crc), 0x340BC6D9u);
    cIO_close(crc);
    ASSERT_EQ(cIO_seek(mem, 0, cIO_SEEK_SET), 0);
    crc = cIO_crc32_ctor(mem);
    run(crc, "r4=4:1234 r16=5:56789 r16=0");
    EXPECT_EQ(cIO_crc32_getCRC(crc), 0x340BC6D9u);
    EXPECT_EQ(cIO_close(crc), 0);
    EXPECT_EQ(cIO_crc32_getCRC(mem), 0u); // not a CRC stream
    cIO_close(mem);
    // Inner failures pass unchanged and leave the register.
    cIO failing{&failingVt};
    crc = cIO_crc32_ctor(&failing);
    run(crc, "r4=-1 w=-1:abcd");
    EXPECT_EQ(cIO_crc32_getCRC(crc), 0xFFFFFFFFu);
    cIO_close(crc);
}
