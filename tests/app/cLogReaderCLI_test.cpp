#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "app/cLogReaderCLI.h"
#include "app/cPeakConverterCLI.h"
#include "logCapture.h"

namespace {

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
        for (const char* folder : {"logs", "out", "x", "y"})
            mkdir((dir + folder).c_str(), 0700);
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
    std::string out, log;
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

// --help prints the usage (its syntax line, a blank line and a line for each of the 15
// options) whatever else is given; the syntax line allows as many inputs as there are
// arguments.
TEST(cLogReaderCLI, HelpWinsOverEverything) {
    Scratch s;
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"-dh"}, " file(s)/folder(s)\n"},
        {{"--help", "--bogus", "-v"},
         " file(s)/folder(s) [file(s)/folder(s)] [file(s)/folder(s)]\n"},
        {{"-d", "-d", "--help", "a.MF4"}, " file(s)/folder(s) [file(s)/folder(s)]...\n"},
    };
    for (const auto& [args, inputs] : cases) {
        Outcome o = parse(args);
        EXPECT_TRUE(!o.result && o.status == 0);
        const std::string syntax = o.out.substr(0, o.out.find('\n') + 1);
        EXPECT_EQ(syntax.rfind("Usage: kelvane [--help] [-v|--version] ", 0), 0u) << o.out;
        EXPECT_TRUE(syntax.ends_with("[-i|--input-files=<file(s)/folder(s)>]" + inputs)) << syntax;
        EXPECT_EQ(std::count(o.out.begin(), o.out.end(), '\n'), 17) << o.out;
    }
}

TEST(cLogReaderCLI, ParseErrorsAndTheirStatuses) {
    Scratch s;
    const std::string missing = s.dir + "nothing/a.MF4";
    // clang-format off
    const struct {
        std::vector<std::string> args;
        int status;
        const char* out;
        std::string log;
    } cases[] = {
        // The two value errors are told in the log, standard output stays empty.
        {{"--verbosity=abc", "a.MF4"}, 131, "", "E --verbosity: \"abc\" is not a number\n"},
        {{"--verbosity=7", "a.MF4"}, 131, "", "E verbosity 7 is outside 0 to 5\n"},
        {{"a.MF4", "--buffer"}, 130, "", "E -b|--buffer needs a value\n"},
        {{"--buffer=zz", "-d", "-d", "a.MF4"}, 131, "", "E -b|--buffer: \"zz\" is not a number\n"},
        {{"-d", "-d", "a.MF4", "-b"}, 134, "kelvane: extraneous option -d|--delete-converted\n"
                                           "kelvane: option \"-b\" requires an argument\n", ""},
        {{"--trace-format=version3", "a.MF4"}, 134,
         "kelvane: invalid value \"version3\" to option "
         "-f|--trace-format={version1,version2,asc,blf,candump,csv}\n", ""},
        {{"-b", "99999999999", "a.MF4"}, 134,
         "kelvane: integer overflow at option -b|--buffer=<n> (99999999999 is too large)\n", ""},
        {{"-d"}, 134, "kelvane: missing option file(s)/folder(s)\n", ""},
        {{"x/a.MF4", "y/b.MF4"}, 132, "", "I 0 password(s) loaded\nF No common root detected for all inputs\n"},
        {{missing}, 134, "", "I 0 password(s) loaded\nE Could not open input folder " + s.dir +
                             "nothing/: No such file or directory\n"},
        {{"a.MF4/b.MF4"}, 134, "", "E Could not stat path " + s.dir + "a.MF4/b.MF4\n"
                                   "I 0 password(s) loaded\nE Could not open input folder " + s.dir +
                                   "a.MF4/: Not a directory\n"},
        {{"--ver", "--help=1", "a.MF4"}, 134, "kelvane: invalid option \"--ver\"\n" // ambiguous
                                              "kelvane: invalid option \"--help=1\"\n", ""},
    };
    // clang-format on
    for (const auto& c : cases) {
        Outcome o = parse(c.args);
        EXPECT_TRUE(!o.result && o.status == c.status) << c.args[0] << " " << o.status;
        EXPECT_EQ(o.out, c.out) << c.args[0];
        EXPECT_EQ(o.log, c.log) << c.args[0];
    }
    std::vector<std::string> many(25, "-q");
    many.push_back("a.MF4");
    const std::string tooMany = parse(many).out;
    EXPECT_EQ(std::count(tooMany.begin(), tooMany.end(), '\n'), 20);
    EXPECT_EQ(tooMany.substr(tooMany.size() - 37), "\nkelvane: too many errors to display\n");
    EXPECT_EQ(parse({"-O", "a.MF4", "b.MF4"}).log,
              "I 0 password(s) loaded\nE Invalid output path: " + s.dir +
                  "a.MF4: it is not a folder\n");
}

// What a successful parse set, in one line: options, trace format, log level, root, inputs
// and where the output file system points ("input" when it is the input one).
std::string settings(cPeakConverterCLI* cli) {
    const cLogReaderCLI& c = cli->cli;
    std::ostringstream s;
    s << c.options.bufferSize << " d" << c.options.deleteConverted << " X" << c.options.noAppendRoot
      << " n" << c.options.nonInteractive << " f" << cPeakConverterCLI_getFormat(cli) << " level"
      << zf_log_get_output_level() << " " << c.root << " [";
    for (const std::string& input : c.inputs)
        s << input << ",";
    if (!c.inputFs || !c.outputFs) return s.str() + "] no file system";
    return s.str() + "] " + (c.outputFs == c.inputFs ? "input" : c.outputFs->root);
}

TEST(cLogReaderCLI, SettingsOfSuccessfulParses) {
    Scratch s;
    const struct {
        std::vector<std::string> args;
        std::string log, settings;
    } cases[] = {
        // Values attached, after "=" and as the next argument; flags clustered; "--" ends
        // options.
        {{"--buffer=1MB", "-i", "a.MF4", "-dX", "--non-interactive", "-fVERSION1", "--verbosity=5",
          "-p", "pw.json", "--", s.dir + "b.MF4"},
         "I 2 password(s) loaded\n",
         "1048576 d1 X1 n1 f1 level1 " + s.dir + " [a.MF4,b.MF4,] input"},
        {{"logs", "a.MF4", "-O", "out"},
         "I 0 password(s) loaded\n",
         "-1 d0 X0 n0 f2 level3 " + s.dir + " [logs/,a.MF4,] " + s.dir + "out/"},
    };
    for (const auto& c : cases) {
        cPeakConverterCLI* cli = cPeakConverterCLI_ctor();
        EXPECT_EQ(cPeakConverterCLI_getFormat(cli), 0u);
        Outcome o = parse(cli, c.args);
        EXPECT_TRUE(o.result && o.status == 0 && o.out.empty()) << o.out << o.log;
        EXPECT_EQ(o.log, c.log);
        EXPECT_EQ(settings(cli), c.settings);
        EXPECT_TRUE(c.log[2] != '2' ||
                    *cPasswordStore_getForDevice(&cli->cli.options.passwords, 0xABCD) == "two");
        cPeakConverterCLI_dtor(cli);
    }

    // The default password file is read from the working directory when it is there.
    std::ofstream("passwords.json") << "\"default\":\"p\"";
    EXPECT_EQ(parse({"--verbosity=0", "a.MF4"}).log, "");
    EXPECT_EQ(zf_log_get_output_level(), ZF_LOG_FATAL);
    EXPECT_EQ(parse({"a.MF4"}).log, "I 1 password(s) loaded\n");
}

} // namespace
