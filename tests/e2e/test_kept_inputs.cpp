// -d deletes an input only once its trace is durable and in place. Failures the real disk
// never shows on demand (a failing fsync, a rename that did not happen) are injected through
// the file system's table; the input must then stay, with a message saying why.

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "app/cLogReaderCLI.h"
#include "converter/cPeakConverter.h"
#include "e2e_support.h"
#include "fs/cFS_os.h"
#include "support/log.h"

namespace {

const uint8_t kBytes[] = {1, 2, 3, 4};

void writeTwoFrameLog(const std::string& path) {
    cMdfWriterGroup g;
    g.frames.push_back(cMdfWriterFrame_can(0.001, 1, 0x123, false, kBytes, 4));
    g.frames.push_back(cMdfWriterFrame_can(0.002, 2, 0x1ABCDEF, true, kBytes, 3));
    e2e_writeLog(path, e2e_logOptions(), {g});
}

std::string_view withoutTrailingSlashes(std::string_view path) {
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    return path;
}

// A path ending so (trailing slashes aside) fails its fsync.
std::string failSyncOf;
bool failingSync(cFS* fs, std::string_view path) {
    if (withoutTrailingSlashes(path).ends_with(failSyncOf)) {
        errno = EIO;
        return false;
    }
    return e2e_osFs::real->sync(fs, path);
}

// Converts logs/a.MF4 with -d in this process, with the real trace writer.
uint32_t convertDeleting(cFS* fs, std::string* log) {
    return e2e_convertToTrace(fs, {true, false, true, -1, 1, {}}, {"logs"}, log);
}

} // namespace

// A trace or its folder that cannot be put on the disk keeps the input: after a power loss
// the trace could be gone with the only other copy of its frames.
TEST(KeptInputs, FailingFsyncOfTheTraceOrItsFolderKeepsTheInput) {
    for (const char* failing : {"logs_out/a_CAN.trc", "logs_out"}) {
        SCOPED_TRACE(failing);
        e2e_tempDir dir;
        e2e_mkdirs(dir / "logs");
        writeTwoFrameLog(dir / "logs/a.MF4");
        e2e_osFs faulty(dir.path);
        faulty.table.sync = failingSync;
        failSyncOf = failing;
        std::string log;
        EXPECT_EQ(convertDeleting(faulty.fs, &log), cExitStatus_CONVERSION_FAILED) << log;
        EXPECT_TRUE(e2e_exists(dir / "logs/a.MF4")) << log;
        EXPECT_TRUE(e2e_exists(dir / "logs_out/a_CAN.trc")) << log;
        EXPECT_EQ(e2e_countLines(log, "Kept logs/a.MF4: could not flush its trace "
                                      "logs_out/a_CAN.trc to disk: Input/output error"),
                  1)
            << log;
    }
    // With every fsync working, the same run deletes it.
    e2e_tempDir dir;
    e2e_mkdirs(dir / "logs");
    writeTwoFrameLog(dir / "logs/a.MF4");
    e2e_osFs faulty(dir.path);
    faulty.table.sync = failingSync;
    failSyncOf = "no such name";
    std::string log;
    EXPECT_EQ(convertDeleting(faulty.fs, &log), cExitStatus_OK) << log;
    EXPECT_FALSE(e2e_exists(dir / "logs/a.MF4")) << log;
    EXPECT_TRUE(e2e_exists(dir / "logs_out/a_CAN.trc"));
}

// The writer believes its trace is in place, but the rename never happened: the trace
// under its name is missing, so the input stays.
TEST(KeptInputs, TraceNotRenamedIntoPlaceKeepsTheInput) {
    e2e_tempDir dir;
    e2e_mkdirs(dir / "logs");
    writeTwoFrameLog(dir / "logs/a.MF4");
    e2e_osFs faulty(dir.path);
    // Says it moved the file and leaves it where it was.
    faulty.table.rename = [](cFS*, std::string_view, std::string_view) { return true; };
    std::string log;
    EXPECT_EQ(convertDeleting(faulty.fs, &log), cExitStatus_CONVERSION_FAILED) << log;
    EXPECT_FALSE(e2e_exists(dir / "logs_out/a_CAN.trc"));
    EXPECT_TRUE(e2e_exists(dir / "logs/a.MF4")) << log;
    EXPECT_EQ(e2e_countLines(log, "Kept logs/a.MF4: could not flush its trace"), 1) << log;
}

namespace {

// A converter that takes every frame and says so, but names no output in place.
struct NoOutputConverter {
    cBusLayer layer;
    uint64_t frames = 0;
    static NoOutputConverter* of(cBusLayer* l) { return reinterpret_cast<NoOutputConverter*>(l); }
    static bool newMsg(cBusLayer* l, const cBusMsg* msg) {
        if (msg->Type == BUS_MSG_CAN_DATA_FRAME || msg->Type == BUS_MSG_CAN_REMOTE_FRAME)
            ++of(l)->frames;
        return true;
    }
    static bool newFile(cBusLayer* l, const cLogReaderFileInfo*, bool) {
        of(l)->frames = 0;
        return true;
    }
    static bool endFile(cBusLayer*, const cLogReaderFileInfo*) { return true; }
    static bool dropFile(cBusLayer*, const cLogReaderFileInfo*) { return true; }
    static bool summary(cBusLayer* l, cBusLayerFileSummary* out) {
        *out = {of(l)->frames, of(l)->frames, std::string()};
        return true;
    }
    static constexpr cBusLayer_vtable table = {newMsg, newFile, endFile, dropFile, summary};
    NoOutputConverter() : layer{&table} {}
};

} // namespace

// Every frame counted as written is not enough: an output that is not in place holds none.
TEST(KeptInputs, AllFramesWrittenButNoOutputInPlaceKeepsTheInput) {
    e2e_tempDir dir;
    e2e_mkdirs(dir / "logs");
    writeTwoFrameLog(dir / "logs/a.MF4");
    cFS* fs = cFS_os_ctor(dir.path);
    NoOutputConverter converter;
    const cLogReaderOptions options{true, false, true, -1, 1, {}};
    std::string log;
    EXPECT_EQ(e2e_convertInProcess(fs, options, &converter.layer, {"logs"}, ZF_LOG_INFO, &log),
              cExitStatus_OK);
    EXPECT_EQ(converter.frames, 2u);
    EXPECT_TRUE(e2e_exists(dir / "logs/a.MF4")) << log;
    EXPECT_EQ(e2e_countLines(log, "Kept logs/a.MF4: its trace is not in place"), 1) << log;
    cFS_dtor(fs);
}
