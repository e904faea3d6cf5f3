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

} // namespace

TEST(EndToEnd, FolderTreeConvertsByteExact) {
    e2e_tempDir dir;
    e2e_mkdirs(dir / "logs/sub");
    e2e_writeLog(dir / "logs/00000001.MF4", e2e_logOptions("0000ABCD", 1, 1), mixedGroups());
    e2e_writeLog(dir / "logs/sub/00000002.mf4", e2e_logOptions("0000ABCD", 1, 2), mixedGroups());
    e2e_writeFile(dir / "logs/notes.txt", "not a log");

    const e2e_run run = e2e_runKelvane({"logs"}, dir.path);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(e2e_readFile(dir / "logs_out/00000001_CAN.trc"), kExpectedV2);
    EXPECT_EQ(e2e_readFile(dir / "logs_out/sub/00000002_CAN.trc"), kExpectedV2);
    EXPECT_FALSE(e2e_exists(dir / "logs_out/notes_CAN.trc"));
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
    EXPECT_EQ(e2e_countLines(run.err, "E Records do not end where their data ends"), 1);
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

namespace {

// A log whose content takes `frames` FD frames of 64 bytes, about 80 bytes a record, in two
// data groups; the payloads follow the seed.
void writeLargeLog(const std::string& path, uint32_t split, uint32_t frames, uint8_t seed) {
    cMdfWriterGroup a, b;
    uint8_t data[64];
    for (uint32_t i = 0; i < frames; ++i) {
        for (uint8_t k = 0; k < 64; ++k)
            data[k] = uint8_t(i * 31 + k * seed);
        (i % 3 ? a : b)
            .frames.push_back(
                cMdfWriterFrame_can(i * 0.0001, 1 + i % 2, i % 0x7FF, false, data, 64));
    }
    e2e_writeLog(path, e2e_logOptions("0000ABCD", 1, split), {a, b});
}

} // namespace

// Containers large enough that each unwraps into a block the next one on the thread takes
// over (a larger one first, so the next finds bytes of the last in the block it takes):
// every trace is that of the plain file.
TEST(EndToEnd, LargeContainersOneAfterAnotherConvertAsThePlainFiles) {
    e2e_tempDir dir;
    e2e_mkdirs(dir / "plain");
    e2e_mkdirs(dir / "wrapped");
    e2e_mkdirs(dir / "out");
    const uint32_t frames[] = {520000, 450000, 430000};
    for (uint32_t i = 0; i < 3; ++i) {
        const std::string name = "0000000" + std::to_string(i + 1);
        writeLargeLog(dir / ("plain/" + name + ".MF4"), i + 1, frames[i], uint8_t(3 + i));
        const std::string plain = dir / ("plain/" + name + ".MF4");
        if (i == 1)
            e2e_encryptFile(plain, dir / ("wrapped/" + name + ".MFE"), "fleet");
        else
            e2e_compressFile(plain, dir / ("wrapped/" + name + ".MFC"));
    }
    e2e_writeFile(dir / "passwords.json", "{ \"default\": \"fleet\" }\n");
    const e2e_run plain = e2e_runKelvane({"-O", "out", "plain"}, dir.path);
    const e2e_run wrapped =
        e2e_runKelvane({"-p", "passwords.json", "-O", "out", "wrapped"}, dir.path);
    ASSERT_EQ(plain.status, 0) << plain.err;
    ASSERT_EQ(wrapped.status, 0) << wrapped.err;
    for (uint32_t i = 0; i < 3; ++i) {
        const std::string trace = "0000000" + std::to_string(i + 1) + "_CAN.trc";
        const std::string want = e2e_readFile(dir / ("out/plain_out/" + trace));
        EXPECT_GT(want.size(), 1000u);
        EXPECT_EQ(e2e_readFile(dir / ("out/wrapped_out/" + trace)), want) << trace;
    }
}
