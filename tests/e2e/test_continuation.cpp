// The continuation flag the driver hands to newFile: whether a file directly follows the one
// visited before it on the same device. A converter may carry its output on from the last
// file; the trace writer does not, so only a converter of the test's own can see it.

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <string>

#include "app/cLogReaderCLI.h"
#include "e2e_support.h"
#include "fs/cFS_os.h"
#include "support/log.h"

namespace {

// Records what newFile was told for each input; one per job, all into one map.
struct Recorder {
    cBusLayer layer;
    std::mutex* lock;
    std::map<std::string, bool>* seen;
    static Recorder* of(cBusLayer* l) { return reinterpret_cast<Recorder*>(l); }
    static bool newMsg(cBusLayer*, const cBusMsg*) { return true; }
    static bool newFile(cBusLayer* l, const cLogReaderFileInfo* info, bool continuation) {
        std::lock_guard<std::mutex> guard(*of(l)->lock);
        const bool fresh = of(l)->seen->emplace(info->inputPath, continuation).second;
        EXPECT_TRUE(fresh) << info->inputPath << " announced twice";
        return true;
    }
    static bool endFile(cBusLayer*, const cLogReaderFileInfo*) { return true; }
    static bool dropFile(cBusLayer*, const cLogReaderFileInfo*) { return true; }
    static constexpr cBusLayer_vtable table = {newMsg, newFile, endFile, dropFile};
};

struct Log {
    const char* name;
    const char* serial;
    uint32_t session;
    uint32_t split;
};

// In visiting (name) order. The flag compares each file with the one just before it.
const Log kLogs[] = {
    {"01.MF4", "0000000A", 3, 7},   // the first: nothing before it
    {"02.MF4", "0000000A", 3, 8},   // next split of the session
    {"03.MF4", "0000000A", 3, 8},   // repeated: never announced
    {"04.MF4", "0000000A", 3, 10},  // a split is missing
    {"05.MF4", "0000000B", 3, 11},  // another device
    {"06.MF4", "0000000A", 3, 256}, // after another device
    {"07.MF4", "0000000A", 4, 257}, // the session rolls over after split 256
    {"08.MF4", "0000000A", 5, 258}, // no roll-over after split 257
    {"09.MF4", "0000000A", 5, 259}, // next split again
    {"10.MF4", "0000000A", 7, 260}, // a session skipped
    {"11.MF4", "0000000A", 8, 512}, // a session on, but split not one more
    {"12.MF4", "0000000A", 9, 513}, // rolls over after 512
};

const std::map<std::string, bool> kExpected = {
    {"logs/01.MF4", false}, {"logs/02.MF4", true},  {"logs/04.MF4", false}, {"logs/05.MF4", false},
    {"logs/06.MF4", false}, {"logs/07.MF4", true},  {"logs/08.MF4", false}, {"logs/09.MF4", true},
    {"logs/10.MF4", false}, {"logs/11.MF4", false}, {"logs/12.MF4", true},
};

} // namespace

// The same flags with one job and with several, whose files are read out of order.
TEST(Continuation, NewFileIsToldWhetherTheFileFollowsTheOneBefore) {
    e2e_tempDir dir;
    e2e_mkdirs(dir / "logs");
    const uint8_t bytes[] = {1, 2};
    for (const Log& l : kLogs) {
        cMdfWriterGroup g;
        g.frames.push_back(cMdfWriterFrame_can(0.001, 1, 0x10, false, bytes, 2));
        e2e_writeLog(dir / (std::string("logs/") + l.name),
                     e2e_logOptions(l.serial, l.session, l.split), {g});
    }
    cFS* fs = cFS_os_ctor(dir.path);
    for (uint32_t jobs : {1u, 3u}) {
        SCOPED_TRACE("jobs " + std::to_string(jobs));
        std::mutex lock;
        std::map<std::string, bool> seen;
        std::vector<Recorder> recorders(jobs, Recorder{{&Recorder::table}, &lock, &seen});
        const cLogReaderOptions options{false, false, true, -1, jobs, {}};
        cLogReader* reader = cLogReader_ctor(fs, fs, true, &options, &recorders[0].layer);
        for (uint32_t i = 1; i < jobs; ++i)
            cLogReader_addConverter(reader, &recorders[i].layer);
        const int level = zf_log_get_output_level();
        zf_log_set_output_level(ZF_LOG_FATAL + 1); // the warning of the repeated file
        EXPECT_EQ(cLogReader_process(reader, {"logs"}), cExitStatus_OK);
        zf_log_set_output_level(level);
        cLogReader_dtor(reader);
        EXPECT_EQ(seen, kExpected);
    }
    cFS_dtor(fs);
}
