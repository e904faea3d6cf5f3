#include "e2e_support.h"

#include <gtest/gtest.h>

#include "converter/cPeakConverter.h"
#include "fs/cFS_os.h"
#include "support/log.h"
#include "tools/cContainerWriter.h"

#include <algorithm>
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

std::vector<std::string> e2e_namesIn(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void e2e_encryptFile(const std::string& plain, const std::string& out, const std::string& password,
                     uint32_t serial) {
    cContainerWriter_encryptOptions o;
    o.password = password;
    o.iterations = 1000;
    o.serialNumber = serial;
    ASSERT_TRUE(cContainerWriter_encryptFile(plain.c_str(), out.c_str(), &o)) << out;
}

void e2e_compressFile(const std::string& plain, const std::string& out) {
    cContainerWriter_compressOptions o;
    ASSERT_TRUE(cContainerWriter_compressFile(plain.c_str(), out.c_str(), &o)) << out;
}

std::string e2e_python() {
    return e2e_exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
}

int e2e_shell(const std::string& command, std::string* out) {
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    out->clear();
    char buffer[4096];
    while (size_t n = fread(buffer, 1, sizeof buffer, pipe))
        out->append(buffer, n);
    const int status = pclose(pipe);
    return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

cMdfWriterFrame e2e_drawFrame(e2e_rng& rng, cMdfWriterFrameKind kind, double time,
                              unsigned fdPercent) {
    uint8_t data[64];
    for (uint8_t& b : data)
        b = static_cast<uint8_t>(rng.next());
    const uint8_t bus = static_cast<uint8_t>(1 + rng.below(15));
    const bool ide = rng.percent(40);
    const uint32_t id = static_cast<uint32_t>(rng.below(ide ? 0x20000000u : 0x800u));
    cMdfWriterFrame f;
    switch (kind) {
    case MDFW_CAN_DATA:
        if (rng.percent(fdPercent)) {
            f = cMdfWriterFrame_can(time, bus, id, ide, data,
                                    cMdfWriter_lengthForDlc(uint8_t(rng.below(16))), true);
            f.brs = rng.percent(50);
            f.esi = rng.percent(20);
        } else {
            f = cMdfWriterFrame_can(time, bus, id, ide, data, uint8_t(rng.below(9)));
        }
        break;
    case MDFW_CAN_REMOTE:
        f = cMdfWriterFrame_remote(time, bus, id, ide, uint8_t(rng.below(9)));
        break;
    case MDFW_CAN_ERROR:
        f = cMdfWriterFrame_error(time, bus, uint8_t(1 + rng.below(5)));
        break;
    case MDFW_LIN:
        f = cMdfWriterFrame_lin(time, bus, uint8_t(rng.below(64)), data, uint8_t(rng.below(9)));
        break;
    }
    f.dir = rng.percent(30);
    return f;
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

uint32_t e2e_convertToTrace(cFS* fs, const cLogReaderOptions& options,
                            const std::vector<std::string>& inputs, std::string* log, int level,
                            const std::function<cBusLayer*(cBusLayer*)>& wrap) {
    cPeakConverter* peak = cPeakConverter_ctor(fs, cPeakConverter_VERSION_2_1);
    cBusLayer* layer = wrap ? wrap(&peak->layer) : &peak->layer;
    const uint32_t code = e2e_convertInProcess(fs, options, layer, inputs, level, log);
    cPeakConverter_dtor(peak);
    return code;
}

e2e_osFs::e2e_osFs(const std::string& root) : fs(cFS_os_ctor(root)) {
    real = fs->vt;
    table = *real;
    fs->vt = &table;
}

e2e_osFs::~e2e_osFs() {
    fs->vt = real;
    cFS_dtor(fs);
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
