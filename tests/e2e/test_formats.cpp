// The output formats through the real binary: random frame lists in random writer layouts,
// converted to ASC, BLF, candump and CSV, read back by readers nobody here wrote
// (tests/readers/check_formats.py: python-can, can-utils, Python's csv); the same bytes with
// one job and two; -d deletes a log with FD frames once each format's output is complete.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "e2e_support.h"

namespace {

const char* const kFormats[][2] = {
    {"asc", "asc"}, {"blf", "blf"}, {"candump", "log"}, {"csv", "csv"}};

struct Drawn {
    cMdfWriterOptions options;
    std::vector<cMdfWriterGroup> groups;
    std::string want; // the CAN frames as tests/readers/check_formats.py reads them
};

// Frames of every kind on buses 1 to 15, in time order, spread over one to four data groups
// whose layouts are drawn too (record ids, data storage, time encoding, byte order).
Drawn drawFile(uint64_t seed) {
    e2e_rng rng{seed * 0x2545F4914F6CDD1Dull + 11};
    Drawn d;
    const size_t count = rng.percent(10)   ? 1
                         : rng.percent(20) ? 500 + rng.below(2000)
                                           : 1 + rng.below(80);
    const bool msTimes = rng.percent(20);
    const unsigned fdPercent = static_cast<unsigned>(rng.below(4) * 33);
    const size_t groupCount = 1 + rng.below(4);
    d.groups.resize(groupCount);
    d.options = e2e_logOptions("0000ABCD", 1, static_cast<uint32_t>(seed));
    // A start on a whole microsecond: the formats' times are microseconds, and the frames'
    // times are then exact in them.
    d.options.startTimeNs = (1500000000000000ull + rng.below(300000000000000ull)) * 1000;
    std::vector<std::pair<uint64_t, std::string>> want;
    uint64_t ticks = rng.below(1000);
    for (size_t i = 0; i < count; ++i) {
        ticks += 1 + rng.below(msTimes ? 30 : 3000);
        const double time = static_cast<double>(ticks) * (msTimes ? 1e-3 : 1e-6);
        // Six data frames in ten, two remote frames, an error frame and a LIN frame.
        const uint64_t kind = rng.below(10);
        const cMdfWriterFrame f = e2e_drawFrame(rng,
                                                kind < 6   ? MDFW_CAN_DATA
                                                : kind < 8 ? MDFW_CAN_REMOTE
                                                : kind < 9 ? MDFW_CAN_ERROR
                                                           : MDFW_LIN,
                                                time, fdPercent);
        cMdfWriterGroup& g = d.groups[rng.below(groupCount)];
        g.frames.push_back(f);
        if (f.kind != MDFW_CAN_DATA && f.kind != MDFW_CAN_REMOTE) continue;
        const uint64_t us = d.options.startTimeNs / 1000 + ticks * (msTimes ? 1000 : 1);
        char line[200];
        snprintf(line, sizeof line, "%llu %u %X %d %d %d %d %d %d %u ",
                 static_cast<unsigned long long>(us), f.bus, f.id, f.ide, f.kind == MDFW_CAN_REMOTE,
                 f.edl, f.brs, f.esi, f.dir, f.dlc);
        std::string text = line;
        if (f.kind == MDFW_CAN_REMOTE || f.dataLength == 0) text += "-";
        for (unsigned b = 0; f.kind == MDFW_CAN_DATA && b < f.dataLength; ++b) {
            snprintf(line, sizeof line, "%02X", f.data[b]);
            text += line;
        }
        want.emplace_back(us, text + "\n");
    }
    for (cMdfWriterGroup& g : d.groups) {
        std::vector<cMdfWriterFrameKind> kinds;
        for (const cMdfWriterFrame& f : g.frames)
            if (std::find(kinds.begin(), kinds.end(), f.kind) == kinds.end())
                kinds.push_back(f.kind);
        std::reverse(kinds.begin(), kinds.end());
        g.kinds = kinds.empty() ? std::vector<cMdfWriterFrameKind>{MDFW_CAN_DATA} : kinds;
        g.recordIdSize = g.kinds.size() > 1 || rng.percent(30) ? uint8_t(1u << rng.below(4)) : 0;
        g.dataStorage = g.recordIdSize && rng.percent(30) ? MDFW_DATA_VLSD_CG
                        : rng.percent(30)                 ? MDFW_DATA_VLSD_SD
                                                          : MDFW_DATA_FIXED;
        g.timeEncoding = msTimes && rng.percent(50) ? MDFW_TIME_MILLIS32_BE
                         : rng.percent(50)          ? MDFW_TIME_MICROS
                                                    : MDFW_TIME_DOUBLE;
        g.bigEndian = rng.percent(30);
        g.flatChannels = rng.percent(30);
        g.channelShuffle = rng.percent(50) ? uint32_t(1 + rng.below(100000)) : 0;
    }
    std::stable_sort(want.begin(), want.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& w : want)
        d.want += w.second;
    return d;
}

// Writes the logs of seeds [first, first + count) into dir/in and their frame lists into
// dir/want.
void writeLogs(const e2e_tempDir& dir, uint64_t first, uint64_t count) {
    e2e_mkdirs(dir / "in");
    e2e_mkdirs(dir / "want");
    for (uint64_t seed = first; seed < first + count; ++seed) {
        Drawn d = drawFile(seed);
        const std::string name = "s" + std::to_string(seed);
        e2e_writeLog(dir / ("in/" + name + ".mf4"), d.options, d.groups);
        e2e_writeFile(dir / ("want/" + name + ".txt"), d.want);
    }
}

// Each format written with one job and with two (two runs, whose bytes must agree: no field
// from the clock, the host or the job that wrote it), then read back.
TEST(Formats, ReadersNobodyHereWroteGiveBackEveryFrameWithOneJobAndTwo) {
    e2e_tempDir dir;
    writeLogs(dir, 1, 120);
    for (const auto& f : kFormats) {
        for (const char* jobs : {"1", "2"}) {
            const std::string out = std::string(f[0]) + (jobs[0] == '1' ? "" : jobs);
            e2e_mkdirs(dir / out);
            e2e_run run = e2e_runKelvane({"-j", jobs, "-f", f[0], "-O", out, "in"}, dir.path);
            ASSERT_EQ(run.status, 0) << f[0] << "\n" << run.err;
        }
        for (uint64_t seed = 1; seed <= 120; ++seed) {
            const std::string file = "/in_out/s" + std::to_string(seed) + "_CAN." + f[1];
            EXPECT_EQ(e2e_readFile(dir / (std::string(f[0]) + file)),
                      e2e_readFile(dir / (std::string(f[0]) + "2" + file)))
                << f[0] << file;
        }
    }
    const std::string script = std::string(KELVANE_TEST_DATA) + "/../readers/check_formats.py";
    std::string out;
    const int status = e2e_shell(e2e_python() + " " + script + " " + dir.path + " 2>&1", &out);
    if (status == 77) GTEST_SKIP() << out;
    EXPECT_EQ(status, 0) << out;
    std::printf("%s", out.c_str());
}

// -d deletes a log with FD frames once its output in any of these formats is complete, and
// keeps it with trace version 1.1, which leaves the FD frames out.
TEST(Formats, DeleteConvertedTakesLogsWithFdFrames) {
    std::vector<cMdfWriterGroup> groups(1);
    uint8_t data[64] = {1, 2, 3};
    groups[0].frames = {cMdfWriterFrame_can(0.001, 1, 0x123, false, data, 8),
                        cMdfWriterFrame_can(0.002, 2, 0x1234567, true, data, 64, true),
                        cMdfWriterFrame_remote(0.003, 3, 0x7FF, false, 4)};
    groups[0].kinds = {MDFW_CAN_DATA, MDFW_CAN_REMOTE};
    groups[0].recordIdSize = 1;
    for (const char* format : {"asc", "blf", "candump", "csv", "version1"}) {
        e2e_tempDir dir;
        e2e_mkdirs(dir / "logs");
        e2e_writeLog(dir / "logs/00000001.MF4", e2e_logOptions(), groups);
        e2e_run run = e2e_runKelvane({"-d", "-f", format, "logs"}, dir.path);
        EXPECT_EQ(run.status, 0) << run.err;
        const bool kept = std::string(format) == "version1";
        EXPECT_EQ(e2e_exists(dir / "logs/00000001.MF4"), kept) << format << "\n" << run.err;
        const std::string ext = std::string(format) == "version1"  ? "trc"
                                : std::string(format) == "candump" ? "log"
                                                                   : format;
        EXPECT_TRUE(e2e_exists(dir / ("logs_out/00000001_CAN." + ext))) << format;
    }
}

} // namespace
