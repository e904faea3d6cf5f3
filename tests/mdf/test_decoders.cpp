// The bus event decoders and the choice of decoder from channel names.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "mdf/cMdfDecoders.h"
#include "support/log.h"

namespace {

std::vector<std::string> g_lines;
void captureLine(const char* line, int length) {
    g_lines.emplace_back(line, length);
}

cMdfDecodeRule makeRule(const char* name, uint64_t pos, uint64_t len,
                        cMdfValueKind kind = VALUE_UNSIGNED, uint8_t le = 1) {
    cMdfDecodeRule r;
    cMdfDecodeRule_init(&r);
    r.name = name;
    cMdfDecodeRule_mapName(&r);
    r.bitPosition = pos;
    r.bitLength = len;
    r.valueKind = kind;
    r.littleEndian = le;
    return r;
}

struct Rules {
    std::vector<cMdfDecodeRule> v;
    ~Rules() { cMdfDecodeRule_dropAll(&v); }
};

void putBits(std::vector<uint8_t>* rec, uint64_t pos, uint64_t len, uint64_t value) {
    for (uint64_t i = 0; i < len; ++i) {
        uint64_t p = pos + i;
        uint8_t& b = (*rec)[p / 8];
        b = uint8_t((b & ~(1u << (p % 8))) | (((value >> i) & 1u) << (p % 8)));
    }
}

// The CAN data frame layout used below: an 80-byte record.
struct CanFrameRecord {
    Rules rules;
    std::vector<uint8_t> bytes = std::vector<uint8_t>(80, 0);
    CanFrameRecord(bool withDataLength = true) {
        auto& v = rules.v;
        v.push_back(makeRule("Timestamp", 0, 64, VALUE_FLOAT));
        v.push_back(makeRule("CAN_DataFrame.BusChannel", 64, 8));
        v.push_back(makeRule("CAN_DataFrame.ID", 72, 29));
        v.push_back(makeRule("CAN_DataFrame.IDE", 101, 1));
        v.push_back(makeRule("CAN_DataFrame.DLC", 104, 4));
        if (withDataLength) v.push_back(makeRule("CAN_DataFrame.DataLength", 112, 8));
        v.push_back(makeRule("CAN_DataFrame.Dir", 120, 1));
        v.push_back(makeRule("CAN_DataFrame.EDL", 121, 1));
        v.push_back(makeRule("CAN_DataFrame.BRS", 122, 1));
        v.push_back(makeRule("CAN_DataFrame.ESI", 123, 1));
        v.push_back(makeRule("CAN_DataFrame.DataBytes", 128, 512, VALUE_BYTE_ARRAY));
        double ts = 12.5;
        std::memcpy(bytes.data(), &ts, 8);
        for (int i = 0; i < 64; ++i)
            bytes[16 + i] = uint8_t(0xA0 + i);
    }
    cMdfRecord view() const { return {bytes.data(), bytes.size(), nullptr, 0, &rules.v}; }
};

TEST(CanDataFrame, ClassicFrameTakesDataLengthBytes) {
    CanFrameRecord f;
    putBits(&f.bytes, 64, 8, 3);
    putBits(&f.bytes, 72, 29, 0x1ABCDEF5);
    putBits(&f.bytes, 101, 1, 1);
    putBits(&f.bytes, 104, 4, 8);
    putBits(&f.bytes, 112, 8, 8);
    putBits(&f.bytes, 120, 1, 1);
    putBits(&f.bytes, 123, 1, 1);
    cMdfRecord rec = f.view();
    cBusMsg msg{};
    msg.DataBytes = "stale";
    ASSERT_TRUE(cMdfDecoders_decodeCanDataFrame(&rec, &msg));
    EXPECT_EQ(msg.Type, BUS_MSG_CAN_DATA_FRAME);
    EXPECT_EQ(msg.Timestamp, 12.5);
    EXPECT_EQ(msg.BusChannel, 3);
    EXPECT_EQ(msg.ID, 0x1ABCDEF5u);
    EXPECT_EQ(msg.CAN.IDE, 1);
    EXPECT_EQ(msg.CAN.DLC, 8);
    EXPECT_EQ(msg.CAN.Dir, 1);
    EXPECT_EQ(msg.CAN.EDL, 0);
    EXPECT_EQ(msg.CAN.BRS, 0);
    EXPECT_EQ(msg.CAN.ESI, 1);
    EXPECT_EQ(msg.CAN.RTR, 0);
    EXPECT_EQ(msg.DataBytes, std::string(reinterpret_cast<const char*>(&f.bytes[16]), 8));
}

TEST(CanDataFrame, FdFrameAndMissingDataLength) {
    CanFrameRecord fd;
    putBits(&fd.bytes, 104, 4, 15);
    putBits(&fd.bytes, 112, 8, 64);
    putBits(&fd.bytes, 121, 1, 1);
    putBits(&fd.bytes, 122, 1, 1);
    cMdfRecord rec = fd.view();
    cBusMsg msg{};
    ASSERT_TRUE(cMdfDecoders_decodeCanDataFrame(&rec, &msg));
    EXPECT_EQ(msg.CAN.DLC, 15);
    EXPECT_EQ(msg.CAN.EDL, 1);
    EXPECT_EQ(msg.CAN.BRS, 1);
    EXPECT_EQ(msg.DataBytes.size(), 64u);

    CanFrameRecord bare(false);
    rec = bare.view();
    ASSERT_TRUE(cMdfDecoders_decodeCanDataFrame(&rec, &msg));
    EXPECT_TRUE(msg.DataBytes.empty());
}

TEST(CanDataFrame, NeverClaimsBytesThatAreNotThere) {
    CanFrameRecord f;
    putBits(&f.bytes, 112, 8, 64);
    // the record ends 10 bytes into the data bytes
    cMdfRecord rec = f.view();
    rec.dataLength = 26;
    cBusMsg msg{};
    ASSERT_TRUE(cMdfDecoders_decodeCanDataFrame(&rec, &msg));
    EXPECT_EQ(msg.DataBytes, std::string(reinterpret_cast<const char*>(&f.bytes[16]), 10));
    // a record cut before the data bytes altogether
    rec.dataLength = 12;
    ASSERT_TRUE(cMdfDecoders_decodeCanDataFrame(&rec, &msg));
    EXPECT_TRUE(msg.DataBytes.empty());
}

TEST(CanDataFrame, VlsdBytesCutToWhatWasRead) {
    Rules rules;
    int dummyBlock = 0;
    rules.v.push_back(makeRule("CAN_DataFrame.DataLength", 0, 8));
    rules.v.push_back(makeRule("CAN_DataFrame.DataBytes", 8, 32, VALUE_BYTE_ARRAY));
    rules.v.back().vlsdBlock = reinterpret_cast<cMdfBlock_obj_t*>(&dummyBlock);
    uint8_t data[5] = {12, 0, 0, 0, 0};
    // the entry says 12 bytes, only 3 arrived
    uint8_t vlsd[7] = {12, 0, 0, 0, 'a', 'b', 'c'};
    cMdfRecord rec{data, sizeof data, vlsd, sizeof vlsd, &rules.v};
    cBusMsg msg{};
    ASSERT_TRUE(cMdfDecoders_decodeCanDataFrame(&rec, &msg));
    EXPECT_EQ(msg.DataBytes, "abc");
    // the entry says 2, more are there
    vlsd[0] = 2;
    ASSERT_TRUE(cMdfDecoders_decodeCanDataFrame(&rec, &msg));
    EXPECT_EQ(msg.DataBytes, "ab");
    // no VLSD data at all
    rec.vlsdLength = 0;
    ASSERT_TRUE(cMdfDecoders_decodeCanDataFrame(&rec, &msg));
    EXPECT_TRUE(msg.DataBytes.empty());
}

TEST(CanDataFrame, UnalignedDataBytesAreSkippedWithAMessage) {
    Rules rules;
    rules.v.push_back(makeRule("CAN_DataFrame.DataLength", 0, 8));
    rules.v.push_back(makeRule("CAN_DataFrame.DataBytes", 12, 32, VALUE_BYTE_ARRAY));
    uint8_t data[8] = {4, 1, 2, 3, 4, 5, 6, 7};
    cMdfRecord rec{data, sizeof data, nullptr, 0, &rules.v};
    cBusMsg msg{};
    g_lines.clear();
    zf_log_set_output_callback(captureLine);
    bool ok = cMdfDecoders_decodeCanDataFrame(&rec, &msg);
    zf_log_set_output_callback(nullptr);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(msg.DataBytes.empty());
    ASSERT_EQ(g_lines.size(), 1u);
    EXPECT_NE(g_lines[0].find(" E Could not read data"), std::string::npos) << g_lines[0];
}

TEST(CanDataFrame, UnknownChannelFailsAndKeepsType) {
    CanFrameRecord f;
    putBits(&f.bytes, 112, 8, 8);
    f.rules.v.push_back(makeRule("CAN_DataFrame.Unknown", 0, 8));
    // an extra byte array of the group is no failure
    f.rules.v.insert(f.rules.v.begin(), makeRule("CAN_DataFrame.Extra", 128, 64, VALUE_BYTE_ARRAY));
    cMdfRecord rec = f.view();
    cBusMsg msg{};
    msg.Type = BUS_MSG_LIN_FRAME;
    EXPECT_FALSE(cMdfDecoders_decodeCanDataFrame(&rec, &msg));
    EXPECT_EQ(msg.Type, BUS_MSG_LIN_FRAME);
    EXPECT_TRUE(msg.DataBytes.empty());
    EXPECT_EQ(msg.Timestamp, 12.5); // accepted rules still wrote
    cMdfDecodeRule_drop(&f.rules.v.back());
    f.rules.v.pop_back();
    EXPECT_TRUE(cMdfDecoders_decodeCanDataFrame(&rec, &msg));
    EXPECT_EQ(msg.DataBytes.size(), 8u);
}

TEST(CanRemoteFrame, DataLengthGivesZeroBytesWithinPayloadLimits) {
    Rules rules;
    rules.v.push_back(makeRule("Timestamp", 0, 32));
    rules.v.push_back(makeRule("CAN_RemoteFrame.ID", 32, 11));
    rules.v.push_back(makeRule("CAN_RemoteFrame.DataLength", 48, 16));
    std::vector<uint8_t> data(8, 0);
    putBits(&data, 0, 32, 7);
    putBits(&data, 32, 11, 0x123);
    const struct {
        uint64_t length;
        size_t expected;
    } cases[] = {{4, 4}, {0, 0}, {64, 64}, {200, 64}, {65535, 64}};
    for (const auto& c : cases) {
        putBits(&data, 48, 16, c.length);
        cMdfRecord rec{data.data(), data.size(), nullptr, 0, &rules.v};
        cBusMsg msg{};
        ASSERT_TRUE(cMdfDecoders_decodeCanRemoteFrame(&rec, &msg));
        EXPECT_EQ(msg.Type, BUS_MSG_CAN_REMOTE_FRAME);
        EXPECT_EQ(msg.CAN.RTR, 1);
        EXPECT_EQ(msg.ID, 0x123u);
        EXPECT_EQ(msg.Timestamp, 7);
        EXPECT_EQ(msg.DataBytes, std::string(c.expected, '\0')) << c.length;
    }
    // a negative length (through a conversion) gives no bytes
    cMdfConversionRule_drop(&rules.v[2].conversion);
    rules.v[2].conversion = cMdfConversionRule_linear(1, -10);
    putBits(&data, 48, 16, 4);
    cMdfRecord rec{data.data(), data.size(), nullptr, 0, &rules.v};
    cBusMsg msg{};
    ASSERT_TRUE(cMdfDecoders_decodeCanRemoteFrame(&rec, &msg));
    EXPECT_TRUE(msg.DataBytes.empty());
}

TEST(CanErrorFrame, ErrorTypesOneToFive) {
    Rules rules;
    rules.v.push_back(makeRule("Timestamp", 0, 8));
    rules.v.push_back(makeRule("CAN_ErrorFrame.BusChannel", 8, 8));
    rules.v.push_back(makeRule("CAN_ErrorFrame.ErrorType", 16, 8));
    const std::pair<uint8_t, uint32_t> cases[] = {{3, 3}, {1, 1}, {5, 5}, {0, 0}, {6, 0}, {255, 0}};
    for (auto [in, out] : cases) {
        uint8_t data[3] = {9, 2, in};
        cMdfRecord rec{data, 3, nullptr, 0, &rules.v};
        cBusMsg msg{};
        ASSERT_TRUE(cMdfDecoders_decodeCanErrorFrame(&rec, &msg));
        EXPECT_EQ(msg.Type, BUS_MSG_CAN_ERROR_FRAME);
        EXPECT_EQ(msg.CANError.ErrorType, out) << int(in);
        EXPECT_EQ(msg.CANError.BusChannel, 2);
        EXPECT_EQ(msg.Timestamp, 9);
    }
}

TEST(LinDecoders, FrameAndErrorGroups) {
    Rules lin;
    lin.v.push_back(makeRule("Timestamp", 0, 8));
    lin.v.push_back(makeRule("LIN_Frame.BusChannel", 8, 8));
    lin.v.push_back(makeRule("LIN_Frame.ID", 16, 6));
    lin.v.push_back(makeRule("LIN_Frame.Dir", 22, 1));
    lin.v.push_back(makeRule("LIN_Frame.ReceivedDataByteCount", 24, 8));
    lin.v.push_back(makeRule("LIN_Frame.DataLength", 32, 8));
    lin.v.push_back(makeRule("LIN_Frame.DataBytes", 40, 64, VALUE_BYTE_ARRAY));
    std::vector<uint8_t> data = {5, 1, 0, 3, 2, 'x', 'y', 'z', 0, 0, 0, 0, 0};
    putBits(&data, 16, 6, 0x3C);
    putBits(&data, 22, 1, 1);
    cMdfRecord rec{data.data(), data.size(), nullptr, 0, &lin.v};
    cBusMsg msg{};
    ASSERT_TRUE(cMdfDecoders_decodeLinFrame(&rec, &msg));
    EXPECT_EQ(msg.Type, BUS_MSG_LIN_FRAME);
    EXPECT_EQ(msg.ID, 0x3Cu);
    EXPECT_EQ(msg.BusChannel, 1);
    EXPECT_EQ(msg.LIN.Dir, 1);
    EXPECT_EQ(msg.LIN.ReceivedDataByteCount, 3);
    EXPECT_EQ(msg.DataBytes, "xy");
    ASSERT_TRUE(cMdfDecoders_decodeLinChecksumError(&rec, &msg));
    EXPECT_EQ(msg.Type, BUS_MSG_LIN_CHECKSUM_ERROR);

    // the LIN error decoders accept the frame's names, not those of their own group
    Rules named;
    named.v.push_back(makeRule("Timestamp", 0, 8));
    named.v.push_back(makeRule("LIN_ReceiveError.ID", 16, 6));
    rec.rules = &named.v;
    msg.Type = BUS_MSG_CAN_DATA_FRAME;
    EXPECT_FALSE(cMdfDecoders_decodeLinReceiveError(&rec, &msg));
    EXPECT_EQ(msg.Type, BUS_MSG_CAN_DATA_FRAME);

    Rules errs;
    errs.v.push_back(makeRule("Timestamp", 0, 8));
    errs.v.push_back(makeRule("LIN_Frame.BusChannel", 8, 8));
    errs.v.push_back(makeRule("LIN_Frame.ID", 16, 6));
    rec.rules = &errs.v;
    ASSERT_TRUE(cMdfDecoders_decodeLinReceiveError(&rec, &msg));
    EXPECT_EQ(msg.Type, BUS_MSG_LIN_RECEIVE_ERROR);
    ASSERT_TRUE(cMdfDecoders_decodeLinTransmissionError(&rec, &msg));
    EXPECT_EQ(msg.Type, BUS_MSG_LIN_TRANSMISSION_ERROR);
    EXPECT_EQ(msg.ID, 0x3Cu);
    // sync errors carry no id
    EXPECT_FALSE(cMdfDecoders_decodeLinSyncError(&rec, &msg));
    cMdfDecodeRule_drop(&errs.v.back());
    errs.v.pop_back();
    ASSERT_TRUE(cMdfDecoders_decodeLinSyncError(&rec, &msg));
    EXPECT_EQ(msg.Type, BUS_MSG_LIN_SYNC_ERROR);
}

TEST(Decoders, NaNAndSaturation) {
    Rules can;
    can.v.push_back(makeRule("CAN_DataFrame.ID", 0, 8));
    can.v.push_back(makeRule("CAN_DataFrame.IDE", 0, 8));
    can.v.push_back(makeRule("CAN_DataFrame.Dir", 8, 8));
    can.v.push_back(makeRule("CAN_DataFrame.BusChannel", 16, 8));
    for (int i = 0; i < 2; ++i)
        can.v[i].conversion = cMdfConversionRule_lookupTable({{1, 2}});
    can.v[2].conversion = cMdfConversionRule_linear(0.5, 0);
    can.v[3].conversion = cMdfConversionRule_linear(1, 300); // 8-bit field keeps the low bits
    uint8_t data[3] = {7, 1, 0};
    cMdfRecord rec{data, 3, nullptr, 0, &can.v};
    cBusMsg msg{};
    ASSERT_TRUE(cMdfDecoders_decodeCanDataFrame(&rec, &msg));
    EXPECT_EQ(msg.ID, 0u);
    EXPECT_EQ(msg.CAN.IDE, 0);
    EXPECT_EQ(msg.CAN.Dir, 0); // 0.5 is no set flag
    EXPECT_EQ(msg.BusChannel, 300 & 0xFF);
    cMdfConversionRule_drop(&can.v[0].conversion);
    can.v[0].conversion = cMdfConversionRule_linear(1e9, 0);
    ASSERT_TRUE(cMdfDecoders_decodeCanDataFrame(&rec, &msg));
    EXPECT_EQ(msg.ID, 4294967295u);
    cMdfConversionRule_drop(&can.v[0].conversion);
    can.v[0].conversion = cMdfConversionRule_linear(-1, 0);
    ASSERT_TRUE(cMdfDecoders_decodeCanDataFrame(&rec, &msg));
    EXPECT_EQ(msg.ID, 0u);

    Rules lin;
    lin.v.push_back(makeRule("LIN_Frame.Dir", 0, 8));
    lin.v[0].conversion = cMdfConversionRule_lookupTable({{1, 2}});
    rec.rules = &lin.v;
    ASSERT_TRUE(cMdfDecoders_decodeLinFrame(&rec, &msg));
    EXPECT_EQ(msg.LIN.Dir, 1); // NaN is not 0.0
    cMdfConversionRule_drop(&lin.v[0].conversion);
    lin.v[0].conversion = cMdfConversionRule_linear(0.5 / 7, 0);
    ASSERT_TRUE(cMdfDecoders_decodeLinFrame(&rec, &msg));
    EXPECT_EQ(msg.LIN.Dir, 1);
}

TEST(Decoders, FloatChannels) {
    Rules rules;
    rules.v.push_back(makeRule("Timestamp", 0, 32, VALUE_FLOAT));
    rules.v.push_back(makeRule("CAN_ErrorFrame.ErrorType", 32, 16, VALUE_FLOAT, 0));
    uint8_t data[6];
    float f = 0.25f;
    std::memcpy(data, &f, 4);
    data[4] = 0x40; // big-endian half precision 2.0
    data[5] = 0x00;
    cMdfRecord rec{data, 6, nullptr, 0, &rules.v};
    cBusMsg msg{};
    ASSERT_TRUE(cMdfDecoders_decodeCanErrorFrame(&rec, &msg));
    EXPECT_EQ(msg.Timestamp, 0.25);
    EXPECT_EQ(msg.CANError.ErrorType, 2u);
}

TEST(OptimalDecoder, ChoiceByNamePrefix) {
    const struct {
        std::vector<const char*> names;
        bool found;
        cMdfDecoderFn fn;
    } cases[] = {
        {{"Timestamp", "CAN_DataFrame.ID"}, true, cMdfDecoders_decodeCanDataFrame},
        {{"CAN_RemoteFrame.ID", "Timestamp"}, true, cMdfDecoders_decodeCanRemoteFrame},
        {{"CAN_ErrorFrame.ErrorType"}, true, cMdfDecoders_decodeCanErrorFrame},
        {{"LIN_Frame.ID"}, true, cMdfDecoders_decodeLinFrame},
        {{"LIN_ChecksumError.ID"}, true, cMdfDecoders_decodeLinChecksumError},
        {{"LIN_ReceiveError.ID"}, true, cMdfDecoders_decodeLinReceiveError},
        {{"LIN_SyncError.X"}, true, cMdfDecoders_decodeLinSyncError},
        {{"LIN_TransmissionError.ID"}, true, cMdfDecoders_decodeLinTransmissionError},
        {{"Timestamp", "Foo.A", "Foo.B.C"}, true, cMdfDecoders_decodeGeneric},
        {{"can_dataframe.ID"}, true, cMdfDecoders_decodeGeneric},
        {{"CAN_DataFrame.ID", "LIN_Frame.ID"}, false, nullptr},
        {{"Timestamp"}, false, nullptr},
        {{}, false, nullptr},
    };
    for (const auto& c : cases) {
        Rules rules;
        for (const char* n : c.names)
            rules.v.push_back(makeRule(n, 0, 8));
        cMdfDecoderFn fn = nullptr;
        EXPECT_EQ(getOptimalDecoder(&rules.v, &fn), c.found);
        EXPECT_EQ(fn, c.fn);
    }
    Rules generic;
    generic.v.push_back(makeRule("Foo.A", 0, 8));
    uint8_t data[1] = {1};
    cMdfRecord rec{data, 1, nullptr, 0, &generic.v};
    cBusMsg msg{};
    msg.Type = BUS_MSG_CAN_DATA_FRAME;
    EXPECT_FALSE(cMdfDecoders_decodeGeneric(&rec, &msg));
    EXPECT_EQ(msg.Type, BUS_MSG_NONE);
}

TEST(DecodeRuleNames, ExactCaseSensitiveTable) {
    const std::pair<const char*, cMdfDecodeField> cases[] = {
        {"Timestamp", FIELD_TIMESTAMP},
        {"CAN_ErrorFrame.BusChannel", FIELD_BUS_CHANNEL},
        {"CAN_RemoteFrame.DLC", FIELD_DLC},
        {"CAN_RemoteFrame.EDL", FIELD_NONE},
        {"LIN_Frame.ReceivedDataByteCount", FIELD_LIN_RECEIVED_DATA_BYTE_COUNT},
        {"LIN_ReceiveError.ID", FIELD_NONE},
        {"timestamp", FIELD_NONE},
        {"CAN_DataFrame.ID ", FIELD_NONE},
    };
    for (auto [name, field] : cases) {
        cMdfDecodeRule r = makeRule(name, 0, 1);
        EXPECT_EQ(r.field, field) << name;
        cMdfDecodeRule c = cMdfDecodeRule_clone(&r);
        EXPECT_EQ(c.name, name);
        EXPECT_EQ(c.field, field);
        cMdfDecodeRule_drop(&r);
        cMdfDecodeRule_drop(&c);
    }
}

} // namespace
