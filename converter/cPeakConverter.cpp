#include "converter/cPeakConverter.h"

#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstring>
#include <new>
#include <unistd.h>

#include "support/cstr_support.h"
#include "support/log.h"

namespace {

constexpr uint32_t openForWriting = cFS_ACCESS_WRITE | cFS_ACCESS_FLAG4;
constexpr double secondsPerDay = 86400.0;
constexpr double unixEpochAsOleDate = 25569.0; // 1970-01-01 counted from 1899-12-30
// Far beyond any real date, and safely inside the unsigned conversion.
constexpr double latestDay = 1e15;

bool writeLine(cPeakConverter* c) {
    const int64_t length = static_cast<int64_t>(c->lineBuffer.size());
    return cIO_write(c->output, c->lineBuffer.data(), c->lineBuffer.size()) == length;
}

// The longest record line without its data bytes: number, offset (the C library's text of
// a huge double), the fixed columns and blanks, with room to spare.
constexpr size_t kLineFixedPart = 64 + 20 + cstr_support_FIXED_MAX;

// Record lines are built in place: the line buffer is kept large enough for the longest
// line the frame can give, the writers put the columns at a raw pointer, and the buffer is
// cut to the line's length only for the write. No printf, no growth per column.
char* lineStart(cPeakConverter* c, const cBusMsg* msg) {
    const size_t room = kLineFixedPart + 3 * msg->DataBytes.size();
    if (c->lineBuffer.capacity() < room) c->lineBuffer.reserve(room);
    c->lineBuffer.resize(c->lineBuffer.capacity());
    return c->lineBuffer.data();
}

bool writeLineUpTo(cPeakConverter* c, const char* end) {
    const size_t length = static_cast<size_t>(end - c->lineBuffer.data());
    return cIO_write(c->output, c->lineBuffer.data(), length) == static_cast<int64_t>(length);
}

inline char* put(char* out, const char* text, size_t length) {
    std::memcpy(out, text, length);
    return out + length;
}

// "%d" of a bus channel or a length code (0 to 255): mostly one digit, done here.
inline char* putSmall(char* out, uint8_t value) {
    if (value < 10) {
        *out = static_cast<char>('0' + value);
        return out + 1;
    }
    return cstr_support_put_uint(out, value, 0);
}

// The number's text ends here in numberText; spare bytes follow.
constexpr unsigned kNumberText = 20;

void setNumberText(cPeakConverter* c, uint64_t number) {
    char digits[kNumberText];
    const unsigned n = static_cast<unsigned>(cstr_support_put_uint(digits, number, 0) - digits);
    std::memset(c->numberText, ' ', kNumberText - n);
    std::memcpy(c->numberText + kNumberText - n, digits, n);
    c->numberDigits = n;
    c->numberTextValue = number;
}

// "%<width>" PRIu64 of the record number, then the text counts up to the next one: the last
// digit changes, and only a carry touches more.
inline char* putNumber(cPeakConverter* c, char* out, uint64_t number, unsigned width) {
    if (c->numberTextValue != number) setNumberText(c, number);
    const unsigned n = c->numberDigits < width ? width : c->numberDigits;
    // The line has room behind the number: one 16-byte copy for the usual lengths.
    const char* text = c->numberText + kNumberText - n;
    if (n <= 16)
        std::memcpy(out, text, 16);
    else
        std::memcpy(out, text, n);
    char* p = c->numberText + kNumberText - 1;
    while (*p == '9')
        *p-- = '0';
    if (*p == ' ') {
        *p = '1';
        ++c->numberDigits;
    } else {
        ++*p;
    }
    ++c->numberTextValue;
    return out + n;
}

inline char* putDataBytes(char* out, const cBusMsg* msg) {
    return cstr_support_put_hex_bytes(out, msg->DataBytes.data(), msg->DataBytes.size());
}

bool writeHeaderV1(cPeakConverter* c, double startTime) {
    c->lineBuffer.clear();
    c->lineBuffer += ";$FILEVERSION=1.1\n;$STARTTIME=";
    cPeakConverter_appendStartDate(&c->lineBuffer, startTime);
    if (!writeLine(c)) {
        ZF_LOGE("Could not write CAN header");
        return false;
    }
    return true;
}

bool writeHeaderV2(cPeakConverter* c, double startTime) {
    c->lineBuffer.clear();
    c->lineBuffer += ";$FILEVERSION=2.1\n;$STARTTIME=";
    cPeakConverter_appendStartDate(&c->lineBuffer, startTime);
    c->lineBuffer += ";$COLUMNS=N,O,T,B,I,d,L,D\n";
    if (!writeLine(c)) {
        ZF_LOGE("Could not write CAN header");
        return false;
    }
    return true;
}

// Record numbers are printed unsigned so that counts past 2^31 - 1 stay positive; smaller
// numbers look exactly as a signed conversion prints them.
bool writeRecordV1(cPeakConverter* c, const cBusMsg* msg) {
    const cBusMsg_CAN& can = msg->CAN;
    if (can.EDL) return true; // version 1.1 holds classic frames only, numbered without gaps
    const uint64_t number = c->messageNumber++;
    const double offset = (msg->Timestamp - c->startTime) * 1000.0;
    // "%6" PRIu64 ") %11.1f %s    %08X %d  " (extended) or "...%s        %04X %d  "
    char* p = lineStart(c, msg);
    p = putNumber(c, p, number, 6);
    p = put(p, ") ", 2);
    p = cstr_support_put_fixed(p, offset, 11, 1);
    p = put(p, can.Dir ? " Tx    " : " Rx    ", 7);
    if (can.IDE) {
        p = cstr_support_put_hex32(p, msg->ID, 8);
    } else {
        p = put(p, "    ", 4);
        p = cstr_support_put_hex32(p, msg->ID, 4);
    }
    *p++ = ' ';
    p = putSmall(p, can.DLC);
    p = put(p, "  ", 2);
    if (can.RTR)
        p = put(p, "RTR", 3);
    else
        p = putDataBytes(p, msg);
    *p++ = '\n';
    if (!writeLineUpTo(c, p)) {
        ZF_LOGE("Could not write CAN data");
        return false;
    }
    return true;
}

const char* frameTypeV2(const cBusMsg_CAN& can) {
    if (can.EDL) {
        if (can.BRS && can.ESI) return "BI";
        if (can.BRS) return "FB";
        if (can.ESI) return "FE";
        return "FD";
    }
    return can.RTR ? "RR" : "DT";
}

bool writeRecordV2(cPeakConverter* c, const cBusMsg* msg) {
    const cBusMsg_CAN& can = msg->CAN;
    const uint64_t number = c->messageNumber++;
    const double offset = (msg->Timestamp - c->startTime) * 1000.0;
    // "%7" PRIu64 " %13.3f %s %d %08X %s %d" (extended) or "... %d     %04X %s %d"
    char* p = lineStart(c, msg);
    p = putNumber(c, p, number, 7);
    *p++ = ' ';
    p = cstr_support_put_fixed(p, offset, 13, 3);
    *p++ = ' ';
    p = put(p, frameTypeV2(can), 2);
    *p++ = ' ';
    p = putSmall(p, msg->BusChannel);
    if (can.IDE) {
        *p++ = ' ';
        p = cstr_support_put_hex32(p, msg->ID, 8);
    } else {
        p = put(p, "     ", 5);
        p = cstr_support_put_hex32(p, msg->ID, 4);
    }
    p = put(p, can.Dir ? " Tx " : " Rx ", 4);
    p = putSmall(p, can.DLC);
    // The data column starts one further right for one-digit lengths.
    p = can.DLC < 10 ? put(p, "    ", 4) : put(p, "   ", 3);
    if (!can.RTR) p = putDataBytes(p, msg);
    *p++ = '\n';
    return writeLineUpTo(c, p); // the driver reports the failed record
}

cPeakConverter* fromLayer(cBusLayer* layer) {
    return reinterpret_cast<cPeakConverter*>(layer);
}

// The system's reason for the failure that just happened, when it gave one.
const char* reasonText(int error) {
    return error != 0 ? std::strerror(error) : "no reason given";
}

const std::string& writingName(const cPeakConverter* c) {
    return c->tempName.empty() ? c->outputName : c->tempName;
}

// A hidden name beside the trace that says what it is: ".NAME_CAN.trc.kelvane-tmp-PID-N".
// Neither a log extension nor "*.trc" matches it, so a file left after a power loss is
// never taken for a log or a trace. Created exclusively: another run writing the same
// trace at once gets a name of its own.
cIO* createTemp(cPeakConverter* c) {
    // Several converters of one run may be writing at once.
    static std::atomic<uint64_t> counter{0};
    const std::string_view folder = cFS_getParentFolder(c->outputName);
    const std::string_view name = cFS_getFileName(c->outputName);
    for (int attempt = 0; attempt < 100; ++attempt) {
        c->tempName.assign(folder);
        c->tempName += '.';
        c->tempName += name;
        cstr_support_append_fmt(&c->tempName, ".kelvane-tmp-%ld-%" PRIu64,
                                static_cast<long>(getpid()), counter.fetch_add(1));
        if (cIO* io = cFS_createNew(c->outputFs, c->tempName)) return io;
        if (errno != EEXIST) break;
    }
    c->tempName.clear();
    return nullptr;
}

// Closes and removes what the current input has written so far; nothing remains that
// could be taken for its conversion. False when the file could not be removed.
bool discardOutput(cPeakConverter* c) {
    if (c->output) cIO_close(c->output);
    c->output = nullptr;
    bool removed = true;
    if (c->outputCreated && !cFS_remove(c->outputFs, writingName(c))) {
        ZF_LOGE("Could not remove CAN file %s: %s", writingName(c).c_str(), reasonText(errno));
        removed = false;
    }
    c->outputCreated = false;
    c->tempName.clear();
    return removed;
}

bool newFile(cBusLayer* layer, const cLogReaderFileInfo* info, bool) {
    cPeakConverter* c = fromLayer(layer);
    if (!c || !info) return false;
    if (c->output) discardOutput(c); // a file whose endFile never came
    c->outputCreated = false;
    c->tempName.clear();
    c->canFrames = 0;
    try {
        c->outputName = info->outputPath + "_CAN" + ".trc";
    } catch (const std::bad_alloc&) {
        ZF_LOGE("Could not open output file for CAN: %s", info->outputPath.c_str());
        return false;
    }
    errno = 0;
    c->output = cFS_canReplaceAtomically(c->outputFs)
                    ? createTemp(c)
                    : cFS_open(c->outputFs, c->outputName, openForWriting);
    if (!c->output) {
        ZF_LOGE("Could not open output file for CAN: %s: %s", c->outputName.c_str(),
                reasonText(errno));
        return false;
    }
    c->outputCreated = true;
    c->headerWritten = false;
    c->startTime = NAN;
    c->messageNumber = 1;
    return true;
}

bool writeMsg(cPeakConverter* c, const cBusMsg* msg) {
    try {
        if (!c->headerWritten) {
            c->startTime = msg->Timestamp;
            if (!c->writeHeader(c, c->startTime)) return false;
            c->headerWritten = true;
        }
        return c->writeRecord(c, msg);
    } catch (const std::bad_alloc&) { // a line that cannot be built cannot be written
        ZF_LOGE("Could not write CAN data");
        return false;
    }
}

bool newMsg(cBusLayer* layer, const cBusMsg* msg) {
    cPeakConverter* c = fromLayer(layer);
    if (!c || !msg) return false;
    if (msg->Type != BUS_MSG_CAN_DATA_FRAME && msg->Type != BUS_MSG_CAN_REMOTE_FRAME) return true;
    ++c->canFrames;
    if (!c->output) return false;
    errno = 0;
    if (writeMsg(c, msg)) return true;
    // The writer said what failed; a full disk (or another reason of the system's) is told
    // here with the trace's name.
    const int reason = errno;
    if (reason != 0)
        ZF_LOGE("Could not write CAN file %s: %s", writingName(c).c_str(), std::strerror(reason));
    discardOutput(c);
    return false;
}

// A trace that did not close may lack its last lines, and one without a record line is no
// conversion: both are removed. A complete one gets its name; it stays ours until the next
// newFile, so dropFile can still take it back.
bool endFile(cBusLayer* layer, const cLogReaderFileInfo*) {
    cPeakConverter* c = fromLayer(layer);
    if (!c) return false;
    bool closed = true;
    if (c->output) {
        errno = 0;
        if (cIO_close(c->output) != 0) {
            ZF_LOGE("Could not close CAN file %s: %s", writingName(c).c_str(), reasonText(errno));
            closed = false;
        }
        c->output = nullptr;
    }
    if (!c->outputCreated) return closed; // nothing of ours to keep or remove
    if (!closed || !c->headerWritten || c->messageNumber == 1) return discardOutput(c) && closed;
    if (c->tempName.empty()) return true;
    if (!cFS_rename(c->outputFs, c->tempName, c->outputName)) {
        ZF_LOGE("Could not move CAN file into place as %s: %s", c->outputName.c_str(),
                reasonText(errno));
        discardOutput(c);
        return false;
    }
    c->tempName.clear();
    return true;
}

bool dropFile(cBusLayer* layer, const cLogReaderFileInfo*) {
    cPeakConverter* c = fromLayer(layer);
    if (!c) return false;
    return discardOutput(c);
}

bool summary(cBusLayer* layer, cBusLayerFileSummary* out) {
    const cPeakConverter* c = fromLayer(layer);
    if (!c || !out) return false;
    const bool kept = c->outputCreated && !c->output && c->tempName.empty();
    out->framesReceived = c->canFrames;
    out->framesWritten = kept ? c->messageNumber - 1 : 0;
    out->outputPath = kept ? c->outputName : std::string();
    return true;
}

const cBusLayer_vtable peakTable = {newMsg, newFile, endFile, dropFile, summary};

} // namespace

void cPeakConverter_appendStartDate(std::string* out, double startTime) {
    if (!out) return;
    double days = startTime / secondsPerDay + unixEpochAsOleDate;
    if (!(days >= 0.0 && days <= latestDay)) days = 0.0; // no date, and no undefined conversion
    double whole = 0.0;
    double fraction = std::modf(days, &whole) * 1e10;
    // A fraction that rounds to 1e10 belongs to the next day; printed as it is it would
    // take eleven digits.
    if (std::nearbyint(fraction) >= 1e10) {
        whole += 1.0;
        fraction = 0.0;
    }
    cstr_support_append_fmt(out, "%5lu.%010.0f\n", static_cast<unsigned long>(whole), fraction);
}

cPeakConverter* cPeakConverter_ctor(cFS* outputFs, uint32_t traceFormat) {
    if (traceFormat != cPeakConverter_VERSION_1_1 && traceFormat != cPeakConverter_VERSION_2_1)
        return nullptr;
    cPeakConverter* c = new (std::nothrow) cPeakConverter{};
    if (!c) return nullptr;
    cBusLayer_init(&c->layer);
    c->layer.vt = &peakTable;
    c->outputFs = outputFs;
    const bool v1 = traceFormat == cPeakConverter_VERSION_1_1;
    c->writeHeader = v1 ? writeHeaderV1 : writeHeaderV2;
    c->writeRecord = v1 ? writeRecordV1 : writeRecordV2;
    c->output = nullptr;
    c->headerWritten = false;
    c->startTime = NAN;
    c->messageNumber = 1;
    setNumberText(c, 1);
    try {
        c->lineBuffer.reserve(256);
    } catch (const std::bad_alloc&) {
        delete c;
        return nullptr;
    }
    return c;
}

void cPeakConverter_dtor(cPeakConverter* converter) {
    if (!converter) return;
    if (converter->output) discardOutput(converter); // never completed: not a trace
    delete converter;
}
