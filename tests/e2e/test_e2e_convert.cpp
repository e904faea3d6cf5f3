// The real binary over generated folder trees: output text byte for byte and the output
// layout; records that stop early.

#include <gtest/gtest.h>

#include "e2e_support.h"

namespace {

const uint8_t kBytes8[] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
const uint8_t kCount12[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
const uint8_t kBytes3[] = {1, 2, 3};

// One data group per kind of event, as the logger writes them: the merge has to bring
// the frames of the four groups back into time order.
std::vector<cMdfWriterGroup> mixedGroups() {
    cMdfWriterGroup data, remote, lin, error;
    data.frames.push_back(cMdfWriterFrame_can(0.0, 1, 0x123, false, kBytes3, 3));
    cMdfWriterFrame ext = cMdfWriterFrame_can(0.0015, 1, 0x1ABCDEF, true, kBytes8, 8);
    ext.dir = true;
    data.frames.push_back(ext);
    cMdfWriterFrame fd = cMdfWriterFrame_can(0.003, 1, 0x100, false, kCount12, 12, true);
    fd.brs = true;
    data.frames.push_back(fd);
    remote.frames.push_back(cMdfWriterFrame_remote(0.002, 2, 0x7FF, false, 4));
    lin.frames.push_back(cMdfWriterFrame_lin(0.0025, 1, 0x21, kBytes3, 3));
    error.frames.push_back(cMdfWriterFrame_error(0.0035, 1, 3));
    return {data, remote, lin, error};
}

const char kExpectedV2[] =
    ";$FILEVERSION=2.1\n"
    ";$STARTTIME=45244.9259317130\n"
    ";$COLUMNS=N,O,T,B,I,d,L,D\n"
    "      1         0.000 DT 1     0123 Rx 3    01 02 03\n"
    "      2         1.500 DT 1 01ABCDEF Tx 8    11 22 33 44 55 66 77 88\n"
    "      3         2.000 RR 2     07FF Rx 4    \n"
    "      4         3.000 FB 1     0100 Rx 9    00 01 02 03 04 05 06 07 08 09 0A 0B\n";

const char kExpectedV1[] = ";$FILEVERSION=1.1\n"
                           ";$STARTTIME=45244.9259317130\n"
                           "     1)         0.0 Rx        0123 3  01 02 03\n"
                           "     2)         1.5 Tx    01ABCDEF 8  11 22 33 44 55 66 77 88\n"
                           "     3)         2.0 Rx        07FF 4  RTR\n";

} // namespace

TEST(EndToEnd, FolderTreeConvertsByteExactInBothVersions) {
    e2e_tempDir dir;
    e2e_mkdirs(dir / "logs/sub");
    e2e_writeLog(dir / "logs/00000001.MF4", e2e_logOptions("0000ABCD", 1, 1), mixedGroups());
    e2e_writeLog(dir / "logs/sub/00000002.mf4", e2e_logOptions("0000ABCD", 1, 2), mixedGroups());
    e2e_writeFile(dir / "logs/notes.txt", "not a log");

    e2e_run v2 = e2e_runKelvane({"logs"}, dir.path);
    EXPECT_EQ(v2.status, 0) << v2.err;
    EXPECT_EQ(e2e_readFile(dir / "logs_out/00000001_CAN.trc"), kExpectedV2);
    EXPECT_EQ(e2e_readFile(dir / "logs_out/sub/00000002_CAN.trc"), kExpectedV2);
    EXPECT_FALSE(e2e_exists(dir / "logs_out/notes_CAN.trc"));

    e2e_run v1 = e2e_runKelvane({"--trace-format=VERSION1", "-O", "v1", "logs"}, dir.path);
    ASSERT_EQ(v1.status, 134) << "output directory must exist: " << v1.out << v1.err;
    e2e_mkdirs(dir / "v1");
    v1 = e2e_runKelvane({"--trace-format=VERSION1", "-O", "v1", "logs"}, dir.path);
    EXPECT_EQ(v1.status, 0) << v1.err;
    EXPECT_EQ(e2e_readFile(dir / "v1/logs_out/00000001_CAN.trc"), kExpectedV1);
    EXPECT_EQ(e2e_readFile(dir / "v1/logs_out/sub/00000002_CAN.trc"), kExpectedV1);
}

TEST(EndToEnd, RecordsStoppingEarlyFailAFinalisedFileOnly) {
    e2e_tempDir dir;
    e2e_mkdirs(dir / "in");
    std::vector<cMdfWriterGroup> groups = mixedGroups();
    cMdfWriterGroup unsorted;
    unsorted.recordIdSize = 1;
    unsorted.kinds = {MDFW_CAN_DATA, MDFW_CAN_REMOTE};
    for (int i = 0; i < 6; ++i)
        unsorted.frames.push_back(
            cMdfWriterFrame_can(0.01 + i * 0.001, 3, 0x300 + i, false, kBytes3, 3));
    groups.push_back(unsorted);
    cMdfWriterResult layout;
    cMdfWriterOptions closed = e2e_logOptions("00000001", 1, 1);
    std::vector<uint8_t> file = cMdfWriter_writeMemory(&closed, &groups, &layout);
    uint64_t lastDt = 0;
    for (const cMdfWriterBlock& b : layout.blocks)
        if (std::string(b.id) == "##DT") lastDt = b.offset;
    ASSERT_NE(lastDt, 0u);
    // An unknown record id in the middle of the unsorted group: the rest of it is lost.
    std::vector<uint8_t> damaged = file;
    size_t recordSize = (layout.bytes - lastDt - 24) / 6;
    damaged[lastDt + 24 + 2 * recordSize] = 0xEE;
    e2e_writeBytes(dir / "in/a.mf4", damaged);
    e2e_mkdirs(dir / "in_out");
    e2e_writeFile(dir / "in_out/a_CAN.trc", "an earlier run's trace\n");

    e2e_run run = e2e_runKelvane({"-d", "in"}, dir.path);
    EXPECT_EQ(run.status, 8) << run.err;
    EXPECT_EQ(e2e_countLines(run.err, "E Records end before the end of their data"), 1);
    EXPECT_TRUE(e2e_exists(dir / "in/a.mf4"));
    // The failed file never replaces the trace an earlier run made under its name.
    EXPECT_EQ(e2e_readFile(dir / "in_out/a_CAN.trc"), "an earlier run's trace\n");

    // The same cut in a file the logger never finished is its last, unfinished record.
    cMdfWriterOptions open = e2e_logOptions("00000001", 1, 2);
    open.unfinalised = true;
    std::vector<uint8_t> unfinished = cMdfWriter_writeMemory(&open, &groups);
    unfinished.resize(unfinished.size() - recordSize / 2);
    e2e_writeBytes(dir / "in/a.mf4", unfinished);
    e2e_run cut = e2e_runKelvane({"in"}, dir.path);
    EXPECT_EQ(cut.status, 0) << cut.err;
    EXPECT_EQ(e2e_readFile(dir / "in_out/a_CAN.trc").rfind(";$FILEVERSION=2.1", 0), 0u);
}
