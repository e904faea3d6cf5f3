// Runs of the real binary that do not end well: a signal in the middle of a trace, a file
// size limit (a disk that fills up). Whatever carries a trace's name must be a whole trace.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "e2e_support.h"

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
        e2e_writeLog(p, e2e_logOptions("0000ABCD", 1, 1), manyFrames(3000000));
        return p;
    }();
    return path;
}

// Waits until the process holds a trace being written in folder (unnamed, or under its
// temporary name) with some lines in it, so the run is in the middle of it. False when the
// run ended first or nothing showed up in time.
bool waitForTempTrace(const std::string& folder, pid_t pid) {
    std::error_code ec;
    const std::string where = std::filesystem::canonical(folder, ec).string() + "/";
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    for (int i = 0; i < 20000; ++i) {
        for (const auto& fd : std::filesystem::directory_iterator(fds, ec)) {
            const std::string target = std::filesystem::read_symlink(fd.path(), ec).string();
            struct stat st;
            if (target.rfind(where, 0) == 0 && stat(fd.path().c_str(), &st) == 0 &&
                st.st_size > 4096)
                return true;
        }
        if (waitpid(pid, nullptr, WNOHANG) == pid) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

} // namespace

// Ctrl-C, kill, a closed terminal and the quit key, with one job and with several traces being
// written: every temporary trace goes, the input stays (even with -d) unless its whole trace is in
// place, and the run ends by the signal itself.
TEST(Safety, SignalInTheMiddleOfATraceLeavesNothing) {
    for (auto [sig, jobs] :
         {std::pair{SIGTERM, 1}, {SIGINT, 1}, {SIGHUP, 1}, {SIGQUIT, 1}, {SIGTERM, 3}}) {
        SCOPED_TRACE(std::to_string(sig) + " with jobs " + std::to_string(jobs));
        e2e_tempDir dir;
        e2e_mkdirs(dir / "logs");
        e2e_mkdirs(dir / "logs_out");
        std::filesystem::copy_file(bigLog(), dir / "logs/00000001.MF4");
        for (int split = 2; split <= jobs; ++split)
            e2e_writeLog(dir / ("logs/0000000" + std::to_string(split) + ".MF4"),
                         e2e_logOptions("0000ABCD", 1, split), manyFrames(1000000));
        const pid_t pid = e2e_startKelvane({"-d", "-j", std::to_string(jobs), "logs"}, dir.path,
                                           "/dev/null", dir / "err", [] {
                                               const rlimit noCore{0, 0};
                                               setrlimit(RLIMIT_CORE, &noCore);
                                           });
        ASSERT_TRUE(waitForTempTrace(dir / "logs_out", pid));
        kill(pid, sig);
        const int status = e2e_waitFor(pid);
        ASSERT_TRUE(WIFSIGNALED(status)) << status;
        EXPECT_EQ(WTERMSIG(status), sig);
        for (const std::string& n : e2e_namesIn(dir / "logs_out"))
            EXPECT_EQ(n.find(kTempMark), std::string::npos) << n;
        if (jobs == 1) {
            EXPECT_EQ(e2e_namesIn(dir / "logs_out"), std::vector<std::string>{});
        }
        EXPECT_EQ(std::filesystem::file_size(dir / "logs/00000001.MF4"),
                  std::filesystem::file_size(bigLog()));
        for (int split = 2; split <= jobs; ++split) {
            const std::string name = "0000000" + std::to_string(split);
            EXPECT_TRUE(e2e_exists(dir / ("logs/" + name + ".MF4")) ||
                        e2e_exists(dir / ("logs_out/" + name + "_CAN.trc")))
                << name;
        }
    }
}

// A disk that fills up: the trace is removed, the message gives the system's reason, the
// file fails and its input stays. (A file size limit fails the writes as a full disk does,
// without a file system of our own.) With the limit's signal left as it is, the signal ends
// the run, and no temporary file and no part of a trace stays.
TEST(Safety, FailingWritesAndTheFileSizeSignalKeepTheInputAndLeaveNothing) {
    for (bool ignored : {true, false}) {
        SCOPED_TRACE(ignored ? "SIGXFSZ ignored" : "SIGXFSZ as it is");
        e2e_tempDir dir;
        e2e_mkdirs(dir / "logs");
        e2e_writeLog(dir / "logs/00000001.MF4", e2e_logOptions("0000ABCD", 1, 1),
                     manyFrames(200000));
        const pid_t pid =
            e2e_startKelvane({"-d", "logs"}, dir.path, "/dev/null", dir / "err", [ignored] {
                if (ignored) signal(SIGXFSZ, SIG_IGN);
                const rlimit noCore{0, 0}, limit{1 << 20, 1 << 20};
                setrlimit(RLIMIT_CORE, &noCore);
                setrlimit(RLIMIT_FSIZE, &limit);
            });
        const int status = e2e_waitFor(pid);
        const std::string err = e2e_readFile(dir / "err");
        if (ignored) {
            ASSERT_TRUE(WIFEXITED(status));
            EXPECT_EQ(WEXITSTATUS(status), 8);
            EXPECT_EQ(e2e_countLines(err, "File too large"), 1) << err;
            EXPECT_EQ(e2e_countLines(err, "Error during conversion of logs/00000001.MF4"), 1)
                << err;
        } else {
            ASSERT_TRUE(WIFSIGNALED(status)) << status;
            EXPECT_EQ(WTERMSIG(status), SIGXFSZ);
        }
        EXPECT_EQ(e2e_namesIn(dir / "logs_out"), std::vector<std::string>{});
        EXPECT_TRUE(e2e_exists(dir / "logs/00000001.MF4"));
    }
}
