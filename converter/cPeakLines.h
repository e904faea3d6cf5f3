#pragma once
// The record lines of a trace, made a batch of frames at a time. A batch holds what the lines
// need of each CAN frame, copied out of the bus message, so that it can be formatted on
// another thread while the next messages are decoded, and its text written in one piece.
//
// cPeakFrame, one CAN data or remote frame:
//   double timestamp;      absolute seconds, as the bus message had it
//   uint32_t id;           identifier
//   uint32_t dataOffset;   where its payload starts in the batch's data
//   uint32_t dataLength;   payload bytes (all of them are written, whatever the DLC says)
//   uint8_t busChannel;
//   cBusMsg_CAN can;       the frame's flags and length code, as the message had them
//
// cPeakBatch:
//   std::vector<cPeakFrame> frames;  cPeakBatch_FRAMES places; the first frameCount are the
//                                    batch's frames, in trace order
//   size_t frameCount;
//   std::string data;                the frames' payloads one after the other, in the first
//                                    dataLength bytes; the rest is room
//   size_t dataLength;
//   std::string text;                the record lines once formatted, in the first textLength
//                                    bytes; the rest is room
//   size_t textLength;
//   uint64_t firstNumber;            record number of frames[0]; the others follow without gap
// The room is kept from batch to batch: filling and formatting write into it, and it grows
// only for a batch that needs more than any before.

#include <cstdint>
#include <string>
#include <vector>

#include "bus/cBusLayer.h"

struct cPeakFrame {
    double timestamp;
    uint32_t id;
    uint32_t dataOffset;
    uint32_t dataLength;
    uint8_t busChannel;
    cBusMsg_CAN can;
};

struct cPeakBatch {
    std::vector<cPeakFrame> frames;
    size_t frameCount;
    std::string data;
    size_t dataLength;
    std::string text;
    size_t textLength;
    uint64_t firstNumber;
};

// A batch is handed on when it holds this many frames or this many payload bytes: enough
// text for one large write (about 0.5 to 1.5 MiB), little enough to stay in the caches.
constexpr size_t cPeakBatch_FRAMES = 12288;
constexpr size_t cPeakBatch_DATA = 1 << 20;

// Places for cPeakBatch_FRAMES frames and room for their usual payloads; false without memory.
[[nodiscard]] bool cPeakBatch_init(cPeakBatch* batch);
// Empties the batch, keeping its room.
void cPeakBatch_clear(cPeakBatch* batch);
// Copies a CAN frame in (its record number is firstNumber + its place); false without
// memory or when the batch's payloads would pass 4 GiB. The batch must not be full.
[[nodiscard]] bool cPeakBatch_add(cPeakBatch* batch, const cBusMsg* msg);
inline bool cPeakBatch_full(const cPeakBatch* batch) {
    return batch->frameCount == cPeakBatch_FRAMES || batch->dataLength >= cPeakBatch_DATA;
}

// Replaces the text with the record lines of the batch for trace version
// cPeakConverter_VERSION_1_1 or _2_1;
// offsets count from startTime. Version 1.1 lines are for classic frames only: the caller
// leaves FD frames out. False without memory.
[[nodiscard]] bool cPeakLines_format(uint32_t version, double startTime, cPeakBatch* batch);
