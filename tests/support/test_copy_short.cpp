#include <gtest/gtest.h>

#include <random>
#include <string>

#include "support/copy_short.h"

// Every length up to past the inline ones, at every alignment: the bytes land where memcpy
// puts them, and none in front or behind.
TEST(CopyShort, CopiesLikeMemcpyAndTouchesNothingAround) {
    std::mt19937 random(5);
    for (size_t n = 0; n <= 100; ++n) {
        for (size_t shift = 0; shift < 16; ++shift) {
            std::string src(n + 32, '\0'), dst(n + 32, '#');
            for (char& c : src)
                c = static_cast<char>(random());
            copy_short(dst.data() + shift, src.data() + 16 - shift, n);
            const std::string expected = std::string(shift, '#') + src.substr(16 - shift, n) +
                                         std::string(n + 32 - shift - n, '#');
            ASSERT_EQ(dst, expected) << n << " bytes at " << shift;
        }
    }
}
