#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>

namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The built program's exit status, standard output and log for each command line, run in a
// scratch folder that holds a file that is no log and an empty folder.
TEST(kelvaneBinary, StatusesOutputAndLog) {
    char name[] = "/tmp/kv_bin_XXXXXX";
    const std::string dir = mkdtemp(name);
    mkdir((dir + "/empty").c_str(), 0700);
    std::ofstream(dir + "/notes.txt") << "not a log";
    mkfifo((dir + "/fifo").c_str(), 0600);
    const struct {
        std::string args;
        int status;
        std::string out; // a regular expression for the whole standard output
        std::string err; // a regular expression for the whole log
    } cases[] = {
        {"", 0,
         "Usage: kelvane \\[--help\\] [^\\n]* file\\(s\\)/folder\\(s\\)\\n\\n(  [^\\n]+\\n){12}",
         ""},
        {"--version --bogus", 0,
         "Version: \\d{2}\\.\\d{2}\\.\\d{2}\\.[0-9a-f]{8}\\n"
         "Build date: [A-Z][a-z]{2} [ 123]\\d \\d{4} \\d{2}:\\d{2}:\\d{2}\\nGIT SHA: "
         "[0-9a-f]{40}\\n",
         ""},
        {"-h", 0, "Usage: kelvane \\[--help\\] [^\\n]*\\n\\n(  [^\\n]+\\n){12}", ""},
        // Command-line errors with a status of their own say what was wrong, on stderr only.
        {"notes.txt --buffer", 130, "", ".* E -b\\|--buffer needs a value\\n"},
        {"-b abc notes.txt", 131, "", ".* E -b\\|--buffer: \"abc\" is not a number\\n"},
        {"--verbosity=9 notes.txt", 131, "", ".* E verbosity 9 is outside 0 to 5\\n"},
        // A FIFO as password file is refused, not opened (which would wait for a writer).
        {"-p fifo notes.txt", 1, "",
         ".* E Failed to open password file at " + dir + "/fifo: it is not a regular file\\n"},
        {"nowhere/a.MF4", 134, "",
         ".*\\n.* E Could not open input folder " + dir +
             "/nowhere/: No such file or directory\\n"},
        // The log level is set before the password file is read.
        {"--verbosity=0 -p missing.json notes.txt", 1, "", ""},
        {"--verbosity=1 -p missing.json notes.txt", 1, "",
         ".* E Failed to open password file at " + dir +
             "/missing.json: No such file or directory\\n"},
        {"-O nowhere notes.txt", 134, "", ".*\\n.* E Invalid output path: " + dir + "/nowhere\\n"},
        // A file that is no log and an empty folder convert to nothing, successfully; the
        // summary ends the run.
        {"--buffer=1MB -f VERSION1 -i notes.txt empty", 0, "",
         ".* I 0 password\\(s\\) loaded\\n.* I 0 converted, 0 failed, 0 repeated skipped, 0 "
         "without "
         "CAN frames, 1 other file left alone, 0 CAN frames written, \\d+\\.\\d s\\n"},
    };
    for (const auto& c : cases) {
        const std::string command = "cd '" + dir + "' && timeout 20 '" KELVANE_BINARY "' " +
                                    c.args + " >'" + dir + "/.out' 2>'" + dir + "/.err' </dev/null";
        const int raw = std::system(command.c_str());
        EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, c.status) << c.args;
        const std::string out = slurp(dir + "/.out"), err = slurp(dir + "/.err");
        EXPECT_TRUE(std::regex_match(out, std::regex(c.out))) << c.args << "\n" << out;
        EXPECT_TRUE(std::regex_match(err, std::regex(c.err))) << c.args << "\n" << err;
    }
    EXPECT_EQ(std::system(("rm -rf '" + dir + "'").c_str()), 0);
}

} // namespace
