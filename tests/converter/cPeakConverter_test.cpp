#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "converter/cPeakConverter.h"
#include "fs/cFS_os.h"
#include "support/log.h"

namespace {

std::string logged;
void captureLine(const char* line, int length) {
    logged.append(line, length);
}

struct LogCapture {
    LogCapture() {
        logged.clear();
        zf_log_set_output_callback(captureLine);
        zf_log_set_output_level(ZF_LOG_VERBOSE);
    }
    ~LogCapture() { zf_log_set_output_callback(nullptr); }
};

// Messages of the log without their time and process columns.
std::string messages() {
    std::string out;
    std::istringstream lines(logged);
    for (std::string line; std::getline(lines, line);)
        out += line.substr(31) + "\n";
    return out;
}

cBusMsg frame(double t, uint32_t id, std::string data, uint8_t dlc) {
    cBusMsg msg{};
    msg.Timestamp = t;
    msg.BusChannel = 1;
    msg.ID = id;
    msg.DataBytes = std::move(data);
    msg.Type = BUS_MSG_CAN_DATA_FRAME;
    msg.CAN.DLC = dlc;
    return msg;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

struct TempDir {
    std::string path;
    cFS* fs;
    TempDir() {
        char name[] = "/tmp/kv_trc_XXXXXX";
        path = mkdtemp(name);
        fs = cFS_os_ctor(path);
    }
    ~TempDir() {
        cFS_dtor(fs);
        std::string command = "rm -rf " + path;
        EXPECT_EQ(system(command.c_str()), 0);
    }
};

// Frames of every kind, in time order, and what the two versions make of them.
std::vector<cBusMsg> mixedFrames() {
    const double t0 = 1700000000.5;
    std::vector<cBusMsg> frames;
    frames.push_back(frame(t0, 0x123, std::string("\x01\xAB\xFF\x00\x10\x20\x30\x40", 8), 8));
    cBusMsg lin = frame(t0 + 0.001, 0x10, "\x01", 1);
    lin.Type = BUS_MSG_LIN_FRAME;
    frames.push_back(lin);
    cBusMsg ext = frame(t0 + 0.0015, 0x18DAF110, std::string("\x02\x10\x03", 3), 3);
    ext.CAN.IDE = 1;
    ext.CAN.Dir = 1;
    frames.push_back(ext);
    cBusMsg fd = frame(t0 + 0.002, 0x7FF, std::string(24, '\x55'), 12);
    fd.CAN.EDL = fd.CAN.BRS = fd.CAN.ESI = 1;
    frames.push_back(fd);
    cBusMsg remote = frame(t0 + 0.0025, 0x456, "", 2);
    remote.Type = BUS_MSG_CAN_REMOTE_FRAME;
    remote.CAN.RTR = 1;
    frames.push_back(remote);
    cBusMsg error = frame(t0 + 0.003, 0, "", 0);
    error.Type = BUS_MSG_CAN_ERROR_FRAME;
    frames.push_back(error);
    cBusMsg fb = frame(t0 + 0.004, 0x1, std::string("\xAA", 1), 1);
    fb.CAN.EDL = fb.CAN.BRS = 1;
    frames.push_back(fb);
    cBusMsg fe = fb;
    fe.Timestamp = t0 + 0.005;
    fe.CAN.BRS = 0;
    fe.CAN.ESI = 1;
    frames.push_back(fe);
    cBusMsg plainFd = fe;
    plainFd.Timestamp = t0 + 1.0;
    plainFd.CAN.ESI = 0;
    plainFd.CAN.IDE = 1;
    frames.push_back(plainFd);
    cBusMsg last = frame(t0 + 2.0, 0x7, "", 0);
    frames.push_back(last);
    return frames;
}

std::string convert(TempDir& dir, uint32_t format, const std::vector<cBusMsg>& frames,
                    bool* ended) {
    cPeakConverter* c = cPeakConverter_ctor(dir.fs, format);
    EXPECT_NE(c, nullptr);
    cLogReaderFileInfo info{};
    info.outputPath = "dev/00000001";
    mkdir((dir.path + "/dev").c_str(), 0700);
    EXPECT_TRUE(c->layer.vt->newFile(&c->layer, &info, false));
    for (const cBusMsg& msg : frames)
        EXPECT_TRUE(c->layer.vt->newMsg(&c->layer, &msg));
    *ended = c->layer.vt->endFile(&c->layer, &info);
    cPeakConverter_dtor(c);
    return readFile(dir.path + "/dev/00000001_CAN.trc");
}

TEST(cPeakConverter, Version21Lines) {
    TempDir dir;
    bool ended = false;
    EXPECT_EQ(convert(dir, 2, mixedFrames(), &ended),
              ";$FILEVERSION=2.1\n"
              ";$STARTTIME=45244.9259317130\n"
              ";$COLUMNS=N,O,T,B,I,d,L,D\n"
              "      1         0.000 DT 1     0123 Rx 8    01 AB FF 00 10 20 30 40\n"
              "      2         1.500 DT 1 18DAF110 Tx 3    02 10 03\n"
              "      3         2.000 BI 1     07FF Rx 12   55 55 55 55 55 55 55 55 55 55 55 55 55 "
              "55 55 55 55 55 55 55 55 55 55 55\n"
              "      4         2.500 RR 1     0456 Rx 2    \n"
              "      5         4.000 FB 1     0001 Rx 1    AA\n"
              "      6         5.000 FE 1     0001 Rx 1    AA\n"
              "      7      1000.000 FD 1 00000001 Rx 1    AA\n"
              "      8      2000.000 DT 1     0007 Rx 0    \n");
    EXPECT_TRUE(ended);
}

TEST(cPeakConverter, Version11LinesSkipFdWithoutGaps) {
    TempDir dir;
    bool ended = false;
    EXPECT_EQ(convert(dir, 1, mixedFrames(), &ended),
              ";$FILEVERSION=1.1\n"
              ";$STARTTIME=45244.9259317130\n"
              "     1)         0.0 Rx        0123 8  01 AB FF 00 10 20 30 40\n"
              "     2)         1.5 Tx    18DAF110 3  02 10 03\n"
              "     3)         2.5 Rx        0456 2  RTR\n"
              "     4)      2000.0 Rx        0007 0  \n");
    EXPECT_TRUE(ended);
}

TEST(cPeakConverter, FileWithoutRecordLinesIsRemoved) {
    LogCapture capture;
    TempDir dir;
    std::vector<cBusMsg> noCan = mixedFrames();
    noCan.erase(
        std::remove_if(noCan.begin(), noCan.end(), [](const cBusMsg& m) { return m.Type <= 2; }),
        noCan.end());
    ASSERT_EQ(noCan.size(), 2u);
    bool ended = false;
    convert(dir, 2, noCan, &ended);
    EXPECT_TRUE(ended);
    EXPECT_FALSE(exists(dir.path + "/dev/00000001_CAN.trc"));

    // Version 1.1 with FD frames only: header written, no record, removed all the same.
    std::vector<cBusMsg> fdOnly = {mixedFrames()[3], mixedFrames()[6]};
    convert(dir, 1, fdOnly, &ended);
    EXPECT_TRUE(ended);
    EXPECT_FALSE(exists(dir.path + "/dev/00000001_CAN.trc"));
    EXPECT_EQ(logged, "");
}

TEST(cPeakConverter, StartDates) {
    const struct {
        double time;
        const char* text;
    } cases[] = {
        {1700000000.5, "45244.9259317130\n"},
        {0.0, "25569.0000000000\n"},
        {86400.0 * 2 - 0.0000001, "25571.0000000000\n"}, // rounds up into the next day
        {-2209161600.0 - 86400.0, "    0.0000000000\n"}, // before the epoch of the count
        {NAN, "    0.0000000000\n"},
        {INFINITY, "    0.0000000000\n"},
    };
    for (const auto& c : cases) {
        std::string text;
        cPeakConverter_appendStartDate(&text, c.time);
        EXPECT_EQ(text, c.text) << c.time;
    }
}

TEST(cPeakConverter, RecordNumbersPastTheSignedRange) {
    TempDir dir;
    for (uint32_t format : {1u, 2u}) {
        cPeakConverter* c = cPeakConverter_ctor(dir.fs, format);
        cLogReaderFileInfo info{};
        info.outputPath = "big";
        ASSERT_TRUE(c->layer.vt->newFile(&c->layer, &info, false));
        cBusMsg msg = frame(5.0, 0x1, "", 0);
        ASSERT_TRUE(c->layer.vt->newMsg(&c->layer, &msg));
        c->messageNumber = 2147483648u;
        ASSERT_TRUE(c->layer.vt->newMsg(&c->layer, &msg));
        ASSERT_TRUE(c->layer.vt->endFile(&c->layer, &info));
        cPeakConverter_dtor(c);
        const std::string text = readFile(dir.path + "/big_CAN.trc");
        const std::string expected = format == 1
                                         ? "2147483648)         0.0 Rx        0001 0  \n"
                                         : "2147483648         0.000 DT 1     0001 Rx 0    \n";
        EXPECT_EQ(text.substr(text.size() - expected.size()), expected);
    }
}

TEST(cPeakConverter, ConstructionAndNullArguments) {
    EXPECT_EQ(cPeakConverter_ctor(nullptr, 0), nullptr);
    EXPECT_EQ(cPeakConverter_ctor(nullptr, 3), nullptr);
    cPeakConverter* c = cPeakConverter_ctor(nullptr, 2);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->messageNumber, 1u);
    EXPECT_GE(c->lineBuffer.capacity(), 256u);
    EXPECT_FALSE(c->layer.vt->newMsg(nullptr, nullptr));
    EXPECT_FALSE(c->layer.vt->endFile(nullptr, nullptr));
    cBusMsg msg = frame(1.0, 1, "", 0);
    EXPECT_FALSE(c->layer.vt->newMsg(&c->layer, &msg)); // no file open
    cPeakConverter_dtor(c);
    cPeakConverter_dtor(nullptr);
}

} // namespace
