#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "app/cRunReport.h"
#include "logCapture.h"

namespace {

// What the driver says the conversion left of a file.
struct FakeTrace {
    std::string name;
    uint64_t frames = 0;
};

void oneFile(const char* input, bool isLog, uint64_t size, uint32_t code, FakeTrace trace = {},
             std::vector<const char*> containers = {}, bool repeated = false) {
    cRunReport_file file;
    cRunReport_fileStart(&file, input, isLog, size);
    for (const char* kind : containers)
        cRunReport_container(&file, kind);
    if (repeated) cRunReport_fileRepeated(&file);
    if (isLog) cRunReport_fileTrace(&file, trace.name, trace.frames);
    cRunReport_fileEnd(&file, code);
}

// Every outcome of a file is counted once, in its own column, and gets its line.
TEST(cRunReport, CountsAndLinesOfEveryOutcome) {
    LogCapture capture;
    cRunReport_begin(false);
    oneFile("logs/a.MF4", true, 1000, 0, {"logs_out/a_CAN.trc", 3});
    oneFile("logs/b.MFC", true, 500, 0, {"logs_out/b_CAN.trc", 1}, {"compressed", "encrypted"});
    oneFile("logs/c.MF4", true, 10, 0, {"", 0}); // only LIN frames
    oneFile("logs/d.MFE", true, 20, 2, {"stale_CAN.trc", 7}, {"encrypted"});
    oneFile("logs/e.MF4", true, 30, 0, {"stale_CAN.trc", 7}, {}, true);
    oneFile("logs/notes.txt", false, 40, 0);
    oneFile("logs/f.MF4", true, 50, 8 | 2);

    const cRunReport_counts c = cRunReport_getCounts();
    EXPECT_EQ(c.converted, 3u);
    EXPECT_EQ(c.failed, 2u);
    EXPECT_EQ(c.repeated, 1u);
    EXPECT_EQ(c.withoutFrames, 1u);
    EXPECT_EQ(c.others, 1u);
    EXPECT_EQ(c.frames, 4u);
    EXPECT_EQ(c.inputBytes, 1610u);
    cRunReport_end();

    const std::regex expected(
        "D logs/a\\.MF4 -> logs_out/a_CAN\\.trc, 3 frames, plain, \\d+\\.\\d{3} s\n"
        "D logs/b\\.MFC -> logs_out/b_CAN\\.trc, 1 frame, compressed\\+encrypted, [^\n]+\n"
        "D logs/c\\.MF4 -> no trace \\(no CAN frames\\), plain, [^\n]+\n"
        "D logs/d\\.MFE -> no trace \\(failed with code 2\\), encrypted, [^\n]+\n"
        "D logs/e\\.MF4 -> no trace \\(repeated file\\), plain, [^\n]+\n"
        "D logs/f\\.MF4 -> no trace \\(failed with code 10\\), plain, [^\n]+\n"
        "I 3 converted, 2 failed, 1 repeated skipped, 1 without CAN frames, 1 other file left "
        "alone, 4 CAN frames written, \\d+\\.\\d s\n");
    EXPECT_TRUE(std::regex_match(LogCapture::lines(), expected)) << LogCapture::lines();

    // A new run starts from zero.
    cRunReport_begin(false);
    EXPECT_EQ(cRunReport_getCounts().converted, 0u);
    EXPECT_EQ(cRunReport_summary(cRunReport_getCounts(), 0.04),
              "0 converted, 0 failed, 0 repeated skipped, 0 without CAN frames, 0 other files "
              "left alone, 0 CAN frames written, 0.0 s");
}

// The progress line never grows past the room given; a long path keeps its end.
TEST(cRunReport, ProgressTextFitsItsRoom) {
    cRunReport_counts c{};
    c.converted = 12;
    c.failed = 3;
    c.inputBytes = 20000000;
    const std::string head = "15 done, 3 failed, 10.0 MB/s: ";
    EXPECT_EQ(cRunReport_progressText(c, 2.0, "logs/a.MF4", 0), head + "logs/a.MF4");
    EXPECT_EQ(cRunReport_progressText(c, 0.0, "x", 0), "15 done, 3 failed, 0.0 MB/s: x");
    const std::string path = "logs/very/deep/folder/00000001.MF4";
    for (int width = 1; width < 80; ++width) {
        const std::string text = cRunReport_progressText(c, 2.0, path, width);
        EXPECT_LE(text.size(), static_cast<size_t>(width)) << width;
        const size_t room = static_cast<size_t>(width);
        if (room >= head.size() + path.size()) {
            EXPECT_EQ(text, head + path);
        } else if (room > head.size() + 3) {
            EXPECT_EQ(text, head + "..." + path.substr(path.size() - (room - head.size() - 3)));
        }
    }
    // Control characters in a file name cannot move the cursor.
    EXPECT_EQ(cRunReport_progressText(c, 2.0, "a\rb\x1b[2Jc\n", 0), head + "a?b?[2Jc?");
}

} // namespace
