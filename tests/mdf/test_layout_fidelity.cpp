// Layouts a writer may choose that the project's own default layout never shows: chains that
// meet blocks loaded before through other links, and channels that do not lie in their record.

#include "mdf_test_support.h"

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
// then the remote, LIN and error groups, all in one data group. Loading keeps every chain
// whole wherever a VLSD group stands (a group met early through a data link still brings the
// rest of its chain).
TEST(SharedChains, ChannelGroupChainsSurviveLoadThroughSharedGroups) {
    const std::vector<cBusMsgType> types = {BUS_MSG_CAN_DATA_FRAME, BUS_MSG_CAN_REMOTE_FRAME,
                                            BUS_MSG_LIN_FRAME, BUS_MSG_CAN_ERROR_FRAME};
    for (cMdfWriterVlsdPlace place : {MDFW_VLSD_BEHIND_PARENT, MDFW_VLSD_FIRST, MDFW_VLSD_LAST}) {
        SCOPED_TRACE(place);
        cMdfWriterGroup g;
        g.kinds = {MDFW_CAN_DATA, MDFW_CAN_REMOTE, MDFW_LIN, MDFW_CAN_ERROR};
        g.recordIdSize = 1;
        g.dataStorage = MDFW_DATA_VLSD_CG;
        g.vlsdPlace = place;
        g.frames = {cMdfWriterFrame_can(0.001, 1, 0x10, false, kPayload, 8),
                    cMdfWriterFrame_remote(0.002, 1, 0x11, false, 2),
                    cMdfWriterFrame_lin(0.003, 1, 0x12, kPayload, 4),
                    cMdfWriterFrame_error(0.004, 1, 2)};
        Opened f(cMdfWriterOptions{}, {g});
        ASSERT_NE(f.hd(), nullptr);
        ASSERT_EQ(f.hd()->dataGroups.size(), 1u);
        EXPECT_EQ(typesOf(f.mdf), types);
        if (place == MDFW_VLSD_BEHIND_PARENT) {
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
        }
        const auto* dg = carc_cMdfBlock_to_cMdfBlock_DG_obj_t(f.hd()->dataGroups.front());
        EXPECT_EQ(dg->channelGroups.size(), 6u);
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
        {"CAN_DataFrame.ID", 75, true},         // 29 bits in the last 4 bytes
        {"CAN_DataFrame.ID", 76, false},        // 29 bits, 3 bytes left
        {"CAN_DataFrame.DLC", 79, false},       // starts behind the end
        {"CAN_DataFrame.DataBytes", 78, true},  // runs past the end: read as far as it goes
        {"CAN_DataFrame.DataBytes", 79, false}, // starts behind the end
        {"CAN_DataFrame", 4000, true},          // structure channel: feeds no field
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.channel) + " at " + std::to_string(c.byteOffset));
        LogCapture log;
        Opened f(withChannelAt(c.channel, c.byteOffset));
        EXPECT_EQ(f.mdf != nullptr, c.opens) << capturedLog;
        if (!c.opens) {
            EXPECT_TRUE(LogCapture::has("Channel " + std::string(c.channel) +
                                        " of channel group CAN_DataFrame lies outside its "
                                        "record of 79 bytes"))
                << capturedLog;
        }
    }
}

} // namespace
