#pragma once
// Helpers of the end-to-end tests: scratch folders, running the real kelvane binary,
// reading and writing whole files.

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/cLogReader.h"
#include "fs/cFS.h"
#include "support/log.h"
#include "tools/cMdfWriter.h"

struct e2e_run {
    int status = -1; // exit status, or -1 when the process did not exit normally
    std::string out; // standard output
    std::string err; // standard error (the log)
};

// A fresh folder below the system's temporary folder, removed with everything in it.
struct e2e_tempDir {
    std::string path;
    e2e_tempDir();
    ~e2e_tempDir();
    std::string operator/(const std::string& rel) const { return path + "/" + rel; }
};

// Runs the binary with the arguments in the working directory cwd.
e2e_run e2e_runKelvane(const std::vector<std::string>& args, const std::string& cwd);
// Starts it without waiting, stdout and stderr to files; inChild runs just before exec.
pid_t e2e_startKelvane(const std::vector<std::string>& args, const std::string& cwd,
                       const std::string& outPath, const std::string& errPath,
                       const std::function<void()>& inChild = {});
int e2e_waitFor(pid_t pid); // the wait status, -1 on failure
// One device's log metadata; the split tells the logs of one session apart.
cMdfWriterOptions e2e_logOptions(const std::string& serial = "0000ABCD", uint32_t session = 1,
                                 uint32_t split = 1);

bool e2e_writeFile(const std::string& path, const std::string& bytes);
bool e2e_writeBytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::string e2e_readFile(const std::string& path);
bool e2e_exists(const std::string& path);
void e2e_mkdirs(const std::string& path);
// The names in a folder, sorted; none when it cannot be listed.
std::vector<std::string> e2e_namesIn(const std::string& folder);
// Wraps a file in an encrypted (1000 iterations) or compressed container; fails the test when
// the container writer fails.
void e2e_encryptFile(const std::string& plain, const std::string& out, const std::string& password,
                     uint32_t serial = 0);
void e2e_compressFile(const std::string& plain, const std::string& out);

// Python 3, for the checks made with readers nobody here wrote.
std::string e2e_python();
// Runs a shell command with its standard output in *out; the exit status, -1 when the command
// did not exit normally.
int e2e_shell(const std::string& command, std::string* out);

// The random numbers of the randomized tests: a small generator whose sequence is fixed by
// its seed on every platform.
struct e2e_rng {
    uint64_t state;
    uint64_t next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint64_t below(uint64_t n) { return n ? next() % n : 0; }
    bool percent(unsigned p) { return below(100) < p; }
    template <class T> const T& pick(const std::vector<T>& v) { return v[below(v.size())]; }
};
// A random frame of the kind on buses 1 to 15, Tx in 30 % of cases; a data frame is an FD
// frame in fdPercent % of cases.
cMdfWriterFrame e2e_drawFrame(e2e_rng& rng, cMdfWriterFrameKind kind, double time,
                              unsigned fdPercent);

// Writes a logger-style file and fails the test when the writer fails.
void e2e_writeLog(const std::string& path, const cMdfWriterOptions& options,
                  const std::vector<cMdfWriterGroup>& groups);

// Number of log lines (on stderr) that contain the text.
int e2e_countLines(const std::string& log, const std::string& text);

// Runs the driver in this process over the inputs, log lines of level and above to *log.
uint32_t e2e_convertInProcess(cFS* fs, const cLogReaderOptions& options, cBusLayer* layer,
                              const std::vector<std::string>& inputs, int level, std::string* log);
// The same with the trace writer (version 2.1) as the converter; wrap, when given, puts a
// converter of the test's own in front of it and returns that one.
uint32_t e2e_convertToTrace(cFS* fs, const cLogReaderOptions& options,
                            const std::vector<std::string>& inputs, std::string* log,
                            int level = ZF_LOG_INFO,
                            const std::function<cBusLayer*(cBusLayer*)>& wrap = {});

// The real file system below root with a table of its own, whose slots a test replaces to
// inject failures the real disk never shows on demand; `real` is the original table, for
// slots that pass calls on. One at a time.
struct e2e_osFs {
    static inline const cFS_vtable* real = nullptr;
    cFS* fs;
    cFS_vtable table;
    explicit e2e_osFs(const std::string& root);
    ~e2e_osFs();
};

// A converter that passes everything on to another (the trace writer) and, at message
// actAt of a file, does to the input what another program might.
struct e2e_Meddling {
    cBusLayer layer;
    cBusLayer* inner;
    int actAt;
    std::function<void()> act;
    int seen = 0;
};
extern const cBusLayer_vtable e2e_meddlingTable;
