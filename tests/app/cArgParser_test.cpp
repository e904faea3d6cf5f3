#include <gtest/gtest.h>

#include "app/cArgParser.h"

namespace {

TEST(cArgParser, IntegerValues) {
    const struct {
        const char* text;
        int rc;
        int32_t value;
    } cases[] = {
        // clang-format off
        {"-1", cArg_OK, -1}, {"+17", cArg_OK, 17}, {"1MB", cArg_OK, 1048576}, {"4kB", cArg_OK, 4096},
        {"1gb", cArg_OK, 1 << 30}, {"0XfF", cArg_OK, 255}, {"0o17", cArg_OK, 15},
        {"0B1KB", cArg_OK, 1024}, {"-0x10", cArg_OK, -16}, {"010", cArg_OK, 10},
        {"2147483647", cArg_OK, INT32_MAX}, {"-2GB", cArg_OK, INT32_MIN},
        {"2147483648", cArg_ERR_OVERFLOW, 0}, {"2GB", cArg_ERR_OVERFLOW, 0},
        {"-2147483649", cArg_ERR_OVERFLOW, 0}, {"99999999999999999999999", cArg_ERR_OVERFLOW, 0},
        {"", cArg_ERR_BADINT, 0}, {"0x", cArg_ERR_BADINT, 0}, {"0b2", cArg_ERR_BADINT, 0},
        {"12 ", cArg_ERR_BADINT, 0}, {"1TB", cArg_ERR_BADINT, 0}, {"1K", cArg_ERR_BADINT, 0},
        {"-", cArg_ERR_BADINT, 0},
        // clang-format on
    };
    for (const auto& c : cases) {
        int32_t value = 12345;
        EXPECT_EQ(cArg_parseInt(c.text, &value), c.rc) << c.text;
        if (c.rc == cArg_OK) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
}

} // namespace
