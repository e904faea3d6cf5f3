// The bus event decoders and the choice of decoder from channel names.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "mdf/cMdfDecoders.h"
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

// The CAN data frame decoder on a record, through the steps its rules compile to.
bool decodeCan(cMdfRecord rec, cBusMsg* msg) {
    cMdfCanPlan plan;
    EXPECT_TRUE(cMdfCanPlan_build(rec.rules, &plan));
    rec.canPlan = &plan;
    return cMdfDecoders_decodeCanDataFrame(&rec, msg);
}

// An 80-byte CAN data frame record: time, bus, id, flags, DLC, length, 64 data bytes.
struct CanFrame {
    Rules rules;
    std::vector<uint8_t> bytes = std::vector<uint8_t>(80, 0);
    explicit CanFrame(bool withDataLength = true) {
        rules.add("Timestamp", 0, 64, VALUE_FLOAT).add("CAN_DataFrame.BusChannel", 64, 8);
        rules.add("CAN_DataFrame.ID", 72, 29).add("CAN_DataFrame.IDE", 101, 1);
        rules.add("CAN_DataFrame.DLC", 104, 4);
        if (withDataLength) rules.add("CAN_DataFrame.DataLength", 112, 8);
        rules.add("CAN_DataFrame.Dir", 120, 1).add("CAN_DataFrame.EDL", 121, 1);
        rules.add("CAN_DataFrame.BRS", 122, 1).add("CAN_DataFrame.ESI", 123, 1);
        rules.add("CAN_DataFrame.DataBytes", 128, 512, VALUE_BYTE_ARRAY);
        double ts = 12.5;
        std::memcpy(bytes.data(), &ts, 8);
        for (int i = 0; i < 64; ++i)
            bytes[16 + i] = uint8_t(0xA0 + i);
    }
    cMdfRecord view() const { return {bytes.data(), bytes.size(), nullptr, 0, &rules.v}; }
    std::string payload(size_t n) const { return std::string((const char*)&bytes[16], n); }
};

// The data bytes that the CAN data frame decoder takes from a record, or "<refused>".
std::string bytes(const cMdfRecord& rec) {
    cBusMsg msg{};
    msg.DataBytes = "stale";
    return decodeCan(rec, &msg) ? msg.DataBytes : "<refused>";
}

TEST(CanDataFrame, FieldsAndDataLength) {
    CanFrame f(true);
    const uint64_t fields[][3] = {{64, 8, 3},  {72, 29, 0x1ABCDEF5}, {101, 1, 1}, {104, 4, 15},
                                  {112, 8, 8}, {120, 1, 1},          {121, 1, 1}, {123, 1, 1}};
    for (auto& x : fields)
        putBits(&f.bytes, x[0], x[1], x[2]);
    cMdfRecord rec = f.view();
    cBusMsg msg{};
    msg.DataBytes = "stale";
    ASSERT_TRUE(decodeCan(rec, &msg));
    EXPECT_EQ((std::vector<double>{double(msg.Type), msg.Timestamp, double(msg.BusChannel),
                                   double(msg.ID)}),
              (std::vector<double>{BUS_MSG_CAN_DATA_FRAME, 12.5, 3, 0x1ABCDEF5}));
    const cBusMsg_CAN want{1, 1, 1, 1, 0, 0, 15};
    EXPECT_EQ(std::memcmp(&msg.CAN, &want, sizeof want), 0);
    EXPECT_EQ(msg.DataBytes, f.payload(8)); // the first 8 of the 64
    putBits(&f.bytes, 112, 8, 64);
    EXPECT_EQ(bytes(rec), f.payload(64));
    rec.dataLength = 26; // a record that ends inside the data bytes: only what is there
    EXPECT_EQ(bytes(rec), f.payload(10));
    rec.dataLength = 12;
    EXPECT_EQ(bytes(rec), "");
    CanFrame bare(false); // no DataLength channel: no data bytes
    rec = bare.view();
    EXPECT_EQ(bytes(rec), "");
}

TEST(CanDataFrame, VlsdUnalignedAndUnknownChannels) {
    Rules r;
    int block = 0;
    r.add("CAN_DataFrame.DataLength", 0, 8).add("CAN_DataFrame.DataBytes", 8, 32, VALUE_BYTE_ARRAY);
    r.v.back().vlsdBlock = reinterpret_cast<cMdfBlock_obj_t*>(&block);
    uint8_t data[5] = {12};
    uint8_t vlsd[7] = {12, 0, 0, 0, 'a', 'b', 'c'}; // says 12, holds 3
    cMdfRecord rec{data, 5, vlsd, 7, &r.v};
    cBusMsg msg{};
    EXPECT_EQ(bytes(rec), "abc");
    vlsd[0] = 2;
    EXPECT_EQ(bytes(rec), "ab");
    rec.vlsdLength = 3; // not even a length
    EXPECT_EQ(bytes(rec), "");

    r.v.back().vlsdBlock = nullptr;
    r.v.back().bitPosition = 12;
    {
        LogCapture log;
        ASSERT_TRUE(decodeCan(rec, &msg));
        EXPECT_TRUE(log.has(" E Could not read data\n")) << LogCapture::text;
    }
    EXPECT_EQ(msg.DataBytes, "");

    CanFrame f;
    putBits(&f.bytes, 112, 8, 8);
    f.rules.add("CAN_DataFrame.Extra", 128, 64, VALUE_BYTE_ARRAY); // ignored, no failure
    rec = f.view();
    ASSERT_TRUE(decodeCan(rec, &msg));
    f.rules.add("CAN_DataFrame.Unknown", 0, 8);
    msg.Type = BUS_MSG_LIN_FRAME;
    msg.Timestamp = 0;
    EXPECT_FALSE(decodeCan(rec, &msg));
    // type kept, bytes emptied, accepted fields written
    EXPECT_EQ(std::to_string(msg.Type) + "|" + msg.DataBytes + "|" + std::to_string(msg.Timestamp),
              std::to_string(BUS_MSG_LIN_FRAME) + "||" + std::to_string(12.5));
}

TEST(CanRemoteAndErrorFrames, LengthsAndErrorTypes) {
    Rules r;
    r.add("Timestamp", 0, 8)
        .add("CAN_RemoteFrame.ID", 8, 11)
        .add("CAN_RemoteFrame.DataLength", 24, 16);
    std::vector<uint8_t> d(5, 0);
    const std::pair<uint64_t, size_t> lengths[] = {
        {4, 4}, {0, 0}, {64, 64}, {200, 64}, {65535, 64}};
    for (auto [in, out] : lengths) {
        putBits(&d, 24, 16, in);
        cMdfRecord rec{d.data(), d.size(), nullptr, 0, &r.v};
        cBusMsg msg{};
        ASSERT_TRUE(cMdfDecoders_decodeCanRemoteFrame(&rec, &msg));
        EXPECT_EQ(std::to_string(msg.Type) + "," + std::to_string(msg.CAN.RTR) + "," +
                      msg.DataBytes,
                  std::to_string(BUS_MSG_CAN_REMOTE_FRAME) + ",1," + std::string(out, '\0'))
            << in;
    }
    r.v[2].conversion = cMdfConversionRule_linear(1, -10); // negative: no bytes
    putBits(&d, 24, 16, 4);
    cMdfRecord rec{d.data(), d.size(), nullptr, 0, &r.v};
    cBusMsg msg{};
    ASSERT_TRUE(cMdfDecoders_decodeCanRemoteFrame(&rec, &msg));
    EXPECT_EQ(msg.DataBytes, "");

    Rules e;
    e.add("Timestamp", 0, 8)
        .add("CAN_ErrorFrame.BusChannel", 8, 8)
        .add("CAN_ErrorFrame.ErrorType", 16, 8);
    const std::pair<uint8_t, uint32_t> types[] = {{3, 3}, {1, 1}, {5, 5}, {0, 0}, {6, 0}, {255, 0}};
    for (auto [in, out] : types) {
        uint8_t data[3] = {9, 2, in};
        cMdfRecord er{data, 3, nullptr, 0, &e.v};
        ASSERT_TRUE(cMdfDecoders_decodeCanErrorFrame(&er, &msg));
        EXPECT_EQ(
            (std::vector<uint32_t>{msg.Type, msg.CANError.ErrorType, msg.CANError.BusChannel}),
            (std::vector<uint32_t>{BUS_MSG_CAN_ERROR_FRAME, out, 2}))
            << int(in);
    }
}

TEST(LinDecoders, FrameAndErrorGroups) {
    Rules lin;
    lin.add("Timestamp", 0, 8).add("LIN_Frame.BusChannel", 8, 8).add("LIN_Frame.ID", 16, 6);
    lin.add("LIN_Frame.Dir", 22, 1).add("LIN_Frame.ReceivedDataByteCount", 24, 8);
    lin.add("LIN_Frame.DataLength", 32, 8).add("LIN_Frame.DataBytes", 40, 64, VALUE_BYTE_ARRAY);
    std::vector<uint8_t> d = {5, 1, 0x7C, 3, 2, 'x', 'y', 'z', 0, 0, 0, 0, 0};
    cMdfRecord rec{d.data(), d.size(), nullptr, 0, &lin.v};
    cBusMsg msg{};
    ASSERT_TRUE(cMdfDecoders_decodeLinFrame(&rec, &msg));
    EXPECT_EQ((std::vector<uint32_t>{msg.Type, msg.ID, msg.LIN.Dir, msg.LIN.ReceivedDataByteCount}),
              (std::vector<uint32_t>{BUS_MSG_LIN_FRAME, 0x3C, 1, 3}));
    EXPECT_EQ(msg.DataBytes, "xy");
    ASSERT_TRUE(cMdfDecoders_decodeLinChecksumError(&rec, &msg));
    EXPECT_EQ(msg.Type, BUS_MSG_LIN_CHECKSUM_ERROR);

    Rules own; // channels named after their own group are not accepted
    own.add("Timestamp", 0, 8).add("LIN_ReceiveError.ID", 16, 6);
    rec.rules = &own.v;
    EXPECT_FALSE(cMdfDecoders_decodeLinReceiveError(&rec, &msg));
    EXPECT_EQ(msg.Type, BUS_MSG_LIN_CHECKSUM_ERROR);
    Rules errs;
    errs.add("Timestamp", 0, 8).add("LIN_Frame.BusChannel", 8, 8).add("LIN_Frame.ID", 16, 6);
    rec.rules = &errs.v;
    ASSERT_TRUE(cMdfDecoders_decodeLinReceiveError(&rec, &msg));
    EXPECT_EQ(msg.Type, BUS_MSG_LIN_RECEIVE_ERROR);
    ASSERT_TRUE(cMdfDecoders_decodeLinTransmissionError(&rec, &msg));
    EXPECT_EQ(msg.Type, BUS_MSG_LIN_TRANSMISSION_ERROR);
    EXPECT_FALSE(cMdfDecoders_decodeLinSyncError(&rec, &msg)); // sync errors carry no id
    errs.v.back().field = FIELD_TIMESTAMP;
    ASSERT_TRUE(cMdfDecoders_decodeLinSyncError(&rec, &msg));
    EXPECT_EQ(msg.Type, BUS_MSG_LIN_SYNC_ERROR);
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
    cMdfRecord rec{data, 3, nullptr, 0, &can.v};
    cBusMsg msg{};
    ASSERT_TRUE(decodeCan(rec, &msg));
    // ID and IDE from NaN, Dir 0.5 truncated, BusChannel 300 in a byte
    EXPECT_EQ((std::vector<uint32_t>{msg.ID, msg.CAN.IDE, msg.CAN.Dir, msg.BusChannel}),
              (std::vector<uint32_t>{0, 0, 0, 300 & 0xFF}));
    EXPECT_EQ(msg.Timestamp, std::ldexp(1.0, -16)); // 0x0100: a subnormal half
    const std::pair<double, uint32_t> ids[] = {{1e10, 4294967295u}, {-1, 0}, {2.9, 2}};
    for (auto [factor, id] : ids) {
        cMdfConversionRule_drop(&can.v[0].conversion);
        can.v[0].conversion = cMdfConversionRule_linear(factor, 0);
        data[0] = 1;
        ASSERT_TRUE(decodeCan(rec, &msg));
        EXPECT_EQ(msg.ID, id) << factor;
    }
    Rules lin;
    lin.add("LIN_Frame.Dir", 0, 8, VALUE_UNSIGNED, lut());
    rec.rules = &lin.v;
    data[0] = 7;
    ASSERT_TRUE(cMdfDecoders_decodeLinFrame(&rec, &msg));
    EXPECT_EQ(msg.LIN.Dir, 1); // NaN is not 0.0
}

TEST(OptimalDecoder, ChoiceByNamePrefix) {
    const struct {
        std::vector<const char*> names;
        cMdfDecoderFn fn;
    } cases[] = {
        // clang-format off
        {{"Timestamp", "CAN_DataFrame.ID"}, cMdfDecoders_decodeCanDataFrame},
        {{"CAN_RemoteFrame.ID", "Timestamp"}, cMdfDecoders_decodeCanRemoteFrame},
        {{"CAN_ErrorFrame.ErrorType"}, cMdfDecoders_decodeCanErrorFrame},
        {{"LIN_Frame.ID"}, cMdfDecoders_decodeLinFrame},
        {{"LIN_ChecksumError.ID"}, cMdfDecoders_decodeLinChecksumError},
        {{"LIN_ReceiveError.ID"}, cMdfDecoders_decodeLinReceiveError},
        {{"LIN_SyncError.X"}, cMdfDecoders_decodeLinSyncError},
        {{"LIN_TransmissionError.ID"}, cMdfDecoders_decodeLinTransmissionError},
        {{"Timestamp", "Foo.A", "Foo.B.C"}, cMdfDecoders_decodeGeneric},
        {{"can_dataframe.ID"}, cMdfDecoders_decodeGeneric},
        {{"CAN_DataFrame.ID", "LIN_Frame.ID"}, nullptr}, {{"Timestamp"}, nullptr}, {{}, nullptr},
        // clang-format on
    };
    for (const auto& c : cases) {
        Rules r;
        for (const char* n : c.names)
            r.add(n, 0, 8);
        cMdfDecoderFn fn = nullptr;
        EXPECT_EQ(getOptimalDecoder(&r.v, &fn), c.fn != nullptr);
        EXPECT_EQ(fn, c.fn);
    }
    cBusMsg msg{};
    msg.Type = BUS_MSG_CAN_DATA_FRAME;
    EXPECT_FALSE(cMdfDecoders_decodeGeneric(nullptr, &msg));
    EXPECT_EQ(msg.Type, BUS_MSG_NONE);
    Rules odd; // exact, case-sensitive names
    odd.add("timestamp", 0, 1).add("CAN_DataFrame.ID ", 0, 1).add("CAN_RemoteFrame.EDL", 0, 1);
    for (const auto& r : odd.v)
        EXPECT_EQ(r.field, FIELD_NONE) << r.name;
}

} // namespace
