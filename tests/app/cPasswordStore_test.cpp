#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <regex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "app/cPasswordStore.h"
#include "logCapture.h"

namespace {

// The scanner must find exactly what the expression finds; std::regex is the reference on
// short texts (on long ones it runs out of stack). A password is a JSON string, or, where that
// finds no end on its line, everything up to the next quote (the old reading).
TEST(cPasswordStore, ScannerAgreesWithTheExpression) {
    const std::regex expression("\\s*\"(default|[a-fA-F\\d]*)\"\\s*:\\s*"
                                "(?:\"((?:[^\"\\\\\\r\\n]|\\\\[^\\r\\n])*)\"|\"([^\"\\r\\n]*)\")"
                                "\\s*,?\\s*");
    const char alphabet[] = "\"\"\":, \n\r\taF09ux\\{";
    const char* pieces[] = {"default", "\"default\"", "\":\"", "\" : \"", "\"AB\""};
    std::mt19937 random(7);
    for (int round = 0; round < 4000; ++round) {
        std::string text;
        for (int i = random() % 40; i > 0; --i)
            if (random() % 5 == 0)
                text += pieces[random() % 5];
            else
                text += alphabet[random() % sizeof alphabet]; // includes the NUL
        std::string expected, found;
        for (auto it = std::sregex_iterator(text.begin(), text.end(), expression);
             it != std::sregex_iterator(); ++it)
            expected += (*it)[1].str() + "=" + ((*it)[2].matched ? (*it)[2] : (*it)[3]).str() +
                        "@" + std::to_string(it->position() + it->length()) + ";";
        size_t from = 0, end = 0;
        std::string_view key, password;
        for (; cPasswordStore_findEntry(text, from, &end, &key, &password); from = end)
            found +=
                std::string(key) + "=" + std::string(password) + "@" + std::to_string(end) + ";";
        ASSERT_EQ(found, expected) << "text: " << text;
    }
    cPasswordStore store; // a million blanks and a million-byte password: no deep recursion
    EXPECT_EQ(cPasswordStore_scan(&store, std::string(1000000, ' ') + "\"default\":\"" +
                                              std::string(1000000, 'p') + "\""),
              1u);
}

// JSON string escapes as json.dump and jq write them, decoded to UTF-8; what JSON does not
// know is refused, so the text is then taken as it stands.
TEST(cPasswordStore, DecodesJsonEscapes) {
    const struct {
        const char* written;
        bool ok;
        const char* decoded;
    } cases[] = {
        {"plain", true, "plain"},
        {"a\\\\b\\\"c\\/d", true, "a\\b\"c/d"},
        {"\\b\\f\\n\\r\\t", true, "\b\f\n\r\t"},
        {"\\u00e4\\u00C4x", true, "\xC3\xA4\xC3\x84x"},
        {"\\u20ac", true, "\xE2\x82\xAC"},
        {"\\ud83d\\ude00", true, "\xF0\x9F\x98\x80"}, // a surrogate pair
        {"\\u0041\\u007f", true, "A\x7F"},
        {"C:\\data", false, ""}, // no JSON escape: an old file's backslash
        {"tail\\", false, ""},   // a backslash with nothing after it
        {"\\u12", false, ""},    // too few digits
        {"\\u12g4", false, ""},  // no hexadecimal digit
        {"\\ud83d", false, ""},  // the first half of a pair alone
        {"\\ud83dx\\ude00", false, ""},
        {"\\ude00", false, ""},        // the second half alone
        {"\\ud83d\\u0041", false, ""}, // a pair's second half that is none
    };
    for (const auto& c : cases) {
        std::string out;
        EXPECT_EQ(cPasswordStore_decode(c.written, &out), c.ok) << c.written;
        if (c.ok) {
            EXPECT_EQ(out, c.decoded) << c.written;
        }
    }

    // The store keeps the decoded password and, where it differs, the raw text; an old-style
    // password ending in a backslash ends at its quote.
    cPasswordStore store;
    EXPECT_EQ(cPasswordStore_scan(&store, "{\"00000001\": \"a\\\\b\\\"c\\u00e4\",\n"
                                          " \"00000002\": \"C:\\new\",\n"
                                          " \"00000003\": \"C:\\data\",\n"
                                          " \"default\": \"end\\\",\n}"),
              4u);
    const cPasswordStore_choice one = cPasswordStore_choose(&store, 1);
    EXPECT_EQ(*one.password, "a\\b\"c\xC3\xA4");
    EXPECT_EQ(*one.raw, "a\\\\b\\\"c\\u00e4");
    EXPECT_EQ(one.entry, "00000001");
    const cPasswordStore_choice two = cPasswordStore_choose(&store, 2);
    EXPECT_EQ(*two.password, "C:\new");
    EXPECT_EQ(*two.raw, "C:\\new");
    const cPasswordStore_choice three = cPasswordStore_choose(&store, 3);
    EXPECT_EQ(*three.password, "C:\\data");
    EXPECT_EQ(three.raw, nullptr);
    const cPasswordStore_choice other = cPasswordStore_choose(&store, 0xABCD);
    EXPECT_EQ(other.entry, "default");
    EXPECT_EQ(*other.password, "end\\");
    cPasswordStore empty;
    EXPECT_EQ(cPasswordStore_choose(&empty, 1).password, nullptr);
}

// Every kind of path a user can name, as -p and as the default file: what is logged, the
// status and whether the run goes on. None of them may block (a FIFO has no writer here).
TEST(cPasswordStore, LoadingFiles) {
    char name[] = "/tmp/kv_pw_XXXXXX";
    const std::string dir = std::string(mkdtemp(name)) + "/";
    std::ofstream(dir + "good.json") << "{\"default\": \"pw\", \"0000ABCD\": \"x\"}";
    std::ofstream(dir + "odd.json") << "{\"0000abcd\": \"lower\", \"ABC\": \"short\"}";
    std::ofstream(dir + "junk.json") << "default = pw\n0000ABCD: x\n";
    ASSERT_EQ(mkfifo((dir + "fifo").c_str(), 0600), 0);
    mkdir((dir + "folder").c_str(), 0700);
    const std::string unusable = " can never be used: a device is looked up as eight upper-case "
                                 "hexadecimal digits (\"0000ABCD\") or as \"default\"\n";
    const struct {
        const char* file;
        bool explicitlyGiven;
        bool goesOn;
        size_t count;
        std::string log;
    } cases[] = {
        {"good.json", true, true, 2, ""},
        {"odd.json", true, true, 2,
         "W Password for \"0000abcd\"" + unusable + "W Password for \"ABC\"" + unusable},
        {"junk.json", true, true, 0,
         "W Password file " + dir +
             "junk.json holds no entry of the form \"0000ABCD\": "
             "\"password\"\n"},
        {"missing.json", false, true, 0, ""},
        {"missing.json", true, false, 0,
         "E Failed to open password file at " + dir + "missing.json: No such file or directory\n"},
        {"fifo", true, false, 0,
         "E Failed to open password file at " + dir + "fifo: it is not a regular file\n"},
        {"fifo", false, true, 0,
         "W Password file " + dir + "fifo ignored: it is not a regular file\n"},
        {"folder", true, false, 0,
         "E Failed to open password file at " + dir + "folder: it is a folder\n"},
        {"folder", false, true, 0, "W Password file " + dir + "folder ignored: it is a folder\n"},
    };
    for (const auto& c : cases) {
        LogCapture capture;
        int status = 0;
        cPasswordStore store;
        const bool goesOn = cPasswordStore_load(&store, dir + c.file, c.explicitlyGiven, &status);
        EXPECT_TRUE(goesOn == c.goesOn && status == (c.goesOn ? 0 : 1)) << c.file << status;
        EXPECT_EQ(cPasswordStore_count(&store), c.count) << c.file;
        EXPECT_EQ(LogCapture::lines(), c.log) << c.file;
    }
    EXPECT_EQ(std::system(("rm -rf " + dir).c_str()), 0);
}

} // namespace
