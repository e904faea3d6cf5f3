#pragma once
// Helpers of the end-to-end tests: scratch folders, running the real kelvane binary,
// reading and writing whole files.

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/cLogReader.h"
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

// Writes a logger-style file and fails the test when the writer fails.
void e2e_writeLog(const std::string& path, const cMdfWriterOptions& options,
                  const std::vector<cMdfWriterGroup>& groups);

// Number of log lines (on stderr) that contain the text.
int e2e_countLines(const std::string& log, const std::string& text);

// Runs the driver in this process over the inputs, log lines of level and above to *log.
uint32_t e2e_convertInProcess(cFS* fs, const cLogReaderOptions& options, cBusLayer* layer,
                              const std::vector<std::string>& inputs, int level, std::string* log);

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
