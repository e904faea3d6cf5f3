#include <gtest/gtest.h>

#include <string>

#include "app/cRunRecord.h"
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

// Paths may hold any byte; every record line stays one line of valid JSON: quotes, backslashes
// and control characters escaped, valid UTF-8 kept, other bytes as \u00XX.
TEST(cRunReport, RecordLinesAreJsonForAnyPath) {
    const struct {
        std::string text, json;
    } cases[] = {
        {"plain/a.MF4", "\"plain/a.MF4\""},
        {"q\"b\\s", "\"q\\\"b\\\\s\""},
        {std::string("n\nt\tz\0e\x7f", 8), "\"n\\u000at\\u0009z\\u0000e\\u007f\""},
        {"\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80", "\"\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80\""},
        {"\xC3", "\"\\u00c3\""},                                  // cut sequence
        {"\xC0\xAF", "\"\\u00c0\\u00af\""},                       // overlong
        {"\xED\xA0\x80", "\"\\u00ed\\u00a0\\u0080\""},            // surrogate
        {"\xF4\x90\x80\x80", "\"\\u00f4\\u0090\\u0080\\u0080\""}, // past U+10FFFF
    };
    for (const auto& c : cases) {
        std::string out;
        cRunRecord_appendString(&out, c.text);
        EXPECT_EQ(out, c.json);
    }

    // A failed file's record, with the containers it was found in; the other results and
    // members are read back from real runs by the fleet-run tests.
    cRunRecord r;
    r.input = "/data/logs/a.MFE";
    r.result = cRunRecordResult::FAILED;
    r.status = 2;
    r.message = "Could not decrypt file logs/a.MFE";
    r.containers = {"compressed", "encrypted"};
    r.bytes = 1234;
    r.seconds = 0.25;
    EXPECT_EQ(cRunRecord_json(r),
              "{\"input\":\"/data/logs/a.MFE\",\"output\":null,\"result\":\"failed\",\"status\":2,"
              "\"message\":\"Could not decrypt file logs/a.MFE\",\"frames\":0,\"left_out\":0,"
              "\"containers\":[\"compressed\",\"encrypted\"],\"device\":null,\"session\":null,"
              "\"split\":null,\"bytes\":1234,\"seconds\":0.250,\"deleted\":false}\n");
}

} // namespace
