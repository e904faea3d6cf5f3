// Runs of the real binary that do not end well: a signal in the middle of a trace, a file
// size limit (a disk that fills up), two runs writing one tree at once. Whatever carries a
// trace's name must be a whole trace.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "e2e_support.h"
#include "test_safety.h"

namespace {

constexpr char kTempMark[] = ".kelvane-tmp-";

// A log big enough that converting it takes a good part of a second: a signal sent once its
// trace has begun arrives while the trace is still being written.
std::vector<cMdfWriterGroup> manyFrames(uint32_t count) {
    cMdfWriterGroup g;
    g.kinds = {MDFW_CAN_DATA};
    g.canDataBytes = 8;
    uint32_t n = 0;
    g.source = [n, count](cMdfWriterFrame* out) mutable {
        if (n == count) return false;
        const uint8_t data[8] = {uint8_t(n), uint8_t(n >> 8), 1, 2, 3, 4, 5, 6};
        *out = cMdfWriterFrame_can(n * 1e-4, 1, n & 0x7FF, false, data, 8);
        ++n;
        return true;
    };
    return {g};
}

// The big log, written once for all tests of this file.
const std::string& bigLog() {
    static e2e_tempDir dir;
    static const std::string path = [] {
        const std::string p = dir / "big.MF4";
        e2e_writeLog(p, safety_logOptions(1), manyFrames(3000000));
        return p;
    }();
    return path;
}

// Starts the binary in cwd with stderr to errPath; inChild runs just before exec.
pid_t startKelvane(const std::vector<std::string>& args, const std::string& cwd,
                   const std::string& errPath, const std::function<void()>& inChild = {}) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    const int e = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int null = open("/dev/null", O_WRONLY);
    if (e < 0 || null < 0 || dup2(e, 2) < 0 || dup2(null, 1) < 0 || chdir(cwd.c_str()) != 0)
        _exit(127);
    if (inChild) inChild();
    std::vector<std::string> copy = args;
    std::string binary = KELVANE_BINARY;
    std::vector<char*> argv{binary.data()};
    for (std::string& a : copy)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(binary.c_str(), argv.data());
    _exit(127);
}

int waitFor(pid_t pid) {
    int status = 0;
    return waitpid(pid, &status, 0) == pid ? status : -1;
}

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec))
        names.push_back(e.path().filename().string());
    return names;
}

// Waits until the trace under its temporary name holds some lines, so the run is in the
// middle of it. False when the run ended first or nothing showed up in time.
bool waitForTempTrace(const std::string& folder, pid_t pid, std::string* name) {
    for (int i = 0; i < 20000; ++i) {
        for (const std::string& n : namesIn(folder)) {
            std::error_code ec;
            if (n.find(kTempMark) != std::string::npos &&
                std::filesystem::file_size(folder + "/" + n, ec) > 4096) {
                *name = n;
                return true;
            }
        }
        if (waitpid(pid, nullptr, WNOHANG) == pid) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

} // namespace

// Ctrl-C, kill and a closed terminal: the temporary trace goes, no trace appears, the input
// stays (even with -d), and the run ends by the signal itself.
TEST(Safety, SignalInTheMiddleOfATraceLeavesNothing) {
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        e2e_tempDir dir;
        e2e_mkdirs(dir / "logs");
        std::filesystem::copy_file(bigLog(), dir / "logs/00000001.MF4");
        e2e_mkdirs(dir / "logs_out");
        const pid_t pid = startKelvane({"-d", "logs"}, dir.path, dir / "err");
        std::string temp;
        ASSERT_TRUE(waitForTempTrace(dir / "logs_out", pid, &temp)) << sig;
        kill(pid, sig);
        const int status = waitFor(pid);
        ASSERT_TRUE(WIFSIGNALED(status)) << sig << " " << status;
        EXPECT_EQ(WTERMSIG(status), sig);
        EXPECT_EQ(namesIn(dir / "logs_out"), std::vector<std::string>{}) << sig;
        EXPECT_EQ(std::filesystem::file_size(dir / "logs/00000001.MF4"),
                  std::filesystem::file_size(bigLog()));
    }
}

// With several jobs several traces are being written when the signal comes: every one of
// their temporary files goes.
TEST(Safety, SignalWithSeveralJobsLeavesNothing) {
    e2e_tempDir dir;
    e2e_mkdirs(dir / "logs");
    for (uint32_t split = 1; split <= 3; ++split) {
        const std::string log = dir / ("logs/0000000" + std::to_string(split) + ".MF4");
        e2e_writeLog(log, safety_logOptions(split), manyFrames(1000000));
    }
    e2e_mkdirs(dir / "logs_out");
    const pid_t pid = startKelvane({"-d", "-j", "3", "logs"}, dir.path, dir / "err");
    std::string temp;
    ASSERT_TRUE(waitForTempTrace(dir / "logs_out", pid, &temp));
    kill(pid, SIGTERM);
    const int status = waitFor(pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), SIGTERM);
    for (const std::string& n : namesIn(dir / "logs_out"))
        EXPECT_EQ(n.find(kTempMark), std::string::npos) << n;
    // Whatever is not in place with its whole trace is still there.
    for (uint32_t split = 1; split <= 3; ++split) {
        const std::string name = "0000000" + std::to_string(split);
        EXPECT_TRUE(e2e_exists(dir / ("logs/" + name + ".MF4")) ||
                    e2e_exists(dir / ("logs_out/" + name + "_CAN.trc")))
            << name;
    }
}

// After SIGKILL (or a power loss) only the temporary file is left: hidden, named for what
// it is, and taken neither for a log nor for a trace by a later run.
TEST(Safety, KilledRunLeavesOnlyAHiddenTemporaryFile) {
    e2e_tempDir dir;
    e2e_mkdirs(dir / "logs");
    std::filesystem::copy_file(bigLog(), dir / "logs/00000001.MF4");
    e2e_mkdirs(dir / "logs_out");
    const pid_t pid = startKelvane({"logs"}, dir.path, dir / "err");
    std::string temp;
    ASSERT_TRUE(waitForTempTrace(dir / "logs_out", pid, &temp));
    kill(pid, SIGKILL);
    waitFor(pid);
    const std::vector<std::string> left = namesIn(dir / "logs_out");
    ASSERT_EQ(left, std::vector<std::string>{temp});
    EXPECT_EQ(temp.rfind(".00000001_CAN.trc.kelvane-tmp-", 0), 0u) << temp;
    EXPECT_NE(temp.substr(temp.size() - 4), ".trc");

    // A later run over the output tree sees no log in the left-over file.
    const e2e_run again = e2e_runKelvane({"logs_out"}, dir.path);
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(namesIn(dir / "logs_out_out"), std::vector<std::string>{});
}

// A disk that fills up: the trace is removed, the message gives the system's reason, the
// file fails and its input stays. (A file size limit fails the writes as a full disk does,
// without a file system of our own.)
TEST(Safety, FailingWritesNameTheReasonAndKeepTheInput) {
    e2e_tempDir dir;
    e2e_mkdirs(dir / "logs");
    e2e_writeLog(dir / "logs/00000001.MF4", safety_logOptions(1), manyFrames(200000));
    const pid_t pid = startKelvane({"-d", "logs"}, dir.path, dir / "err", [] {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{1 << 20, 1 << 20};
        setrlimit(RLIMIT_FSIZE, &limit);
    });
    const int status = waitFor(pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 8);
    const std::string err = e2e_readFile(dir / "err");
    EXPECT_EQ(e2e_countLines(err, "File too large"), 1) << err;
    EXPECT_EQ(e2e_countLines(err, "Error during conversion of logs/00000001.MF4"), 1) << err;
    EXPECT_EQ(namesIn(dir / "logs_out"), std::vector<std::string>{});
    EXPECT_TRUE(e2e_exists(dir / "logs/00000001.MF4"));
}

// Two runs converting into one tree at once: each trace is some run's whole trace, never
// one run's start followed by the other's tail.
TEST(Safety, TwoRunsIntoOneTreeLeaveWholeTraces) {
    e2e_tempDir dir;
    e2e_mkdirs(dir / "logs");
    e2e_writeLog(dir / "logs/00000001.MF4", safety_logOptions(1), manyFrames(300000));
    e2e_writeLog(dir / "logs/00000002.MF4", safety_logOptions(2), manyFrames(200000));
    e2e_tempDir alone;
    std::filesystem::copy(dir / "logs", alone / "logs");
    ASSERT_EQ(e2e_runKelvane({"logs"}, alone.path).status, 0);

    const pid_t first = startKelvane({"logs"}, dir.path, dir / "err1");
    const pid_t second = startKelvane({"logs"}, dir.path, dir / "err2");
    EXPECT_EQ(waitFor(first), 0);
    EXPECT_EQ(waitFor(second), 0);
    for (const char* trace : {"00000001_CAN.trc", "00000002_CAN.trc"})
        EXPECT_TRUE(e2e_readFile(dir / "logs_out/" + trace) ==
                    e2e_readFile(alone / "logs_out/" + trace))
            << trace;
    EXPECT_EQ(namesIn(dir / "logs_out").size(), 2u);
}
