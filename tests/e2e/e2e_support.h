#pragma once
// Helpers of the end-to-end tests: scratch folders, running the real kelvane binary,
// reading and writing whole files.

#include <cstdint>
#include <string>
#include <vector>

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
