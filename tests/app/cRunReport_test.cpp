#include <gtest/gtest.h>

#include <string>

#include "app/cRunReport.h"

namespace {

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
        const size_t room = static_cast<size_t>(width);
        const std::string text = cRunReport_progressText(c, 2.0, path, width);
        EXPECT_LE(text.size(), room) << width;
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
