#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <regex>
#include <string>

#include "app/cPasswordStore.h"
#include "logCapture.h"

namespace {

TEST(cPasswordStore, FileCasesThatMatter) {
    LogCapture capture;
    cPasswordStore store;
    cPasswordStore_scan(&store, "{\"0000ABCD\":\"first\", \"0000ABCD\" : \"second\",\n"
                                "\"0000abcd\":\"lower\", \"ABCD\":\"short\",\n"
                                "\"12345678\"\n  :\n  \"split\\path\",\n"
                                "\"\":\"x\", \"87654321\":\"spans\nlines\", \"DEFAULT\":\"no\"}");
    EXPECT_EQ(LogCapture::lines(), "W Failed to insert key for \"0000ABCD\" in password storage\n");
    EXPECT_EQ(cPasswordStore_count(&store), 5u);
    std::string found; // "0000abcd", "ABCD" and "" are stored, but no device look-up finds them
    for (const char* key : {"0000ABCD", "0000abcd", "ABCD", "", "12345678", "87654321", "00000ABC"})
        found += cPasswordStore_get(&store, key) ? *cPasswordStore_get(&store, key) + "," : "-,";
    EXPECT_EQ(found, "first,lower,short,x,split\\path,-,-,");
    EXPECT_EQ(*cPasswordStore_getForDevice(&store, 0xABCD), "first");
    EXPECT_EQ(*cPasswordStore_getForDevice(&store, 0x12345678), "split\\path");
    EXPECT_EQ(cPasswordStore_getForDevice(&store, 0xABC), nullptr); // and no "default"
    cPasswordStore_scan(&store, "\"default\": \"one\"");
    EXPECT_EQ(*cPasswordStore_getForDevice(&store, 0xABC), "one");
    EXPECT_EQ(cPasswordStore_getForDevice(nullptr, 0xABCD), nullptr);
}

// The scanner must find exactly what the expression finds; std::regex is the reference on
// short texts (on long ones it runs out of stack).
TEST(cPasswordStore, ScannerAgreesWithTheExpression) {
    const std::regex expression("\\s*\"(default|[a-fA-F\\d]*)\"\\s*:\\s*\"(.*?)\"\\s*,?\\s*");
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
            expected += (*it)[1].str() + "=" + (*it)[2].str() + "@" +
                        std::to_string(it->position() + it->length()) + ";";
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

TEST(cPasswordStore, LoadingFiles) {
    LogCapture capture;
    int status = 0;
    cPasswordStore store;
    const std::string path = "/tmp/kv_pw_" + std::to_string(getpid()) + ".json";
    std::ofstream(path) << "{\"default\": \"pw\"}";
    EXPECT_TRUE(cPasswordStore_load(&store, path, true, &status));
    EXPECT_EQ(*cPasswordStore_getForDevice(&store, 1), "pw");
    std::remove(path.c_str());
    // A missing default file: silently nothing. A named one: status 1 and the message.
    cPasswordStore none;
    EXPECT_TRUE(cPasswordStore_load(&none, path, false, &status));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(LogCapture::lines(), "");
    EXPECT_FALSE(cPasswordStore_load(&none, path, true, &status));
    EXPECT_EQ(status, 1);
    EXPECT_EQ(LogCapture::lines(), "E Failed to open password file at " + path + "\n");
    // A folder opens but reads nothing: an empty store, and the run goes on.
    EXPECT_TRUE(cPasswordStore_load(&none, "/tmp", true, &status));
    EXPECT_EQ(cPasswordStore_count(&none), 0u);
}

} // namespace
