#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "support/cstr_support.h"
#include "support/log.h"

namespace {

std::vector<std::string> g_lines;
void captureLine(const char* line, int length) {
    g_lines.emplace_back(line, length);
}

struct LogCapture {
    int savedLevel = zf_log_get_output_level();
    LogCapture() {
        g_lines.clear();
        zf_log_set_output_callback(captureLine);
    }
    ~LogCapture() {
        zf_log_set_output_callback(nullptr);
        zf_log_set_output_level(savedLevel);
    }
};

} // namespace

TEST(CstrSupport, HexBufferSeparatorsAndCase) {
    const unsigned char bytes[] = {0x01, 0xAB, 0xFF};
    std::string s = "x";
    cstr_support_append_hex_buffer(&s, bytes, 3, ' ', true);
    EXPECT_EQ(s, "x01 AB FF");

    std::string one;
    cstr_support_append_hex_buffer(&one, bytes, 1, ' ', true);
    EXPECT_EQ(one, "01");

    const unsigned char dead[] = {0xDE, 0xAD};
    std::string lower;
    cstr_support_append_hex_buffer(&lower, dead, 2, 0, false);
    EXPECT_EQ(lower, "dead");

    std::string none = "keep";
    cstr_support_append_hex_buffer(&none, dead, 0, ' ', true);
    EXPECT_EQ(none, "keep");
}

TEST(CstrSupport, AppendFmtKeepsTextAndGrows) {
    std::string s = "ab";
    s.reserve(8);
    cstr_support_append_fmt(&s, "%s-%05d", "a-long-piece-of-text-beyond-capacity", 42);
    EXPECT_EQ(s, "aba-long-piece-of-text-beyond-capacity-00042");
    cstr_support_append_fmt(&s, "%s", "");
    EXPECT_EQ(s.size(), 44u);
    std::string empty;
    cstr_support_append_fmt(&empty, "%d", 7);
    EXPECT_EQ(empty, "7");
}

TEST(CstrSupport, StrftimeAppendsAndEmptyExpansionEnds) {
    struct tm t = {};
    t.tm_year = 126;
    t.tm_mon = 11;
    t.tm_mday = 6;
    std::string s = ">";
    cstr_support_strftime(&s, "%Y-%m-%d", &t);
    EXPECT_EQ(s, ">2026-12-06");
    cstr_support_strftime(&s, "%p", &t); // may legitimately expand to nothing in some locales
    SUCCEED();
}

TEST(Log, LineLayoutAndLevelLetters) {
    LogCapture capture;
    zf_log_set_output_level(ZF_LOG_VERBOSE);
    ZF_LOGE("Could not decompress file");
    ZF_LOGV("v");
    ZF_LOGD("d");
    ZF_LOGI("i %d", 3);
    ZF_LOGW("w");
    ZF_LOGF("f");
    _zf_log_write(9, nullptr, "odd");
    ASSERT_EQ(g_lines.size(), 7u);
    std::regex layout(
        R"(^\d\d-\d\d \d\d:\d\d:\d\d\.\d\d\d [ \d]{4}\d+ [ \d]{4}\d+ E Could not decompress file\n$)");
    EXPECT_TRUE(std::regex_match(g_lines[0], layout)) << g_lines[0];
    const char letters[] = {'E', 'V', 'D', 'I', 'W', 'F', '?'};
    std::regex fields(R"(^\S+ \S+ +\d+ +\d+ (.) (.*)\n$)");
    for (size_t i = 0; i < g_lines.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(g_lines[i], m, fields)) << g_lines[i];
        EXPECT_EQ(m[1].str()[0], letters[i]) << g_lines[i];
    }
    std::smatch m;
    ASSERT_TRUE(std::regex_match(g_lines[3], m, fields));
    EXPECT_EQ(m[2].str(), "i 3");
}

TEST(Log, OutputLevelFiltersBelowIt) {
    LogCapture capture;
    zf_log_set_output_level(ZF_LOG_ERROR);
    ZF_LOGI("Found compressed file");
    ZF_LOGW("warning");
    ZF_LOGE("error");
    ZF_LOGF("fatal");
    ASSERT_EQ(g_lines.size(), 2u);
    EXPECT_NE(g_lines[0].find(" E error"), std::string::npos);
}

TEST(Log, LongMessageIsCutAt510Characters) {
    LogCapture capture;
    zf_log_set_output_level(ZF_LOG_VERBOSE);
    std::string text(600, 'x');
    ZF_LOGE("%s", text.c_str());
    ASSERT_EQ(g_lines.size(), 1u);
    EXPECT_EQ(g_lines[0].size(), 511u);
    EXPECT_EQ(g_lines[0].back(), '\n');
    EXPECT_EQ(g_lines[0][509], 'x');
}
