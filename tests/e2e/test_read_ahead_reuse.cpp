// The driver keeps its read-ahead memory from one input to the next. A later, smaller input
// must convert exactly as it does on its own: nothing of the earlier file's bytes may show
// through, not even for an unfinalised file whose last data block reads to its end.
#include <gtest/gtest.h>

#include "e2e_support.h"

namespace {

std::vector<cMdfWriterGroup> canGroups(uint32_t frames, uint8_t fill) {
    std::vector<cMdfWriterGroup> groups(2);
    for (uint32_t i = 0; i < frames; ++i) {
        uint8_t data[64];
        for (int b = 0; b < 64; ++b)
            data[b] = static_cast<uint8_t>(fill + i + b);
        groups[i % 2].frames.push_back(
            cMdfWriterFrame_can(i * 1e-3, 1, 0x100 + i % 50, i % 3 == 0, data, 8 + i % 9));
    }
    return groups;
}

TEST(ReadAheadReuse, SmallerFileAfterALargeOneConvertsAsAlone) {
    e2e_tempDir dir;
    cMdfWriterOptions big, small;
    big.split = 1;
    small.split = 2;
    small.unfinalised = true;
    e2e_mkdirs(dir / "both");
    e2e_mkdirs(dir / "alone");
    e2e_writeLog(dir / "both/00000001.MF4", big, canGroups(5000, 0x11));
    e2e_writeLog(dir / "both/00000002.MF4", small, canGroups(40, 0x77));
    e2e_writeLog(dir / "alone/00000002.MF4", small, canGroups(40, 0x77));

    const e2e_run both = e2e_runKelvane({"both"}, dir.path);
    const e2e_run alone = e2e_runKelvane({"alone"}, dir.path);
    ASSERT_EQ(both.status, 0) << both.err;
    ASSERT_EQ(alone.status, 0) << alone.err;
    const std::string expected = e2e_readFile(dir / "alone_out/00000002_CAN.trc");
    EXPECT_NE(expected.find("\n     40 "), std::string::npos); // all 40 frames
    EXPECT_EQ(e2e_readFile(dir / "both_out/00000002_CAN.trc"), expected);
}

} // namespace
