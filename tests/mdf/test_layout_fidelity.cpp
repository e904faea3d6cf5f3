// Layouts a writer may choose that the project's own default layout never shows: chains that
// meet blocks loaded before through other links, and channels that do not lie in their record.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/cIO_memoryAlloc.h"
#include "mdf/cMdf.h"
#include "mdf/cMdfBlock_CG.h"
#include "mdf/cMdfBlock_CN.h"
#include "mdf/cMdfBlock_DG.h"
#include "mdf/cMdfBlock_HD.h"
#include "mdf/cMdfBlock_ID.h"
#include "mdf/cMdfBlock_TX.h"
#include "mdf/cMdfParallelIter.h"
#include "mdf_open_support.h"
#include "mdf_test_support.h"
#include "tools/cMdfWriter.h"

namespace {

// Types of the messages of the merge, in order (bounded so a fault cannot hang).
std::vector<cBusMsgType> typesOf(cMdf* mdf) {
    std::vector<cBusMsgType> out;
    cMdfParallelIter* it = cMdf_getIter(mdf);
    for (; it && it->current && out.size() < 100000; cMdfParallelIter_next(it))
        out.push_back(it->current->Type);
    EXPECT_FALSE(cMdfParallelIter_isDamaged(it));
    cMdfParallelIter_dtor(it);
    return out;
}

std::string nameOf(const carc_cMdfBlock& block) {
    const cMdfBlock_CG_obj_t* cg = carc_cMdfBlock_to_cMdfBlock_CG_obj_t(block);
    const cMdfBlock_TX_obj_t* tx =
        cg ? carc_cMdfBlock_to_cMdfBlock_TX_obj_t(cg->acquisitionName) : nullptr;
    return tx ? std::string(cMdfBlock_TX_getData(tx)) : cg ? "VLSD" : "?";
}

const uint8_t kPayload[8] = {1, 2, 3, 4, 5, 6, 7, 8};

// The layout that cut the chain: CAN data frame group, its VLSD group directly behind it,
// then the remote, LIN and error groups, all in one data group.
TEST(SharedChains, ChannelGroupChainGoesOnBehindAGroupLoadedThroughADataLink) {
    cMdfWriterGroup g;
    g.kinds = {MDFW_CAN_DATA, MDFW_CAN_REMOTE, MDFW_LIN, MDFW_CAN_ERROR};
    g.recordIdSize = 1;
    g.dataStorage = MDFW_DATA_VLSD_CG;
    g.vlsdPlace = MDFW_VLSD_BEHIND_PARENT;
    g.frames = {cMdfWriterFrame_can(0.001, 1, 0x10, false, kPayload, 8),
                cMdfWriterFrame_remote(0.002, 1, 0x11, false, 2),
                cMdfWriterFrame_lin(0.003, 1, 0x12, kPayload, 4),
                cMdfWriterFrame_error(0.004, 1, 2)};
    Opened f(cMdfWriterOptions{}, {g});
    ASSERT_NE(f.hd(), nullptr);
    ASSERT_EQ(f.hd()->dataGroups.size(), 1u);
    const auto* dg = carc_cMdfBlock_to_cMdfBlock_DG_obj_t(f.hd()->dataGroups.front());
    std::vector<std::string> names;
    for (const carc_cMdfBlock& cg : dg->channelGroups)
        names.push_back(nameOf(cg));
    EXPECT_EQ(names, (std::vector<std::string>{"CAN_DataFrame", "VLSD", "CAN_RemoteFrame",
                                               "LIN_Frame", "VLSD", "CAN_ErrorFrame"}));
    // The DataBytes rule of the data frame group points at the very object in the list.
    const auto* data = carc_cMdfBlock_to_cMdfBlock_CG_obj_t(dg->channelGroups[0]);
    bool shared = false;
    for (const cMdfDecodeRule& rule : data->rules)
        shared = shared || rule.vlsdBlock == dg->channelGroups[1].get();
    EXPECT_TRUE(shared);
    EXPECT_EQ(typesOf(f.mdf),
              (std::vector<cBusMsgType>{BUS_MSG_CAN_DATA_FRAME, BUS_MSG_CAN_REMOTE_FRAME,
                                        BUS_MSG_LIN_FRAME, BUS_MSG_CAN_ERROR_FRAME}));
}

// Saving keeps every chain whole wherever a VLSD group stands: a group saved early through a
// channel's data link still gets the next link of its chain.
TEST(SharedChains, SavedTreeKeepsChainsThroughSharedGroups) {
    for (cMdfWriterVlsdPlace place : {MDFW_VLSD_FIRST, MDFW_VLSD_BEHIND_PARENT, MDFW_VLSD_LAST}) {
        SCOPED_TRACE(place);
        cMdfWriterGroup g;
        g.kinds = {MDFW_CAN_DATA, MDFW_CAN_REMOTE, MDFW_LIN};
        g.recordIdSize = 2;
        g.dataStorage = MDFW_DATA_VLSD_CG;
        g.vlsdPlace = place;
        g.frames = {cMdfWriterFrame_can(0.001, 1, 0x10, false, kPayload, 8),
                    cMdfWriterFrame_remote(0.002, 1, 0x11, false, 2),
                    cMdfWriterFrame_lin(0.003, 1, 0x12, kPayload, 4)};
        Opened f(cMdfWriterOptions{}, {g});
        ASSERT_NE(f.mdf, nullptr);
        cIO* out = cIO_memoryAlloc_ctor();
        cMdfBlock_saveContext ctx;
        cMdfBlock_saveContext_init(&ctx, out, 0);
        ASSERT_TRUE(cMdfBlock_save(f.mdf->root.get(), &ctx, nullptr));
        Opened back(std::vector<uint8_t>(cIO_memoryAlloc_data(out),
                                         cIO_memoryAlloc_data(out) + cIO_memoryAlloc_size(out)));
        cIO_close(out);
        ASSERT_NE(back.hd(), nullptr);
        const auto* dg = carc_cMdfBlock_to_cMdfBlock_DG_obj_t(back.hd()->dataGroups.front());
        EXPECT_EQ(dg->channelGroups.size(), 5u);
        EXPECT_EQ(typesOf(back.mdf),
                  (std::vector<cBusMsgType>{BUS_MSG_CAN_DATA_FRAME, BUS_MSG_CAN_REMOTE_FRAME,
                                            BUS_MSG_LIN_FRAME}));
    }
}

// A channel chain whose second member is also the first of a composition: the chain is
// walked to its end, both lists share the objects and keep chain order.
TEST(SharedChains, ChannelChainThroughACompositionMember) {
    TestMdf m;
    m.hd(0, 0);
    uint64_t c = m.cn(0, m.tx("C"), 0, 0, 0, 8);
    uint64_t b = m.cn(c, m.tx("B"), 0, 0, 0, 8);
    uint64_t a = m.cn(b, m.tx("A"), 0, 0, 0, 8, 0, 0, b);
    m.group(a);
    cIO* io = m.stream();
    carc_cMdfBlock id = cMdfBlock_loadTree(io);
    ASSERT_TRUE(id);
    const auto* hd =
        carc_cMdfBlock_to_cMdfBlock_HD_obj_t(carc_cMdfBlock_to_cMdfBlock_ID_obj_t(id)->hd);
    const auto* dg = carc_cMdfBlock_to_cMdfBlock_DG_obj_t(hd->dataGroups.front());
    const auto* cg = carc_cMdfBlock_to_cMdfBlock_CG_obj_t(dg->channelGroups.front());
    ASSERT_EQ(cg->channels.size(), 3u);
    const auto* first = carc_cMdfBlock_to_cMdfBlock_CN_obj_t(cg->channels[0]);
    ASSERT_EQ(first->composition.size(), 2u);
    EXPECT_EQ(first->composition[0].get(), cg->channels[1].get());
    EXPECT_EQ(first->composition[1].get(), cg->channels[2].get());
    EXPECT_EQ(cg->channels[1]->position, b);
    EXPECT_EQ(cg->channels[2]->position, c);
    id.reset();
    cIO_close(io);
}

// Cycles stay refused, also when they close through a block loaded before.
TEST(SharedChains, CyclesThroughSharedBlocksAreRefused) {
    for (int variant = 0; variant < 2; ++variant) {
        SCOPED_TRACE(variant);
        TestMdf m;
        m.hd(0, 0);
        uint64_t b = m.cn(0, 0, 0, 0, 0, 8);
        uint64_t a = m.cn(b, 0, 0, 0, 0, 8, 0, 0, variant ? b : 0);
        m.setLink(b, 0, a); // b's next is a again
        m.group(a);
        LogCapture log;
        cIO* io = m.stream();
        EXPECT_FALSE(cMdfBlock_loadTree(io));
        EXPECT_TRUE(LogCapture::has("Cyclic block"));
        cIO_close(io);
    }
}

// A logger file with one CAN data frame group whose channel `channel` is moved to
// byteOffset (bits of its own width kept).
std::vector<uint8_t> withChannelAt(const std::string& channel, uint32_t byteOffset,
                                   uint8_t canDataBytes = 64) {
    cMdfWriterGroup g;
    g.canDataBytes = canDataBytes;
    g.frames = {cMdfWriterFrame_can(0.001, 1, 0x10, false, kPayload, 8)};
    cMdfWriterOptions o;
    cMdfWriterResult result;
    std::vector<cMdfWriterGroup> groups = {g};
    std::vector<uint8_t> bytes = cMdfWriter_writeMemory(&o, &groups, &result);
    for (const cMdfWriterBlock& b : result.blocks) {
        if (std::string(b.id) != "##CN" || b.label != channel) continue;
        // The byte offset follows the 8 links and 4 one-byte fields.
        memcpy(&bytes[b.offset + 24 + 64 + 4], &byteOffset, 4);
        return bytes;
    }
    ADD_FAILURE() << "no channel " << channel;
    return bytes;
}

TEST(RecordBounds, ChannelsThatFeedAFieldMustLieInTheRecord) {
    // The record holds 15 + 64 data bytes.
    const struct {
        const char* channel;
        uint32_t byteOffset;
        bool opens;
    } cases[] = {
        {"Timestamp", 71, true},                // last 8 bytes
        {"Timestamp", 72, false},               // one byte beyond
        {"Timestamp", 1000, false},             // far beyond
        {"CAN_DataFrame.ID", 75, true},         // 29 bits in the last 4 bytes
        {"CAN_DataFrame.ID", 76, false},        // 29 bits, 3 bytes left
        {"CAN_DataFrame.DLC", 78, true},        // 4 bits of the last byte
        {"CAN_DataFrame.DLC", 79, false},       // starts behind the end
        {"CAN_DataFrame.DataBytes", 78, true},  // runs past the end: read as far as it goes
        {"CAN_DataFrame.DataBytes", 79, false}, // starts behind the end
        {"CAN_DataFrame", 4000, true},          // structure channel: feeds no field
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.channel) + " at " + std::to_string(c.byteOffset));
        LogCapture log;
        Opened f(withChannelAt(c.channel, c.byteOffset));
        EXPECT_EQ(f.mdf != nullptr, c.opens) << LogCapture::text;
        if (!c.opens) {
            EXPECT_TRUE(LogCapture::has("Channel " + std::string(c.channel) +
                                        " of channel group CAN_DataFrame lies outside its "
                                        "record of 79 bytes"))
                << LogCapture::text;
        }
    }
}

} // namespace
