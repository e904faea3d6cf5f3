#include <gtest/gtest.h>

#include <ctime>
#include <regex>
#include <string>
#include <vector>

#include "support/cstr_support.h"
#include "support/log.h"

namespace {

std::vector<std::string> g_lines;

// Captures the log lines written while it lives, at the given output level.
struct LogCapture {
    int savedLevel = zf_log_get_output_level();
    explicit LogCapture(int level) {
        g_lines.clear();
        zf_log_set_output_callback(
            [](const char* line, int length) { g_lines.emplace_back(line, length); });
        zf_log_set_output_level(level);
    }
    ~LogCapture() {
        zf_log_set_output_callback(nullptr);
        zf_log_set_output_level(savedLevel);
    }
};

// The captured lines from their level letters on (the process and thread columns may grow
// past 5); "!" for a line of another layout.
std::string bodies() {
    std::string out;
    std::smatch m;
    for (const std::string& l : g_lines)
        out += std::regex_match(l, m, std::regex(R"(^\S+ \S+ +\d+ +\d+ (. [^]*)$)")) ? m[1].str()
                                                                                     : "!\n";
    return out;
}

} // namespace

TEST(CstrSupport, HexBufferSeparatorsAndCase) {
    const unsigned char bytes[] = {0x01, 0xAB, 0xFF}, dead[] = {0xDE, 0xAD};
    auto hex = [](std::string s, const unsigned char* data, size_t n, char separator, bool upper) {
        cstr_support_append_hex_buffer(&s, data, n, separator, upper);
        return s;
    };
    EXPECT_EQ(hex("x", bytes, 3, ' ', true), "x01 AB FF");
    EXPECT_EQ(hex("", bytes, 1, ' ', true), "01");
    EXPECT_EQ(hex("", dead, 2, 0, false), "dead");
    EXPECT_EQ(hex("keep", dead, 0, ' ', true), "keep");
}

TEST(CstrSupport, AppendFmtAndStrftimeKeepTextAndGrow) {
    std::string s = "ab";
    s.reserve(8);
    cstr_support_append_fmt(&s, "%s-%05d", "a-long-piece-of-text-beyond-capacity", 42);
    cstr_support_append_fmt(&s, "%s", "");
    EXPECT_EQ(s, "aba-long-piece-of-text-beyond-capacity-00042");
    std::string empty;
    cstr_support_append_fmt(&empty, "%d", 7);
    EXPECT_EQ(empty, "7");
    struct tm t = {};
    t.tm_year = 126;
    t.tm_mon = 11;
    t.tm_mday = 6;
    std::string date = ">";
    cstr_support_strftime(&date, "%Y-%m-%d", &t);
    EXPECT_EQ(date, ">2026-12-06");
    // "%p" expands to nothing in some locales, which strftime reports like a buffer too
    // small: the append must end and add exactly what strftime gives.
    char ampm[16];
    const size_t n = strftime(ampm, sizeof ampm, "%p", &t);
    cstr_support_strftime(&date, "%p", &t);
    EXPECT_EQ(date, ">2026-12-06" + std::string(ampm, n));
}

TEST(Log, LineLayoutLevelLettersAndFilter) {
    {
        LogCapture capture(ZF_LOG_VERBOSE);
        ZF_LOGE("Could not decompress file");
        ZF_LOGV("v");
        ZF_LOGD("d");
        ZF_LOGI("i %d", 3);
        ZF_LOGW("w");
        ZF_LOGF("f");
        _zf_log_write(9, nullptr, "odd");
        ASSERT_EQ(g_lines.size(), 7u);
        EXPECT_TRUE(std::regex_match(
            g_lines[0], std::regex(R"(^\d\d-\d\d \d\d:\d\d:\d\d\.\d\d\d [ \d]{4}\d+ [ \d]{4}\d+ )"
                                   R"(E Could not decompress file\n$)")))
            << g_lines[0];
        EXPECT_EQ(bodies(), "E Could not decompress file\nV v\nD d\nI i 3\nW w\nF f\n? odd\n");
    }
    LogCapture capture(ZF_LOG_ERROR);
    ZF_LOGI("Found compressed file");
    ZF_LOGW("warning");
    ZF_LOGE("error");
    ZF_LOGF("fatal");
    EXPECT_EQ(bodies(), "E error\nF fatal\n");
}

TEST(Log, LongMessageIsCutAt510Characters) {
    LogCapture capture(ZF_LOG_VERBOSE);
    ZF_LOGE("%s", std::string(600, 'x').c_str());
    ASSERT_EQ(g_lines.size(), 1u);
    EXPECT_EQ(g_lines[0].size(), 511u);
    EXPECT_EQ(g_lines[0].substr(508), "xx\n");
}
