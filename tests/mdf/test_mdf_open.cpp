// Opening logger files end to end: the product check, the unfinalised repair and the
// reader's behaviour on damaged files.

#include "mdf_test_support.h"

namespace {

std::vector<cMdfWriterGroup> canGroup(int frames, uint8_t recordIdSize = 0) {
    cMdfWriterGroup g;
    for (int i = 0; i < frames; ++i) {
        uint8_t data[8] = {uint8_t(i), 1, 2, 3, 4, 5, 6, 7};
        g.frames.push_back(cMdfWriterFrame_can(0.001 * i, 1, 0x100 + i, false, data, 8));
    }
    g.recordIdSize = recordIdSize;
    return {g};
}

// Counts the messages of the merge (bounded, so that a fault cannot hang the test).
size_t countMessages(cMdf* mdf) {
    cMdfParallelIter* it = cMdf_getIter(mdf);
    size_t n = 0;
    for (; it && it->current && n < 1000000; cMdfParallelIter_next(it))
        ++n;
    cMdfParallelIter_dtor(it);
    return n;
}

TEST(MdfOpen, AcceptsOnlyTheLoggerToolIds) {
    const struct {
        std::vector<std::string> tools;
        bool asTx, accepted;
    } cases[] = {
        {{"Veskar"}, false, true}, {{"VK"}, false, true},   {{"Other", "VK"}, false, true},
        {{"Other"}, false, false}, {{"VKX"}, false, false}, {{}, false, false},
        {{"Veskar"}, true, false}, // a text comment is not looked at
    };
    for (const auto& c : cases) {
        cMdfWriterOptions o;
        o.toolIds = c.tools;
        o.fhCommentAsTx = c.asTx;
        LogCapture log;
        Opened f(o, canGroup(1));
        EXPECT_EQ(f.mdf != nullptr, c.accepted) << c.tools.size();
        EXPECT_EQ(log.has("Unsupported MF4 file"), !c.accepted);
    }
}

TEST(MdfOpen, UnfinalisedFileReadsItsLastBlockToTheEnd) {
    cMdfWriterOptions o;
    o.unfinalised = true;
    std::vector<cMdfWriterGroup> groups = canGroup(4);
    groups.push_back(canGroup(6)[0]);
    Opened f(o, groups);
    ASSERT_NE(f.mdf, nullptr);
    EXPECT_EQ(f.id()->finalizationFlags, 0);
    const auto* last = carc_cMdfBlock_to_cMdfBlock_DT_obj_t(
        carc_cMdfBlock_to_cMdfBlock_DG_obj_t(f.hd()->dataGroups[1])->data);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->header.length, f.bytes.size() - last->position);
    EXPECT_EQ(countMessages(f.mdf), 10u);

    // A length field left at 0 (below the block's own header) or at any value past the end
    // is repaired the same way.
    for (uint64_t length : {uint64_t{0}, uint64_t{1} << 40}) {
        std::vector<uint8_t> patched = f.bytes;
        memcpy(&patched[last->position + 8], &length, 8);
        Opened z(patched);
        ASSERT_NE(z.mdf, nullptr) << length;
        EXPECT_EQ(countMessages(z.mdf), 10u) << length;
    }

    // Without the flag a length of 24 means an empty data block.
    std::vector<uint8_t> finalised = f.bytes;
    memcpy(&finalised[0], "MDF     ", 8);
    finalised[60] = finalised[61] = 0;
    Opened fin(finalised);
    ASSERT_NE(fin.mdf, nullptr);
    EXPECT_EQ(countMessages(fin.mdf), 4u);
}

TEST(MdfOpen, DamagedFilesNeverCrash) {
    cMdfWriterOptions o;
    std::vector<cMdfWriterGroup> groups = canGroup(20, 1);
    groups[0].kinds = {MDFW_CAN_DATA, MDFW_CAN_REMOTE};
    groups[0].dataStorage = MDFW_DATA_VLSD_CG;
    groups.push_back(canGroup(5)[0]);
    groups[1].dataStorage = MDFW_DATA_VLSD_SD;
    std::vector<uint8_t> good = cMdfWriter_writeMemory(&o, &groups);
    ASSERT_FALSE(good.empty());
    zf_log_set_output_level(ZF_LOG_FATAL); // thousands of expected error lines
    // Every cut through the file fails: it always loses part of its last data block, which
    // then reaches past the end.
    for (size_t cut = 0; cut < good.size(); cut += (cut < 4096 ? 3 : 97))
        EXPECT_EQ(Opened(std::vector<uint8_t>(good.begin(), good.begin() + cut)).mdf, nullptr)
            << cut;
    // Damaged bytes anywhere: whatever still loads must iterate inside its buffers and end.
    std::mt19937 rng(12345);
    int iterated = 0;
    for (int i = 0; i < 3000; ++i) {
        std::vector<uint8_t> bad = good;
        for (int k = 0; k < 3; ++k)
            bad[rng() % bad.size()] = uint8_t(rng());
        Opened f(bad);
        if (f.mdf) {
            size_t n = countMessages(f.mdf);
            EXPECT_LT(n, 1000u);
            iterated += n > 0;
            cMdf_getMetaData(f.mdf);
        }
    }
    zf_log_set_output_level(ZF_LOG_INFO);
    EXPECT_GT(iterated, 200); // the damage reached the records, not only the metadata
}

} // namespace
