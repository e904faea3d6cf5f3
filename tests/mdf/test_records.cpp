// Reading the records of a data group: record map, modes, VLSD data through SD blocks and
// VLSD channel groups, damaged layouts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "io/cIO_memoryAlloc.h"
#include "mdf/cMdfBlock_CG.h"
#include "mdf/cMdfBlock_CN.h"
#include "mdf/cMdfBlock_DG.h"
#include "mdf/cMdfBlock_DT.h"
#include "mdf/cMdfBlock_SD.h"
#include "mdf/cMdfBlock_TX.h"
#include "mdf_test_support.h"

namespace {

cIO* memoryWith(const std::string& bytes) {
    return TestMdf::memStream(std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

carc_cMdfBlock makeCN(const char* name, uint32_t byteOffset, uint32_t bits, uint8_t fileDataType,
                      carc_cMdfBlock signalData = {}) {
    carc_cMdfBlock b = cMdfBlock_CN_ctor(), tx = cMdfBlock_TX_ctor();
    cMdfBlock_TX_setData(carc_cMdfBlock_to_cMdfBlock_TX_obj_t_mut(tx), name, std::strlen(name));
    auto* cn = carc_cMdfBlock_to_cMdfBlock_CN_obj_t_mut(b);
    cn->name = tx;
    cn->byteOffset = byteOffset;
    cn->bitCount = bits;
    cn->dataType = fileDataType;
    cn->channelType = signalData ? 1 : 0;
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
    cg->channels.assign(cns.begin(), cns.end());
    return b;
}

struct Group {
    carc_cMdfBlock block = cMdfBlock_DG_ctor();
    cMdfBlock_DG_obj_t* dg = carc_cMdfBlock_to_cMdfBlock_DG_obj_t_mut(block);
    cMdfBlock_DG_iteratorState state;
    Group(uint8_t idSize, std::vector<carc_cMdfBlock> cgs, const std::string& data) {
        dg->recordIdSize = idSize;
        dg->channelGroups.assign(cgs.begin(), cgs.end());
        dg->data = cMdfBlock_DT_ctor_fromIO(memoryWith(data));
        cMdfBlock_DG_updateRecordMap(dg);
        cMdfBlock_DG_iteratorState_init(&state);
    }
    ~Group() { cMdfBlock_DG_iteratorState_drop(&state); }
    // Data bytes of the next record ("<end>" when there is none), "|" and its VLSD data.
    std::string next(bool withVlsd = false) {
        const cMdfRecord* r = cMdfBlock_DG_at(dg, &state);
        if (!r) return "<end>";
        std::string s((const char*)r->data, r->dataLength);
        return withVlsd ? s + "|" + std::string((const char*)r->vlsdData, r->vlsdLength) : s;
    }
    // Every further record, each followed by ",".
    std::string rest(bool withVlsd = false) {
        std::string out;
        for (std::string r; (r = next(withVlsd)) != "<end>" && out.size() < 1000000;)
            out += r + ",";
        return out;
    }
};

std::string u32(uint32_t n) {
    return {char(n), char(n >> 8), char(n >> 16), char(n >> 24)};
}
std::string u64(uint64_t n) {
    return u32(uint32_t(n)) + u32(uint32_t(n >> 32));
}
std::string b(std::initializer_list<int> v) {
    return std::string(v.begin(), v.end());
}

TEST(Records, SingleAndMultiGroupModes) {
    std::string data;
    for (int i = 0; i < 30; ++i)
        data += char('a' + i % 26);
    Group one(0, {makeCG(7, 10)}, data + "xyz"); // three records and a short remainder
    EXPECT_EQ(one.dg->recordMap.count(0), 1u);
    EXPECT_TRUE(cMdfBlock_DG_isSorted(one.dg));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(one.next(), data.substr(10 * i, 10));
        EXPECT_EQ(one.state.position, 10u * (i + 1));
    }
    EXPECT_EQ(one.next(), "<end>"); // the short remainder is no record

    Group two(1, {makeCG(1, 8), makeCG(2, 16)},
              b({2}) + "ABCDEFGHIJKLMNOP" + b({1}) + "abcdefgh" + b({9}) + "12345678");
    EXPECT_FALSE(cMdfBlock_DG_isSorted(two.dg));
    EXPECT_EQ(two.next(), "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(two.state.position, 17u);
    EXPECT_EQ(two.rest(), "abcdefgh,"); // an unknown id ends the reading; nothing skipped
    EXPECT_EQ(two.state.position, 26u);

    // one channel group with record ids: read by id; invalidation bytes in the record
    Group ids(2, {makeCG(5, 3, {}, 0, 1)}, b({5, 0}) + "abc!" + b({5, 0}) + "def?");
    EXPECT_EQ(ids.rest(), "abc!,def?,");

    Group dup(1, {makeCG(1, 2), makeCG(1, 4), makeCG(2, 8)}, "\x01xy");
    ASSERT_EQ(dup.dg->recordMap.size(), 1u); // the first entry, and no later group
    EXPECT_EQ(dup.dg->recordMap.at(1).recordLength, 2u);
}

TEST(Records, DamagedLayoutsEndCleanly) {
    LogCapture log;
    Group wide(9, {makeCG(1, 2), makeCG(2, 2)}, std::string(11, '\x01'));
    Group huge(1, {makeCG(1, 0xFFFFFFF0u, {}, 0, 0x100), makeCG(2, 1)}, "\x02z");
    EXPECT_TRUE(wide.dg->recordMap.empty());
    EXPECT_TRUE(log.has("record id of 9 bytes") && log.has("records of 4294967536 bytes"))
        << LogCapture::text;
    EXPECT_EQ(wide.next() + huge.next(), "<end>z");

    Group empty(0, {makeCG(0, 0)}, "abcdef"); // records of no bytes would never move on
    Group beyond(1, {makeCG(1, 0xFFFFFF00u), makeCG(2, 1)}, "\x01xyz");
    Group noGroups(0, {}, "abc");
    EXPECT_EQ(empty.rest() + beyond.rest() + noGroups.rest(), "");
    EXPECT_LT(beyond.state.recordBuffer.capacity(), 4096u); // nothing allocated for it
    Group noData(0, {makeCG(0, 4)}, "abcd");
    noData.dg->data.reset();
    EXPECT_EQ(noData.next(), "<end>");
    noData.dg->data = makeCG(1, 1); // a data link to another kind of block
    EXPECT_EQ(noData.next(), "<end>");
    EXPECT_EQ(cMdfBlock_DG_at(nullptr, &noGroups.state), nullptr);
}

TEST(Records, VlsdEntriesFromAnSdBlock) {
    std::string entries = u32(5) + "hello" + u32(128) + std::string(128, 'L') + u32(129) +
                          std::string(129, 'M') + u32(10) + "abc";
    carc_cMdfBlock sd = cMdfBlock_SD_ctor_fromIO(memoryWith(entries));
    uint64_t offsets[] = {0, 9, 141, 274, 1u << 30};
    std::string data;
    for (uint64_t o : offsets)
        data += u64(o);
    Group g(0, {makeCG(0, 8, {makeCN("CAN_DataFrame.DataBytes", 0, 64, 10, sd)})}, data);
    LogCapture log;
    EXPECT_EQ(g.next(true), u64(0) + "|" + u32(5) + "hello");
    EXPECT_EQ(g.next(true), u64(9) + "|" + u32(128) + std::string(128, 'L'));
    EXPECT_EQ(LogCapture::text, "");
    EXPECT_EQ(g.next(true), u64(141) + "|" + u32(129)); // logged; bytes neither read nor claimed
    EXPECT_TRUE(log.has(" E Unexpectedly large record: 129\n")) << LogCapture::text;
    EXPECT_EQ(g.next(true), u64(274) + "|" + u32(10) + "abc"); // cut at the end of the block
    EXPECT_EQ(g.next(true), u64(1u << 30) + "|" + u32(0));     // beyond the block: length 0
    EXPECT_EQ(g.next(true), "<end>");
}

// Parent group 1 (8-byte offset channel), other group 3 (2 bytes), VLSD group 2; 1-byte ids.
struct VlsdCgGroup : Group {
    explicit VlsdCgGroup(const std::string& data, carc_cMdfBlock vcg = makeCG(2, 0, {}, 1))
        : Group(1,
                {makeCG(1, 8, {makeCN("CAN_DataFrame.DataBytes", 0, 64, 10, vcg)}), makeCG(3, 2),
                 vcg},
                data) {}
};

TEST(Records, VlsdChannelGroupRecordsFollowTheirParent) {
    VlsdCgGroup v(b({1}) + u64(0) + b({2}) + u32(3) + "abc" + // parent and its VLSD record
                  b({1}) + u64(7) + b({3}) + "zz" +           // parent, then another group
                  b({2}) + u32(2) + "qq" + b({3}) + "yy");    // a VLSD record on its own
    EXPECT_EQ(v.dg->recordMap.at(2).recordLength, cMdfRecordInfo_VLSD);
    EXPECT_EQ(v.next(true), u64(0) + "|" + u32(3) + "abc");
    EXPECT_EQ(v.state.position, 17u);
    EXPECT_EQ(v.next(true), u64(7) + "|");
    EXPECT_EQ(v.state.position, 26u);
    EXPECT_EQ(v.rest(), "zz,yy,"); // the lone VLSD record was stepped over

    LogCapture log;
    VlsdCgGroup big(b({1}) + u64(0) + b({2}) + u32(200) + std::string(200, 'x') + b({3}) + "ok");
    EXPECT_EQ(big.next(true), u64(0) + "|" + u32(200));
    EXPECT_EQ(big.rest(), "ok,"); // the long record went with its parent
    VlsdCgGroup cut(b({1}) + u64(0) + b({2}) + u32(50) + "abc");
    EXPECT_EQ(cut.rest(true), u64(0) + "|" + u32(50) + "abc,");
    VlsdCgGroup stub(b({1}) + u64(0) + b({2, 1})); // no room for the VLSD length
    EXPECT_EQ(stub.rest(true), u64(0) + "|,");
}

TEST(Records, RecordsAcrossReadAheadWindows) {
    // 7-byte records over several windows; one record larger than a window
    std::string data;
    for (uint32_t i = 0; i < 30000; ++i)
        data += u32(i) + "abc";
    Group small(0, {makeCG(0, 7)}, data);
    for (uint32_t i = 0; i < 30000; ++i)
        ASSERT_EQ(small.next(), u32(i) + "abc") << i;
    EXPECT_EQ(small.next(), "<end>");
    std::string huge(200000, 'h');
    Group big(1, {makeCG(1, 200000), makeCG(2, 3)},
              b({2}) + "xyz" + b({1}) + huge + b({2}) + "end");
    EXPECT_EQ(big.rest(), "xyz," + huge + ",end,");
    // parents with VLSD records of growing length, so that pairs straddle window ends
    std::string mixed, expect;
    for (uint32_t i = 0; i < 6000; ++i) {
        std::string bytes(i % 40, char('a' + i % 26));
        mixed += b({1}) + u64(i) + b({2}) + u32(bytes.size()) + bytes + b({3}) + "zz";
    }
    VlsdCgGroup v(mixed);
    for (uint32_t i = 0; i < 6000; ++i) {
        std::string bytes(i % 40, char('a' + i % 26));
        ASSERT_EQ(v.next(true), u64(i) + "|" + u32(bytes.size()) + bytes) << i;
        ASSERT_EQ(v.next(), "zz") << i;
    }
    EXPECT_EQ(v.next(), "<end>");
}

TEST(Records, RawRecordsAndSettings) {
    VlsdCgGroup v(b({1}) + u64(0x55) + b({2}) + u32(3) + "abc" + b({7}));
    uint64_t id = 0;
    std::string out;
    EXPECT_EQ(cMdfBlock_DG_getRecordDataRaw(v.dg, 9, &id, &out), 8u);
    EXPECT_EQ(id * 1000 + out.size(), 2007u); // the VLSD record with its length
    for (uint64_t bad : {17, 18, 5, 1000})    // unknown ids, the end, beyond it
        EXPECT_EQ(cMdfBlock_DG_getRecordDataRaw(v.dg, bad, &id, &out), 0xFFFFFFFFu) << bad;
    cMdfBlock_DG_setRecordIDSize(v.dg, 9);
    EXPECT_EQ(v.dg->recordIdSize, 1);
}

TEST(Records, RulesAndDecoderFromChannels) {
    carc_cMdfBlock id = makeCN("CAN_DataFrame.ID", 8, 29, 0),
                   parent = makeCN("CAN_DataFrame", 8, 0, 10);
    carc_cMdfBlock_to_cMdfBlock_CN_obj_t_mut(id)->bitOffset = 3;
    carc_cMdfBlock_to_cMdfBlock_CN_obj_t_mut(parent)->composition = {
        id, makeCN("CAN_DataFrame.DLC", 12, 4, 1)};
    LogCapture log;
    Group g(0, {makeCG(0, 16, {makeCN("Timestamp", 0, 64, 4), parent, makeCN("X", 0, 8, 2)})}, "");
    const cMdfRecordInfo& info = g.dg->recordMap.at(0);
    ASSERT_EQ(info.rules->size(), 4u); // leaves only, depth first
    const auto& r = *info.rules;
    EXPECT_EQ((std::vector<uint64_t>{r[0].valueKind, r[0].field, r[1].field, r[1].bitPosition,
                                     r[1].littleEndian, r[2].littleEndian}),
              (std::vector<uint64_t>{VALUE_FLOAT, FIELD_TIMESTAMP, FIELD_ID, 67, 1, 0}));
    EXPECT_EQ(r[3].name, "X");
    EXPECT_TRUE(log.has(" W Unsupported channel data type: 3\n")) << LogCapture::text;
    EXPECT_EQ(info.decoder, cMdfDecoders_decodeCanDataFrame);

    // shared sub-trees that would multiply to 2^20 leaves, and a channel composed of itself
    carc_cMdfBlock tree = makeCN("CAN_DataFrame.ID", 0, 8, 0);
    for (int i = 0; i < 20; ++i) {
        carc_cMdfBlock up = makeCN("S", 0, 0, 0);
        carc_cMdfBlock_to_cMdfBlock_CN_obj_t_mut(up)->composition = {tree, tree};
        tree = up;
    }
    carc_cMdfBlock self = makeCN("S", 0, 0, 0);
    carc_cMdfBlock_to_cMdfBlock_CN_obj_t_mut(self)->composition = {self};
    Group many(0, {makeCG(0, 1, {tree, self})}, "");
    EXPECT_EQ(many.dg->recordMap.at(0).rules->size(), cMdfDecodeRule_MAX_PER_GROUP);
    EXPECT_TRUE(log.has("Too many channels in one channel group") &&
                log.has("Channel composition nested too deeply"));
    carc_cMdfBlock_to_cMdfBlock_CN_obj_t_mut(self)->composition.clear();
}

} // namespace
