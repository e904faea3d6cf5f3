// Bit extraction, signal decode and value conversions.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "mdf/cDecode.h"
#include "mdf/cMdfBlock_CC.h"
#include "mdf/cMdfConversionRule.h"
#include "mdf_test_support.h"

namespace {

TEST(DecodeRawBits, FieldsInBothOrders) {
    const struct {
        std::vector<uint8_t> bytes;
        uint64_t start, length;
        bool le;
        uint64_t expected;
    } cases[] = {
        // clang-format off
        {{0x34, 0x12}, 0, 16, true, 0x1234}, {{0x34, 0x12}, 0, 16, false, 0x3412},
        {{0xAB, 0xCD}, 4, 8, true, 0xDA}, {{0xAB, 0xCD}, 4, 8, false, 0xBC},
        {{0x34, 0x12}, 8, 16, true, 0}, {{0x34, 0x12}, 8, 16, false, 0}, // needs 3 bytes
        {{0xFF, 0xFF}, 0, 0, true, 0}, {{0x80}, 0, 1, false, 1},
        {{0, 0, 0, 0, 0, 0, 0, 0, 0xA5}, 64, 8, true, 0xA5}, // last byte: no load past it
        {{0xF0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F}, 4, 64, true, ~0ull},
        {{0x0F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xF0}, 4, 64, false, ~0ull},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 2, 60, true, (1ull << 60) - 1},
        {{0x01, 0, 0, 0, 0, 0, 0, 0, 0x02}, 0, 72, true, 1}, // longer: the low 64 bits
        {{0x02, 0, 0, 0, 0, 0, 0, 0, 0x01}, 0, 72, false, 1},
        // clang-format on
    };
    for (const auto& c : cases)
        EXPECT_EQ(cDecode_getRawBits(c.bytes.data(), c.bytes.size(), c.start, c.length, c.le),
                  c.expected)
            << c.start << "/" << c.length << "/" << c.le;
    uint8_t b[16] = {};
    b[4] = 0x7F, b[8] = 0xE0; // neighbours of the field must not leak in
    for (int i = 0; i < 29; ++i)
        if ((0x1ABCDEF5u >> i) & 1) b[(40 + i) / 8] |= uint8_t(1u << ((40 + i) % 8));
    EXPECT_EQ(cDecode_getRawBits(b, 16, 40, 29, true), 0x1ABCDEF5u);
    EXPECT_EQ(cDecode_getRawBits(nullptr, 4, 0, 8, true) |
                  cDecode_getRawBits(b, 4, UINT64_MAX - 3, 8, true) |
                  cDecode_getRawBits(b, 4, 0, UINT64_MAX, false),
              0u);
}

TEST(DecodeSignal, ChecksValueTypesFactorAndOffset) {
    uint8_t b[8] = {0x0F};
    double v = 123;
    const struct {
        cDecodeSignal sig;
        const char* message;
    } failures[] = {
        {{1, 1, 0, 0, 1, 0}, "W Invalid signal bit length (zero)"},
        {{1, 1, 60, 8, 1, 0}, "W Invalid signal bit length (exceeds payload)"},
        {{1, 3, 0, 16, 1, 0}, "W Invalid signal bit length (float != 32)"},
        {{1, 4, 0, 32, 1, 0}, "W Invalid signal bit length (double != 64)"},
    };
    for (const auto& f : failures) {
        LogCapture log;
        EXPECT_FALSE(cDecode_decode(b, 8, &f.sig, &v));
        EXPECT_TRUE(log.has(f.message)) << f.message;
    }
    EXPECT_EQ(v, 123);
    cDecodeSignal sig{1, 2, 0, 4, 0.5, 10}; // signed 4 bits 0xF: -1
    ASSERT_TRUE(cDecode_decode(b, 8, &sig, &v));
    EXPECT_EQ(v, 9.5);
    float f = -2.25f;
    std::memcpy(b, &f, 4);
    sig = {1, 3, 0, 32, 2, 1};
    ASSERT_TRUE(cDecode_decode(b, 8, &sig, &v));
    EXPECT_EQ(v, -3.5);
    EXPECT_EQ((std::vector<int>{cDecode_dbcBitPosition2Internal(7, false),
                                cDecode_dbcBitPosition2Internal(12, false),
                                cDecode_dbcBitPosition2Internal(12, true)}),
              (std::vector<int>{0, 11, 12}));
}

cMdfConversionRule ruleOfBlock(uint8_t type, std::vector<double> values) {
    carc_cMdfBlock b = cMdfBlock_CC_ctor();
    auto* cc = carc_cMdfBlock_to_cMdfBlock_CC_obj_t_mut(b);
    cc->conversionType = type;
    cc->valueCount = uint16_t(values.size());
    cc->values = values;
    return cMdfBlock_CC_getConversionRule(cc);
}

TEST(ConversionRule, FromConversionBlocks) {
    const struct {
        uint8_t type;
        std::vector<double> params;
        double in, out;
    } cases[] = {
        // clang-format off
        {1, {2, 0.5}, 10, 7},
        {5, {1, 100, 2, 200, 1, 999}, 1, 100}, {5, {1, 100, 2, 200, 1, 999}, 2, 200},
        {5, {1, 100, 2, 200, 1, 999}, 3, NAN},
        {5, {1, 10, 2, 20, 3}, 3, NAN}, // odd count: two pairs
        {5, {}, 0, NAN}, {0, {}, 42, 42}, {2, {1, 2, 3, 4, 5, 6}, 42, 42}, {7, {1, 2}, 42, 42},
        {1, {2}, 42, 42}, // too few parameters for a line
        // clang-format on
    };
    for (const auto& c : cases) {
        cMdfConversionRule r = ruleOfBlock(c.type, c.params);
        double got = cMdfConversionRule_convert(&r, c.in);
        if (std::isnan(c.out))
            EXPECT_TRUE(std::isnan(got)) << int(c.type) << " " << c.in;
        else
            EXPECT_EQ(got, c.out) << int(c.type) << " " << c.in;
        cMdfConversionRule_drop(&r);
    }
    cMdfConversionRule none = cMdfBlock_CC_getConversionRule(nullptr);
    EXPECT_EQ((std::vector<double>{cMdfConversionRule_convert(&none, 5),
                                   cMdfConversionRule_convert(nullptr, 5)}),
              (std::vector<double>{5, 5}));
}

TEST(ConversionRule, ClonesOwnTheirData) {
    cMdfConversionRule lut = cMdfConversionRule_lookupTable({{1, 100}, {2, 200}});
    cMdfConversionRule copy = cMdfConversionRule_clone(&lut);
    cMdfConversionRule_drop(&lut);
    cMdfConversionRule_drop(&lut); // twice is harmless, and leaves the identity
    EXPECT_EQ((std::vector<double>{cMdfConversionRule_convert(&lut, 2),
                                   cMdfConversionRule_convert(&copy, 2)}),
              (std::vector<double>{2, 200}));
    cMdfConversionRule_drop(&copy);
}

} // namespace
