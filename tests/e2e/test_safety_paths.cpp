// What -d deletes, which names a run writes to, and walks that must end: links, cycles,
// and name collisions, in real folder trees.

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "app/cLogReaderCLI.h"
#include "converter/cPeakConverter.h"
#include "e2e_support.h"
#include "fs/cFS_os.h"
#include "support/log.h"

namespace fs = std::filesystem;

namespace {

const uint8_t kBytes[] = {1, 2, 3, 4};

std::vector<cMdfWriterGroup> frames(bool classic, bool fd, bool lin = false) {
    cMdfWriterGroup g;
    if (classic) g.frames.push_back(cMdfWriterFrame_can(0.001, 1, 0x123, false, kBytes, 4));
    if (fd) g.frames.push_back(cMdfWriterFrame_can(0.002, 1, 0x124, false, kBytes, 4, true));
    if (lin) g.frames.push_back(cMdfWriterFrame_lin(0.003, 1, 0x21, kBytes, 4));
    return {g};
}

// Each log of a tree gets a split of its own, so none is skipped as a repeat of another.
void writeLog(const std::string& path, const std::vector<cMdfWriterGroup>& groups) {
    static uint32_t split = 1;
    e2e_writeLog(path, e2e_logOptions("0000ABCD", 1, split++), groups);
}

bool isLink(const std::string& path) {
    return fs::is_symlink(fs::symlink_status(path));
}

} // namespace

// -d deletes an input only when its trace holds every CAN frame of it; the others stay,
// each with a warning that says why.
TEST(Safety, DeleteOnlyWhatTheTraceHolds) {
    e2e_tempDir dir;
    e2e_mkdirs(dir / "logs");
    writeLog(dir / "logs/classic.MF4", frames(true, false));
    writeLog(dir / "logs/fd.MF4", frames(false, true));
    writeLog(dir / "logs/mixed.MF4", frames(true, true));
    writeLog(dir / "logs/lin.MF4", frames(false, false, true));
    const e2e_run v1 = e2e_runKelvane({"-d", "-f", "version1", "logs"}, dir.path);
    EXPECT_EQ(v1.status, 0) << v1.err;
    EXPECT_FALSE(e2e_exists(dir / "logs/classic.MF4"));
    EXPECT_TRUE(e2e_exists(dir / "logs_out/classic_CAN.trc"));
    EXPECT_TRUE(e2e_exists(dir / "logs/fd.MF4"));
    EXPECT_FALSE(e2e_exists(dir / "logs_out/fd_CAN.trc")); // no line, so no trace
    EXPECT_TRUE(e2e_exists(dir / "logs/mixed.MF4"));
    EXPECT_TRUE(e2e_exists(dir / "logs_out/mixed_CAN.trc"));
    EXPECT_TRUE(e2e_exists(dir / "logs/lin.MF4"));
    EXPECT_EQ(e2e_countLines(v1.err, "Kept logs/fd.MF4: 1 of its 1 CAN frames are not in the "
                                     "trace (CAN FD frames do not fit trace version 1.1)"),
              1)
        << v1.err;
    EXPECT_EQ(e2e_countLines(v1.err, "Kept logs/mixed.MF4: 1 of its 2 CAN frames"), 1) << v1.err;
    EXPECT_EQ(e2e_countLines(v1.err, "Kept logs/lin.MF4: it holds no CAN data or remote frames"), 1)
        << v1.err;

    // Version 2.1 holds FD frames: those inputs go now; the LIN-only one still stays.
    const e2e_run v2 = e2e_runKelvane({"-d", "logs"}, dir.path);
    EXPECT_EQ(v2.status, 0) << v2.err;
    EXPECT_FALSE(e2e_exists(dir / "logs/fd.MF4"));
    EXPECT_FALSE(e2e_exists(dir / "logs/mixed.MF4"));
    EXPECT_TRUE(e2e_exists(dir / "logs/lin.MF4"));
}

// Names that differ only in extension or case map to one trace: the first converted keeps
// it, each later one fails with 8 and keeps its input, and the message names both.
TEST(Safety, OneTracePerNameInARun) {
    e2e_tempDir dir;
    e2e_mkdirs(dir / "logs");
    writeLog(dir / "logs/00000001.MF4", frames(true, false));
    writeLog(dir / "logs/00000001.MFC", frames(true, true)); // plain content, container name
    writeLog(dir / "logs/00000001.mf4", frames(false, true));
    const std::string expected = [&] {
        e2e_tempDir alone;
        e2e_mkdirs(alone / "logs");
        fs::copy_file(dir / "logs/00000001.MF4", alone / "logs/00000001.MF4");
        EXPECT_EQ(e2e_runKelvane({"logs"}, alone.path).status, 0);
        return e2e_readFile(alone / "logs_out/00000001_CAN.trc");
    }();
    const e2e_run run = e2e_runKelvane({"-d", "logs"}, dir.path);
    EXPECT_EQ(run.status, 8) << run.err;
    EXPECT_EQ(e2e_readFile(dir / "logs_out/00000001_CAN.trc"), expected);
    EXPECT_FALSE(e2e_exists(dir / "logs/00000001.MF4"));
    EXPECT_TRUE(e2e_exists(dir / "logs/00000001.MFC"));
    EXPECT_TRUE(e2e_exists(dir / "logs/00000001.mf4"));
    for (const char* later : {"logs/00000001.MFC", "logs/00000001.mf4"})
        EXPECT_EQ(e2e_countLines(run.err, std::string("Not converted: ") + later +
                                              " would write the trace of logs/00000001.MF4"),
                  1)
            << run.err;
    // The same input named twice is still a repeat, not a collision.
    const e2e_run twice = e2e_runKelvane({"logs/00000001.mf4", "logs/00000001.mf4"}, dir.path);
    EXPECT_EQ(twice.status, 0) << twice.err;
    EXPECT_EQ(e2e_countLines(twice.err, "Repeated input file"), 1) << twice.err;
}

// A link at a trace's name is replaced, never written through; a linked output folder and
// ".." in an input fail the file with 8 and write nothing outside the output root.
TEST(Safety, NoWriteThroughLinksOrAboveTheOutputRoot) {
    e2e_tempDir dir;
    e2e_mkdirs(dir / "logs/sub/deeper");
    e2e_mkdirs(dir / "logs_out");
    e2e_mkdirs(dir / "elsewhere");
    writeLog(dir / "logs/00000001.MF4", frames(true, false));
    writeLog(dir / "logs/sub/deeper/00000002.MF4", frames(true, false));
    e2e_writeFile(dir / "victim", "someone else's file\n");
    fs::create_symlink("../victim", dir / "logs_out/00000001_CAN.trc");
    fs::create_symlink("../elsewhere", dir / "logs_out/sub");

    const e2e_run run = e2e_runKelvane({"-d", "logs"}, dir.path);
    EXPECT_EQ(run.status, 8) << run.err;
    EXPECT_EQ(e2e_readFile(dir / "victim"), "someone else's file\n");
    EXPECT_FALSE(isLink(dir / "logs_out/00000001_CAN.trc"));
    EXPECT_EQ(e2e_readFile(dir / "logs_out/00000001_CAN.trc").rfind(";$FILEVERSION=2.1", 0), 0u);
    EXPECT_FALSE(e2e_exists(dir / "logs/00000001.MF4"));
    EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));
    EXPECT_TRUE(e2e_exists(dir / "logs/sub/deeper/00000002.MF4"));
    EXPECT_EQ(e2e_countLines(run.err, "Output folder logs_out/sub is a link"), 1) << run.err;

    // /x/logs/sub/.. is the folder logs/ under the root logs/sub/: written without "_out"
    // it would land above the output folder.
    e2e_mkdirs(dir / "out/deep");
    const e2e_run up = e2e_runKelvane(
        {"-X", "--output-directory=" + (dir / "out/deep"), dir / "logs/sub/.."}, dir.path);
    EXPECT_EQ(up.status, 8) << up.err;
    EXPECT_EQ(e2e_countLines(up.err, "would be written outside the output folder"), 1) << up.err;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "out"), {}), 1); // deep alone
    EXPECT_TRUE(fs::is_empty(dir / "out/deep"));
}

// A link back to a folder the walk is in is skipped with a warning; links elsewhere are
// followed. Every log is converted once and the run ends.
TEST(Safety, WalksEnd) {
    e2e_tempDir dir;
    e2e_mkdirs(dir / "logs/a/b");
    e2e_mkdirs(dir / "logs/c");
    writeLog(dir / "logs/a/b/00000001.MF4", frames(true, false));
    writeLog(dir / "logs/c/00000002.MF4", frames(true, false));
    fs::create_symlink("..", dir / "logs/a/b/up");
    fs::create_symlink("../..", dir / "logs/a/b/top");
    fs::create_symlink(".", dir / "logs/c/self");
    fs::create_symlink("../c", dir / "logs/a/toc"); // a sibling: followed
    const e2e_run run = e2e_runKelvane({"logs"}, dir.path);
    EXPECT_EQ(run.status, 0) << run.err;
    for (const char* skipped : {"logs/a/b/up", "logs/a/b/top", "logs/a/toc/self"})
        EXPECT_EQ(e2e_countLines(run.err, std::string("Skipped folder ") + skipped), 1) << run.err;
    // c was walked through a/toc already: once per run, whatever the path.
    EXPECT_EQ(e2e_countLines(run.err, "Skipped folder logs/c: walked already"), 1) << run.err;
    EXPECT_EQ(e2e_countLines(run.err, "Skipped folder"), 4) << run.err;
    EXPECT_TRUE(e2e_exists(dir / "logs_out/a/b/00000001_CAN.trc"));
    EXPECT_TRUE(e2e_exists(dir / "logs_out/a/toc/00000002_CAN.trc"));
    EXPECT_FALSE(e2e_exists(dir / "logs_out/c"));
    EXPECT_EQ(e2e_countLines(run.err, "Repeated input file"), 0) << run.err;
}

namespace {

// A folder named "locked" cannot be listed and a file named "locked.MF4" cannot be opened,
// as without permission (tests run as root, who is never refused).
bool lockedList(cFS* fs, std::string_view path, cFS_entrySet* set) {
    if (path.ends_with("/locked")) {
        errno = EACCES;
        return false;
    }
    return e2e_osFs::real->list(fs, path, set);
}
cIO* lockedOpen(cFS* fs, std::string_view path, uint32_t flags) {
    if (path.ends_with("/locked.MF4")) {
        errno = EACCES;
        return nullptr;
    }
    return e2e_osFs::real->open(fs, path, flags);
}

} // namespace

// A folder that cannot be listed and a file that cannot be opened are reported with the
// system's reason and fail with 8; everything else is converted.
TEST(Safety, UnreadableFoldersAndFilesAreReported) {
    e2e_tempDir dir;
    e2e_mkdirs(dir / "logs/locked");
    writeLog(dir / "logs/locked/00000001.MF4", frames(true, false));
    writeLog(dir / "logs/locked.MF4", frames(true, false));
    writeLog(dir / "logs/open.MF4", frames(true, false));
    e2e_osFs locked(dir.path);
    locked.table.list = lockedList;
    locked.table.open = lockedOpen;
    const cLogReaderOptions options{false, false, true, -1, 1, {}};
    std::string log;
    EXPECT_EQ(e2e_convertToTrace(locked.fs, options, {"logs"}, &log),
              cExitStatus_CONVERSION_FAILED);
    EXPECT_EQ(e2e_countLines(log, "Could not list folder logs/locked: Permission denied"), 1)
        << log;
    EXPECT_EQ(e2e_countLines(log, "Could not open input file logs/locked.MF4: Permission denied"),
              1)
        << log;
    EXPECT_TRUE(e2e_exists(dir / "logs_out/open_CAN.trc"));
    EXPECT_FALSE(e2e_exists(dir / "logs_out/locked"));
}
