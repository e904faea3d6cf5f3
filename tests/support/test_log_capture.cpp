#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/log.h"

namespace {

std::mutex g_sinkMutex;
std::vector<std::string> g_writes; // one entry per sink call

struct SinkGuard {
    int savedLevel = zf_log_get_output_level();
    SinkGuard() {
        g_writes.clear();
        zf_log_set_output_callback([](const char* text, int length) {
            std::lock_guard<std::mutex> lock(g_sinkMutex);
            g_writes.emplace_back(text, length);
        });
        zf_log_set_output_level(ZF_LOG_INFO);
    }
    ~SinkGuard() {
        zf_log_set_output_callback(nullptr);
        zf_log_set_output_level(savedLevel);
    }
};

// The messages of a block of lines, without the time and process columns.
std::string messages(const std::string& block) {
    std::string out;
    for (size_t start = 0, end = 0; start < block.size(); start = end + 1) {
        const std::string line = block.substr(start, (end = block.find('\n', start)) - start);
        out += line.substr(line.find_first_not_of("0123456789 ", 18)) + "|";
    }
    return out;
}

TEST(LogCapture, CapturedLinesWaitWhileOtherThreadsLogAndLeaveAsOneBlock) {
    SinkGuard guard;
    std::string held;
    zf_log_capture_begin(&held);
    ZF_LOGI("first of file %d", 7);
    std::thread other([] { ZF_LOGW("from another thread"); });
    other.join();
    ZF_LOGV("below the output level");
    ZF_LOGE("second of file %d", 7);
    zf_log_capture_end();
    ZF_LOGI("after the capture");

    ASSERT_EQ(g_writes.size(), 2u);
    EXPECT_EQ(messages(g_writes[0]) + messages(g_writes[1]) + messages(held),
              "W from another thread|I after the capture|I first of file 7|E second of file 7|");

    zf_log_output_block(held);
    ASSERT_EQ(g_writes.size(), 3u);
    EXPECT_EQ(g_writes[2], held);
    zf_log_output_block(std::string());
    EXPECT_EQ(g_writes.size(), 3u);
}

// A message of any length stays one line: cut where the line would pass the limit, at the
// limit itself and not before, and still ending in its line feed.
TEST(LogCapture, LongMessagesStayOneLineCutAtTheLimit) {
    SinkGuard guard;
    ZF_LOGE("x");
    ASSERT_EQ(g_writes.size(), 1u);
    const size_t header = g_writes[0].size() - 2; // time, ids and level before the message
    const size_t room = size_t(ZF_LOG_LINE_MAX) - header;
    for (size_t n : {room - 1, room, room + 1, 10 * room}) {
        SCOPED_TRACE(n);
        g_writes.clear();
        ZF_LOGE("%s", (std::string(n - 1, 'x') + 'y').c_str());
        ASSERT_EQ(g_writes.size(), 1u);
        const std::string& line = g_writes[0];
        EXPECT_EQ(line.size(), header + std::min(n, room) + 1);
        EXPECT_EQ(line.find('\n'), line.size() - 1);
        EXPECT_EQ(line[line.size() - 2], n <= room ? 'y' : 'x');
    }
}

} // namespace
