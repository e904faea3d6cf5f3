// Reading the records of a data group: damaged layouts, and records (with VLSD channel
// group data) across read-ahead windows, in place and copied, in random layouts.
#include "mdf_test_support.h"

namespace {

carc_cMdfBlock makeCN(const char* name, uint32_t byteOffset, uint32_t bits, uint8_t fileDataType,
                      carc_cMdfBlock signalData = {}) {
    carc_cMdfBlock b = cMdfBlock_CN_ctor(), tx = cMdfBlock_TX_ctor();
    carc_cMdfBlock_to_cMdfBlock_TX_obj_t_mut(tx)->text = name;
    auto* cn = carc_cMdfBlock_to_cMdfBlock_CN_obj_t_mut(b);
    cn->name = tx;
    cn->byteOffset = byteOffset;
    cn->bitCount = bits;
    cn->dataType = static_cast<cMdfDataType>(fileDataType);
    cn->channelType = signalData ? MDF_CHANNEL_VLSD : MDF_CHANNEL_FIXED;
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
    cIO* file;
    // copying: the data block reads through a CopyingStream, so the window copies.
    Group(uint8_t idSize, std::vector<carc_cMdfBlock> cgs, const std::string& data,
          bool copying = false)
        : file(TestMdf::memStream(std::vector<uint8_t>(data.begin(), data.end()))) {
        if (copying) file = CopyingStream::make(file);
        dg->recordIdSize = idSize;
        dg->channelGroups.assign(cgs.begin(), cgs.end());
        dg->data = testDataBlock(file);
        cMdfBlock_DG_updateRecordMap(dg);
        cMdfBlock_DG_iteratorState_init(&state);
    }
    ~Group() {
        cMdfBlock_DG_iteratorState_drop(&state);
        block.reset();
        (void)cIO_close(file);
    }
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

TEST(Records, DamagedLayoutsEndCleanly) {
    LogCapture log;
    Group wide(9, {makeCG(1, 2), makeCG(2, 2)}, std::string(11, '\x01'));
    Group huge(1, {makeCG(1, 0xFFFFFFF0u, {}, 0, 0x100), makeCG(2, 1)}, "\x02z");
    EXPECT_TRUE(wide.dg->recordMap.empty());
    EXPECT_TRUE(log.has("record id of 9 bytes") && log.has("records of 4294967536 bytes"))
        << capturedLog;
    EXPECT_EQ(wide.next() + huge.next(), "<end>z");

    Group empty(0, {makeCG(0, 0)}, "abcdef"); // records of no bytes would never move on
    Group beyond(1, {makeCG(1, 0xFFFFFF00u), makeCG(2, 1)}, "\x01xyz");
    Group noGroups(0, {}, "abc");
    EXPECT_EQ(empty.rest() + beyond.rest() + noGroups.rest(), "");
    EXPECT_LT(beyond.state.window.copy.capacity(), 4096u); // nothing allocated for it
    Group noData(0, {makeCG(0, 4)}, "abcd");
    noData.dg->data.reset();
    EXPECT_EQ(noData.next(), "<end>");
    noData.dg->data = makeCG(1, 1); // a data link to another kind of block
    EXPECT_EQ(noData.next(), "<end>");
    EXPECT_EQ(cMdfBlock_DG_at(nullptr, &noGroups.state), nullptr);
}

// Random record sequences through windows of a few bytes (so records and VLSD pairs larger
// than a window and straddling window ends come up in every round): parents with their VLSD record
// behind them, VLSD records met on their own (stepped over), records of another group and of
// no bytes; record ids of every size; windows in place and copied. The expected records come
// from the sequence as it was written.
TEST(Records, RandomLayoutsThroughSmallWindows) {
    std::mt19937_64 rng(20261208);
    auto pick = [&rng](uint64_t n) { return rng() % n; };
    for (int round = 0; round < 400; ++round) {
        const uint8_t idSizes[] = {0, 1, 2, 4, 8};
        const uint8_t idSize = idSizes[pick(5)];
        const uint32_t parentLength = 8 + uint32_t(pick(12)), otherLength = uint32_t(pick(6));
        auto id = [&](uint64_t v) { return u64(v).substr(0, idSize); };
        auto bytes = [&](size_t n) {
            std::string b(n, '\0');
            for (char& c : b)
                c = char('a' + pick(26));
            return b;
        };
        std::string data, expect;
        const size_t records = 1 + pick(60);
        bool bareParent = false; // the last record is a parent without its VLSD record
        for (size_t i = 0; i < records; ++i) {
            uint64_t kind = idSize ? pick(4) : 0;
            // A VLSD record behind such a parent would be its own.
            if (kind == 2 && bareParent) kind = 1;
            bareParent = kind == 3;
            if (kind == 0) { // a parent, and with record ids its VLSD record behind it
                const std::string rec = bytes(parentLength), vlsd = bytes(pick(40));
                data += id(1) + rec;
                expect += rec + "|";
                if (idSize) {
                    data += id(2) + u32(uint32_t(vlsd.size())) + vlsd;
                    expect += u32(uint32_t(vlsd.size())) + vlsd;
                } else {
                    expect += u32(0); // no VLSD channel group without record ids
                }
            } else if (kind == 1) { // a record of the other group
                const std::string rec = bytes(otherLength);
                data += id(3) + rec;
                expect += rec + "|";
            } else if (kind == 2) { // a VLSD record on its own
                const std::string vlsd = bytes(pick(10));
                data += id(2) + u32(uint32_t(vlsd.size())) + vlsd;
                continue;
            } else { // a parent whose VLSD record is missing
                const std::string rec = bytes(parentLength);
                data += id(1) + rec;
                expect += rec + "|";
            }
            expect += ",";
        }
        carc_cMdfBlock vcg = makeCG(2, 0, {}, MDF_CG_FLAG_VLSD);
        std::vector<carc_cMdfBlock> cgs = {
            makeCG(1, parentLength, {makeCN("CAN_DataFrame.DataBytes", 0, 64, 10, vcg)})};
        if (idSize) cgs.insert(cgs.end(), {makeCG(3, otherLength), vcg});
        const bool copying = pick(2);
        Group g(idSize, cgs, data, copying);
        g.state.window.readAhead = 1 + pick(48);
        SCOPED_TRACE("round " + std::to_string(round) + ", id size " + std::to_string(idSize) +
                     (copying ? ", copied" : ", in place"));
        ASSERT_EQ(g.rest(true), expect);
        // The records end exactly at the end of the data.
        EXPECT_EQ(g.state.position, data.size());
    }
}

} // namespace
