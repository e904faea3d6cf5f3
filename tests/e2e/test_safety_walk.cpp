// The walk through links and odd paths: a folder reached by many links is walked once, a
// file reached twice gives the same statuses and lines with one job and with several, paths
// that are no file or folder and folders that cannot be made are told with their reason.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "app/cLogReaderCLI.h"
#include "converter/cPeakConverter.h"
#include "e2e_support.h"
#include "fs/cFS_os.h"
#include "support/log.h"

namespace fs = std::filesystem;

namespace {

std::vector<cMdfWriterGroup> someFrames() {
    std::vector<cMdfWriterGroup> groups(1);
    const uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    for (uint32_t i = 0; i < 50; ++i)
        groups[0].frames.push_back(cMdfWriterFrame_can(i * 1e-3, 1, 0x100 + i, false, data, 8));
    return groups;
}

size_t foldersBelow(const std::string& root) {
    size_t n = 0;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); it != fs::end(it); it.increment(ec))
        n += it->is_directory() && !it->is_symlink();
    return n;
}

} // namespace

// Two links per level, 12 levels deep: 4096 paths lead to the last folder, which is walked
// once; every later path to a folder is skipped with a warning, and no empty output folder is
// made for it.
TEST(SafetyWalk, FolderReachedByManyLinksIsWalkedOnce) {
    e2e_tempDir dir;
    constexpr int kLevels = 12;
    for (int level = 1; level <= kLevels; ++level) {
        const std::string here = dir / ("real/r" + std::to_string(level));
        e2e_mkdirs(here);
        if (level < kLevels) {
            const std::string next = "../r" + std::to_string(level + 1);
            fs::create_directory_symlink(next, here + "/x");
            fs::create_directory_symlink(next, here + "/y");
        }
    }
    e2e_writeLog(dir / ("real/r" + std::to_string(kLevels) + "/00000001.MF4"), e2e_logOptions(),
                 someFrames());
    e2e_mkdirs(dir / "logs");
    fs::create_directory_symlink("../real/r1", dir / "logs/x");
    fs::create_directory_symlink("../real/r1", dir / "logs/y");
    for (const char* jobs : {"1", "3"}) {
        SCOPED_TRACE(jobs);
        fs::remove_all(dir / "logs_out");
        const e2e_run run = e2e_runKelvane({"-j", jobs, "logs"}, dir.path);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(e2e_countLines(run.err, "walked already through another path"), kLevels)
            << run.err;
        std::string deepest = "logs_out";
        for (int level = 1; level <= kLevels; ++level)
            deepest += "/x";
        EXPECT_TRUE(e2e_exists(dir / (deepest + "/00000001_CAN.trc")));
        EXPECT_EQ(foldersBelow(dir / "logs_out"), size_t{kLevels});
    }
}

// A link beside the file it names, with -d: the file is converted and deleted through its
// first name, and the link then names nothing. One job and several tell it alike.
TEST(SafetyWalk, SiblingLinkGivesTheSameResultAtAnyJobCount) {
    std::vector<std::string> results;
    for (const char* jobs : {"1", "2", "4"}) {
        SCOPED_TRACE(jobs);
        e2e_tempDir dir;
        e2e_mkdirs(dir / "logs");
        e2e_writeLog(dir / "logs/a.MF4", e2e_logOptions(), someFrames());
        fs::create_symlink("a.MF4", dir / "logs/b.MF4");
        const e2e_run run = e2e_runKelvane({"-d", "-j", jobs, "logs"}, dir.path);
        EXPECT_EQ(e2e_countLines(run.err, "Could not find input file/folder logs/b.MF4"), 1)
            << run.err;
        EXPECT_TRUE(e2e_exists(dir / "logs_out/a_CAN.trc"));
        EXPECT_FALSE(e2e_exists(dir / "logs/a.MF4"));
        results.push_back(std::to_string(run.status));
    }
    EXPECT_EQ(results, (std::vector<std::string>{"1", "1", "1"}));
}

// A FIFO named on the command line is told, not passed over in silence (and never opened,
// which would wait for a writer for ever).
TEST(SafetyWalk, FifoArgumentIsTold) {
    e2e_tempDir dir;
    ASSERT_EQ(mkfifo((dir / "pipe.MF4").c_str(), 0600), 0);
    const e2e_run run = e2e_runKelvane({"pipe.MF4"}, dir.path);
    EXPECT_EQ(run.status, cExitStatus_BAD_PATH);
    EXPECT_EQ(e2e_countLines(run.err, "Not converted: pipe.MF4 is neither a regular file nor a "
                                      "folder"),
              1)
        << run.err;
}

// An output folder the system will not make is told with its reason (here a read-only file
// system), not as a missing file later.
TEST(SafetyWalk, OutputFolderFailureGivesTheSystemsReason) {
    e2e_tempDir dir;
    e2e_mkdirs(dir / "logs");
    e2e_writeLog(dir / "logs/00000001.MF4", e2e_logOptions(), someFrames());
    e2e_osFs readOnly(dir.path);
    readOnly.table.mkdir = [](cFS*, std::string_view) {
        errno = EROFS;
        return false;
    };
    const cLogReaderOptions options{true, false, true, -1, 1, {}};
    std::string log;
    EXPECT_EQ(e2e_convertToTrace(readOnly.fs, options, {"logs"}, &log),
              cExitStatus_CONVERSION_FAILED);
    EXPECT_EQ(e2e_countLines(log, "Could not create output folder logs_out/: Read-only file "
                                  "system"),
              1)
        << log;
    EXPECT_TRUE(e2e_exists(dir / "logs/00000001.MF4"));
}

// An output folder and a link to elsewhere swapped again and again while the run writes into
// that folder: no trace and no temporary file ever lands elsewhere. Files that meet the link
// fail; the others are converted where they belong.
TEST(SafetyWalk, SwappedLinkNeverLeadsWritesOut) {
    e2e_tempDir dir;
    e2e_mkdirs(dir / "logs/sub");
    for (int n = 1; n <= 60; ++n)
        e2e_writeLog(dir / ("logs/sub/" + std::to_string(100000 + n) + ".MF4"),
                     e2e_logOptions("0000ABCD", 1, n), someFrames());
    e2e_mkdirs(dir / "logs_out/sub");
    e2e_mkdirs(dir / "elsewhere");
    fs::create_directory_symlink(dir / "elsewhere", dir / "logs_out/swap");
    const std::string a = dir / "logs_out/sub", b = dir / "logs_out/swap";
    const pid_t swapper = fork();
    if (swapper == 0) {
        for (;;) {
            renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE);
            usleep(200);
        }
    }
    const e2e_run run = e2e_runKelvane({"-j", "2", "logs"}, dir.path);
    kill(swapper, SIGKILL);
    e2e_waitFor(swapper);
    EXPECT_TRUE(run.status == 0 || run.status == 8) << run.err;
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir / "elsewhere"))
        out.push_back(e.path().filename().string());
    EXPECT_EQ(out, std::vector<std::string>{});
}
