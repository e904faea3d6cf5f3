#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/cArgParser.h"

namespace {

struct IntCase {
    const char* text;
    int rc;
    int32_t value;
};

TEST(cArgParser, IntegerValues) {
    const IntCase cases[] = {
        {"0", cArg_OK, 0},
        {"-1", cArg_OK, -1},
        {"+17", cArg_OK, 17},
        {"1MB", cArg_OK, 1048576},
        {"1mb", cArg_OK, 1048576},
        {"4kB", cArg_OK, 4096},
        {"1GB", cArg_OK, 1073741824},
        {"0x1F", cArg_OK, 31},
        {"0XfF", cArg_OK, 255},
        {"0o17", cArg_OK, 15},
        {"0O7", cArg_OK, 7},
        {"0b101", cArg_OK, 5},
        {"0B1KB", cArg_OK, 1024},
        {"-0x10", cArg_OK, -16},
        {"010", cArg_OK, 10},
        {"2147483647", cArg_OK, 2147483647},
        {"-2147483648", cArg_OK, INT32_MIN},
        {"2147483648", cArg_ERR_OVERFLOW, 0},
        {"-2147483649", cArg_ERR_OVERFLOW, 0},
        {"2GB", cArg_ERR_OVERFLOW, 0},
        {"-2GB", cArg_OK, INT32_MIN},
        {"2097152KB", cArg_ERR_OVERFLOW, 0},
        {"99999999999999999999999999", cArg_ERR_OVERFLOW, 0},
        {"0xFFFFFFFFFFFFFFFFFFFF", cArg_ERR_OVERFLOW, 0},
        {"", cArg_ERR_BADINT, 0},
        {"abc", cArg_ERR_BADINT, 0},
        {"0x", cArg_ERR_BADINT, 0},
        {"0b2", cArg_ERR_BADINT, 0},
        {"12 ", cArg_ERR_BADINT, 0},
        {"1TB", cArg_ERR_BADINT, 0},
        {"1K", cArg_ERR_BADINT, 0},
        {"-", cArg_ERR_BADINT, 0},
        {"1MBx", cArg_ERR_BADINT, 0},
    };
    for (const IntCase& c : cases) {
        int32_t value = 12345;
        EXPECT_EQ(cArg_parseInt(c.text, &value), c.rc) << c.text;
        if (c.rc == cArg_OK) EXPECT_EQ(value, c.value) << c.text;
    }
    int32_t value = 0;
    EXPECT_EQ(cArg_parseInt(nullptr, &value), cArg_ERR_BADINT);
}

struct Fixture {
    cArgTable table;
    cArgOption* flag;
    cArgOption* number;
    cArgOption* word;
    cArgOption* files;
    Fixture() {
        table.argCount = 0;
        flag = cArgOption_ctor(&cArgKind_literal, 'd', "delete", "", "drop it", 0, 1);
        number = cArgOption_ctor(&cArgKind_int, 'b', "buffer", "<n>", "size", 0, 1);
        word = cArgOption_ctor(&cArgKind_text, 0, "word", "<w>", "", 0, 1);
        files = cArgOption_ctor(&cArgKind_text, 0, nullptr, "file(s)", "", 1, 100);
        cArgTable_add(&table, flag);
        cArgTable_add(&table, number);
        cArgTable_add(&table, word);
        cArgTable_add(&table, files);
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
    ASSERT_EQ(f.number->ints.size(), 1u);
    EXPECT_EQ(f.number->ints[0], 7);
    ASSERT_EQ(f.word->values.size(), 1u);
    EXPECT_EQ(f.word->values[0], "-x"); // the next argument is taken whatever it looks like
    EXPECT_EQ(f.files->values, (std::vector<std::string>{"a", "b", "-c"}));

    ASSERT_TRUE(f.parse({"--buf=0x10", "--del", "-", "--word=a=b"}));
    EXPECT_EQ(f.number->ints[0], 16);
    EXPECT_EQ(f.flag->count, 1);
    EXPECT_EQ(f.files->values, (std::vector<std::string>{"-"}));
    EXPECT_EQ(f.word->values[0], "a=b");
}

struct ErrorCase {
    std::vector<const char*> args;
    int firstError;
    const char* text;
};

TEST(cArgParser, ErrorsAndTheirTexts) {
    const ErrorCase cases[] = {
        {{"-d", "-d", "x"}, cArg_ERR_EXCESS, "prog: extraneous option -d|--delete\n"},
        {{"-b1", "--buffer", "2", "x"}, cArg_ERR_EXCESS, "prog: excess option -b|--buffer=2\n"},
        {{"-d"}, cArg_ERR_MISSING, "prog: missing option file(s)\n"},
        {{"x", "--buffer"},
         cArg_ERR_MISSING_VALUE,
         "prog: option \"--buffer\" requires an argument\n"},
        {{"x", "-b"}, cArg_ERR_MISSING_VALUE, "prog: option \"-b\" requires an argument\n"},
        {{"x", "-b", "zz"},
         cArg_ERR_BADINT,
         "prog: invalid argument \"zz\" to option -b|--buffer=<n>\n"},
        {{"x", "-b3GB"},
         cArg_ERR_OVERFLOW,
         "prog: integer overflow at option -b|--buffer=<n> (3GB is too large)\n"},
        {{"x", "--nope=1"}, cArg_ERR_UNKNOWN_LONG, "prog: invalid option \"--nope=1\"\n"},
        {{"x", "--delete=1"}, cArg_ERR_UNKNOWN_LONG, "prog: invalid option \"--delete=1\"\n"},
        {{"x", "-dq"}, cArg_ERR_UNKNOWN_SHORT, "prog: invalid option \"-q\"\n"},
        {{"-q", "--x"},
         cArg_ERR_UNKNOWN_SHORT,
         "prog: invalid option \"-q\"\nprog: invalid option \"--x\"\nprog: missing option "
         "file(s)\n"},
    };
    for (const ErrorCase& c : cases) {
        Fixture f;
        EXPECT_FALSE(f.parse(c.args)) << c.text;
        ASSERT_FALSE(f.table.errors.empty()) << c.text;
        EXPECT_EQ(f.table.errors[0].error, c.firstError) << c.text;
        EXPECT_EQ(f.errors(), c.text);
    }
}

TEST(cArgParser, AmbiguousPrefixIsUnknown) {
    Fixture f;
    cArgTable_add(&f.table, cArgOption_ctor(&cArgKind_literal, 0, "delay", "", "", 0, 1));
    EXPECT_FALSE(f.parse({"x", "--de"}));
    EXPECT_EQ(f.errors(), "prog: invalid option \"--de\"\n");
    EXPECT_TRUE(f.parse({"x", "--dela"}));
}

TEST(cArgParser, KeepsTwentyErrorsAndSaysThereWereMore) {
    Fixture f;
    std::vector<const char*> args(25, "-q");
    args.push_back("x");
    EXPECT_FALSE(f.parse(args));
    ASSERT_EQ(f.table.errors.size(), cArgTable_MAX_ERRORS);
    EXPECT_EQ(f.table.errors[18].error, cArg_ERR_UNKNOWN_SHORT);
    EXPECT_EQ(f.table.errors[19].error, cArg_ERR_TOO_MANY);
    const std::string text = f.errors();
    EXPECT_NE(text.find("prog: too many errors to display\n"), std::string::npos);
}

int failingCheck(cArgOption* option, void* user) {
    ++*static_cast<int*>(user);
    return option->count == 0 ? 0 : 5;
}

void checkText(cArgOption*, void*, std::string* out, int code, const char*, const char*) {
    *out += "check said " + std::to_string(code) + "\n";
}

TEST(cArgParser, ChecksRunOnceGivenOrNotAndExplainTheirCodes) {
    Fixture f;
    int calls = 0;
    f.word->checkFn = failingCheck;
    f.word->errorFn = checkText;
    f.word->user = &calls;
    EXPECT_TRUE(f.parse({"x"}));
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(f.parse({"x", "--word=a", "--word=b"}));
    EXPECT_EQ(calls, 2);
    // A count error keeps the parser's text; only the check's own code goes to errorFn.
    EXPECT_EQ(f.errors(), "prog: excess option --word=b\nprog: check said 5\n");
}

TEST(cArgParser, SyntaxLineAndGlossary) {
    Fixture f;
    f.files->maxCount = 1;
    EXPECT_EQ(cArgTable_syntaxLine(&f.table),
              " [-d|--delete] [-b|--buffer=<n>] [--word=<w>] file(s)");
    f.files->maxCount = 2;
    EXPECT_EQ(cArgTable_syntaxLine(&f.table).substr(45), " file(s) [file(s)]");
    f.files->maxCount = 3;
    EXPECT_EQ(cArgTable_syntaxLine(&f.table).substr(45), " file(s) [file(s)] [file(s)]");
    f.files->maxCount = 4;
    EXPECT_EQ(cArgTable_syntaxLine(&f.table).substr(45), " file(s) [file(s)]...");
    EXPECT_EQ(cArgTable_glossary(&f.table), "  -d, --delete                             drop it\n"
                                            "  -b, --buffer=<n>                         size\n");
}

} // namespace
