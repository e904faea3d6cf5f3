// The bus event decoders: remote frame lengths, converted values out of range.
#include <cmath>

#include "mdf_test_support.h"

namespace {

struct Rules {
    std::vector<cMdfDecodeRule> v;
    ~Rules() { cMdfDecodeRule_dropAll(&v); }
    Rules& add(const char* name, uint64_t pos, uint64_t len, cMdfValueKind kind = VALUE_UNSIGNED,
               cMdfConversionRule conv = cMdfConversionRule_default()) {
        cMdfDecodeRule r;
        cMdfDecodeRule_init(&r);
        r.name = name;
        cMdfDecodeRule_mapName(&r);
        r.bitPosition = pos;
        r.bitLength = len;
        r.valueKind = kind;
        r.littleEndian = 1;
        r.conversion = conv;
        v.push_back(r);
        return *this;
    }
};

void putBits(std::vector<uint8_t>* rec, uint64_t pos, uint64_t len, uint64_t value) {
    for (uint64_t i = 0; i < len; ++i, ++pos)
        (*rec)[pos / 8] =
            uint8_t(((*rec)[pos / 8] & ~(1u << (pos % 8))) | (((value >> i) & 1u) << (pos % 8)));
}

// The record decoded by the decoder its rules choose, which must be `kind`.
bool decode(const Rules& rules, const uint8_t* data, size_t size, cMdfDecoderFn kind,
            cBusMsg* msg) {
    cMdfGroupDecoder d;
    EXPECT_TRUE(cMdfGroupDecoder_make(&rules.v, &d));
    EXPECT_EQ(d.fn, kind);
    const cMdfRecord rec{data, size, nullptr, 0, false};
    return cMdfGroupDecoder_run(&d, &rec, msg);
}

TEST(CanRemoteFrames, Lengths) {
    Rules r;
    r.add("Timestamp", 0, 8).add("CAN_RemoteFrame.ID", 8, 11);
    r.add("CAN_RemoteFrame.DataLength", 24, 16);
    std::vector<uint8_t> d(5, 0);
    const std::pair<uint64_t, size_t> lengths[] = {{4, 4}, {0, 0}, {200, 64}, {65535, 64}};
    for (auto [in, out] : lengths) {
        putBits(&d, 24, 16, in);
        cBusMsg msg{};
        ASSERT_TRUE(decode(r, d.data(), d.size(), cMdfDecoders_decodeCanRemoteFrame, &msg));
        EXPECT_EQ(msg.Type, BUS_MSG_CAN_REMOTE_FRAME);
        EXPECT_EQ(msg.CAN.RTR, 1);
        EXPECT_EQ(cBusMsg_data(&msg), std::string(out, '\0')) << in;
    }
    r.v[2].conversion = cMdfConversionRule_linear(1, -10); // negative: no bytes
    putBits(&d, 24, 16, 4);
    cBusMsg msg{};
    ASSERT_TRUE(decode(r, d.data(), d.size(), cMdfDecoders_decodeCanRemoteFrame, &msg));
    EXPECT_EQ(cBusMsg_data(&msg), "");
}

TEST(Decoders, ConvertedValuesNaNAndSaturation) {
    auto lut = [] { return cMdfConversionRule_lookupTable({{1, 2}}); };
    Rules can;
    can.add("CAN_DataFrame.ID", 0, 8, VALUE_UNSIGNED, lut())
        .add("CAN_DataFrame.IDE", 0, 8, VALUE_UNSIGNED, lut());
    can.add("CAN_DataFrame.Dir", 8, 8, VALUE_UNSIGNED, cMdfConversionRule_linear(0.5, 0));
    can.add("CAN_DataFrame.BusChannel", 8, 8, VALUE_UNSIGNED, cMdfConversionRule_linear(1, 299));
    can.add("Timestamp", 0, 16, VALUE_FLOAT); // half precision
    uint8_t data[3] = {0x00, 0x01, 0};
    cBusMsg msg{};
    ASSERT_TRUE(decode(can, data, 3, cMdfDecoders_decodeCanDataFrame, &msg));
    // ID and IDE from NaN, Dir 0.5 truncated, BusChannel 300 in a byte
    EXPECT_EQ((std::vector<uint32_t>{msg.ID, msg.CAN.IDE, msg.CAN.Dir, msg.BusChannel}),
              (std::vector<uint32_t>{0, 0, 0, 300 & 0xFF}));
    EXPECT_EQ(msg.Timestamp, std::ldexp(1.0, -16)); // 0x0100: a subnormal half
    const std::pair<double, uint32_t> ids[] = {{1e10, 4294967295u}, {-1, 0}, {2.9, 2}};
    for (auto [factor, id] : ids) {
        cMdfConversionRule_drop(&can.v[0].conversion);
        can.v[0].conversion = cMdfConversionRule_linear(factor, 0);
        data[0] = 1;
        ASSERT_TRUE(decode(can, data, 3, cMdfDecoders_decodeCanDataFrame, &msg));
        EXPECT_EQ(msg.ID, id) << factor;
    }
    Rules lin;
    lin.add("LIN_Frame.Dir", 0, 8, VALUE_UNSIGNED, lut());
    data[0] = 7;
    ASSERT_TRUE(decode(lin, data, 3, cMdfDecoders_decodeLinFrame, &msg));
    EXPECT_EQ(msg.LIN.Dir, 1); // NaN is not 0.0
}

} // namespace
