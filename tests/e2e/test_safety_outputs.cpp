// What a run must never do to outputs and inputs, whatever goes on around it: closed standard
// streams, a reader of the log that goes away, an input cut while it is read, a deletion the
// system refuses, odd names. Most cases run the real binary.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <functional>

#include "app/cLogReaderCLI.h"
#include "app/cRunReport.h"
#include "converter/cPeakConverter.h"
#include "e2e_support.h"
#include "fs/cFS_os.h"
#include "support/log.h"

namespace {

std::vector<cMdfWriterGroup> frames(uint32_t count, double start = 0.0) {
    std::vector<cMdfWriterGroup> groups(2);
    const uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    for (uint32_t i = 0; i < count; ++i)
        groups[i % 2].frames.push_back(
            cMdfWriterFrame_can(start + i * 1e-4, 1, 0x100 + i % 64, false, data, 8));
    return groups;
}

// logs/0000000N.MF4 for N = 1..count, one split each.
void writeLogs(const e2e_tempDir& dir, int count, uint32_t framesEach) {
    e2e_mkdirs(dir / "logs");
    for (int n = 1; n <= count; ++n)
        e2e_writeLog(dir / ("logs/0000000" + std::to_string(n) + ".MF4"),
                     e2e_logOptions("0000ABCD", 1, n), frames(framesEach, n));
}

int runWith(const std::vector<std::string>& args, const std::string& cwd,
            const std::string& errPath, const std::function<void()>& inChild) {
    const int status = e2e_waitFor(e2e_startKelvane(args, cwd, "/dev/null", errPath, inChild));
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

// Closed descriptors 0, 1 and 2 (cron with 2>&-): no trace takes one of them, so no log line
// lands in a trace, and every trace is the one a run with open streams writes.
TEST(SafetyOutputs, ClosedStandardStreamsNeverReachATrace) {
    e2e_tempDir ref, dir;
    writeLogs(ref, 6, 2000);
    writeLogs(dir, 6, 2000);
    ASSERT_EQ(e2e_runKelvane({"logs"}, ref.path).status, 0);
    for (const std::vector<int>& closed : {std::vector<int>{2}, std::vector<int>{0, 1, 2}}) {
        SCOPED_TRACE(closed.size());
        std::filesystem::remove_all(dir / "logs_out");
        EXPECT_EQ(runWith({"-d", "-j", "2", "--verbosity", "4", "logs"}, dir.path, dir / "err",
                          [&] {
                              for (int fd : closed)
                                  close(fd);
                          }),
                  0);
        for (int n = 1; n <= 6; ++n) {
            const std::string trace = "logs_out/0000000" + std::to_string(n) + "_CAN.trc";
            EXPECT_EQ(e2e_readFile(dir / trace), e2e_readFile(ref / trace)) << trace;
        }
        EXPECT_EQ(e2e_namesIn(dir / "logs"), std::vector<std::string>{}); // -d: all converted
        writeLogs(dir, 6, 2000);
    }
}

// A reader of the log that goes away (2>&1 | head -n 2) ends no conversion: every file is
// converted and no temporary file stays.
TEST(SafetyOutputs, LogReaderGoneStopsNothing) {
    e2e_tempDir dir;
    writeLogs(dir, 4, 2000);
    const int status = runWith({"--verbosity", "4", "-d", "logs"}, dir.path, "/dev/null", [] {
        int ends[2];
        if (pipe(ends) != 0) _exit(126);
        close(ends[0]); // the reader is gone before the first line
        dup2(ends[1], 2);
        close(ends[1]);
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(e2e_namesIn(dir / "logs_out"),
              (std::vector<std::string>{"00000001_CAN.trc", "00000002_CAN.trc", "00000003_CAN.trc",
                                        "00000004_CAN.trc"}));
    EXPECT_EQ(e2e_namesIn(dir / "logs"), std::vector<std::string>{});
}

// On Linux a backslash is part of a name: 'back\slash.MF4' is that file, not back/slash.MF4.
TEST(SafetyOutputs, BackslashIsPartOfTheName) {
    e2e_tempDir dir;
    e2e_mkdirs(dir / "back");
    e2e_writeLog(dir / "back\\slash.MF4", e2e_logOptions("0000ABCD", 1, 1), frames(10));
    e2e_writeLog(dir / "back/slash.MF4", e2e_logOptions("0000ABCD", 1, 2), frames(20));
    const e2e_run run = e2e_runKelvane({"-d", "back\\slash.MF4"}, dir.path);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_FALSE(e2e_exists(dir / "back\\slash.MF4"));
    EXPECT_TRUE(e2e_exists(dir / "back\\slash_CAN.trc"));
    EXPECT_TRUE(e2e_exists(dir / "back/slash.MF4"));
    EXPECT_EQ(e2e_namesIn(dir / "back"), std::vector<std::string>{"slash.MF4"});
}

// A log name of 250 bytes gives a trace name of 254, which fits: the temporary name must not
// be what makes it fail.
TEST(SafetyOutputs, LongestNamesConvert) {
    e2e_tempDir dir;
    e2e_mkdirs(dir / "logs");
    const std::string stem(246, 'n');
    e2e_writeLog(dir / ("logs/" + stem + ".MF4"), e2e_logOptions(), frames(10));
    const e2e_run run = e2e_runKelvane({"-d", "logs"}, dir.path);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(e2e_namesIn(dir / "logs_out"), std::vector<std::string>{stem + "_CAN.trc"});
    EXPECT_EQ(e2e_namesIn(dir / "logs"), std::vector<std::string>{});
}

// A run killed outright (SIGKILL, power loss) leaves no temporary file of its own where the
// file system writes unnamed files; one left by an older run of a process that is gone is
// removed by the next run that writes there, which says so. A file of a living process stays.
TEST(SafetyOutputs, StaleTemporaryFilesOfEndedRunsGo) {
    e2e_tempDir dir;
    writeLogs(dir, 1, 10);
    e2e_mkdirs(dir / "logs_out");
    pid_t gone = fork();
    if (gone == 0) _exit(0);
    ASSERT_EQ(e2e_waitFor(gone) != -1, true);
    const std::string stale = ".kelvane-tmp-" + std::to_string(gone) + "-7";
    const std::string older = ".00000001_CAN.trc.kelvane-tmp-" + std::to_string(gone) + "-0";
    const std::string living = ".kelvane-tmp-" + std::to_string(getpid()) + "-0";
    for (const std::string& name : {stale, older, living})
        ASSERT_TRUE(e2e_writeFile(dir / ("logs_out/" + name), "half a trace"));
    const e2e_run run = e2e_runKelvane({"logs"}, dir.path);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(e2e_namesIn(dir / "logs_out"),
              (std::vector<std::string>{living, "00000001_CAN.trc"}));
    EXPECT_EQ(e2e_countLines(run.err, "W Removed "), 2) << run.err;
    EXPECT_EQ(e2e_countLines(run.err, stale), 1) << run.err;
}

// A log cut while it is read (mapped, or through a small buffer) must not replace the good
// trace an earlier run made of it: the cut is seen before the trace would take the name.
TEST(SafetyOutputs, CutInputNeverReplacesTheEarlierTrace) {
    for (int64_t buffer : {int64_t{-1}, int64_t{64 * 1024}}) {
        SCOPED_TRACE(buffer);
        e2e_tempDir dir;
        e2e_mkdirs(dir / "in");
        const std::string input = dir / "in/00000001.MF4";
        e2e_writeLog(input, e2e_logOptions(), frames(60000));
        ASSERT_EQ(e2e_runKelvane({"in"}, dir.path).status, 0);
        const std::string good = e2e_readFile(dir / "in_out/00000001_CAN.trc");
        ASSERT_FALSE(good.empty());

        cFS* fs = cFS_os_ctor(dir.path);
        e2e_Meddling conv{{&e2e_meddlingTable}, nullptr, 100, [&] {
                              EXPECT_EQ(truncate(input.c_str(), 64 * 1024), 0);
                          }};
        cLogReaderOptions options{false, false, true, buffer, 1, {}};
        std::string log;
        const uint32_t code =
            e2e_convertToTrace(fs, options, {"in"}, &log, ZF_LOG_INFO, [&](cBusLayer* trace) {
                conv.inner = trace;
                return &conv.layer;
            });
        cFS_dtor(fs);
        EXPECT_EQ(code, cExitStatus_CONVERSION_FAILED) << log;
        EXPECT_EQ(e2e_readFile(dir / "in_out/00000001_CAN.trc"), good);
        EXPECT_EQ(e2e_namesIn(dir / "in_out"), std::vector<std::string>{"00000001_CAN.trc"});
    }
}

// -d where the system refuses the removal: the trace stays, the input stays, the file gives
// 8 with the system's reason, and the summary counts it as converted and not deleted.
TEST(SafetyOutputs, RefusedDeletionIsAFailure) {
    e2e_tempDir dir;
    writeLogs(dir, 2, 100);
    e2e_osFs refusing(dir.path);
    refusing.table.rm = [](cFS*, std::string_view) { // as on a read-only mount
        errno = EROFS;
        return false;
    };
    cLogReaderOptions options{true, false, true, -1, 1, {}};
    std::string log;
    cRunReport_begin(false);
    const uint32_t code = e2e_convertToTrace(refusing.fs, options, {"logs"}, &log);
    const cRunReport_counts counts = cRunReport_getCounts();
    EXPECT_EQ(code, cExitStatus_CONVERSION_FAILED) << log;
    EXPECT_EQ(e2e_countLines(log, "Could not remove input file after conversion: "
                                  "logs/00000001.MF4: Read-only file system"),
              1)
        << log;
    EXPECT_EQ(e2e_namesIn(dir / "logs"),
              (std::vector<std::string>{"00000001.MF4", "00000002.MF4"}));
    EXPECT_EQ(e2e_namesIn(dir / "logs_out"),
              (std::vector<std::string>{"00000001_CAN.trc", "00000002_CAN.trc"}));
    EXPECT_EQ(counts.converted, 2u);
    EXPECT_EQ(counts.failed, 0u);
    EXPECT_EQ(counts.notDeleted, 2u);
    EXPECT_NE(cRunReport_summary(counts, 1.0).find(", 2 not deleted, "), std::string::npos);
}

// Loggers reuse names: a trace made from another log keeps its name (the first run may have
// deleted that log), the file fails with 8 naming both logs and its input stays; the same log
// again replaces its own trace; --overwrite replaces anyway. The record leaves the trace's
// bytes as they are.
TEST(SafetyOutputs, TraceOfAnotherLogIsNotReplaced) {
    e2e_tempDir dir;
    e2e_mkdirs(dir / "dev1");
    e2e_mkdirs(dir / "dev2");
    e2e_mkdirs(dir / "out");
    e2e_writeLog(dir / "dev1/00000001.MF4", e2e_logOptions("AAAA0001", 1, 1), frames(1000));
    e2e_writeLog(dir / "dev2/00000001.MF4", e2e_logOptions("BBBB0002", 1, 1), frames(500, 5));
    const std::string dev1 = e2e_readFile(dir / "dev1/00000001.MF4");
    const std::string trace = dir / "out/00000001_CAN.trc";
    e2e_run run = e2e_runKelvane({"-d", "-O", "out", "dev1/00000001.MF4"}, dir.path);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string first = e2e_readFile(trace);

    run = e2e_runKelvane({"-d", "-O", "out", "dev2/00000001.MF4"}, dir.path);
    EXPECT_EQ(run.status, 8);
    EXPECT_EQ(e2e_countLines(run.err, "Not converted: 00000001.MF4 (device=BBBB0002, session=1, "
                                      "split=1, input=" +
                                          dir.path +
                                          "/dev2/00000001.MF4) would replace "
                                          "00000001_CAN.trc, the trace of another log "
                                          "(device=AAAA0001, session=1, split=1, "
                                          "input=" +
                                          dir.path + "/dev1/00000001.MF4)"),
              1)
        << run.err;
    EXPECT_EQ(e2e_readFile(trace), first);
    EXPECT_TRUE(e2e_exists(dir / "dev2/00000001.MF4"));

    // The same log once more (restored from a copy) replaces its own trace.
    ASSERT_TRUE(e2e_writeFile(dir / "dev1/00000001.MF4", dev1));
    run = e2e_runKelvane({"-O", "out", "dev1/00000001.MF4"}, dir.path);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(e2e_readFile(trace), first);

    run = e2e_runKelvane({"-d", "--overwrite", "-O", "out", "dev2/00000001.MF4"}, dir.path);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_FALSE(e2e_exists(dir / "dev2/00000001.MF4"));
    // Byte for byte the trace a run into an empty folder writes.
    e2e_tempDir alone;
    e2e_writeLog(alone / "00000001.MF4", e2e_logOptions("BBBB0002", 1, 1), frames(500, 5));
    ASSERT_EQ(e2e_runKelvane({"00000001.MF4"}, alone.path).status, 0);
    EXPECT_EQ(e2e_readFile(trace), e2e_readFile(alone / "00000001_CAN.trc"));
    EXPECT_NE(e2e_readFile(trace), first);
}
