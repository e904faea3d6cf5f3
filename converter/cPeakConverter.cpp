#include "converter/cPeakConverter.h"

#include <atomic>
#include <cassert>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstring>
#include <new>
#include <unistd.h>

#include "converter/cPeakPipeline.h"
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

bool writeHeader(cPeakConverter* c, double startTime) {
    const bool v1 = c->version == cPeakConverter_VERSION_1_1;
    c->lineBuffer.assign(v1 ? ";$FILEVERSION=1.1\n;$STARTTIME="
                            : ";$FILEVERSION=2.1\n;$STARTTIME=");
    cPeakConverter_appendStartDate(&c->lineBuffer, startTime);
    if (!v1) c->lineBuffer += ";$COLUMNS=N,O,T,B,I,d,L,D\n";
    if (!writeLine(c)) {
        ZF_LOGE("Could not write CAN header");
        return false;
    }
    return true;
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

// Written where no log or trace pattern finds it (see cFS_createTemp), so a file left
// after a power loss is never taken for a log or a trace.
cIO* createTemp(cPeakConverter* c) {
    cIO* io = cFS_createTemp(c->outputFs, c->outputName, &c->tempName);
    if (!io) c->tempName.clear();
    return io;
}

// Closes and removes what the current input has written so far; nothing remains that
// could be taken for its conversion. False when the file could not be removed.
bool discardOutput(cPeakConverter* c) {
    cPeakPipeline_abandon(c->lines);
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

const char* outputSuffix(const cBusLayer*) {
    return "_CAN.trc";
}

bool newFile(cBusLayer* layer, const cLogReaderFileInfo* info, bool) {
    cPeakConverter* c = fromLayer(layer);
    if (!c || !info) return false;
    if (c->output) discardOutput(c); // a file whose endFile never came
    c->outputCreated = false;
    c->tempName.clear();
    c->canFrames = 0;
    try {
        c->outputName = info->outputPath + outputSuffix(layer);
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

// Lines that could not be made (no memory), or a write that failed: told with the trace's
// name and the system's reason (an errno, or a cPeakPipeline_result). Gives false.
bool writeFailed(cPeakConverter* c, int result) {
    if (result == cPeakPipeline_NO_MEMORY) {
        ZF_LOGE("Could not write CAN data");
    } else {
        ZF_LOGE("Could not write CAN file %s: %s", writingName(c).c_str(),
                reasonText(result > 0 ? result : 0));
    }
    return false;
}

// The first CAN frame of a file: the header with its start time; the record lines go to the
// pipeline from now on. Out of line, as are the other rare steps of newMsg, so that the
// step taken for every frame stays short.
__attribute__((noinline)) bool startTrace(cPeakConverter* c, double timestamp) {
    c->startTime = timestamp;
    errno = 0;
    try {
        if (!writeHeader(c, c->startTime)) return false;
    } catch (const std::bad_alloc&) {
        ZF_LOGE("Could not write CAN header");
        errno = 0;
        return false;
    }
    c->headerWritten = true;
    cPeakPipeline_begin(c->lines, c->output, c->startTime);
    return true;
}

// The trace cannot go on: what was written is removed at once. A failed header write is told
// here when the system gave a reason (writeHeader told what failed).
__attribute__((noinline)) bool traceFailed(cPeakConverter* c, bool headerFailed) {
    if (headerFailed && errno != 0) writeFailed(c, errno);
    discardOutput(c);
    return false;
}

// Hands the full batch on; false (the trace removed) when an earlier batch failed.
__attribute__((noinline)) bool submitBatch(cPeakConverter* c) {
    const int result = cPeakPipeline_submit(c->lines);
    if (result == 0) return true;
    writeFailed(c, result);
    return traceFailed(c, false);
}

bool newMsg(cBusLayer* layer, const cBusMsg* msg) {
    cPeakConverter* c = fromLayer(layer);
    assert(c && msg);
    if (msg->Type != BUS_MSG_CAN_DATA_FRAME && msg->Type != BUS_MSG_CAN_REMOTE_FRAME) return true;
    ++c->canFrames;
    if (!c->output) return false;
    if (!c->headerWritten && !startTrace(c, msg->Timestamp)) return traceFailed(c, true);
    // Version 1.1 holds classic frames only, numbered without gaps.
    if (c->version == cPeakConverter_VERSION_1_1 && msg->CAN.EDL) return true;
    cPeakBatch* batch = cPeakPipeline_batch(c->lines);
    if (batch->frameCount == 0) batch->firstNumber = c->messageNumber;
    if (!cPeakBatch_add(batch, msg)) {
        writeFailed(c, cPeakPipeline_NO_MEMORY);
        return traceFailed(c, false);
    }
    ++c->messageNumber;
    return !cPeakBatch_full(batch) || submitBatch(c);
}

// A trace that did not close may lack its last lines, and one without a record line is no
// conversion: both are removed. A complete one gets its name; it stays ours until the next
// newFile, so dropFile can still take it back.
bool endFile(cBusLayer* layer, const cLogReaderFileInfo*) {
    cPeakConverter* c = fromLayer(layer);
    if (!c) return false;
    bool closed = true;
    if (c->output && c->headerWritten) {
        const int result = cPeakPipeline_finish(c->lines);
        if (result != 0) {
            writeFailed(c, result);
            discardOutput(c);
            return false;
        }
    }
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

const cBusLayer_vtable peakTable = {newMsg, newFile, endFile, dropFile, summary, outputSuffix};

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
    c->version = traceFormat;
    c->output = nullptr;
    c->headerWritten = false;
    c->startTime = NAN;
    c->messageNumber = 1;
    c->lines = cPeakPipeline_ctor(traceFormat);
    try {
        c->lineBuffer.reserve(256);
    } catch (const std::bad_alloc&) {
        cPeakPipeline_dtor(c->lines);
        c->lines = nullptr;
    }
    if (!c->lines) {
        delete c;
        return nullptr;
    }
    return c;
}

bool cPeakConverter_startHelper(cPeakConverter* converter) {
    return cPeakPipeline_startHelper(converter->lines);
}

void cPeakConverter_dtor(cPeakConverter* converter) {
    if (!converter) return;
    if (converter->output) discardOutput(converter); // never completed: not a trace
    cPeakPipeline_dtor(converter->lines);
    delete converter;
}
