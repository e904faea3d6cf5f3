#include "e2e_support.h"

#include <gtest/gtest.h>

#include "support/log.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

cMdfWriterOptions e2e_logOptions(const std::string& serial, uint32_t session, uint32_t split) {
    cMdfWriterOptions o;
    o.startTimeNs = 1700000000500000000ull;
    o.serialNumber = serial;
    o.session = session;
    o.split = split;
    return o;
}

e2e_tempDir::e2e_tempDir() {
    char tmpl[] = "/tmp/kelvane-e2e-XXXXXX";
    const char* made = mkdtemp(tmpl);
    path = made ? made : "";
}

e2e_tempDir::~e2e_tempDir() {
    std::error_code ec;
    if (!path.empty()) std::filesystem::remove_all(path, ec);
}

pid_t e2e_startKelvane(const std::vector<std::string>& args, const std::string& cwd,
                       const std::string& outPath, const std::string& errPath,
                       const std::function<void()>& inChild) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    const int o = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int e = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (o < 0 || e < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0 || chdir(cwd.c_str()) != 0) _exit(127);
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

int e2e_waitFor(pid_t pid) {
    int status = 0;
    return waitpid(pid, &status, 0) == pid ? status : -1;
}

// Output goes to files, not pipes, so a chatty child can never block on a full pipe.
e2e_run e2e_runKelvane(const std::vector<std::string>& args, const std::string& cwd) {
    e2e_run run;
    e2e_tempDir io;
    const int status = e2e_waitFor(e2e_startKelvane(args, cwd, io / "stdout", io / "stderr"));
    if (status != -1 && WIFEXITED(status)) run.status = WEXITSTATUS(status);
    run.out = e2e_readFile(io / "stdout");
    run.err = e2e_readFile(io / "stderr");
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

uint32_t e2e_convertInProcess(cFS* fs, const cLogReaderOptions& options, cBusLayer* layer,
                              const std::vector<std::string>& inputs, int level, std::string* log) {
    static std::string* into;
    into = log;
    log->clear();
    zf_log_set_output_callback([](const char* l, int n) { (*into += std::string(l, n)) += '\n'; });
    const int was = zf_log_get_output_level();
    zf_log_set_output_level(level);
    cLogReader* reader = cLogReader_ctor(fs, fs, true, &options, layer);
    const uint32_t code = cLogReader_process(reader, inputs);
    cLogReader_dtor(reader);
    zf_log_set_output_level(was);
    zf_log_set_output_callback(nullptr);
    return code;
}

namespace {

e2e_Meddling* self(cBusLayer* l) {
    return reinterpret_cast<e2e_Meddling*>(l);
}
bool onMsg(cBusLayer* l, const cBusMsg* m) {
    if (++self(l)->seen == self(l)->actAt) self(l)->act();
    return self(l)->inner->vt->newMsg(self(l)->inner, m);
}
bool onFile(cBusLayer* l, const cLogReaderFileInfo* i, bool c) {
    self(l)->seen = 0;
    return self(l)->inner->vt->newFile(self(l)->inner, i, c);
}
bool onEnd(cBusLayer* l, const cLogReaderFileInfo* i) {
    return self(l)->inner->vt->endFile(self(l)->inner, i);
}
bool onDrop(cBusLayer* l, const cLogReaderFileInfo* i) {
    return self(l)->inner->vt->dropFile(self(l)->inner, i);
}
bool onSummary(cBusLayer* l, cBusLayerFileSummary* out) {
    return self(l)->inner->vt->summary(self(l)->inner, out);
}

} // namespace

const cBusLayer_vtable e2e_meddlingTable = {onMsg, onFile, onEnd, onDrop, onSummary};
