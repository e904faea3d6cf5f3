// What a whole run prints: the line per file, the summary as its last line, and the progress
// line, which appears only on a terminal (run under a pseudo-terminal here).

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <poll.h>
#include <pty.h>
#include <regex>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "tools/cMdfWriter.h"

namespace {

constexpr int logCount = 30;
constexpr int framesPerLog = 3;

// logs/ holds logCount logs of one device in split order, a repeat of the last one, a damaged
// log, a log without CAN frames and a file that is no log.
struct Tree {
    std::string dir;
    Tree() {
        char name[] = "/tmp/kv_run_XXXXXX";
        dir = mkdtemp(name);
        const std::string logs = dir + "/logs/";
        EXPECT_EQ(std::system(("mkdir -p '" + logs + "'").c_str()), 0);
        std::vector<cMdfWriterGroup> can(1);
        for (int i = 0; i < framesPerLog; ++i)
            can[0].frames.push_back(cMdfWriterFrame_can(0.1 * i, 1, 0x100 + i, false, nullptr, 8));
        cMdfWriterOptions options;
        for (int split = 1; split <= logCount; ++split) {
            options.split = split;
            char file[32];
            std::snprintf(file, sizeof file, "%08d.MF4", split);
            EXPECT_TRUE(cMdfWriter_writeFile((logs + file).c_str(), &options, &can));
        }
        EXPECT_TRUE(cMdfWriter_writeFile((logs + "00000030b.MF4").c_str(), &options, &can));
        std::ofstream(logs + "bad.MF4") << "no MDF at all";
        std::vector<cMdfWriterGroup> lin(1);
        const uint8_t data[2] = {1, 2};
        lin[0].frames.push_back(cMdfWriterFrame_lin(0.0, 1, 5, data, 2));
        options.serialNumber = "0000BEEF";
        EXPECT_TRUE(cMdfWriter_writeFile((logs + "lin.MF4").c_str(), &options, &lin));
        std::ofstream(logs + "notes.txt") << "not a log";
    }
    ~Tree() { EXPECT_EQ(std::system(("rm -rf '" + dir + "'").c_str()), 0); }
};

const std::string summary = "I 31 converted, 1 failed, 1 repeated skipped, 1 without CAN frames, "
                            "1 other file left alone, 90 CAN frames written, \\d+\\.\\d s";
const std::string logLine =
    "\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} +\\d+ +\\d+ [VDIWEF] [^\\n]*";

int countMatches(const std::string& text, const std::string& expression) {
    const std::regex re(expression);
    return static_cast<int>(
        std::distance(std::sregex_iterator(text.begin(), text.end(), re), std::sregex_iterator()));
}

// Runs the program with standard error on a pseudo-terminal in raw mode (no line feed turned
// into carriage return and line feed); returns everything written there and the status.
std::string runOnTerminal(const std::string& cwd, const std::vector<std::string>& args, int* status,
                          double* seconds) {
    struct termios raw {};
    cfmakeraw(&raw);
    int master = -1;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = forkpty(&master, nullptr, &raw, nullptr);
    if (pid == 0) {
        if (chdir(cwd.c_str()) != 0) _exit(120);
        std::vector<char*> argv{const_cast<char*>(KELVANE_BINARY)};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(KELVANE_BINARY, argv.data());
        _exit(121);
    }
    std::string output;
    if (pid < 0) return output;
    for (;;) {
        struct pollfd p = {master, POLLIN, 0};
        if (poll(&p, 1, 30000) <= 0) { // a hang must fail the test, not the suite
            kill(pid, SIGKILL);
            ADD_FAILURE() << "no output for 30 s";
            break;
        }
        char buffer[4096];
        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n <= 0) break; // EIO once the program and its terminal are gone
        output.append(buffer, static_cast<size_t>(n));
    }
    close(master);
    int raw_status = 0;
    waitpid(pid, &raw_status, 0);
    *status = WIFEXITED(raw_status) ? WEXITSTATUS(raw_status) : -1;
    *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return output;
}

// On a terminal the progress line is drawn, always wiped before a log line, and gone at the
// end, leaving a line per file at verbosity 4 and the summary last; --non-interactive turns
// it off.
TEST(kelvaneRun, ProgressOnlyOnATerminal) {
    Tree tree;
    int status = -1;
    double seconds = 0;
    const std::string screen =
        runOnTerminal(tree.dir, {"--verbosity=4", "logs"}, &status, &seconds);
    EXPECT_EQ(status, 8);
    // A drawn line: carriage return, text, erase to the end of the line.
    const std::string drawn =
        "\r\\d+ done, \\d+ failed, \\d+\\.\\d MB/s: logs/[^\\r\\n\\x1b]+\\x1b\\[K";
    const int draws = countMatches(screen, drawn);
    EXPECT_GE(draws, 1) << screen;
    EXPECT_LE(draws, 3 + static_cast<int>(seconds * 5)); // about five a second at most
    // Whatever follows a drawn line is a redraw or a wipe, never a log line in its middle.
    EXPECT_EQ(countMatches(screen, drawn + "[^\\r]"), 0) << screen;
    EXPECT_EQ(countMatches(screen, drawn + "$"), 0) << screen;
    // Without the drawing and the wipes, what is left is whole log lines, the summary last.
    const std::string lines =
        std::regex_replace(screen, std::regex("\\r[^\\r\\n]*\\x1b\\[K"), std::string());
    EXPECT_TRUE(std::regex_match(lines, std::regex("(" + logLine + "\\n)+"))) << lines;
    EXPECT_TRUE(std::regex_search(lines, std::regex(summary + "\\n$"))) << lines;
    EXPECT_EQ(countMatches(lines, "D logs/000000\\d\\d\\.MF4 -> logs_out/000000\\d\\d_CAN\\.trc, 3 "
                                  "frames, plain, \\d+\\.\\d{3} s\\n"),
              logCount);
    for (const char* line : {"00000030b\\.MF4 -> no trace \\(repeated file\\)",
                             "bad\\.MF4 -> no trace \\(not a log, code 8\\)",
                             "lin\\.MF4 -> no trace \\(no CAN frames\\)"})
        EXPECT_EQ(countMatches(lines, std::string("D logs/") + line), 1) << line;
    EXPECT_EQ(countMatches(lines, "notes\\.txt"), 0);

    const std::string plain =
        runOnTerminal(tree.dir, {"--non-interactive", "-O", "logs_out", "logs"}, &status, &seconds);
    EXPECT_EQ(status, 8);
    EXPECT_EQ(plain.find_first_of("\r\x1b"), std::string::npos) << plain;
    EXPECT_TRUE(std::regex_search(plain, std::regex(summary + "\\n$"))) << plain;
}

} // namespace
