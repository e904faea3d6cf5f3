#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>

#include "io/cIO_crc32.h"
#include "io/crc32.h"
#include "io_test_support.h"

TEST(Crc32, CheckValuesAndEveryLengthAndAlignment) {
    // The last is one bare table step.
    EXPECT_EQ(std::make_tuple(crc_32("123456789", 9),
                              crc_32("The quick brown fox jumps over the lazy dog", 43),
                              crc_32(nullptr, 9), crc_32("1", 0), update_crc_32(0, 1)),
              std::make_tuple(0xCBF43926u, 0x414FA339u, 0u, 0u, 0x77073096u));
    // The bulk routine (eight bytes a step) equals single steps at any length and offset.
    std::mt19937 rng(7);
    Bytes data(301);
    std::generate(data.begin(), data.end(), [&] { return uint8_t(rng()); });
    for (size_t start = 0; start < 9; start++) {
        uint32_t reg = 0xFFFFFFFFu;
        for (size_t len = 0; start + len < data.size();
             reg = update_crc_32(reg, data[start + len++]))
            EXPECT_EQ(update_crc_32_buffer(0xFFFFFFFFu, &data[start], len), reg)
                << start << "+" << len;
    }
}
