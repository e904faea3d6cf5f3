#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <regex>
#include <string>
#include <unistd.h>

#include "app/cPasswordStore.h"
#include "logCapture.h"

namespace {

std::string writeTemp(const std::string& content) {
    char name[] = "/tmp/kv_pw_XXXXXX";
    int fd = mkstemp(name);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    close(fd);
    return name;
}

TEST(cPasswordStore, LooksUpSerialThenDefault) {
    LogCapture capture;
    cPasswordStore store;
    EXPECT_EQ(cPasswordStore_scan(&store, "{\n  \"default\": \"one\",\n  \"0000ABCD\": \"two\"\n}"),
              2u);
    ASSERT_NE(cPasswordStore_getForDevice(&store, 0xABCD), nullptr);
    EXPECT_EQ(*cPasswordStore_getForDevice(&store, 0xABCD), "two");
    EXPECT_EQ(*cPasswordStore_getForDevice(&store, 0x1234), "one");
    cPasswordStore empty;
    EXPECT_EQ(cPasswordStore_getForDevice(&empty, 0xABCD), nullptr);
    EXPECT_EQ(cPasswordStore_getForDevice(nullptr, 0xABCD), nullptr);
}

TEST(cPasswordStore, FileCasesThatMatter) {
    LogCapture capture;
    cPasswordStore store;
    const char* text = "{\"0000ABCD\":\"first\", \"0000ABCD\" : \"second\",\n"
                       "\"0000abcd\":\"lower\", \"ABCD\":\"short\",\n"
                       "\"12345678\"\n  :\n  \"split\\path\",\n"
                       "\"\":\"x\", \"87654321\":\"spans\nlines\", \"DEFAULT\":\"no\"}";
    cPasswordStore_scan(&store, text);
    EXPECT_EQ(LogCapture::lines(), "W Failed to insert key for \"0000ABCD\" in password storage\n");
    EXPECT_EQ(*cPasswordStore_get(&store, "0000ABCD"), "first");
    // Stored and counted, but a device look-up never finds them.
    EXPECT_EQ(*cPasswordStore_get(&store, "0000abcd"), "lower");
    EXPECT_EQ(*cPasswordStore_get(&store, "ABCD"), "short");
    EXPECT_EQ(*cPasswordStore_get(&store, ""), "x");
    EXPECT_EQ(*cPasswordStore_get(&store, "12345678"), "split\\path");
    EXPECT_EQ(cPasswordStore_get(&store, "87654321"), nullptr);
    EXPECT_EQ(cPasswordStore_get(&store, "DEFAULT"), nullptr);
    EXPECT_EQ(cPasswordStore_getForDevice(&store, 0xABC), nullptr);
    EXPECT_EQ(cPasswordStore_count(&store), 5u);
}

// The scanner must find exactly what the expression finds; std::regex is the reference on
// short texts (on long ones it runs out of stack).
TEST(cPasswordStore, ScannerAgreesWithTheExpression) {
    const std::regex expression("\\s*\"(default|[a-fA-F\\d]*)\"\\s*:\\s*\"(.*?)\"\\s*,?\\s*");
    const char alphabet[] = {'"', '"', '"', ':', ',', ' ', '\n', '\r', '\t',
                             'a', 'F', '0', '9', 'u', 'x', '\\', '{',  '\0'};
    const char* pieces[] = {"default", "\"default\"", "\":\"", "\" : \"", "\"AB\""};
    std::mt19937 random(7);
    for (int round = 0; round < 4000; ++round) {
        std::string text;
        const int length = random() % 40;
        for (int i = 0; i < length; ++i) {
            if (random() % 5 == 0)
                text += pieces[random() % 5];
            else
                text += alphabet[random() % sizeof alphabet];
        }
        std::string expected, found;
        for (auto it = std::sregex_iterator(text.begin(), text.end(), expression);
             it != std::sregex_iterator(); ++it)
            expected += (*it)[1].str() + "=" + (*it)[2].str() + "@" +
                        std::to_string(it->position() + it->length()) + ";";
        size_t from = 0, end = 0;
        std::string_view key, password;
        while (cPasswordStore_findEntry(text, from, &end, &key, &password)) {
            found +=
                std::string(key) + "=" + std::string(password) + "@" + std::to_string(end) + ";";
            from = end;
        }
        ASSERT_EQ(found, expected) << "text: " << text;
    }
}

TEST(cPasswordStore, LongTextsDoNotExhaustTheStack) {
    cPasswordStore store;
    const std::string longValue(1000000, 'p');
    std::string text = std::string(1000000, ' ') + "\"default\":\"" + longValue + "\"";
    EXPECT_EQ(cPasswordStore_scan(&store, text), 1u);
    EXPECT_EQ(cPasswordStore_get(&store, "default")->size(), longValue.size());
}

TEST(cPasswordStore, LoadingFiles) {
    LogCapture capture;
    int status = 0;
    cPasswordStore store;
    const std::string path = writeTemp("{\"default\": \"pw\"}");
    EXPECT_TRUE(cPasswordStore_load(&store, path, true, &status));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(*cPasswordStore_getForDevice(&store, 1), "pw");
    std::remove(path.c_str());

    // The default file may be missing: silently an empty store.
    cPasswordStore none;
    EXPECT_TRUE(cPasswordStore_load(&none, path, false, &status));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(cPasswordStore_count(&none), 0u);
    EXPECT_EQ(LogCapture::lines(), "");

    // A named file that is missing stops the run with status 1.
    EXPECT_FALSE(cPasswordStore_load(&none, path, true, &status));
    EXPECT_EQ(status, 1);
    EXPECT_EQ(LogCapture::lines(), "E Failed to open password file at " + path + "\n");

    // A folder opens but reads nothing: empty store, run goes on.
    status = 0;
    EXPECT_TRUE(cPasswordStore_load(&none, "/tmp", true, &status));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(cPasswordStore_count(&none), 0u);
}

} // namespace
