// An input that shrinks, grows or is replaced while it is converted is never deleted; a
// shrunk one fails with no trace and the run goes on. The change is made from inside the
// conversion, so it lands at the same point every time.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "app/cLogReaderCLI.h"
#include "converter/cPeakConverter.h"
#include "e2e_support.h"
#include "fs/cFS_os.h"
#include "support/log.h"

namespace {

std::string shrinkLog;

std::vector<cMdfWriterGroup> manyFrames(uint32_t split) {
    std::vector<cMdfWriterGroup> groups(2);
    const uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    for (uint32_t i = 0; i < 40000; ++i)
        groups[i % 2].frames.push_back(
            cMdfWriterFrame_can(i * 1e-4 + split, 1, 0x100 + i % 64, false, data, 8));
    return groups;
}

// Converts in/ (two logs) with -d; act runs at the 100th message of in/00000001.MF4.
uint32_t convertMeddled(const e2e_tempDir& dir,
                        const std::function<void(const std::string&)>& act) {
    e2e_mkdirs(dir / "in");
    cMdfWriterOptions first, second;
    first.split = 1;
    second.split = 2;
    const std::string input = dir / "in/00000001.MF4";
    e2e_writeLog(input, first, manyFrames(1));
    e2e_writeLog(dir / "in/00000002.MF4", second, manyFrames(2));

    cFS* fs = cFS_os_ctor(dir.path);
    e2e_Meddling conv{{&e2e_meddlingTable}, nullptr, 100, [&] { act(input); }};
    cLogReaderOptions options{true, false, true, -1, 1, {}}; // delete what converts
    const uint32_t code =
        e2e_convertToTrace(fs, options, {"in"}, &shrinkLog, ZF_LOG_INFO, [&](cBusLayer* trace) {
            conv.inner = trace;
            return &conv.layer;
        });
    cFS_dtor(fs);
    return code;
}

} // namespace

TEST(InputShrinks, DuringConversionTheFileFailsAndIsKept) {
    e2e_tempDir dir;
    const uint32_t code = convertMeddled(
        dir, [](const std::string& path) { EXPECT_EQ(truncate(path.c_str(), 64 * 1024), 0); });
    EXPECT_EQ(code, cExitStatus_CONVERSION_FAILED) << shrinkLog;
    EXPECT_EQ(e2e_countLines(shrinkLog, "shrank from"), 1) << shrinkLog;
    EXPECT_EQ(e2e_countLines(shrinkLog, "Error during conversion of in/00000001.MF4"), 1);
    EXPECT_TRUE(e2e_exists(dir / "in/00000001.MF4")); // kept, whatever is left of it
    EXPECT_FALSE(e2e_exists(dir / "in_out/00000001_CAN.trc"));
    // The next file is not disturbed: converted and, as asked, deleted.
    EXPECT_TRUE(e2e_exists(dir / "in_out/00000002_CAN.trc"));
    EXPECT_FALSE(e2e_exists(dir / "in/00000002.MF4"));
}

// -d keeps an input that grew or was replaced while it was converted: the trace is not of
// that file.
TEST(InputShrinks, InputChangedDuringConversionIsKept) {
    const std::function<void(const std::string&)> changes[] = {
        [](const std::string& path) { std::ofstream(path, std::ios::app) << "more"; },
        [](const std::string& path) {
            e2e_writeFile(path + ".new", e2e_readFile(path));
            std::filesystem::rename(path + ".new", path);
        },
    };
    for (const auto& change : changes) {
        e2e_tempDir dir;
        EXPECT_EQ(convertMeddled(dir, change), cExitStatus_OK) << shrinkLog;
        EXPECT_TRUE(e2e_exists(dir / "in/00000001.MF4"));
        EXPECT_TRUE(e2e_exists(dir / "in_out/00000001_CAN.trc"));
        EXPECT_EQ(e2e_countLines(shrinkLog, "Kept in/00000001.MF4: the file changed while it "
                                            "was converted"),
                  1)
            << shrinkLog;
        EXPECT_FALSE(e2e_exists(dir / "in/00000002.MF4"));
    }
}
