// Records cut short by the end of their data block: the reader must report the data group
// as damaged, whatever the layout, rather than pass the file as complete.
#include "mdf_test_support.h"

namespace {

struct Layout {
    const char* name;
    uint8_t recordIdSize;
    cMdfWriterDataStorage storage;
};

const Layout kLayouts[] = {
    {"sorted", 0, MDFW_DATA_FIXED},
    {"unsorted", 1, MDFW_DATA_FIXED},
    {"vlsd-sd", 0, MDFW_DATA_VLSD_SD},
    {"vlsd-cg", 2, MDFW_DATA_VLSD_CG},
};

// A logger file of CAN frames in the layout, its last DT block `cut` bytes shorter than
// written (the records behind the new end are gone, the last one loses its tail).
std::vector<uint8_t> cutFile(const Layout& layout, uint64_t cut, size_t frames) {
    cMdfWriterGroup g;
    g.recordIdSize = layout.recordIdSize;
    g.dataStorage = layout.storage;
    g.kinds = {MDFW_CAN_DATA, MDFW_CAN_REMOTE};
    for (size_t i = 0; i < frames; ++i) {
        const uint8_t payload[8] = {uint8_t(i), 1, 2, 3, 4, 5, 6, 7};
        g.frames.push_back(layout.recordIdSize && i % 3 == 1
                               ? cMdfWriterFrame_remote(0.001 * i, 1, 0x100, false, 2)
                               : cMdfWriterFrame_can(0.001 * i, 1, 0x10, false, payload, 8));
    }
    if (!layout.recordIdSize) g.kinds = {MDFW_CAN_DATA};
    cMdfWriterOptions o;
    cMdfWriterResult result;
    std::vector<cMdfWriterGroup> groups = {g};
    std::vector<uint8_t> bytes = cMdfWriter_writeMemory(&o, &groups, &result);
    uint64_t dt = 0;
    for (const cMdfWriterBlock& b : result.blocks)
        if (std::string(b.id) == "##DT") dt = b.offset;
    EXPECT_NE(dt, 0u);
    uint64_t length;
    memcpy(&length, &bytes[dt + 8], 8);
    length -= cut;
    memcpy(&bytes[dt + 8], &length, 8);
    return bytes;
}

struct Drained {
    size_t messages = 0;
    bool damaged = false;
};

Drained drain(cMdf* mdf) {
    Drained d;
    cMdfParallelIter* it = cMdf_getIter(mdf);
    for (; it && it->current && d.messages < 100000; cMdfParallelIter_next(it))
        ++d.messages;
    d.damaged = cMdfParallelIter_isDamaged(it);
    cMdfParallelIter_dtor(it);
    return d;
}

// Size in the data section of the last record (with a VLSD record read together with it).
uint64_t lastRecordSize(const Opened& f) {
    auto* dg = carc_cMdfBlock_to_cMdfBlock_DG_obj_t_mut(f.hd()->dataGroups.front());
    cMdfBlock_DG_iteratorState state;
    cMdfBlock_DG_iteratorState_init(&state);
    uint64_t before = 0, last = 0;
    while (cMdfBlock_DG_at(dg, &state)) {
        last = state.position - before;
        before = state.position;
    }
    cMdfBlock_DG_iteratorState_drop(&state);
    return last;
}

// Cuts of one and two bytes, and one that leaves a single byte of the last record; each
// through records used in place and through copies of them.
TEST(Damage, ARecordEndingPastItsDataFailsTheDataGroup) {
    for (const Layout& layout : kLayouts) {
        for (size_t frames : {1, 2, 7}) {
            const uint64_t size = lastRecordSize(Opened(cutFile(layout, 0, frames)));
            ASSERT_GT(size, 2u);
            for (uint64_t cut : {uint64_t{0}, uint64_t{1}, uint64_t{2}, size - 1}) {
                for (bool copying : {false, true}) {
                    SCOPED_TRACE(std::string(layout.name) + ", " + std::to_string(frames) +
                                 " frames, cut " + std::to_string(cut) +
                                 (copying ? ", copied" : ", in place"));
                    Opened f(cutFile(layout, cut, frames), copying);
                    ASSERT_NE(f.mdf, nullptr);
                    const Drained d = drain(f.mdf);
                    EXPECT_EQ(d.damaged, cut > 0);
                    // The cut record gives no message: none of its bytes may come from
                    // outside the data. Only a VLSD record that lost part of its payload
                    // leaves its parent a message, with the bytes that are there.
                    const bool lastIsData = !layout.recordIdSize || (frames - 1) % 3 != 1;
                    const bool payloadOnly =
                        layout.storage == MDFW_DATA_VLSD_CG && lastIsData && cut <= 8;
                    EXPECT_EQ(d.messages, cut == 0 || payloadOnly ? frames : frames - 1);
                }
            }
        }
    }
}

} // namespace
