// The output formats other than the trace: golden files fix their bytes, and the writer's
// machinery (batches, the helper thread, the header written again at the end) gives the
// same bytes whichever way a file is written.
//
// KELVANE_UPDATE_GOLDEN=1 writes the golden files anew instead of comparing (check them by
// hand, and with the readers of tests/readers, before committing them).

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/logCapture.h"
#include "converter/cFrameBatch.h"
#include "converter/cFrameWriter.h"
#include "converter_test_support.h"
#include "fs/cFS_os.h"

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

struct TempDir {
    std::string path;
    TempDir() {
        char name[] = "/tmp/kelvane-formats-XXXXXX";
        path = mkdtemp(name) ? name : "";
    }
    ~TempDir() {
        if (!path.empty()) std::system(("rm -rf '" + path + "'").c_str());
    }
};

std::string bytes(size_t n, uint8_t first) {
    std::string s;
    for (size_t i = 0; i < n; ++i)
        s += static_cast<char>(first + 17 * i);
    return s;
}

// Every frame kind: both identifier kinds, buses 1 to 3, Rx and Tx, remote frames with and
// without a length code, an empty data frame, FD frames with each flag combination and the
// longest payload; LIN and error records between them, which no format writes. The first
// frame lies between two milliseconds; the last comes more than a second later.
std::vector<cBusMsg> goldenFrames() {
    const double t0 = 1700000000.123456;
    return {
        frame(t0, 1, 0x123, bytes(8, 0x01), 8),
        frame(t0 + 0.000250, 2, 0x18DAF110, bytes(3, 0x10), 3, "ID"),
        frame(t0 + 0.000300, 1, 0x10, "\x01", 1, "L"),
        frame(t0 + 0.000500, 3, 0x7FF, "", 0, "D"),
        frame(t0 + 0.000750, 1, 0x456, "", 2, "R"),
        frame(t0 + 0.001000, 2, 0x1ABCDEF0, "", 0, "RID"),
        frame(t0 + 0.001100, 1, 0, "", 0, "X"),
        frame(t0 + 0.001250, 3, 0x001, bytes(1, 0xAA), 1, "E"),
        frame(t0 + 0.001500, 1, 0x002, bytes(12, 0x20), 9, "EB"),
        frame(t0 + 0.001750, 2, 0x00ABCDEF, bytes(16, 0x30), 10, "EIS"),
        frame(t0 + 0.002000, 3, 0x7FE, bytes(64, 0x40), 15, "EBSD"),
        frame(t0 + 0.002250, 1, 0x100, "", 0, "E"),
        frame(t0 + 1.5, 2, 0x0, bytes(8, 0xF0), 8, "ID"),
    };
}

// Converts the frames with a writer of the format; the output's bytes, or "" when there is
// none. With helper set, a second thread encodes and writes the batches.
std::string convert(uint32_t format, const std::vector<cBusMsg>& frames, bool helper = false,
                    cBusLayerFileSummary* summary = nullptr) {
    TempDir dir;
    cFS* fs = cFS_os_ctor(dir.path);
    EXPECT_NE(fs, nullptr);
    cFrameWriter* w = cFrameWriter_ctor(fs, format);
    EXPECT_NE(w, nullptr);
    if (helper) {
        EXPECT_TRUE(cFrameWriter_startHelper(w));
    }
    cLogReaderFileInfo info{};
    info.outputPath = "golden";
    EXPECT_TRUE(w->layer.vt->newFile(&w->layer, &info, false));
    for (const cBusMsg& m : frames)
        EXPECT_TRUE(w->layer.vt->newMsg(&w->layer, &m));
    EXPECT_TRUE(w->layer.vt->endFile(&w->layer, &info));
    cBusLayerFileSummary s{};
    EXPECT_TRUE(w->layer.vt->summary(&w->layer, &s));
    if (summary) *summary = s;
    const std::string name = "golden" + std::string(w->format->suffix);
    cFrameWriter_dtor(w);
    cFS_dtor(fs);
    return access((dir.path + "/" + name).c_str(), F_OK) == 0 ? readFile(dir.path + "/" + name)
                                                              : std::string();
}

struct Golden {
    uint32_t format;
    const char* file;
};
const Golden kGolden[] = {{cOutputFormat_ASC, "golden_CAN.asc"},
                          {cOutputFormat_BLF, "golden_CAN.blf"},
                          {cOutputFormat_CANDUMP, "golden_CAN.log"},
                          {cOutputFormat_CSV, "golden_CAN.csv"}};

TEST(cFrameFormats, GoldenFilesFixTheBytes) {
    const bool update = std::getenv("KELVANE_UPDATE_GOLDEN") != nullptr;
    for (const Golden& g : kGolden) {
        cBusLayerFileSummary summary{};
        const std::string got = convert(g.format, goldenFrames(), false, &summary);
        const std::string path = std::string(KELVANE_TEST_DATA) + "/formats/" + g.file;
        if (update) {
            std::ofstream(path, std::ios::binary) << got;
            continue;
        }
        EXPECT_EQ(got, readFile(path)) << g.file;
        // Every CAN frame is in the file: -d may delete the input.
        EXPECT_EQ(summary.framesReceived, 11u) << g.file;
        EXPECT_EQ(summary.framesWritten, 11u) << g.file;
    }
}

// A file of many batches with payloads of every length: the bytes do not depend on whether
// a second thread encodes, nor on the run (BLF: no field from the clock or the host).
TEST(cFrameFormats, SameBytesWithAndWithoutHelperAndFromRunToRun) {
    std::vector<cBusMsg> frames;
    uint64_t seed = 7;
    auto next = [&seed] { return seed = seed * 6364136223846793005ull + 1442695040888963407ull; };
    double t = 1712345678.000999;
    for (size_t i = 0; i < 3 * cFrameBatch_FRAMES + 99; ++i) {
        const uint64_t r = next();
        const bool fd = r % 3 == 0, ide = r & 8, remote = !fd && r % 7 == 0;
        const uint8_t dlc = static_cast<uint8_t>((r >> 8) % (fd ? 16 : 9));
        static const uint8_t fdLength[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 20, 24, 32, 48, 64};
        std::string flags = std::string(ide ? "I" : "") + (fd ? "E" : "") + (remote ? "R" : "") +
                            ((r >> 20) & 1 ? "D" : "") + ((r >> 21) & 1 ? "B" : "") +
                            ((r >> 22) & 1 ? "S" : "");
        t += static_cast<double>((r >> 32) % 2000) * 1e-6;
        frames.push_back(frame(t, static_cast<uint8_t>(1 + (r >> 40) % 3),
                               static_cast<uint32_t>((r >> 12) & (ide ? 0x1FFFFFFF : 0x7FF)),
                               remote ? "" : bytes(fd ? fdLength[dlc] : dlc, uint8_t(r >> 48)), dlc,
                               flags.c_str()));
    }
    for (const Golden& g : kGolden) {
        const std::string alone = convert(g.format, frames);
        EXPECT_GT(alone.size(), frames.size() * 10) << g.file;
        EXPECT_EQ(alone, convert(g.format, frames, true)) << g.file;
        EXPECT_EQ(alone, convert(g.format, frames)) << g.file;
    }
}

// A file without a CAN frame leaves no output in any format.
TEST(cFrameFormats, NoCanFrameNoOutput) {
    const std::vector<cBusMsg> other = {frame(1700000000.0, 1, 0x10, "\x01", 1, "L"),
                                        frame(1700000001.0, 1, 0, "", 0, "X")};
    for (const Golden& g : kGolden) {
        cBusLayerFileSummary summary{};
        EXPECT_EQ(convert(g.format, other, false, &summary), "") << g.file;
        EXPECT_EQ(summary.framesReceived, 0u);
        EXPECT_EQ(summary.outputPath, "");
    }
}

// The ASC date is the first frame's time rounded down to the millisecond, on a 12-hour
// clock: midnight is 12 am, noon 12 pm; the frame's offset keeps the microseconds.
TEST(cFrameFormats, AscDateAroundMidnightAndNoon) {
    struct Case {
        double time;
        const char* date;
        const char* offset;
    } cases[] = {
        {1700006400.000999, "date Wed Nov 15 12:00:00.000 am 2023\n", "   0.000999 "},
        {1700049600.5, "date Wed Nov 15 12:00:00.500 pm 2023\n", "   0.000000 "},
        {1700092799.999001, "date Wed Nov 15 11:59:59.999 pm 2023\n", "   0.000001 "},
        {946684800.0, "date Sat Jan 1 12:00:00.000 am 2000\n", "   0.000000 "},
    };
    for (const Case& c : cases) {
        const std::string asc = convert(cOutputFormat_ASC, {frame(c.time, 1, 0x1, "", 0)});
        EXPECT_EQ(asc.substr(0, asc.find('\n') + 1), c.date) << c.time;
        EXPECT_NE(asc.find("\n" + std::string(c.offset) + "1  1 "), std::string::npos) << asc;
    }
}

} // namespace
