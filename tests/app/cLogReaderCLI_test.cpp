#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "app/cLogReaderCLI.h"
#include "converter/cPeakConverterCLI.h"
#include "logCapture.h"

namespace {

const char* const usageText =
    "Usage: kelvane [--help] [-v|--version] [--verbosity=<n>] [--non-interactive] "
    "[-d|--delete-converted] [-X|--no-append-root] [-b|--buffer=<n>] "
    "[-p|--password-file=<file>] [-f|--trace-format={version1,version2}] "
    "[-O|--output-directory=<file>] [-i|--input-files=<file(s)/folder(s)>] file(s)/folder(s)\n"
    "\n"
    "  --help                                   display this help and exit\n"
    "  -v, --version                            display tool version and exit\n"
    "  --verbosity=<n>                          verbosity of logging messages from 0 to 4, with 0 "
    "being fatal messages only 4 being all messages including debug information. defaults to 3\n"
    "  --non-interactive                        does not print any progress output\n"
    "  -d, --delete-converted                   deletes files after conversion if specified\n"
    "  -X, --no-append-root                     do not add \"_out\" when converting folders\n"
    "  -b, --buffer=<n>                         buffer size in bytes. 0 disables and -1 takes "
    "entire file\n"
    "  -p, --password-file=<file>               where to find device passwords for encrypted "
    "files, defaults to \"passwords.json\"\n"
    "  -f, --trace-format={version1,version2}   which trace version to output, defaults to 2.1\n"
    "  -O, --output-directory=<file>            where to place the converted files\n"
    "  -i, --input-files=<file(s)/folder(s)>    list of input files/folders, must have common "
    "root\n";

// A scratch folder with two log files, a folder of logs and a password file, and the
// working directory moved into it (so the default password file is looked for there).
struct Scratch {
    std::string dir;
    std::string oldCwd;
    Scratch() {
        char name[] = "/tmp/kv_cli_XXXXXX";
        dir = mkdtemp(name);
        dir += "/";
        std::ofstream(dir + "a.MF4") << "x";
        std::ofstream(dir + "b.MF4") << "x";
        mkdir((dir + "logs").c_str(), 0700);
        mkdir((dir + "out").c_str(), 0700);
        mkdir((dir + "x").c_str(), 0700);
        mkdir((dir + "y").c_str(), 0700);
        std::ofstream(dir + "pw.json") << "{\"default\": \"one\", \"0000ABCD\": \"two\"}";
        char cwd[4096];
        oldCwd = getcwd(cwd, sizeof cwd);
        EXPECT_EQ(chdir(dir.c_str()), 0);
    }
    ~Scratch() {
        EXPECT_EQ(chdir(oldCwd.c_str()), 0);
        EXPECT_EQ(std::system(("rm -rf " + dir).c_str()), 0);
    }
};

struct Outcome {
    bool result;
    int status;
    std::string out;
    std::string log;
};

Outcome parse(cPeakConverterCLI* cli, std::vector<std::string> args) {
    args.insert(args.begin(), "kelvane");
    std::vector<const char*> argv;
    for (const std::string& a : args)
        argv.push_back(a.c_str());
    LogCapture capture;
    Outcome o{};
    testing::internal::CaptureStdout();
    o.result =
        cLogReaderCLI_parse(&cli->cli, static_cast<int>(argv.size()), argv.data(), &o.status);
    o.out = testing::internal::GetCapturedStdout();
    o.log = LogCapture::lines();
    return o;
}

Outcome parse(std::vector<std::string> args) {
    cPeakConverterCLI* cli = cPeakConverterCLI_ctor();
    Outcome o = parse(cli, std::move(args));
    cPeakConverterCLI_dtor(cli);
    return o;
}

TEST(cLogReaderCLI, HelpWinsOverEverything) {
    Scratch s;
    // The syntax line allows as many inputs as there are arguments.
    const std::string usage = usageText;
    const std::string oneInput = " file(s)/folder(s)\n";
    const struct {
        std::vector<std::string> args;
        std::string inputs;
    } cases[] = {
        {{}, oneInput},
        {{"--help"}, oneInput},
        {{"--help", "--bogus", "-v"},
         " file(s)/folder(s) [file(s)/folder(s)] [file(s)/folder(s)]\n"},
        {{"-d", "-d", "--help", "a.MF4"}, " file(s)/folder(s) [file(s)/folder(s)]...\n"},
    };
    for (const auto& c : cases) {
        Outcome o = parse(c.args);
        EXPECT_FALSE(o.result);
        EXPECT_EQ(o.status, 0);
        std::string expected = usage;
        expected.replace(usage.find(oneInput), oneInput.size(), c.inputs);
        EXPECT_EQ(o.out, expected);
    }
}

struct StatusCase {
    std::vector<std::string> args;
    int status;
    const char* out;
    const char* log;
};

TEST(cLogReaderCLI, ParseErrorsAndTheirStatuses) {
    Scratch s;
    const std::string missing = s.dir + "nothing/a.MF4";
    // clang-format off
    const StatusCase cases[] = {
        {{"--verbosity=abc", "a.MF4"}, 131, "", ""},
        {{"--verbosity=7", "a.MF4"}, 131, "", ""},
        {{"a.MF4", "--buffer"}, 130, "", ""},
        {{"--buffer=zz", "-d", "-d", "a.MF4"}, 131, "", ""},
        {{"-d", "-d", "a.MF4"}, 134, "kelvane: extraneous option -d|--delete-converted\n", ""},
        {{"-d", "-d", "a.MF4", "-b"}, 134, "kelvane: extraneous option -d|--delete-converted\n"
                                           "kelvane: option \"-b\" requires an argument\n", ""},
        {{"--trace-format=version3", "a.MF4"}, 134,
         "kelvane: invalid value \"version3\" to option -f|--trace-format={version1,version2}\n", ""},
        {{"-b", "99999999999", "a.MF4"}, 134,
         "kelvane: integer overflow at option -b|--buffer=<n> (99999999999 is too large)\n", ""},
        {{"-d"}, 134, "kelvane: missing option file(s)/folder(s)\n", ""},
        {{"-i", "-i", "a.MF4"}, 134, "kelvane: extraneous option -i|--input-files=<file(s)/folder(s)>\n", ""},
        {{"/x.MF4"}, 132, "", "I 0 password(s) loaded\nF Could not find root for /x.MF4\n"},
        {{"x/a.MF4", "y/b.MF4"}, 132, "", "I 0 password(s) loaded\nF No common root detected for all inputs\n"},
        {{missing}, 134, "", "I 0 password(s) loaded\n"},
        {{"--ver", "--help=1", "a.MF4"}, 134, "kelvane: invalid option \"--ver\"\n" // ambiguous
                                              "kelvane: invalid option \"--help=1\"\n", ""},
    };
    // clang-format on
    for (const StatusCase& c : cases) {
        Outcome o = parse(c.args);
        EXPECT_FALSE(o.result) << c.args[0];
        EXPECT_EQ(o.status, c.status) << c.args[0];
        EXPECT_EQ(o.out, c.out) << c.args[0];
        EXPECT_EQ(o.log, c.log) << c.args[0];
    }
    std::vector<std::string> many(25, "-q");
    many.push_back("a.MF4");
    const std::string tooMany = parse(many).out;
    EXPECT_EQ(std::count(tooMany.begin(), tooMany.end(), '\n'), 20);
    EXPECT_EQ(tooMany.substr(tooMany.size() - 37), "\nkelvane: too many errors to display\n");
    EXPECT_EQ(parse({"-O", "a.MF4", "b.MF4"}).log,
              "I 0 password(s) loaded\nE Invalid output path: " + s.dir + "a.MF4\n");
}

TEST(cLogReaderCLI, SettingsOfASuccessfulParse) {
    Scratch s;
    cPeakConverterCLI* cli = cPeakConverterCLI_ctor();
    EXPECT_EQ(cPeakConverterCLI_getFormat(cli), 0u);
    // Values attached, after "=" and as the next argument; flags clustered; "--" ends options.
    Outcome o = parse(cli, {"--buffer=1MB", "-i", "a.MF4", "-dX", "--non-interactive", "-fVERSION1",
                            "--verbosity=5", "-p", "pw.json", "--", s.dir + "b.MF4"});
    ASSERT_TRUE(o.result) << o.out << o.log;
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.log, "I 2 password(s) loaded\n");
    const cLogReaderCLI& c = cli->cli;
    EXPECT_EQ(c.options.bufferSize, 1048576);
    EXPECT_TRUE(c.options.deleteConverted);
    EXPECT_TRUE(c.options.noAppendRoot);
    EXPECT_TRUE(c.options.nonInteractive);
    EXPECT_EQ(cPeakConverterCLI_getFormat(cli), 1u);
    EXPECT_EQ(zf_log_get_output_level(), ZF_LOG_VERBOSE);
    EXPECT_EQ(*cPasswordStore_getForDevice(&c.options.passwords, 0xABCD), "two");
    EXPECT_EQ(c.root, s.dir);
    EXPECT_EQ(c.inputs, (std::vector<std::string>{"a.MF4", "b.MF4"}));
    ASSERT_NE(c.inputFs, nullptr);
    EXPECT_EQ(c.outputFs, c.inputFs);
    cPeakConverterCLI_dtor(cli);
}

TEST(cLogReaderCLI, DefaultsFoldersAndOutputDirectory) {
    Scratch s;
    cPeakConverterCLI* cli = cPeakConverterCLI_ctor();
    Outcome o = parse(cli, {"logs", "a.MF4", "-O", "out"});
    ASSERT_TRUE(o.result) << o.out << o.log;
    const cLogReaderCLI& c = cli->cli;
    EXPECT_EQ(c.options.bufferSize, -1);
    EXPECT_FALSE(c.options.deleteConverted || c.options.noAppendRoot || c.options.nonInteractive);
    EXPECT_EQ(cPeakConverterCLI_getFormat(cli), 2u);
    EXPECT_EQ(zf_log_get_output_level(), ZF_LOG_INFO);
    EXPECT_EQ(c.inputs, (std::vector<std::string>{"logs/", "a.MF4"}));
    ASSERT_NE(c.outputFs, nullptr);
    EXPECT_NE(c.outputFs, c.inputFs);
    EXPECT_EQ(c.outputFs->root, s.dir + "out/");
    cPeakConverterCLI_dtor(cli);

    // The default password file is read from the working directory when it is there.
    std::ofstream("passwords.json") << "\"default\":\"p\"";
    EXPECT_EQ(parse({"--verbosity=0", "a.MF4"}).log, "");
    EXPECT_EQ(zf_log_get_output_level(), ZF_LOG_FATAL);
    EXPECT_EQ(parse({"a.MF4"}).log, "I 1 password(s) loaded\n");
}

TEST(cLogReaderCLI, RootOfOneInput) {
    const struct {
        const char* path;
        const char* root;
    } cases[] = {
        {"/data/logs/a.MF4", "/data/logs/"},
        {"/data/logs/", "/data/"},
        {"/data/logs", "/data/"},
        {"//a", "//"},
        {"/x.MF4", nullptr},
        {"/logs/", nullptr},
        {"/", nullptr},
        {"", nullptr},
        {"ab", nullptr},
        {"a/", nullptr},
        {"a/b", "a/"},
    };
    for (const auto& c : cases) {
        std::string_view root = "unset";
        EXPECT_EQ(cLogReaderCLI_findRoot(c.path, &root), c.root != nullptr) << c.path;
        if (c.root) EXPECT_EQ(root, c.root) << c.path;
    }
}

} // namespace
