#include "converter/cFrameWriter.h"

#include <atomic>
#include <cassert>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstring>
#include <new>
#include <unistd.h>

#include "converter/cFramePipeline.h"
#include "support/cstr_support.h"
#include "support/log.h"

namespace {

constexpr uint32_t openForWriting = cFS_ACCESS_WRITE | cFS_ACCESS_FLAG4;

// The format's header; false (told here) when it could not be made or written.
bool writeHeader(cFrameWriter* c, double startTime) {
    c->lineBuffer.clear();
    if (!c->format->header(&c->lineBuffer, startTime)) {
        ZF_LOGE("Could not write CAN header");
        errno = 0;
        return false;
    }
    const int64_t length = static_cast<int64_t>(c->lineBuffer.size());
    if (cIO_write(c->output, c->lineBuffer.data(), c->lineBuffer.size()) != length) {
        ZF_LOGE("Could not write CAN header");
        return false;
    }
    return true;
}

cFrameWriter* fromLayer(cBusLayer* layer) {
    return reinterpret_cast<cFrameWriter*>(layer);
}

// The system's reason for the failure that just happened, when it gave one.
const char* reasonText(int error) {
    return error != 0 ? std::strerror(error) : "no reason given";
}

const std::string& writingName(const cFrameWriter* c) {
    return c->tempName.empty() ? c->outputName : c->tempName;
}

// Written where no log or trace pattern finds it (see cFS_createTemp), so a file left
// after a power loss is never taken for a log or an output.
cIO* createTemp(cFrameWriter* c) {
    cIO* io = cFS_createTemp(c->outputFs, c->outputName, &c->tempName);
    if (!io) c->tempName.clear();
    return io;
}

// Closes and removes what the current input has written so far; nothing remains that
// could be taken for its conversion. False when the file could not be removed.
bool discardOutput(cFrameWriter* c) {
    cFramePipeline_abandon(c->lines);
    if (c->output) (void)cIO_close(c->output); // the file goes anyway
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

const char* outputSuffix(const cBusLayer* layer) {
    return reinterpret_cast<const cFrameWriter*>(layer)->format->suffix;
}

bool newFile(cBusLayer* layer, const cLogReaderFileInfo* info, bool) {
    cFrameWriter* c = fromLayer(layer);
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
    c->lastTime = NAN;
    c->messageNumber = 1;
    return true;
}

// Frames that could not be encoded (no memory), or a write that failed: told with the output's
// name and the system's reason (an errno, or a cFramePipeline_result). Gives false.
bool writeFailed(cFrameWriter* c, int result) {
    if (result == cFramePipeline_NO_MEMORY) {
        ZF_LOGE("Could not write CAN data");
    } else {
        ZF_LOGE("Could not write CAN file %s: %s", writingName(c).c_str(),
                reasonText(result > 0 ? result : 0));
    }
    return false;
}

// The first CAN frame of a file: the header with its start time; the frames go to the
// pipeline from now on. Out of line, as are the other rare steps of newMsg, so that the
// step taken for every frame stays short.
__attribute__((noinline)) bool startOutput(cFrameWriter* c, double timestamp) {
    c->startTime = timestamp;
    errno = 0;
    if (!writeHeader(c, c->startTime)) return false;
    c->headerWritten = true;
    cFramePipeline_begin(c->lines, c->output, c->startTime);
    return true;
}

// The output cannot go on: what was written is removed at once. A failed header write is told
// here when the system gave a reason (writeHeader told what failed).
__attribute__((noinline)) bool outputFailed(cFrameWriter* c, bool headerFailed) {
    if (headerFailed && errno != 0) writeFailed(c, errno);
    discardOutput(c);
    return false;
}

// Hands the full batch on; false (the output removed) when an earlier batch failed.
__attribute__((noinline)) bool submitBatch(cFrameWriter* c) {
    const int result = cFramePipeline_submit(c->lines);
    if (result == 0) return true;
    writeFailed(c, result);
    return outputFailed(c, false);
}

bool newMsg(cBusLayer* layer, const cBusMsg* msg) {
    cFrameWriter* c = fromLayer(layer);
    assert(c && msg);
    if (msg->Type != BUS_MSG_CAN_DATA_FRAME && msg->Type != BUS_MSG_CAN_REMOTE_FRAME) return true;
    ++c->canFrames;
    if (!c->output) return false;
    if (!c->headerWritten && !startOutput(c, msg->Timestamp)) return outputFailed(c, true);
    // Trace version 1.1 holds classic frames only, numbered without gaps.
    if (c->format->classicOnly && msg->CAN.EDL) return true;
    cFrameBatch* batch = cFramePipeline_batch(c->lines);
    if (batch->frameCount == 0) batch->firstNumber = c->messageNumber;
    if (!cFrameBatch_add(batch, msg)) {
        writeFailed(c, cFramePipeline_NO_MEMORY);
        return outputFailed(c, false);
    }
    ++c->messageNumber;
    c->lastTime = msg->Timestamp;
    return !cFrameBatch_full(batch) || submitBatch(c);
}

// An output that did not close may lack its last frames, and one without a frame is no
// conversion: both are removed. A complete one gets its name; it stays ours until the next
// newFile, so dropFile can still take it back.
bool endFile(cBusLayer* layer, const cLogReaderFileInfo*) {
    cFrameWriter* c = fromLayer(layer);
    if (!c) return false;
    bool closed = true;
    if (c->output && c->headerWritten) {
        int result = cFramePipeline_finish(c->lines);
        if (result == 0 && c->format->finish && c->messageNumber > 1) {
            const cFrameFileEnd end = {c->startTime, c->lastTime, c->messageNumber - 1,
                                       c->lines->extraWritten};
            result = c->format->finish(c->output, &end);
        }
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
    cFrameWriter* c = fromLayer(layer);
    if (!c) return false;
    return discardOutput(c);
}

bool summary(cBusLayer* layer, cBusLayerFileSummary* out) {
    const cFrameWriter* c = fromLayer(layer);
    if (!c || !out) return false;
    const bool kept = c->outputCreated && !c->output && c->tempName.empty();
    out->framesReceived = c->canFrames;
    out->framesWritten = kept ? c->messageNumber - 1 : 0;
    out->outputPath = kept ? c->outputName : std::string();
    return true;
}

const cBusLayer_vtable writerTable = {newMsg, newFile, endFile, dropFile, summary, outputSuffix};

} // namespace

cFrameWriter* cFrameWriter_ctor(cFS* outputFs, uint32_t format) {
    const cFrameFormat* f = cFrameFormat_byId(format);
    if (!f) return nullptr;
    cFrameWriter* c = new (std::nothrow) cFrameWriter{};
    if (!c) return nullptr;
    cBusLayer_init(&c->layer);
    c->layer.vt = &writerTable;
    c->outputFs = outputFs;
    c->format = f;
    c->output = nullptr;
    c->headerWritten = false;
    c->startTime = NAN;
    c->lastTime = NAN;
    c->messageNumber = 1;
    c->lines = cFramePipeline_ctor(f);
    try {
        c->lineBuffer.reserve(256);
    } catch (const std::bad_alloc&) {
        cFramePipeline_dtor(c->lines);
        c->lines = nullptr;
    }
    if (!c->lines) {
        delete c;
        return nullptr;
    }
    return c;
}

bool cFrameWriter_startHelper(cFrameWriter* writer) {
    return cFramePipeline_startHelper(writer->lines);
}

void cFrameWriter_dtor(cFrameWriter* writer) {
    if (!writer) return;
    if (writer->output) discardOutput(writer); // never completed: not an output
    cFramePipeline_dtor(writer->lines);
    delete writer;
}
