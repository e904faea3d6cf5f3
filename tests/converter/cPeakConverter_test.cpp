#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <unistd.h>
#include <vector>

#include "app/logCapture.h"
#include "converter/cPeakConverter.h"
#include "converter/cPeakLines.h"
#include "converter_test_support.h"

namespace {

// An output file system that keeps what is written to its one file, takes a limited
// number of bytes, and whose open, close and remove can be made to fail.
struct FakeFS {
    cFS base;
    bool openWorks = true, renameWorks = true;
    int64_t room = 1 << 20;
    int32_t closeResult = 0;
    int error = 0, removes = 0; // errno of a failed write, close or rename: the system's reason
    std::string opened, written;
    // With temporary files: what happened to which name, in order, and the names taken.
    std::vector<std::string> events, taken;
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
    if (taken < n) errno = fs->error;
    return static_cast<int64_t>(taken);
}
int32_t fakeClose(cIO* io) {
    FakeIO* f = reinterpret_cast<FakeIO*>(io);
    const int32_t result = f->fs->closeResult;
    if (result != 0) errno = f->fs->error;
    delete f;
    return result;
}
const cIO_vtable fakeIoTable = {nullptr, fakeWrite, nullptr, nullptr, fakeClose};

void fakeDtor(cFS*) {}
bool fakeRm(cFS* fs, std::string_view path) {
    reinterpret_cast<FakeFS*>(fs)->events.push_back("remove " + std::string(path));
    return ++reinterpret_cast<FakeFS*>(fs)->removes > 0;
}
cIO* fakeOpen(cFS* fs, std::string_view path, uint32_t flags) {
    FakeFS* f = reinterpret_cast<FakeFS*>(fs);
    if (!f->openWorks || flags != 6) return nullptr;
    f->opened = path;
    f->written.clear();
    return &(new FakeIO{{&fakeIoTable}, f})->base;
}
const cFS_vtable fakeFsTable = {fakeDtor, nullptr, nullptr, nullptr, fakeRm, fakeOpen};

cIO* fakeCreateNew(cFS* fs, std::string_view path) {
    FakeFS* f = reinterpret_cast<FakeFS*>(fs);
    if (std::find(f->taken.begin(), f->taken.end(), path) != f->taken.end()) {
        errno = EEXIST;
        return nullptr;
    }
    f->events.push_back("create " + std::string(path));
    return fakeOpen(fs, path, 6);
}
bool fakeRename(cFS* fs, std::string_view from, std::string_view to) {
    FakeFS* f = reinterpret_cast<FakeFS*>(fs);
    if (f->renameWorks)
        f->events.push_back("rename " + std::string(from) + " " + std::string(to));
    else
        errno = f->error;
    return f->renameWorks;
}
const cFS_vtable fakeAtomicFsTable = {fakeDtor, nullptr, nullptr,       nullptr,   fakeRm,
                                      fakeOpen, nullptr, fakeCreateNew, fakeRename};

struct Trace {
    FakeFS fs;
    cPeakConverter* c;
    cLogReaderFileInfo info{};
    LogCapture log;
    explicit Trace(uint32_t format, bool atomic = false) {
        cFS_init(&fs.base, "");
        fs.base.vt = atomic ? &fakeAtomicFsTable : &fakeFsTable;
        c = cFrameWriter_ctor(&fs.base, format);
        info.outputPath = "dev/00000001";
    }
    ~Trace() { cPeakConverter_dtor(c); }
    bool newFile() { return c->layer.vt->newFile(&c->layer, &info, false); }
    bool msg(const cBusMsg& m) { return c->layer.vt->newMsg(&c->layer, &m); }
    bool endFile() { return c->layer.vt->endFile(&c->layer, &info); }
    cBusLayerFileSummary summary() {
        cBusLayerFileSummary out{99, 99, "?"};
        EXPECT_TRUE(c->layer.vt->summary(&c->layer, &out));
        return out;
    }
};

// Frames on bus 1 at offsets t from a start between two seconds.
constexpr double T0 = 1700000000.5;

// Frames of every kind in time order: CAN, LIN and error records, classic and FD frames.
std::vector<cBusMsg> mixedFrames() {
    return {frame(T0, 1, 0x123, std::string("\x01\xAB\xFF\x00\x10\x20\x30\x40", 8), 8),
            frame(T0 + 0.001, 1, 0x10, "\x01", 1, "L"),
            frame(T0 + 0.0015, 1, 0x18DAF110, "\x02\x10\x03", 3, "ID"),
            frame(T0 + 0.002, 1, 0x7FF, std::string(24, '\x55'), 12, "EBS"),
            frame(T0 + 0.0025, 1, 0x456, "", 2, "R"),
            frame(T0 + 0.003, 1, 0, "", 0, "X"),
            frame(T0 + 0.004, 1, 0x1, "\xAA", 1, "EB"),
            frame(T0 + 0.005, 1, 0x1, "\xAA", 1, "ES"),
            frame(T0 + 1.0, 1, 0x1, "\xAA", 1, "EI"),
            frame(T0 + 2.0, 1, 0x7, "", 0)};
}

TEST(cPeakConverter, FileWithoutRecordLinesIsRemoved) {
    // LIN and error records only: no header; version 1.1 with FD frames only: a header
    // (from the first FD frame, +2 ms) but no record. Removed all the same.
    const std::tuple<uint32_t, int, const char*> cases[] = {
        {2, 1, ""}, {1, 3, ";$FILEVERSION=1.1\n;$STARTTIME=45244.9259317361\n"}};
    for (const auto& [format, first, text] : cases) {
        Trace t(format);
        ASSERT_TRUE(t.newFile());
        EXPECT_TRUE(t.msg(mixedFrames()[first]) && t.msg(mixedFrames()[first == 1 ? 5 : 6]));
        EXPECT_TRUE(t.endFile());
        EXPECT_EQ(t.fs.written, text);
        EXPECT_EQ(t.fs.removes, 1);
    }
}

TEST(cPeakConverter, StartDates) {
    const std::pair<double, const char*> cases[] = {
        {0.0, "25569.0000000000\n"},
        {86400.0 * 2 - 1e-7, "25571.0000000000\n"}, // rounds up
        {-2209161600.0 - 86400.0, "    0.0000000000\n"},
        {NAN, "    0.0000000000\n"}};
    for (const auto& [time, expected] : cases) {
        std::string text;
        cPeakConverter_appendStartDate(&text, time);
        EXPECT_EQ(text, expected) << time;
    }
}

// Record numbers across carries, past the column width and the signed range, and from 1 again
// in the next file.
TEST(cPeakConverter, RecordNumbersCountAcrossDigitsAndFiles) {
    // The number column of each record line: its blanks, its digits (and the ")" of 1.1).
    auto numbers = [](const std::string& text) {
        std::string out;
        for (size_t at = 0; at < text.size(); at = text.find('\n', at) + 1) {
            const std::string line = text.substr(at, text.find('\n', at) - at);
            if (line[0] != ';')
                out += line.substr(0, line.find(' ', line.find_first_not_of(' '))) + "|";
        }
        return out;
    };
    for (uint32_t format : {1u, 2u}) {
        Trace t(format);
        std::string all;
        for (uint64_t start : {uint64_t{1}, uint64_t{99999}, uint64_t{999998}, uint64_t{9999999},
                               uint64_t{2147483647}}) {
            ASSERT_TRUE(t.newFile());
            t.c->messageNumber = start;
            for (int i = 0; i < 3; ++i)
                ASSERT_TRUE(t.msg(frame(T0, 1, 1, "", 0)));
            ASSERT_TRUE(t.endFile());
            all += numbers(t.fs.written);
        }
        EXPECT_EQ(all, format == 1 ? "     1)|     2)|     3)| 99999)|100000)|100001)|999998)|"
                                     "999999)|1000000)|9999999)|10000000)|10000001)|"
                                     "2147483647)|2147483648)|2147483649)|"
                                   : "      1|      2|      3|  99999| 100000| 100001| 999998|"
                                     " 999999|1000000|9999999|10000000|10000001|"
                                     "2147483647|2147483648|2147483649|");
    }
}

// The record lines of random frames, a few batches of them, against the C library's printf
// of the same columns; with the helper thread and without.
TEST(cPeakConverter, LinesMatchPrintfAcrossBatchesWithAndWithoutHelper) {
    std::mt19937 random(7);
    std::vector<cBusMsg> frames;
    double t = 0;
    for (size_t i = 0; i < 2 * cFrameBatch_FRAMES + 777; ++i) {
        t += std::uniform_real_distribution<double>(0, 0.002)(random);
        const unsigned kind = random() % 8;
        std::string data(random() % 3 == 0 ? random() % 65 : random() % 9, '\0');
        for (char& b : data)
            b = static_cast<char>(random());
        const char* flags[] = {"", "I", "D", "ID", "R", "E", "EBI", "ESD"};
        frames.push_back(frame(T0 + t, 1, static_cast<uint32_t>(random()) >> (kind & 1 ? 3 : 21),
                               data, static_cast<uint8_t>(random() % 16), flags[kind]));
        frames.back().BusChannel = static_cast<uint8_t>(random() % 12);
    }
    for (uint32_t format : {1u, 2u}) {
        std::string expected;
        uint64_t number = 1;
        char line[512];
        for (const cBusMsg& m : frames) {
            const cBusMsg_CAN& can = m.CAN;
            const double offset = (m.Timestamp - frames[0].Timestamp) * 1000.0;
            if (format == 1 && can.EDL) continue;
            if (format == 1)
                snprintf(line, sizeof line,
                         can.IDE ? "%6" PRIu64 ") %11.1f %s    %08X %d  "
                                 : "%6" PRIu64 ") %11.1f %s        %04X %d  ",
                         number++, offset, can.Dir ? "Tx" : "Rx", m.ID, can.DLC);
            else
                snprintf(line, sizeof line,
                         can.IDE ? "%7" PRIu64 " %13.3f %s %d %08X %s %d%s"
                                 : "%7" PRIu64 " %13.3f %s %d     %04X %s %d%s",
                         number++, offset,
                         !can.EDL  ? (can.RTR ? "RR" : "DT")
                         : can.BRS ? (can.ESI ? "BI" : "FB")
                                   : (can.ESI ? "FE" : "FD"),
                         m.BusChannel, m.ID, can.Dir ? "Tx" : "Rx", can.DLC,
                         can.DLC < 10 ? "    " : "   ");
            expected += line;
            if (can.RTR && format == 1) expected += "RTR";
            for (size_t i = 0; !can.RTR && i < cBusMsg_data(&m).size(); ++i) {
                snprintf(line, sizeof line, i ? " %02X" : "%02X",
                         static_cast<unsigned char>(cBusMsg_data(&m)[i]));
                expected += line;
            }
            expected += '\n';
        }
        for (bool helper : {false, true}) {
            Trace trace(format);
            trace.fs.room = int64_t{1} << 30;
            if (helper) {
                ASSERT_TRUE(cPeakConverter_startHelper(trace.c));
            }
            ASSERT_TRUE(trace.newFile());
            for (const cBusMsg& m : frames)
                ASSERT_TRUE(trace.msg(m));
            ASSERT_TRUE(trace.endFile());
            const std::string& text = trace.fs.written;
            const size_t header = format == 1 ? 2 : 3;
            size_t body = 0;
            for (size_t i = 0; i < header; ++i)
                body = text.find('\n', body) + 1;
            EXPECT_TRUE(text.compare(body, std::string::npos, expected) == 0)
                << format << (helper ? " with" : " without") << " the helper";
            EXPECT_EQ(trace.summary().framesWritten, number - 1);
        }
    }
}

// A write that fails is told with the system's reason and the trace is removed at once;
// the helper changes neither the message that finds it nor the lines logged.
TEST(cPeakConverter, WriteFailuresAreReported) {
    // The header, then a frame whose line does not fit: found at endFile.
    for (const auto& [format, room, message] :
         {std::tuple<uint32_t, int64_t, const char*>{1, 10, "E Could not write CAN header\n"},
          {2, 10, "E Could not write CAN header\n"}}) {
        Trace t(format);
        t.fs.room = room;
        ASSERT_TRUE(t.newFile());
        EXPECT_FALSE(t.msg(frame(T0, 1, 1, "ab", 2))) << format << " " << room;
        EXPECT_EQ(LogCapture::lines(), message);
        EXPECT_EQ(t.fs.removes, 1); // the part written is gone at once
        EXPECT_TRUE(!t.msg(frame(T0 + 1, 1, 1, "ab", 2)) && t.endFile() && t.fs.removes == 1);
    }
    Trace small(2);
    small.fs.room = 80;
    ASSERT_TRUE(small.newFile() && small.msg(frame(T0, 1, 1, "ab", 2)));
    EXPECT_FALSE(small.endFile());
    EXPECT_EQ(LogCapture::lines(),
              "E Could not write CAN file dev/00000001_CAN.trc: no reason given\n");
    EXPECT_EQ(small.fs.removes, 1);

    // A disk that fills up somewhere in the third batch, the trace written on and on.
    for (uint32_t format : {1u, 2u}) {
        std::vector<std::pair<size_t, std::string>> seen;
        for (bool helper : {false, true}) {
            Trace t(format);
            t.fs.room = 2 * cFrameBatch_FRAMES * 40 + 12345;
            t.fs.error = ENOSPC;
            if (helper) {
                ASSERT_TRUE(cPeakConverter_startHelper(t.c));
            }
            ASSERT_TRUE(t.newFile());
            size_t failedAt = 0;
            while (failedAt < 20 * cFrameBatch_FRAMES &&
                   t.msg(frame(T0 + failedAt * 1e-3, 1, 1, "ab", 2)))
                ++failedAt;
            EXPECT_TRUE(t.endFile() && t.fs.removes == 1);
            seen.emplace_back(failedAt, LogCapture::lines());
        }
        EXPECT_LT(seen[0].first, 20 * cFrameBatch_FRAMES);
        EXPECT_EQ(seen[0].first, seen[1].first);
        EXPECT_EQ(seen[0].second,
                  "E Could not write CAN file dev/00000001_CAN.trc: No space left on device\n");
        EXPECT_EQ(seen[0].second, seen[1].second);
    }
}

// The other formats fail the same way, with what they write at the end too: ASC's last line,
// BLF's header written again (on a stream that cannot go back, here).
TEST(cPeakConverter, OtherFormatsFailTheirEndsAlike) {
    for (const auto& [format, room, message] :
         {std::tuple<uint32_t, int64_t, const char*>{
              cOutputFormat_ASC, 180,
              "E Could not write CAN file dev/00000001_CAN.asc: "
              "No space left on device\n"},
          {cOutputFormat_BLF, 1 << 20,
           "E Could not write CAN file dev/00000001_CAN.blf: no reason given\n"},
          {cOutputFormat_CSV, 30,
           "E Could not write CAN header\nE Could not write CAN file dev/00000001_CAN.csv: No "
           "space left on device\n"},
          {cOutputFormat_CANDUMP, 20,
           "E Could not write CAN file dev/00000001_CAN.log: No space left on device\n"}}) {
        Trace t(format);
        t.fs.room = room;
        t.fs.error = ENOSPC;
        ASSERT_TRUE(t.newFile());
        const bool taken = t.msg(frame(T0, 1, 1, "ab", 2));
        EXPECT_FALSE(taken && t.endFile()) << format;
        EXPECT_EQ(LogCapture::lines(), message) << format;
        EXPECT_EQ(t.fs.removes, 1) << format; // nothing is left that looks like an output
        EXPECT_EQ(t.summary().outputPath, "");
    }
}

TEST(cPeakConverter, CloseAndOpenFailures) {
    Trace closing(2);
    closing.fs.closeResult = -1;
    closing.fs.error = ENOSPC; // the last block did not fit
    ASSERT_TRUE(closing.newFile() && closing.msg(frame(T0, 1, 1, "", 0)));
    EXPECT_FALSE(closing.endFile());
    EXPECT_EQ(LogCapture::lines(),
              "E Could not close CAN file dev/00000001_CAN.trc: No space left on device\n");
    EXPECT_EQ(closing.fs.removes, 1); // a trace that may lack its end is no trace

    // An output that could not be opened (a folder or a protected file in the way) is not
    // ours: it is never removed, whatever the previous file left behind.
    Trace opening(2);
    ASSERT_TRUE(opening.newFile() && opening.endFile()); // empty, so removed
    opening.fs.openWorks = false;
    EXPECT_FALSE(opening.newFile());
    EXPECT_EQ(LogCapture::lines(),
              "E Could not open output file for CAN: dev/00000001_CAN.trc: no reason given\n");
    EXPECT_TRUE(opening.endFile() && opening.fs.removes == 1 &&
                !opening.msg(frame(T0, 1, 1, "", 0)));
}

// The counter behind the names is the process's: other tests of the binary move it on.
int tempBase = 0;
std::string tempName(int n) {
    return "dev/.kelvane-tmp-" + std::to_string(getpid()) + "-" + std::to_string(tempBase + n);
}

// With a file system that can move files into place, the trace is written under a hidden
// temporary name and gets its own name only once it is complete and closed; whatever fails
// on the way leaves nothing under either name.
TEST(cPeakConverter, TraceGetsItsNameOnlyWhenComplete) {
    Trace v1(1, true);
    ASSERT_TRUE(v1.newFile());
    ASSERT_EQ(v1.fs.events.size(), 1u);
    const std::string temp = v1.fs.events[0].substr(7);
    tempBase = std::atoi(temp.substr(temp.rfind('-') + 1).c_str());
    EXPECT_EQ(temp, tempName(0));
    for (const cBusMsg& m : mixedFrames())
        EXPECT_TRUE(v1.msg(m));
    EXPECT_EQ(v1.fs.events.size(), 1u); // nothing under the final name before endFile
    EXPECT_TRUE(v1.endFile());
    EXPECT_EQ(v1.fs.events.back(), "rename " + temp + " dev/00000001_CAN.trc");
    const cBusLayerFileSummary held = v1.summary(); // version 1.1 leaves the 4 FD frames out
    EXPECT_TRUE(held.framesReceived == 8u && held.framesWritten == 4u) << held.framesWritten;
    EXPECT_EQ(held.outputPath, "dev/00000001_CAN.trc");
    ASSERT_TRUE(v1.c->layer.vt->dropFile(&v1.c->layer, &v1.info)); // the input was damaged
    EXPECT_EQ(v1.fs.events.back(), "remove dev/00000001_CAN.trc");
    EXPECT_EQ(v1.summary().outputPath, "");

    // Names taken by another run are passed over; an empty trace is removed unnamed.
    Trace empty(2, true);
    empty.fs.taken = {tempName(1), tempName(2)};
    ASSERT_TRUE(empty.newFile() && empty.endFile());
    EXPECT_EQ(empty.fs.events,
              (std::vector<std::string>{"create " + tempName(3), "remove " + tempName(3)}));
    EXPECT_TRUE(empty.summary().framesReceived == 0u && empty.summary().outputPath.empty());

    // A failed move into place, a run that ends without endFile.
    Trace moving(2, true);
    moving.fs.renameWorks = false;
    moving.fs.error = EACCES;
    ASSERT_TRUE(moving.newFile() && moving.msg(frame(T0, 1, 1, "ab", 2)));
    EXPECT_FALSE(moving.endFile());
    EXPECT_EQ(moving.fs.events.back(), "remove " + tempName(4));
    EXPECT_EQ(LogCapture::lines(), "E Could not move CAN file into place as "
                                   "dev/00000001_CAN.trc: Permission denied\n");
    EXPECT_EQ(moving.summary().outputPath, "");

    Trace unfinished(2, true);
    ASSERT_TRUE(unfinished.newFile() && unfinished.msg(frame(T0, 1, 1, "ab", 2)));
    cPeakConverter_dtor(unfinished.c);
    unfinished.c = nullptr;
    EXPECT_EQ(unfinished.fs.events.back(), "remove " + tempName(5));
}

} // namespace
