#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "io/cIO_crc32.h"
#include "io/cIO_memoryAlloc.h"
#include "io/crc32.h"

namespace {

const char kCheck[] = "123456789";

// A stream whose reads and writes always fail.
int64_t failingRead(cIO*, void*, uint64_t) {
    return -1;
}
int64_t failingWrite(cIO*, const void*, uint64_t) {
    return -1;
}
const cIO_vtable failingVt = {failingRead, failingWrite, nullptr, nullptr, nullptr};

} // namespace

TEST(Crc32, CheckValuesOfTheStandardAlgorithm) {
    EXPECT_EQ(crc_32(kCheck, 9), 0xCBF43926u);
    EXPECT_EQ(crc_32("a", 1), 0xE8B7BE43u);
    EXPECT_EQ(crc_32("The quick brown fox jumps over the lazy dog", 43), 0x414FA339u);
    EXPECT_EQ(crc_32(nullptr, 9), 0u);
    EXPECT_EQ(crc_32(kCheck, 0), 0u);
}

TEST(Crc32, TableStepsAndBulkUpdateAgreeAtEveryLengthAndAlignment) {
    std::mt19937 rng(7);
    std::vector<uint8_t> data(301);
    for (auto& b : data)
        b = uint8_t(rng());
    for (size_t start = 0; start < 5; start++) {
        for (size_t len = 0; len + start <= data.size(); len += 13) {
            uint32_t reg = 0xFFFFFFFFu;
            for (size_t i = 0; i < len; i++)
                reg = update_crc_32(reg, data[start + i]);
            EXPECT_EQ(update_crc_32_buffer(0xFFFFFFFFu, data.data() + start, len), reg);
            if (len > 0) EXPECT_EQ(crc_32(data.data() + start, len), reg ^ 0xFFFFFFFFu);
        }
    }
    // One step with no initial value and no final XOR: table[byte] for a zero register.
    EXPECT_EQ(update_crc_32(0, 1), 0x77073096u);
    EXPECT_EQ(update_crc_32(0, 0), 0u);
}

TEST(Crc32Stream, ReadingCarriesTheJamcrcRegister) {
    cIO* mem = cIO_memoryAlloc_ctor();
    ASSERT_NE(mem, nullptr);
    ASSERT_EQ(cIO_write(mem, kCheck, 9), 9);
    ASSERT_EQ(cIO_seek(mem, 0, cIO_SEEK_SET), 0);
    cIO* crc = cIO_crc32_ctor(mem);
    ASSERT_NE(crc, nullptr);
    EXPECT_EQ(cIO_crc32_getCRC(crc), 0xFFFFFFFFu);
    char buf[16] = {};
    EXPECT_EQ(cIO_read(crc, buf, 4), 4);
    EXPECT_EQ(cIO_read(crc, buf + 4, 16), 5);
    EXPECT_EQ(cIO_read(crc, buf, 16), 0); // the end adds nothing
    EXPECT_EQ(std::memcmp(buf, kCheck, 9), 0);
    EXPECT_EQ(cIO_crc32_getCRC(crc), 0x340BC6D9u);
    // No tell and no seek on this kind.
    EXPECT_EQ(cIO_tell(crc), cIO_UNSUPPORTED);
    EXPECT_EQ(cIO_seek(crc, 0, cIO_SEEK_SET), cIO_UNSUPPORTED);
    EXPECT_EQ(cIO_close(crc), 0);
    cIO_close(mem);
}

TEST(Crc32Stream, WritingCarriesTheRegisterOfTheAcceptedBytes) {
    cIO* mem = cIO_memoryAlloc_ctor();
    cIO* crc = cIO_crc32_ctor(mem);
    ASSERT_NE(crc, nullptr);
    EXPECT_EQ(cIO_write(crc, kCheck, 9), 9);
    EXPECT_EQ(cIO_crc32_getCRC(crc), 0x340BC6D9u);
    EXPECT_EQ(cIO_memoryAlloc_size(mem), 9u);
    cIO_close(crc);
    cIO_close(mem);
}

TEST(Crc32Stream, InnerFailureIsPassedOnAndLeavesTheRegister) {
    cIO failing{&failingVt};
    cIO* crc = cIO_crc32_ctor(&failing);
    ASSERT_NE(crc, nullptr);
    char buf[4] = {1, 2, 3, 4};
    EXPECT_EQ(cIO_read(crc, buf, 4), -1);
    EXPECT_EQ(cIO_write(crc, buf, 4), -1);
    EXPECT_EQ(cIO_crc32_getCRC(crc), 0xFFFFFFFFu);
    cIO_close(crc);
}

TEST(Crc32Stream, NullInnerAndForeignStreams) {
    EXPECT_EQ(cIO_crc32_ctor(nullptr), nullptr);
    EXPECT_EQ(cIO_crc32_getCRC(nullptr), 0u);
    cIO* mem = cIO_memoryAlloc_ctor();
    EXPECT_EQ(cIO_crc32_getCRC(mem), 0u); // not a CRC stream: no register to report
    cIO_close(mem);
}
