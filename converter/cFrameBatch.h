#pragma once
// The frames of an output file on their way out, a batch at a time. A batch holds what the
// formats need of each CAN frame, copied out of the bus message, so that it can be encoded
// on another thread while the next messages are decoded, and its text written in one piece.
//
// cFrame, one CAN data or remote frame:
//   double timestamp;      absolute seconds, as the bus message had it
//   uint32_t id;           identifier
//   uint32_t dataOffset;   where its payload starts in the batch's data
//   uint32_t dataLength;   payload bytes (all of them are written, whatever the DLC says)
//   uint8_t busChannel;
//   cBusMsg_CAN can;       the frame's flags and length code, as the message had them
//
// cFrameBatch:
//   std::vector<cFrame> frames;      cFrameBatch_FRAMES places; the first frameCount are the
//                                    batch's frames, in file order
//   size_t frameCount;
//   std::string data;                the frames' payloads one after the other, in the first
//                                    dataLength bytes; the rest is room
//   size_t dataLength;
//   std::string text;                the encoded frames (text or binary) once formatted, in
//                                    the first textLength bytes; the rest is room
//   size_t textLength;
//   uint64_t firstNumber;            record number of frames[0]; the others follow without gap
//   uint64_t extra;                  what the encoding adds to the file's own count of
//                                    itself (BLF: the bytes its containers hold unpacked)
//   std::string scratch;             room a format may use while encoding
// The room is kept from batch to batch: filling and formatting write into it, and it grows
// only for a batch that needs more than any before.

#include <cstdint>
#include <string>
#include <vector>

#include "bus/cBusLayer.h"

struct cFrame {
    double timestamp;
    uint32_t id;
    uint32_t dataOffset;
    uint32_t dataLength;
    uint8_t busChannel;
    cBusMsg_CAN can;
};

struct cFrameBatch {
    std::vector<cFrame> frames;
    size_t frameCount;
    std::string data;
    size_t dataLength;
    std::string text;
    size_t textLength;
    uint64_t firstNumber;
    uint64_t extra;
    std::string scratch;
};

// A batch is handed on when it holds this many frames or this many payload bytes: enough
// text for one large write (about 0.5 to 1.5 MiB), little enough to stay in the caches.
constexpr size_t cFrameBatch_FRAMES = 12288;
constexpr size_t cFrameBatch_DATA = 1 << 20;

// Places for cFrameBatch_FRAMES frames and room for their usual payloads; false without memory.
[[nodiscard]] bool cFrameBatch_init(cFrameBatch* batch);
// Empties the batch, keeping its room.
void cFrameBatch_clear(cFrameBatch* batch);
// Copies a CAN frame in (its record number is firstNumber + its place); false without
// memory or when the batch's payloads would pass 4 GiB. The batch must not be full.
[[nodiscard]] bool cFrameBatch_add(cFrameBatch* batch, const cBusMsg* msg);
inline bool cFrameBatch_full(const cFrameBatch* batch) {
    return batch->frameCount == cFrameBatch_FRAMES || batch->dataLength >= cFrameBatch_DATA;
}
// Makes sure the text has room for `room` more bytes behind `used`; false without memory.
[[nodiscard]] bool cFrameBatch_textRoom(cFrameBatch* batch, size_t used, size_t room);

// Makes the text of a batch whose format is one line per frame, no line longer than
// fixedPart plus two characters per payload byte: line(p, frame, payloads) writes the
// frame's line at p and gives its end. False without memory.
template <typename LineFn>
[[nodiscard]] bool cFrameBatch_formatLines(cFrameBatch* batch, size_t fixedPart, LineFn line) {
    const uint8_t* data = reinterpret_cast<const uint8_t*>(batch->data.data());
    size_t used = 0;
    batch->textLength = 0;
    for (size_t i = 0; i < batch->frameCount; ++i) {
        const cFrame& f = batch->frames[i];
        if (!cFrameBatch_textRoom(batch, used, fixedPart + 2 * size_t{f.dataLength})) return false;
        used = static_cast<size_t>(line(batch->text.data() + used, f, data) - batch->text.data());
    }
    batch->textLength = used;
    return true;
}
