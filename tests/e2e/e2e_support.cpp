#include "e2e_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

e2e_tempDir::e2e_tempDir() {
    char tmpl[] = "/tmp/kelvane-e2e-XXXXXX";
    const char* made = mkdtemp(tmpl);
    path = made ? made : "";
}

e2e_tempDir::~e2e_tempDir() {
    std::error_code ec;
    if (!path.empty()) std::filesystem::remove_all(path, ec);
}


e2e_run e2e_runKelvane(const std::vector<std::string>& args, const std::string& cwd) {
    e2e_run run;
    // Output goes to files, not pipes, so a chatty child can never block on a full pipe.
    e2e_tempDir io;
    std::string outPath = io / "stdout", errPath = io / "stderr";
    pid_t pid = fork();
    if (pid == 0) {
        int o = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int e = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (o < 0 || e < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0 || chdir(cwd.c_str()) != 0)
            _exit(127);
        std::vector<char*> argv;
        static std::string binary = KELVANE_BINARY;
        argv.push_back(binary.data());
        std::vector<std::string> copy = args;
        for (std::string& a : copy)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(binary.c_str(), argv.data());
        _exit(127);
    }
    int wstatus = 0;
    if (pid > 0 && waitpid(pid, &wstatus, 0) == pid && WIFEXITED(wstatus))
        run.status = WEXITSTATUS(wstatus);
    run.out = e2e_readFile(outPath);
    run.err = e2e_readFile(errPath);
    return run;
}

bool e2e_writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(f);
}

bool e2e_writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    return e2e_writeFile(path, std::string(bytes.begin(), bytes.end()));
}

std::string e2e_readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

bool e2e_exists(const std::string& path) {
    return std::filesystem::exists(path);
}

void e2e_mkdirs(const std::string& path) {
    std::filesystem::create_directories(path);
}

void e2e_writeLog(const std::string& path, const cMdfWriterOptions& options,
                  const std::vector<cMdfWriterGroup>& groups) {
    cMdfWriterResult result;
    ASSERT_TRUE(cMdfWriter_writeFile(path.c_str(), &options, &groups, &result)) << result.error;
}

int e2e_countLines(const std::string& log, const std::string& text) {
    int count = 0;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);)
        if (line.find(text) != std::string::npos) ++count;
    return count;
}
