#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/cArgParser.h"

namespace {

TEST(cArgParser, IntegerValues) {
    const struct {
        const char* text;
        int rc;
        int32_t value;
    } cases[] = {
        {"-1", cArg_OK, -1},
        {"+17", cArg_OK, 17},
        {"1MB", cArg_OK, 1048576},
        {"4kB", cArg_OK, 4096},
        {"1gb", cArg_OK, 1 << 30},
        {"0XfF", cArg_OK, 255},
        {"0o17", cArg_OK, 15},
        {"0B1KB", cArg_OK, 1024},
        {"-0x10", cArg_OK, -16},
        {"010", cArg_OK, 10},
        {"2147483647", cArg_OK, INT32_MAX},
        {"-2GB", cArg_OK, INT32_MIN},
        {"2147483648", cArg_ERR_OVERFLOW, 0},
        {"2GB", cArg_ERR_OVERFLOW, 0},
        {"-2147483649", cArg_ERR_OVERFLOW, 0},
        {"99999999999999999999999", cArg_ERR_OVERFLOW, 0},
        {"", cArg_ERR_BADINT, 0},
        {"0x", cArg_ERR_BADINT, 0},
        {"0b2", cArg_ERR_BADINT, 0},
        {"12 ", cArg_ERR_BADINT, 0},
        {"1TB", cArg_ERR_BADINT, 0},
        {"1K", cArg_ERR_BADINT, 0},
        {"-", cArg_ERR_BADINT, 0},
    };
    for (const auto& c : cases) {
        int32_t value = 12345;
        EXPECT_EQ(cArg_parseInt(c.text, &value), c.rc) << c.text;
        if (c.rc == cArg_OK) EXPECT_EQ(value, c.value) << c.text;
    }
}

struct Fixture {
    cArgTable table{};
    cArgOption* flag = cArgOption_ctor(&cArgKind_literal, 'd', "delete", "", "", 0, 1);
    cArgOption* number = cArgOption_ctor(&cArgKind_int, 'b', "buffer", "<n>", "", 0, 1);
    cArgOption* word = cArgOption_ctor(&cArgKind_text, 0, "word", "<w>", "", 0, 1);
    cArgOption* files = cArgOption_ctor(&cArgKind_text, 0, nullptr, "file(s)", "", 1, 100);
    Fixture() {
        for (cArgOption* o : {flag, number, word, files})
            cArgTable_add(&table, o);
        cArgTable_add(&table, cArgOption_ctor(&cArgKind_literal, 0, "delay", "", "", 0, 1));
    }
    bool parse(std::vector<const char*> args) {
        args.insert(args.begin(), "prog");
        return cArgTable_parse(&table, static_cast<int>(args.size()), args.data());
    }
    std::string errors() {
        std::string text;
        cArgTable_errorText(&table, "prog", &text);
        return text;
    }
};

TEST(cArgParser, ScansValuesInEveryForm) {
    Fixture f;
    ASSERT_TRUE(f.parse({"a", "-db7", "--word", "-x", "b", "--", "-c"}));
    EXPECT_EQ(f.flag->count, 1);
    EXPECT_EQ(f.number->ints, std::vector<int32_t>{7});
    EXPECT_EQ(f.word->values, std::vector<std::string>{"-x"}); // the next argument, whatever it is
    EXPECT_EQ(f.files->values, (std::vector<std::string>{"a", "b", "-c"}));
    ASSERT_TRUE(f.parse({"--buf=0x10", "--dela", "-", "--word=a=b"}));
    EXPECT_EQ(f.number->ints, std::vector<int32_t>{16}); // counts and values start afresh
    EXPECT_EQ(f.flag->count, 0);
    EXPECT_EQ(f.files->values, std::vector<std::string>{"-"});
    EXPECT_EQ(f.word->values, std::vector<std::string>{"a=b"});
}

TEST(cArgParser, ErrorTexts) {
    const struct {
        std::vector<const char*> args;
        int firstError;
        const char* text;
    } cases[] = {
        {{"x", "--buffer"},
         cArg_ERR_MISSING_VALUE,
         "prog: option \"--buffer\" requires an argument\n"},
        {{"x", "-b"}, cArg_ERR_MISSING_VALUE, "prog: option \"-b\" requires an argument\n"},
        {{"x", "-bzz"},
         cArg_ERR_BADINT,
         "prog: invalid argument \"zz\" to option -b|--buffer=<n>\n"},
        {{"x", "--de"}, cArg_ERR_UNKNOWN_LONG, "prog: invalid option \"--de\"\n"}, // ambiguous
        {{"x", "--delete=1"}, cArg_ERR_UNKNOWN_LONG, "prog: invalid option \"--delete=1\"\n"},
        {{"-q", "--word=a", "--word=b"},
         cArg_ERR_UNKNOWN_SHORT,
         "prog: invalid option \"-q\"\nprog: excess option --word=b\nprog: missing option "
         "file(s)\n"},
    };
    for (const auto& c : cases) {
        Fixture f;
        EXPECT_FALSE(f.parse(c.args)) << c.text;
        ASSERT_FALSE(f.table.errors.empty()) << c.text;
        EXPECT_EQ(f.table.errors[0].error, c.firstError) << c.text;
        EXPECT_EQ(f.errors(), c.text);
    }
}

TEST(cArgParser, KeepsTwentyErrorsAndSaysThereWereMore) {
    Fixture f;
    std::vector<const char*> args(25, "-q");
    args.push_back("x");
    EXPECT_FALSE(f.parse(args));
    ASSERT_EQ(f.table.errors.size(), cArgTable_MAX_ERRORS);
    EXPECT_EQ(f.table.errors[18].error, cArg_ERR_UNKNOWN_SHORT);
    const std::string text = f.errors();
    EXPECT_EQ(text.substr(text.size() - 33), "prog: too many errors to display\n");
}

} // namespace
