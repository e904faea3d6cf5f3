#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <sys/stat.h>

#include "converter/cPeakConverter.h"
#include "fs/cFS_os.h"
#include "support/log.h"

namespace {

std::string logged;
void captureLine(const char* line, int length) {
    logged.append(line, length);
}

std::string messages() {
    std::string out;
    std::istringstream lines(logged);
    for (std::string line; std::getline(lines, line);)
        out += line.substr(line.find(' ', 25) + 3) + "\n";
    return out;
}

// A file system whose one file accepts a limited number of bytes and whose close and
// remove can be made to fail.
struct FakeFS {
    cFS base;
    bool openWorks = true;
    int64_t room = 1 << 20;
    int32_t closeResult = 0;
    bool removeWorks = true;
    int removes = 0;
    std::string written;
};

struct FakeIO {
    cIO base;
    FakeFS* fs;
};

int64_t fakeWrite(cIO* io, const void* src, uint64_t n) {
    FakeFS* fs = reinterpret_cast<FakeIO*>(io)->fs;
    const uint64_t taken = std::min<uint64_t>(n, static_cast<uint64_t>(fs->room));
    fs->written.append(static_cast<const char*>(src), taken);
    fs->room -= static_cast<int64_t>(taken);
    return static_cast<int64_t>(taken);
}

int32_t fakeClose(cIO* io) {
    FakeIO* f = reinterpret_cast<FakeIO*>(io);
    const int32_t result = f->fs->closeResult;
    delete f;
    return result;
}

const cIO_vtable fakeIoTable = {nullptr, fakeWrite, nullptr, nullptr, fakeClose};

void fakeDtor(cFS*) {}
bool fakeRm(cFS* fs, std::string_view) {
    FakeFS* f = reinterpret_cast<FakeFS*>(fs);
    ++f->removes;
    return f->removeWorks;
}
cIO* fakeOpen(cFS* fs, std::string_view, uint32_t) {
    FakeFS* f = reinterpret_cast<FakeFS*>(fs);
    if (!f->openWorks) return nullptr;
    return &(new FakeIO{{&fakeIoTable}, f})->base;
}
const cFS_vtable fakeFsTable = {fakeDtor, nullptr, nullptr, nullptr, fakeRm, fakeOpen};

struct TraceRun {
    FakeFS fs;
    cPeakConverter* c = nullptr;
    cLogReaderFileInfo info{};
    TraceRun(uint32_t format) {
        cFS_init(&fs.base, "");
        fs.base.vt = &fakeFsTable;
        c = cPeakConverter_ctor(&fs.base, format);
        info.outputPath = "x";
        logged.clear();
        zf_log_set_output_callback(captureLine);
        zf_log_set_output_level(ZF_LOG_VERBOSE);
    }
    ~TraceRun() {
        cPeakConverter_dtor(c);
        zf_log_set_output_callback(nullptr);
    }
    bool newFile() { return c->layer.vt->newFile(&c->layer, &info, false); }
    bool msg(double t) {
        cBusMsg m{};
        m.Timestamp = t;
        m.Type = BUS_MSG_CAN_DATA_FRAME;
        m.DataBytes = "ab";
        m.CAN.DLC = 2;
        return c->layer.vt->newMsg(&c->layer, &m);
    }
    bool endFile() { return c->layer.vt->endFile(&c->layer, &info); }
};

TEST(cPeakConverterFailures, ShortWritesAreReported) {
    const struct {
        uint32_t format;
        int64_t room;
        const char* message;
    } cases[] = {
        {1, 10, "Could not write CAN header\n"},
        {2, 10, "Could not write CAN header\n"},
        {1, 50, "Could not write CAN data\n"},
        {2, 80, ""}, // the driver names the failed record
    };
    for (const auto& c : cases) {
        TraceRun run(c.format);
        run.fs.room = c.room;
        ASSERT_TRUE(run.newFile());
        EXPECT_FALSE(run.msg(1.0)) << c.format << " " << c.room;
        EXPECT_EQ(messages(), c.message);
    }
}

TEST(cPeakConverterFailures, CloseAndRemoveFailures) {
    {
        TraceRun run(2);
        run.fs.closeResult = -1;
        ASSERT_TRUE(run.newFile());
        ASSERT_TRUE(run.msg(1.0));
        EXPECT_FALSE(run.endFile());
        EXPECT_EQ(messages(), "Could not close CAN file\n");
        EXPECT_EQ(run.fs.removes, 0);
    }
    {
        TraceRun run(2);
        run.fs.removeWorks = false;
        ASSERT_TRUE(run.newFile());
        EXPECT_FALSE(run.endFile());
        EXPECT_EQ(messages(), "Could not remove CAN file\n");
        EXPECT_EQ(run.fs.removes, 1);
    }
}

TEST(cPeakConverterFailures, OutputThatCannotBeOpenedIsNeverRemoved) {
    TraceRun run(2);
    ASSERT_TRUE(run.newFile());
    EXPECT_TRUE(run.endFile()); // empty: removed
    EXPECT_EQ(run.fs.removes, 1);
    run.fs.openWorks = false;
    EXPECT_FALSE(run.newFile());
    EXPECT_EQ(messages(), "Could not open output file for CAN: x_CAN.trc\n");
    EXPECT_TRUE(run.endFile());
    EXPECT_EQ(run.fs.removes, 1);
}

TEST(cPeakConverterFailures, FolderInTheWayIsKept) {
    char name[] = "/tmp/kv_trc_XXXXXX";
    const std::string root = mkdtemp(name);
    ASSERT_EQ(mkdir((root + "/x_CAN.trc").c_str(), 0700), 0);
    cFS* fs = cFS_os_ctor(root);
    cPeakConverter* c = cPeakConverter_ctor(fs, 2);
    cLogReaderFileInfo info{};
    info.outputPath = "x";
    zf_log_set_output_level(ZF_LOG_FATAL);
    EXPECT_FALSE(c->layer.vt->newFile(&c->layer, &info, false));
    c->layer.vt->endFile(&c->layer, &info);
    struct stat st;
    EXPECT_EQ(stat((root + "/x_CAN.trc").c_str(), &st), 0);
    cPeakConverter_dtor(c);
    cFS_dtor(fs);
    rmdir((root + "/x_CAN.trc").c_str());
    rmdir(root.c_str());
}

} // namespace
