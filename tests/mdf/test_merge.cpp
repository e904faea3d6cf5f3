// The message iterator of a data group and the time-ordered merge of all data groups, on
// files from the MDF writer and on a hand-made group.
#include "mdf_test_support.h"

namespace {

constexpr double kStart = 1700000000.0; // the writer's default start time

// The written file as a block tree over a memory stream; every message of the merge, copied.
struct Loaded {
    cIO* io;
    carc_cMdfBlock root;
    Loaded(const cMdfWriterOptions& opt, const std::vector<cMdfWriterGroup>& groups)
        : io(TestMdf::memStream(cMdfWriter_writeMemory(&opt, &groups))),
          root(cMdfBlock_loadTree(io)) {
        EXPECT_TRUE(root);
    }
    ~Loaded() {
        root.reset();
        (void)cIO_close(io);
    }
    std::vector<cBusMsg> drain() {
        std::vector<cBusMsg> out;
        cMdfParallelIter* it = cMdfParallelIter_ctor(carc_cMdfBlock_to_cMdfBlock_ID_obj_t(root));
        for (; it && it->current; cMdfParallelIter_next(it))
            out.push_back(*it->current);
        cMdfParallelIter_next(it); // past the end it stays at the end
        EXPECT_TRUE(!it || !it->current);
        cMdfParallelIter_dtor(it);
        return out;
    }
};

cMdfWriterGroup groupOf(std::vector<cMdfWriterFrame> frames) {
    cMdfWriterGroup g;
    g.frames = std::move(frames);
    return g;
}

std::vector<cMdfWriterFrame> canAt(std::vector<double> times, uint32_t id) {
    std::vector<cMdfWriterFrame> v;
    for (double t : times) {
        uint8_t d[8] = {uint8_t(t), 1, 2, 3, 4, 5, 6, 7};
        v.push_back(cMdfWriterFrame_can(t, 1, id, false, d, 8));
    }
    return v;
}

std::vector<cMdfWriterFrame> mixedFrames() {
    uint8_t d[64];
    for (int i = 0; i < 64; ++i)
        d[i] = uint8_t(0x40 + i);
    // Runs of one record kind and changes between kinds, each with its own record id.
    std::vector<cMdfWriterFrame> v = {
        cMdfWriterFrame_can(0.5, 1, 0x123, false, d, 8),
        cMdfWriterFrame_can(0.6, 2, 0x124, false, d + 8, 3),
        cMdfWriterFrame_remote(0.7, 2, 0x1ABCDEF4, true, 2),
        cMdfWriterFrame_remote(0.75, 2, 0x1ABCDEF5, true, 4),
        cMdfWriterFrame_can(1.0, 2, 0x1ABCDEF5, true, d, 64),
        cMdfWriterFrame_error(1.25, 1, 4),
        cMdfWriterFrame_lin(1.5, 3, 0x3C, d, 5),
        cMdfWriterFrame_can(2.0, 1, 0x7FF, false, d, 0),
    };
    v[4].brs = v[7].dir = true;
    return v;
}

void expectFrame(const cBusMsg& m, const cMdfWriterFrame& f) {
    EXPECT_DOUBLE_EQ(m.Timestamp, f.time + kStart);
    std::string data((const char*)f.data, f.dataLength);
    switch (f.kind) {
    case MDFW_CAN_DATA: {
        EXPECT_EQ(m.Type, BUS_MSG_CAN_DATA_FRAME);
        const cBusMsg_CAN want{f.ide, f.dir, f.edl, f.esi, f.brs, 0, f.dlc};
        EXPECT_EQ(std::memcmp(&m.CAN, &want, sizeof want), 0);
        EXPECT_EQ(cBusMsg_data(&m), data);
        break;
    }
    case MDFW_CAN_REMOTE:
        EXPECT_EQ(m.Type, BUS_MSG_CAN_REMOTE_FRAME);
        EXPECT_EQ(m.CAN.RTR, 1);
        EXPECT_EQ(m.CAN.DLC, f.dlc);
        EXPECT_EQ(cBusMsg_data(&m), std::string(f.dataLength, '\0'));
        break;
    case MDFW_CAN_ERROR:
        EXPECT_EQ(m.Type, BUS_MSG_CAN_ERROR_FRAME);
        EXPECT_EQ(m.CANError.BusChannel, f.bus);
        EXPECT_EQ(m.CANError.ErrorType, f.errorType);
        return;
    case MDFW_LIN:
        EXPECT_EQ(m.Type, BUS_MSG_LIN_FRAME);
        EXPECT_EQ(cBusMsg_data(&m), data);
        break;
    }
    EXPECT_EQ(m.BusChannel, f.bus);
    EXPECT_EQ(m.ID, f.id);
}

TEST(Merge, RoundTripOverLayouts) {
    const struct {
        uint8_t idSize;
        cMdfWriterDataStorage storage;
        bool bigEndian;
        uint32_t invalidation;
        cMdfWriterTimeEncoding time;
    } cases[] = {
        {1, MDFW_DATA_FIXED, false, 0, MDFW_TIME_DOUBLE},
        {2, MDFW_DATA_FIXED, true, 0, MDFW_TIME_MICROS},
        {1, MDFW_DATA_VLSD_SD, false, 0, MDFW_TIME_DOUBLE},
        {8, MDFW_DATA_VLSD_CG, false, 0, MDFW_TIME_DOUBLE},
        {1, MDFW_DATA_FIXED, false, 2, MDFW_TIME_DOUBLE},
        {4, MDFW_DATA_VLSD_CG, true, 1, MDFW_TIME_MICROS},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.idSize) * 100 + int(c.storage) * 10 + c.bigEndian);
        cMdfWriterGroup g = groupOf(mixedFrames());
        g.recordIdSize = c.idSize;
        g.dataStorage = c.storage;
        g.bigEndian = c.bigEndian;
        g.invalidationBytes = c.invalidation;
        g.timeEncoding = c.time;
        g.busChannelTable = {{0, 1}, {1, 2}, {7, 3}};
        std::vector<cBusMsg> msgs = Loaded(cMdfWriterOptions{}, {g}).drain();
        ASSERT_EQ(msgs.size(), g.frames.size());
        for (size_t i = 0; i < msgs.size(); ++i)
            expectFrame(msgs[i], g.frames[i]);
    }
}

// The exact order for every count of groups up to past a power of two: by time, equal times
// (the two zeros among them) in data group order, groups ending at different points.
TEST(Merge, ExactOrderWithTiesForEachGroupCount) {
    std::mt19937 rng(3);
    for (uint32_t count = 1; count <= 9; ++count) {
        SCOPED_TRACE(count);
        std::vector<cMdfWriterGroup> groups;
        std::vector<std::pair<double, uint32_t>> want;
        for (uint32_t g = 0; g < count; ++g) {
            std::vector<double> t = {-2.0, -0.5, g % 2 ? -0.0 : 0.0};
            for (uint32_t i = rng() % 12; i > 0; --i)
                t.push_back(t.back() + (rng() % 3) * 0.25);
            for (double x : t)
                want.push_back({x, g});
            groups.push_back(groupOf(canAt(t, g)));
        }
        std::stable_sort(want.begin(), want.end(), [](const auto& a, const auto& b) {
            return a.first < b.first || (!(b.first < a.first) && a.second < b.second);
        });
        std::vector<cBusMsg> msgs = Loaded(cMdfWriterOptions{}, groups).drain();
        ASSERT_EQ(msgs.size(), want.size());
        for (size_t i = 0; i < msgs.size(); ++i) {
            EXPECT_DOUBLE_EQ(msgs[i].Timestamp, kStart + want[i].first) << i;
            EXPECT_EQ(msgs[i].ID, want[i].second) << i;
        }
    }
}

TEST(Merge, StartTimeEmptyAndSilentGroups) {
    const int16_t offsets[][3] = {{0, 0, 0}, {60, 0, 3600}, {60, 60, 7200}, {-90, 0, -5400}};
    for (auto o : offsets) {
        cMdfWriterOptions opt;
        opt.startTimeNs = 1600000000000000000ull;
        opt.tzOffsetMin = o[0];
        opt.dstOffsetMin = o[1];
        std::vector<cBusMsg> msgs = Loaded(opt, {groupOf(canAt({0, 2}, 1))}).drain();
        ASSERT_EQ(msgs.size(), 2u);
        EXPECT_DOUBLE_EQ(msgs[0].Timestamp, 1.6e9 + o[2]);
        EXPECT_DOUBLE_EQ(msgs[1].Timestamp, 1.6e9 + o[2] + 2);
    }
    EXPECT_TRUE(Loaded(cMdfWriterOptions{}, {}).drain().empty());
    std::vector<cMdfWriterGroup> groups = {groupOf(canAt({1, 2}, 5)), groupOf(canAt({1.5}, 6)),
                                           groupOf({cMdfWriterFrame_lin(0.5, 1, 1, nullptr, 1)})};
    groups[0].channelPrefix = "Vendor_Thing";  // generic decoder: never a message
    groups[2].channelPrefix = "LIN_SyncError"; // its own names: no accepted field
    std::vector<cBusMsg> msgs = Loaded(cMdfWriterOptions{}, groups).drain();
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].ID, 6u);
}

// Fails on records whose byte is odd.
bool evenOnly(const cMdfGroupDecoder*, const cMdfRecord* rec, cBusMsg* msg) {
    msg->Timestamp = rec->data[0];
    return rec->data[0] % 2 == 0;
}

TEST(Container, UndecodableRecordsAreSkippedNotRepeated) {
    carc_cMdfBlock dgb = cMdfBlock_DG_ctor(), cgb = cMdfBlock_CG_ctor();
    auto* dg = carc_cMdfBlock_to_cMdfBlock_DG_obj_t_mut(dgb);
    carc_cMdfBlock_to_cMdfBlock_CG_obj_t_mut(cgb)->dataBytes = 1;
    dg->channelGroups.push_back(cgb);
    cIO* io = cIO_memoryAlloc_ctor();
    (void)cIO_write(io, "\0\1\3\4\5\6", 6);
    dg->data = testDataBlock(io);
    cMdfBlock_DG_updateRecordMap(dg);
    cMdfBusMsgContainer* c = cMdfBusMsgContainer_ctor(dg);
    cMdfBusMsgContainer_iter it = cMdfBusMsgContainer_begin(c);
    EXPECT_EQ(it.container, nullptr); // no channels, no decoder: no message, no call
    dg->recordMap.at(0).decoder.fn = evenOnly;
    std::vector<double> times;
    for (it = cMdfBusMsgContainer_begin(c); it.container; cMdfBusMsgContainer_next(&it))
        times.push_back(it.msg->Timestamp);
    EXPECT_EQ(times, (std::vector<double>{0, 4, 6}));
    cMdfBusMsgContainer_dtor(c);
    dgb.reset();
    (void)cIO_close(io);
}

} // namespace
