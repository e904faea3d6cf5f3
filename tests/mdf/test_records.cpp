// Reading the records of a data group: record map, single- and multi-group mode, VLSD data
// through SD blocks and VLSD channel groups, damaged layouts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "io/cIO.h"
#include "io/cIO_memoryAlloc.h"
#include "mdf/cMdfBlock_CG.h"
#include "mdf/cMdfBlock_CN.h"
#include "mdf/cMdfBlock_DG.h"
#include "mdf/cMdfBlock_DT.h"
#include "mdf/cMdfBlock_SD.h"
#include "mdf/cMdfBlock_TX.h"
#include "mdf/cMdfRecordGroupInfo.h"
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
    int count(const char* text) const {
        int n = 0;
        for (const auto& l : g_lines)
            n += l.find(text) != std::string::npos;
        return n;
    }
};

cIO* memoryWith(const std::string& bytes) {
    cIO* io = cIO_memoryAlloc_ctor();
    cIO_write(io, bytes.data(), bytes.size());
    cIO_seek(io, 0, cIO_SEEK_SET);
    return io;
}

carc_cMdfBlock makeDT(const std::string& bytes) {
    return cMdfBlock_DT_ctor_fromIO(memoryWith(bytes));
}
carc_cMdfBlock makeSD(const std::string& bytes) {
    return cMdfBlock_SD_ctor_fromIO(memoryWith(bytes));
}

carc_cMdfBlock makeCN(const char* name, uint32_t byteOffset, uint32_t bits, uint8_t fileDataType,
                      uint8_t channelType = 0, carc_cMdfBlock signalData = {}) {
    carc_cMdfBlock b = cMdfBlock_CN_ctor();
    auto* cn = carc_cMdfBlock_to_cMdfBlock_CN_obj_t_mut(b);
    carc_cMdfBlock tx = cMdfBlock_TX_ctor();
    cMdfBlock_TX_setData(carc_cMdfBlock_to_cMdfBlock_TX_obj_t_mut(tx), name, std::strlen(name));
    cn->name = tx;
    cn->byteOffset = byteOffset;
    cn->bitCount = bits;
    cn->dataType = fileDataType;
    cn->channelType = channelType;
    cn->signalData = signalData;
    return b;
}

carc_cMdfBlock makeCG(uint64_t recordId, uint32_t dataBytes, std::vector<carc_cMdfBlock> cns = {},
                      uint16_t flags = 0, uint32_t invalidation = 0) {
    carc_cMdfBlock b = cMdfBlock_CG_ctor();
    auto* cg = carc_cMdfBlock_to_cMdfBlock_CG_obj_t_mut(b);
    cg->recordId = recordId;
    cg->dataBytes = dataBytes;
    cg->invalidationBytes = invalidation;
    cg->flags = flags;
    for (auto& c : cns)
        cg->channels.push_back(c);
    return b;
}

struct Group {
    carc_cMdfBlock block;
    cMdfBlock_DG_obj_t* dg;
    cMdfBlock_DG_iteratorState state;
    Group(uint8_t idSize, std::vector<carc_cMdfBlock> cgs, carc_cMdfBlock dt) {
        block = cMdfBlock_DG_ctor();
        dg = carc_cMdfBlock_to_cMdfBlock_DG_obj_t_mut(block);
        dg->recordIdSize = idSize;
        for (auto& c : cgs)
            dg->channelGroups.push_back(c);
        dg->data = dt;
        cMdfBlock_DG_updateRecordMap(dg);
        cMdfBlock_DG_iteratorState_init(&state);
    }
    ~Group() { cMdfBlock_DG_iteratorState_drop(&state); }
    const cMdfRecord* at() { return cMdfBlock_DG_at(dg, &state); }
};

std::string bytesOf(const cMdfRecord* r) {
    return std::string(reinterpret_cast<const char*>(r->data), r->dataLength);
}
std::string vlsdOf(const cMdfRecord* r) {
    return std::string(reinterpret_cast<const char*>(r->vlsdData), r->vlsdLength);
}
std::string u32(uint32_t n) {
    return std::string{char(n), char(n >> 8), char(n >> 16), char(n >> 24)};
}
std::string u64(uint64_t n) {
    return u32(uint32_t(n)) + u32(uint32_t(n >> 32));
}

TEST(Records, SingleGroupReadsFixedRecordsToTheEnd) {
    std::string data;
    for (int i = 0; i < 30; ++i)
        data += char(i);
    Group g(0, {makeCG(7, 10)}, makeDT(data + "xyz")); // 3 stray bytes: a short last record
    ASSERT_EQ(g.dg->recordMap.size(), 1u);
    EXPECT_EQ(g.dg->recordMap.count(0), 1u); // looked up as record id 0
    EXPECT_TRUE(cMdfBlock_DG_isSorted(g.dg));
    for (int i = 0; i < 3; ++i) {
        const cMdfRecord* r = g.at();
        ASSERT_NE(r, nullptr) << i;
        EXPECT_EQ(bytesOf(r), data.substr(10 * i, 10));
        EXPECT_EQ(r->vlsdLength, 0u);
        EXPECT_EQ(g.state.position, 10u * (i + 1));
    }
    EXPECT_EQ(g.at(), nullptr);
    EXPECT_EQ(g.at(), nullptr);
}

TEST(Records, MultiGroupByRecordId) {
    std::string data = std::string("\x02") + "ABCDEFGHIJKLMNOP" + "\x01" + "abcdefgh" + "\x09" +
                       "12345678" + "\x01" + "abcdefgh";
    Group g(1, {makeCG(1, 8), makeCG(2, 16)}, makeDT(data));
    EXPECT_FALSE(cMdfBlock_DG_isSorted(g.dg));
    const cMdfRecord* r = g.at();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(bytesOf(r), "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(g.state.position, 17u);
    r = g.at();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(bytesOf(r), "abcdefgh");
    EXPECT_EQ(g.state.position, 26u);
    // an unknown id ends the reading; nothing is skipped
    EXPECT_EQ(g.at(), nullptr);
    EXPECT_EQ(g.state.position, 26u);
}

TEST(Records, SingleChannelGroupWithRecordIdsIsReadById) {
    std::string data = std::string("\x05\x00", 2) + "abcd" + std::string("\x05\x00", 2) + "efgh";
    Group g(2, {makeCG(5, 4)}, makeDT(data));
    const cMdfRecord* r = g.at();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(bytesOf(r), "abcd");
    r = g.at();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(bytesOf(r), "efgh");
    EXPECT_EQ(g.at(), nullptr);
}

TEST(Records, InvalidationBytesBelongToTheRecord) {
    // group 1: 3 data bytes + 1 invalidation byte; group 2: 2 data bytes
    std::string data = std::string("\x01") + "abc" + "\xFF" + "\x02" + "xy" + "\x01" + "def" +
                       std::string(1, '\0');
    Group g(1, {makeCG(1, 3, {}, 0, 1), makeCG(2, 2)}, makeDT(data));
    std::vector<std::string> got;
    while (const cMdfRecord* r = g.at())
        got.push_back(bytesOf(r));
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0], "abc\xFF");
    EXPECT_EQ(got[1], "xy");
    EXPECT_EQ(got[2], std::string("def\0", 4));
}

TEST(Records, DuplicateRecordIdKeepsTheFirstAndStops) {
    Group g(1, {makeCG(1, 2), makeCG(1, 4), makeCG(2, 8)}, makeDT("\x01xy"));
    ASSERT_EQ(g.dg->recordMap.size(), 1u);
    EXPECT_EQ(g.dg->recordMap.at(1).recordLength, 2u);
}

TEST(Records, DamagedLayoutsEndCleanly) {
    {
        LogCapture log;
        Group g(9, {makeCG(1, 2), makeCG(2, 2)}, makeDT("\x01\0\0\0\0\0\0\0\0xy"));
        EXPECT_TRUE(g.dg->recordMap.empty());
        EXPECT_EQ(log.count("record id of 9 bytes"), 1);
        EXPECT_EQ(g.at(), nullptr);
    }
    {
        Group g(0, {makeCG(0, 0)}, makeDT("abcdef")); // records of no bytes never move on
        EXPECT_EQ(g.at(), nullptr);
    }
    {
        Group g(0, {makeCG(0, 4)}, carc_cMdfBlock{}); // no data block
        EXPECT_EQ(g.at(), nullptr);
    }
    {
        Group g(0, {makeCG(0, 4)}, makeCG(1, 1)); // data link to a block of another kind
        EXPECT_EQ(g.at(), nullptr);
    }
    {
        // a record length far beyond the data: no read, no allocation of that size
        Group g(1, {makeCG(1, 0xFFFFFF00u), makeCG(2, 1)}, makeDT("\x01xyz"));
        EXPECT_EQ(g.at(), nullptr);
        EXPECT_LT(g.state.recordBuffer.capacity(), 4096u);
    }
    {
        LogCapture log;
        Group g(1, {makeCG(1, 0xFFFFFFF0u, {}, 0, 0x100), makeCG(2, 1)}, makeDT("\x02z"));
        EXPECT_EQ(log.count("its records are skipped"), 1);
        EXPECT_EQ(g.dg->recordMap.count(1), 0u);
        ASSERT_NE(g.at(), nullptr);
    }
    {
        Group g(0, {}, makeDT("abc")); // no channel group at all
        EXPECT_EQ(g.at(), nullptr);
        EXPECT_EQ(cMdfBlock_DG_at(nullptr, &g.state), nullptr);
        EXPECT_EQ(cMdfBlock_DG_at(g.dg, nullptr), nullptr);
    }
}

// A group whose DataBytes channel (bytes 0..7 of the record) is an offset into an SD block.
struct SdGroup {
    carc_cMdfBlock sd;
    Group* g;
    SdGroup(const std::string& records, const std::string& entries) {
        sd = makeSD(entries);
        g = new Group(0, {makeCG(0, 8, {makeCN("CAN_DataFrame.DataBytes", 0, 64, 10, 1, sd)})},
                      makeDT(records));
    }
    ~SdGroup() { delete g; }
};

TEST(Records, VlsdEntriesFromAnSdBlock) {
    std::string entries = u32(5) + "hello" + u32(128) + std::string(128, 'L') + u32(129) +
                          std::string(129, 'M') + u32(0);
    uint64_t at5 = 0, at128 = 9, at129 = 9 + 132, atEnd = at129 + 133;
    SdGroup s(u64(at5) + u64(at128) + u64(at129) + u64(atEnd) + u64(1u << 30), entries);
    ASSERT_EQ(s.g->dg->recordMap.at(0).rules->size(), 1u);
    LogCapture log;
    const cMdfRecord* r = s.g->at();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(vlsdOf(r), u32(5) + "hello");
    r = s.g->at();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(vlsdOf(r), u32(128) + std::string(128, 'L'));
    EXPECT_EQ(log.count("Unexpectedly large record"), 0);
    // too long: logged, its bytes neither read nor claimed
    r = s.g->at();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(log.count(" E Unexpectedly large record: 129"), 1);
    EXPECT_EQ(vlsdOf(r), u32(129));
    r = s.g->at();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(vlsdOf(r), u32(0));
    // an offset beyond the SD data: a length of 0, the record itself still read
    r = s.g->at();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(vlsdOf(r), u32(0));
    EXPECT_EQ(s.g->at(), nullptr);
}

TEST(Records, VlsdEntryCutAtTheEndOfTheSdBlock) {
    SdGroup s(u64(0), u32(10) + "abc");
    const cMdfRecord* r = s.g->at();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(vlsdOf(r), u32(10) + "abc"); // only what was there
}

// Parent group 1 (8-byte offset), VLSD group 2, other group 3 (2 bytes); 1-byte ids.
struct VlsdCgGroup {
    carc_cMdfBlock vcg = makeCG(2, 0, {}, cMdfBlock_CG_FLAG_VLSD);
    Group* g;
    explicit VlsdCgGroup(const std::string& data) {
        g = new Group(1,
                      {makeCG(1, 8, {makeCN("CAN_DataFrame.DataBytes", 0, 64, 10, 1, vcg)}),
                       makeCG(3, 2), vcg},
                      makeDT(data));
    }
    ~VlsdCgGroup() { delete g; }
};

TEST(Records, VlsdChannelGroupRecordsFollowTheirParent) {
    std::string data = "\x01" + u64(0) + "\x02" + u32(3) + "abc" + // parent + its VLSD record
                       "\x01" + u64(7) + "\x03" + "zz" +           // parent, then another group
                       "\x02" + u32(2) + "qq" +                    // a VLSD record on its own
                       "\x03" + "yy";
    VlsdCgGroup v(data);
    EXPECT_EQ(v.g->dg->recordMap.at(2).recordLength, cMdfRecordInfo_VLSD);
    const cMdfRecord* r = v.g->at();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(vlsdOf(r), u32(3) + "abc");
    EXPECT_EQ(v.g->state.position, 9u + 8u);
    r = v.g->at();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->vlsdLength, 0u);
    EXPECT_EQ(v.g->state.position, 26u);
    r = v.g->at();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(bytesOf(r), "zz");
    r = v.g->at(); // the lone VLSD record is stepped over
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(bytesOf(r), "yy");
    EXPECT_EQ(v.g->at(), nullptr);
}

TEST(Records, VlsdChannelGroupRecordTruncatedOrTooLong) {
    {
        LogCapture log;
        VlsdCgGroup v("\x01" + u64(0) + "\x02" + u32(200) + std::string(200, 'x') + "\x03" + "ok");
        const cMdfRecord* r = v.g->at();
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(log.count("Unexpectedly large record: 200"), 1);
        EXPECT_EQ(vlsdOf(r), u32(200));
        r = v.g->at(); // the long record was consumed with its parent
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(bytesOf(r), "ok");
    }
    {
        VlsdCgGroup v("\x01" + u64(0) + "\x02" + u32(50) + "abc");
        const cMdfRecord* r = v.g->at();
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(vlsdOf(r), u32(50) + "abc");
        EXPECT_EQ(v.g->at(), nullptr);
    }
    {
        VlsdCgGroup v("\x01" + u64(0) + "\x02\x01"); // VLSD id but no room for its length
        const cMdfRecord* r = v.g->at();
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->vlsdLength, 0u);
        EXPECT_EQ(v.g->at(), nullptr);
    }
}

TEST(Records, RawRecordsAndSettings) {
    VlsdCgGroup v("\x01" + u64(0x55) + "\x02" + u32(3) + "abc" + "\x07");
    uint64_t id = 0;
    std::string out;
    EXPECT_EQ(cMdfBlock_DG_getRecordDataRaw(v.g->dg, 0, &id, &out), 9u);
    EXPECT_EQ(id, 1u);
    EXPECT_EQ(out, u64(0x55));
    EXPECT_EQ(cMdfBlock_DG_getRecordDataRaw(v.g->dg, 9, &id, &out), 8u);
    EXPECT_EQ(id, 2u);
    EXPECT_EQ(out, u32(3) + "abc");
    EXPECT_EQ(cMdfBlock_DG_getRecordDataRaw(v.g->dg, 17, &id, &out), 0xFFFFFFFFu); // unknown id
    EXPECT_EQ(cMdfBlock_DG_getRecordDataRaw(v.g->dg, 18, &id, &out), 0xFFFFFFFFu); // at the end
    EXPECT_EQ(cMdfBlock_DG_getRecordDataRaw(v.g->dg, 5, &id, &out), 0xFFFFFFFFu);

    cMdfBlock_DG_setRecordIDSize(v.g->dg, 9);
    EXPECT_EQ(v.g->dg->recordIdSize, 1);
    cMdfBlock_DG_setRecordIDSize(v.g->dg, 8);
    EXPECT_EQ(v.g->dg->recordIdSize, 8);
    EXPECT_FALSE(cMdfBlock_DG_isSorted(nullptr));
}

TEST(Records, RulesAndDecoderFromChannels) {
    carc_cMdfBlock inner1 = makeCN("CAN_DataFrame.ID", 8, 29, 0);
    carc_cMdfBlock inner2 = makeCN("CAN_DataFrame.DLC", 12, 4, 1);
    carc_cMdfBlock parent = makeCN("CAN_DataFrame", 8, 0, 10);
    auto* p = carc_cMdfBlock_to_cMdfBlock_CN_obj_t_mut(parent);
    p->composition.push_back(inner1);
    p->composition.push_back(inner2);
    carc_cMdfBlock ts = makeCN("Timestamp", 0, 64, 4);
    auto* ic = carc_cMdfBlock_to_cMdfBlock_CN_obj_t_mut(inner1);
    ic->bitOffset = 3;
    LogCapture log;
    Group g(0, {makeCG(0, 16, {ts, parent, makeCN("X", 0, 8, 2)})}, makeDT(""));
    const cMdfRecordInfo& info = g.dg->recordMap.at(0);
    ASSERT_NE(info.rules, nullptr);
    ASSERT_EQ(info.rules->size(), 4u); // leaves only, depth first
    const auto& r = *info.rules;
    EXPECT_EQ(r[0].name, "Timestamp");
    EXPECT_EQ(r[0].valueKind, VALUE_FLOAT);
    EXPECT_EQ(r[0].littleEndian, 1);
    EXPECT_EQ(r[1].name, "CAN_DataFrame.ID");
    EXPECT_EQ(r[1].field, FIELD_ID);
    EXPECT_EQ(r[1].bitPosition, 67u);
    EXPECT_EQ(r[1].bitLength, 29u);
    EXPECT_EQ(r[2].littleEndian, 0);
    EXPECT_EQ(r[2].valueKind, VALUE_UNSIGNED);
    EXPECT_EQ(r[3].field, FIELD_NONE);
    // data type 2 (signed, file numbering) is read as unsigned big-endian
    EXPECT_EQ(log.count(" W Unsupported channel data type: 3"), 1);
    // "X" has no prefix, so the group's one prefix chooses the decoder
    EXPECT_EQ(info.decoder, cMdfDecoders_decodeCanDataFrame);
}

} // namespace
