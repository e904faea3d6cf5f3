// Bit extraction, signal decode and value conversions.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "mdf/cDecode.h"
#include "mdf/cMdfConversionRule.h"
#include "support/log.h"

namespace {

std::vector<std::string> g_lines;
void captureLine(const char* line, int length) {
    g_lines.emplace_back(line, length);
}

struct LogCapture {
    LogCapture() {
        g_lines.clear();
        zf_log_set_output_callback(captureLine);
    }
    ~LogCapture() { zf_log_set_output_callback(nullptr); }
    bool saw(const char* text) const {
        for (const auto& l : g_lines)
            if (l.find(text) != std::string::npos) return true;
        return false;
    }
};

struct RawCase {
    std::vector<uint8_t> bytes;
    uint64_t start;
    uint64_t length;
    bool le;
    uint64_t expected;
};

TEST(DecodeRawBits, TableOfFields) {
    const RawCase cases[] = {
        {{0x34, 0x12}, 0, 16, true, 0x1234},
        {{0x34, 0x12}, 0, 16, false, 0x3412},
        {{0xAB, 0xCD}, 4, 8, true, 0xDA},
        {{0xAB, 0xCD}, 4, 8, false, 0xBC},
        {{0x34, 0x12}, 8, 16, true, 0},  // needs 3 bytes
        {{0x34, 0x12}, 8, 16, false, 0}, // needs 3 bytes
        {{0xFF, 0xFF}, 0, 0, true, 0},
        {{0xFF}, 7, 1, true, 1},
        {{0x80}, 0, 1, false, 1},
        {{0x01}, 0, 1, false, 0},
        // a 9-byte buffer read at the very end: the load must not run past it
        {{0, 0, 0, 0, 0, 0, 0, 0, 0xA5}, 64, 8, true, 0xA5},
        {{0, 0, 0, 0, 0, 0, 0, 0, 0xA5}, 64, 8, false, 0xA5},
        {{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}, 0, 64, true, 0x8877665544332211ull},
        {{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}, 0, 64, false, 0x1122334455667788ull},
        // 64 bits at an odd position spill into a ninth byte
        {{0xF0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F}, 4, 64, true, ~0ull},
        {{0x0F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xF0}, 4, 64, false, ~0ull},
        // 60-bit field: beyond the one-load path
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 2, 60, true, (1ull << 60) - 1},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 2, 60, false, (1ull << 60) - 1},
        // a field longer than 64 bits gives its 64 least significant bits
        {{0x01, 0, 0, 0, 0, 0, 0, 0, 0x02}, 0, 72, true, 1},
        {{0x02, 0, 0, 0, 0, 0, 0, 0, 0x01}, 0, 72, false, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cDecode_getRawBits(c.bytes.data(), c.bytes.size(), c.start, c.length, c.le),
                  c.expected)
            << "start " << c.start << " length " << c.length << " le " << c.le;
    }
}

TEST(DecodeRawBits, HugeOrNullInputsReadNothing) {
    uint8_t b[4] = {1, 2, 3, 4};
    EXPECT_EQ(cDecode_getRawBits(nullptr, 4, 0, 8, true), 0u);
    EXPECT_EQ(cDecode_getRawBits(b, 4, UINT64_MAX - 3, 8, true), 0u);
    EXPECT_EQ(cDecode_getRawBits(b, 4, 0, UINT64_MAX, false), 0u);
    EXPECT_EQ(cDecode_getRawBits(b, 4, 1ull << 62, 8, true), 0u);
}

TEST(DecodeRawBits, TwentyNineBitIdAtBit40) {
    // bits 40..68 of a little-endian record
    uint8_t rec[16] = {};
    uint64_t id = 0x1ABCDEF5;
    for (int i = 0; i < 29; ++i)
        if ((id >> i) & 1) rec[(40 + i) / 8] |= uint8_t(1u << ((40 + i) % 8));
    rec[8] |= 0xE0; // neighbours beyond the field must not leak in
    rec[4] |= 0x7F;
    EXPECT_EQ(cDecode_getRawBits(rec, sizeof rec, 40, 29, true), id);
}

TEST(DecodeSignal, FailuresLogTheirMessage) {
    uint8_t b[8] = {};
    double v = 123;
    struct {
        cDecodeSignal sig;
        const char* message;
    } cases[] = {
        {{1, 1, 0, 0, 1, 0}, "Invalid signal bit length (zero)"},
        {{1, 1, 60, 8, 1, 0}, "Invalid signal bit length (exceeds payload)"},
        {{1, 3, 0, 16, 1, 0}, "Invalid signal bit length (float != 32)"},
        {{1, 4, 0, 32, 1, 0}, "Invalid signal bit length (double != 64)"},
    };
    for (const auto& c : cases) {
        LogCapture log;
        EXPECT_FALSE(cDecode_decode(b, sizeof b, &c.sig, &v));
        EXPECT_TRUE(log.saw(c.message)) << c.message;
        EXPECT_EQ(v, 123);
    }
}

TEST(DecodeSignal, ValueTypesFactorAndOffset) {
    uint8_t b[8] = {0x0F};
    double v = 0;
    cDecodeSignal s{1, 2, 0, 4, 1, 0};
    ASSERT_TRUE(cDecode_decode(b, 8, &s, &v));
    EXPECT_EQ(v, -1.0);
    s.factor = 0.5;
    s.offset = 10;
    ASSERT_TRUE(cDecode_decode(b, 8, &s, &v));
    EXPECT_EQ(v, 9.5);
    s = {1, 1, 0, 4, 1, 0};
    ASSERT_TRUE(cDecode_decode(b, 8, &s, &v));
    EXPECT_EQ(v, 15.0);

    float f = -2.25f;
    std::memcpy(b, &f, 4);
    s = {1, 3, 0, 32, 2, 1};
    ASSERT_TRUE(cDecode_decode(b, 8, &s, &v));
    EXPECT_EQ(v, -3.5);
    double d = 1e300;
    std::memcpy(b, &d, 8);
    s = {1, 4, 0, 64, 1, 0};
    ASSERT_TRUE(cDecode_decode(b, 8, &s, &v));
    EXPECT_EQ(v, 1e300);
    // a signed 64-bit value needs no extension
    std::memset(b, 0xFF, 8);
    s = {1, 2, 0, 64, 1, 0};
    ASSERT_TRUE(cDecode_decode(b, 8, &s, &v));
    EXPECT_EQ(v, -1.0);
    // unknown value type: 0 before factor and offset
    s = {1, 9, 0, 8, 3, 7};
    ASSERT_TRUE(cDecode_decode(b, 8, &s, &v));
    EXPECT_EQ(v, 7.0);
}

TEST(DecodeSignal, DbcBitPosition) {
    EXPECT_EQ(cDecode_dbcBitPosition2Internal(7, false), 0);
    EXPECT_EQ(cDecode_dbcBitPosition2Internal(12, false), 11);
    EXPECT_EQ(cDecode_dbcBitPosition2Internal(12, true), 12);
}

TEST(ConversionRule, IdentityLinearLookup) {
    cMdfConversionRule id = cMdfConversionRule_default();
    EXPECT_EQ(cMdfConversionRule_convert(&id, 42), 42);
    EXPECT_EQ(cMdfConversionRule_convert(nullptr, 42), 42);

    cMdfConversionRule lin = cMdfConversionRule_linear(0.5, 2);
    EXPECT_EQ(cMdfConversionRule_convert(&lin, 10), 7);

    cMdfConversionRule lut = cMdfConversionRule_lookupTable({{1, 100}, {2, 200}});
    EXPECT_EQ(cMdfConversionRule_convert(&lut, 1), 100);
    EXPECT_EQ(cMdfConversionRule_convert(&lut, 2), 200);
    EXPECT_TRUE(std::isnan(cMdfConversionRule_convert(&lut, 3)));

    cMdfConversionRule empty = cMdfConversionRule_lookupTable({});
    EXPECT_TRUE(std::isnan(cMdfConversionRule_convert(&empty, 0)));

    // clones own their data: dropping the original leaves the clone working
    cMdfConversionRule lin2 = cMdfConversionRule_clone(&lin);
    cMdfConversionRule lut2 = cMdfConversionRule_clone(&lut);
    EXPECT_NE(lin2.data, lin.data);
    EXPECT_NE(lut2.data, lut.data);
    cMdfConversionRule_drop(&lin);
    cMdfConversionRule_drop(&lut);
    EXPECT_EQ(cMdfConversionRule_convert(&lin2, 10), 7);
    EXPECT_EQ(cMdfConversionRule_convert(&lut2, 2), 200);
    // a dropped rule is the identity again, and dropping twice is harmless
    EXPECT_EQ(cMdfConversionRule_convert(&lin, 10), 10);
    cMdfConversionRule_drop(&lin);
    cMdfConversionRule_drop(&lin2);
    cMdfConversionRule_drop(&lut2);
    cMdfConversionRule_drop(&empty);
    cMdfConversionRule_drop(nullptr);
}

} // namespace
