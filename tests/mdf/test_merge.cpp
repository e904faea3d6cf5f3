// The message iterator of a data group and the time-ordered merge of all data groups, on
// files from the MDF writer and on hand-made groups.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "io/cIO.h"
#include "io/cIO_memoryAlloc.h"
#include "mdf/cMdfBlock_CG.h"
#include "mdf/cMdfBlock_DG.h"
#include "mdf/cMdfBlock_DT.h"
#include "mdf/cMdfBlock_ID.h"
#include "mdf/cMdfBusMsgContainer.h"
#include "mdf/cMdfParallelIter.h"
#include "tools/cMdfWriter.h"

namespace {

// A file written by the writer, loaded as a block tree over a memory stream.
struct LoadedFile {
    cIO* io = nullptr;
    carc_cMdfBlock root;
    LoadedFile(const cMdfWriterOptions& opt, const std::vector<cMdfWriterGroup>& groups) {
        std::vector<uint8_t> bytes = cMdfWriter_writeMemory(&opt, &groups);
        EXPECT_FALSE(bytes.empty());
        io = cIO_memoryAlloc_ctor();
        cIO_write(io, bytes.data(), bytes.size());
        cIO_seek(io, 0, cIO_SEEK_SET);
        root = cMdfBlock_loadTree(io);
        EXPECT_TRUE(root);
    }
    ~LoadedFile() {
        root.reset();
        cIO_close(io);
    }
    const cMdfBlock_ID_obj_t* id() const { return carc_cMdfBlock_to_cMdfBlock_ID_obj_t(root); }
};

// Every message of the merge, copied.
std::vector<cBusMsg> drain(const cMdfBlock_ID_obj_t* id) {
    std::vector<cBusMsg> out;
    cMdfParallelIter* it = cMdfParallelIter_ctor(id);
    EXPECT_NE(it, nullptr);
    if (!it) return out;
    for (; it->current; cMdfParallelIter_next(it))
        out.push_back(*it->current);
    cMdfParallelIter_next(it); // after the end it stays at the end
    EXPECT_EQ(it->current, nullptr);
    cMdfParallelIter_dtor(it);
    return out;
}

constexpr double kStart = 1700000000.0;

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

void expectFrame(const cBusMsg& m, const cMdfWriterFrame& f) {
    EXPECT_DOUBLE_EQ(m.Timestamp, f.time + kStart);
    EXPECT_EQ(m.BusChannel, f.kind == MDFW_CAN_ERROR ? m.BusChannel : f.bus);
    switch (f.kind) {
    case MDFW_CAN_DATA:
        EXPECT_EQ(m.Type, BUS_MSG_CAN_DATA_FRAME);
        EXPECT_EQ(m.ID, f.id);
        EXPECT_EQ(m.CAN.IDE, f.ide);
        EXPECT_EQ(m.CAN.Dir, f.dir);
        EXPECT_EQ(m.CAN.EDL, f.edl);
        EXPECT_EQ(m.CAN.BRS, f.brs);
        EXPECT_EQ(m.CAN.ESI, f.esi);
        EXPECT_EQ(m.CAN.DLC, f.dlc);
        EXPECT_EQ(m.CAN.RTR, 0);
        EXPECT_EQ(m.DataBytes, std::string(reinterpret_cast<const char*>(f.data), f.dataLength));
        break;
    case MDFW_CAN_REMOTE:
        EXPECT_EQ(m.Type, BUS_MSG_CAN_REMOTE_FRAME);
        EXPECT_EQ(m.ID, f.id);
        EXPECT_EQ(m.CAN.RTR, 1);
        EXPECT_EQ(m.CAN.DLC, f.dlc);
        EXPECT_EQ(m.DataBytes, std::string(f.dataLength, '\0'));
        break;
    case MDFW_CAN_ERROR:
        EXPECT_EQ(m.Type, BUS_MSG_CAN_ERROR_FRAME);
        EXPECT_EQ(m.CANError.BusChannel, f.bus);
        EXPECT_EQ(m.CANError.ErrorType, f.errorType);
        break;
    case MDFW_LIN:
        EXPECT_EQ(m.Type, BUS_MSG_LIN_FRAME);
        EXPECT_EQ(m.ID, f.id);
        EXPECT_EQ(m.DataBytes, std::string(reinterpret_cast<const char*>(f.data), f.dataLength));
        break;
    }
}

std::vector<cMdfWriterFrame> mixedFrames() {
    std::vector<cMdfWriterFrame> v;
    uint8_t d[64];
    for (int i = 0; i < 64; ++i)
        d[i] = uint8_t(0x40 + i);
    v.push_back(cMdfWriterFrame_can(0.5, 1, 0x123, false, d, 8));
    v.push_back(cMdfWriterFrame_remote(0.75, 2, 0x1ABCDEF5, true, 4));
    v.push_back(cMdfWriterFrame_can(1.0, 2, 0x1ABCDEF5, true, d, 64));
    v.back().brs = true;
    v.push_back(cMdfWriterFrame_error(1.25, 1, 4));
    v.push_back(cMdfWriterFrame_lin(1.5, 3, 0x3C, d, 5));
    v.push_back(cMdfWriterFrame_can(2.0, 1, 0x7FF, false, d, 0));
    v.push_back(cMdfWriterFrame_can(2.5, 1, 0x10, false, d, 3));
    v.back().dir = true;
    return v;
}

TEST(Merge, RoundTripOverStoragesAndByteOrders) {
    const struct {
        uint8_t idSize;
        cMdfWriterDataStorage storage;
        bool bigEndian;
        uint32_t invalidation;
    } cases[] = {
        {1, MDFW_DATA_FIXED, false, 0},   {2, MDFW_DATA_FIXED, true, 0},
        {1, MDFW_DATA_VLSD_SD, false, 0}, {8, MDFW_DATA_VLSD_CG, false, 0},
        {1, MDFW_DATA_FIXED, false, 2},   {4, MDFW_DATA_VLSD_CG, true, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "id size " << int(c.idSize) << " storage "
                                        << int(c.storage) << " big-endian " << c.bigEndian);
        cMdfWriterGroup g = groupOf(mixedFrames());
        g.recordIdSize = c.idSize;
        g.dataStorage = c.storage;
        g.bigEndian = c.bigEndian;
        g.invalidationBytes = c.invalidation;
        cMdfWriterOptions opt;
        LoadedFile f(opt, {g});
        std::vector<cBusMsg> msgs = drain(f.id());
        ASSERT_EQ(msgs.size(), g.frames.size());
        for (size_t i = 0; i < msgs.size(); ++i)
            expectFrame(msgs[i], g.frames[i]);
    }
}

TEST(Merge, SortedGroupsWithMicrosecondTimesAndBusTable) {
    std::vector<cMdfWriterGroup> groups;
    groups.push_back(groupOf(canAt({0.25, 1.5, 3}, 0x100)));
    groups.back().timeEncoding = MDFW_TIME_MICROS;
    groups.back().busChannelTable = {{0, 1}, {1, 2}};
    groups.push_back(groupOf({cMdfWriterFrame_lin(1, 2, 7, nullptr, 2)}));
    groups.back().flatChannels = true;
    cMdfWriterOptions opt;
    LoadedFile f(opt, groups);
    std::vector<cBusMsg> msgs = drain(f.id());
    ASSERT_EQ(msgs.size(), 4u);
    EXPECT_DOUBLE_EQ(msgs[0].Timestamp, kStart + 0.25);
    EXPECT_EQ(msgs[0].BusChannel, 1); // raw 0 converted through the table
    EXPECT_EQ(msgs[1].Type, BUS_MSG_LIN_FRAME);
    EXPECT_EQ(msgs[1].DataBytes, std::string(2, '\0'));
    EXPECT_DOUBLE_EQ(msgs[2].Timestamp, kStart + 1.5);
    EXPECT_DOUBLE_EQ(msgs[3].Timestamp, kStart + 3);
}

TEST(Merge, InterleavesDataGroupsByTime) {
    std::vector<cMdfWriterGroup> groups = {groupOf(canAt({1, 3, 5}, 1)),
                                           groupOf(canAt({2, 4, 6}, 2))};
    cMdfWriterOptions opt;
    LoadedFile f(opt, groups);
    std::vector<cBusMsg> msgs = drain(f.id());
    ASSERT_EQ(msgs.size(), 6u);
    for (int i = 0; i < 6; ++i) {
        EXPECT_DOUBLE_EQ(msgs[i].Timestamp, kStart + i + 1);
        EXPECT_EQ(msgs[i].ID, uint32_t(i % 2 + 1));
        EXPECT_EQ(uint8_t(msgs[i].DataBytes[0]), i + 1);
    }
}

TEST(Merge, EqualTimesComeInDataGroupOrder) {
    std::vector<cMdfWriterGroup> groups = {groupOf(canAt({1, 2}, 10)), groupOf(canAt({1, 2}, 20)),
                                           groupOf(canAt({1, 2}, 30))};
    cMdfWriterOptions opt;
    LoadedFile f(opt, groups);
    std::vector<cBusMsg> msgs = drain(f.id());
    ASSERT_EQ(msgs.size(), 6u);
    const uint32_t ids[] = {10, 20, 30, 10, 20, 30};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(msgs[i].ID, ids[i]) << i;
}

TEST(Merge, ManyDataGroupsStayInOrder) {
    std::mt19937 rng(7);
    std::vector<cMdfWriterGroup> groups;
    size_t total = 0;
    for (int g = 0; g < 37; ++g) {
        std::vector<double> t;
        double now = 0;
        int n = 1 + int(rng() % 40);
        for (int i = 0; i < n; ++i)
            t.push_back(now += (rng() % 1000) / 1000.0);
        total += t.size();
        groups.push_back(groupOf(canAt(t, g)));
    }
    cMdfWriterOptions opt;
    LoadedFile f(opt, groups);
    std::vector<cBusMsg> msgs = drain(f.id());
    ASSERT_EQ(msgs.size(), total);
    for (size_t i = 1; i < msgs.size(); ++i)
        ASSERT_LE(msgs[i - 1].Timestamp, msgs[i].Timestamp);
}

TEST(Merge, StartTimeWithZoneAndDaylightOffsets) {
    const struct {
        int16_t tz, dst;
        double expected;
    } cases[] = {
        {0, 0, 1.6e9}, {60, 0, 1.6e9 + 3600}, {60, 60, 1.6e9 + 7200}, {-90, 0, 1.6e9 - 5400}};
    for (const auto& c : cases) {
        cMdfWriterOptions opt;
        opt.startTimeNs = 1600000000000000000ull;
        opt.tzOffsetMin = c.tz;
        opt.dstOffsetMin = c.dst;
        LoadedFile f(opt, {groupOf(canAt({0, 2}, 1))});
        cMdfParallelIter* it = cMdfParallelIter_ctor(f.id());
        ASSERT_NE(it, nullptr);
        EXPECT_DOUBLE_EQ(it->startTime, c.expected);
        ASSERT_NE(it->current, nullptr);
        EXPECT_DOUBLE_EQ(it->current->Timestamp, c.expected);
        cMdfParallelIter_next(it);
        ASSERT_NE(it->current, nullptr);
        EXPECT_DOUBLE_EQ(it->current->Timestamp, c.expected + 2);
        cMdfParallelIter_dtor(it);
    }
}

TEST(Merge, GroupsWithoutMessagesTakeNoPart) {
    std::vector<cMdfWriterGroup> groups;
    groups.push_back(groupOf(canAt({1, 2}, 5)));
    groups.back().channelPrefix = "Vendor_Thing"; // generic decoder: never a message
    groups.push_back(groupOf(canAt({1.5}, 6)));
    groups.push_back(groupOf({cMdfWriterFrame_lin(0.5, 1, 1, nullptr, 1)}));
    groups.back().channelPrefix = "LIN_SyncError"; // own names: no accepted field
    cMdfWriterOptions opt;
    LoadedFile f(opt, groups);
    std::vector<cBusMsg> msgs = drain(f.id());
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].ID, 6u);
}

TEST(Merge, NullAndEmptyInputs) {
    EXPECT_EQ(cMdfParallelIter_ctor(nullptr), nullptr);
    carc_cMdfBlock id = cMdfBlock_ID_ctor(); // no header block
    EXPECT_EQ(cMdfParallelIter_ctor(carc_cMdfBlock_to_cMdfBlock_ID_obj_t(id)), nullptr);
    cMdfParallelIter_next(nullptr);
    cMdfParallelIter_dtor(nullptr);

    cMdfWriterOptions opt;
    LoadedFile f(opt, {});
    cMdfParallelIter* it = cMdfParallelIter_ctor(f.id());
    ASSERT_NE(it, nullptr);
    EXPECT_EQ(it->current, nullptr);
    cMdfParallelIter_next(it);
    EXPECT_EQ(it->current, nullptr);
    cMdfParallelIter_dtor(it);
}

// A decoder that fails on records whose first byte is odd.
bool evenOnly(const cMdfRecord* rec, cBusMsg* msg) {
    msg->Timestamp = rec->data[0];
    msg->Type = BUS_MSG_CAN_DATA_FRAME;
    return rec->data[0] % 2 == 0;
}

TEST(Container, FailedRecordsAreSkippedNotRepeated) {
    std::string data = {0, 1, 3, 4, 5, 6};
    cIO* io = cIO_memoryAlloc_ctor();
    cIO_write(io, data.data(), data.size());
    carc_cMdfBlock dgb = cMdfBlock_DG_ctor();
    auto* dg = carc_cMdfBlock_to_cMdfBlock_DG_obj_t_mut(dgb);
    carc_cMdfBlock cgb = cMdfBlock_CG_ctor();
    carc_cMdfBlock_to_cMdfBlock_CG_obj_t_mut(cgb)->dataBytes = 1;
    dg->channelGroups.push_back(cgb);
    dg->data = cMdfBlock_DT_ctor_fromIO(io);
    cMdfBlock_DG_updateRecordMap(dg);
    ASSERT_EQ(dg->recordMap.at(0).decoder, nullptr); // no channels: no decoder
    {
        cMdfBusMsgContainer* c = cMdfBusMsgContainer_ctor(dg);
        cMdfBusMsgContainer_iter it = cMdfBusMsgContainer_begin(c);
        EXPECT_EQ(it.msg, nullptr); // a group without decoder yields nothing
        EXPECT_EQ(it.container, nullptr);
        cMdfBusMsgContainer_dtor(c);
    }
    dg->recordMap.at(0).decoder = evenOnly;
    cMdfBusMsgContainer* c = cMdfBusMsgContainer_ctor(dg);
    std::vector<double> times;
    for (cMdfBusMsgContainer_iter it = cMdfBusMsgContainer_begin(c); it.container;
         cMdfBusMsgContainer_next(&it)) {
        ASSERT_EQ(it.msg, &c->msg);
        times.push_back(it.msg->Timestamp);
    }
    EXPECT_EQ(times, (std::vector<double>{0, 4, 6}));
    cMdfBusMsgContainer_dtor(c);
    EXPECT_EQ(cMdfBusMsgContainer_ctor(nullptr), nullptr);
}

TEST(Container, OrderOfPositions) {
    cBusMsg a{}, b{}, n{};
    a.Timestamp = 1;
    b.Timestamp = 2;
    n.Timestamp = NAN;
    cMdfBusMsgContainer* x = reinterpret_cast<cMdfBusMsgContainer*>(&a); // only compared
    cMdfBusMsgContainer_iter pa{&a, x}, pb{&b, x}, pn{&n, x}, none{nullptr, x};
    EXPECT_EQ(cMdfBusMsgContainer_iter_cmp(&pa, &pb), -1);
    EXPECT_EQ(cMdfBusMsgContainer_iter_cmp(&pb, &pa), 1);
    EXPECT_EQ(cMdfBusMsgContainer_iter_cmp(&pa, &pa), 0);
    EXPECT_EQ(cMdfBusMsgContainer_iter_cmp(&pa, &pn), 0);
    EXPECT_EQ(cMdfBusMsgContainer_iter_cmp(&pa, &none), -1);
    EXPECT_EQ(cdeq_cMdfBusMsgContainer_iter_value_cmp(&none, &pb), 1);
}

} // namespace

namespace {

// Flipped bytes anywhere behind the metadata: whatever still loads must iterate without
// touching memory outside its buffers, and end.
TEST(Merge, DamagedDataNeverCrashes) {
    std::vector<cMdfWriterGroup> groups;
    groups.push_back(groupOf(mixedFrames()));
    groups.back().recordIdSize = 1;
    groups.back().dataStorage = MDFW_DATA_VLSD_CG;
    groups.push_back(groupOf(mixedFrames()));
    groups.back().recordIdSize = 2;
    groups.back().dataStorage = MDFW_DATA_VLSD_SD;
    cMdfWriterOptions opt;
    cMdfWriterResult res;
    std::vector<uint8_t> clean = cMdfWriter_writeMemory(&opt, &groups, &res);
    ASSERT_FALSE(clean.empty());
    uint64_t dataStart = clean.size();
    for (const auto& b : res.blocks)
        if (std::strcmp(b.id, "##DT") == 0 && b.offset < dataStart) dataStart = b.offset + 24;
    ASSERT_LT(dataStart, clean.size());
    std::mt19937 rng(11);
    int iterated = 0;
    for (int round = 0; round < 300; ++round) {
        std::vector<uint8_t> bytes = clean;
        int flips = 1 + int(rng() % 8);
        for (int i = 0; i < flips; ++i)
            bytes[dataStart + rng() % (bytes.size() - dataStart)] = uint8_t(rng());
        cIO* io = cIO_memoryAlloc_ctor();
        cIO_write(io, bytes.data(), bytes.size());
        cIO_seek(io, 0, cIO_SEEK_SET);
        carc_cMdfBlock root = cMdfBlock_loadTree(io);
        if (root) {
            cMdfParallelIter* it =
                cMdfParallelIter_ctor(carc_cMdfBlock_to_cMdfBlock_ID_obj_t(root));
            size_t n = 0;
            for (; it && it->current && n < 1000; cMdfParallelIter_next(it))
                ++n;
            EXPECT_LT(n, 1000u);
            iterated += n > 0;
            cMdfParallelIter_dtor(it);
        }
        root.reset();
        cIO_close(io);
    }
    EXPECT_GT(iterated, 150);
}

} // namespace
