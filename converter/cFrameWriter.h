#pragma once
// Writes the CAN frames of each input file in one output format (cFrameFormat): the format's
// header when the first CAN frame arrives, then the frames, encoded a batch at a time. A file
// is written under a temporary name and gets its own name only when it is complete and
// closed: whatever has the output's name is a whole file. An output that received no frame,
// or failed, is removed again.
//
// cFrameWriter:
//   cBusLayer layer;            callback table (first member: a writer is a cBusLayer)
//   cFS* outputFs;              where the outputs go; borrowed
//   const cFrameFormat* format; what the outputs are
//   cFramePipeline* lines;      encodes and writes the frames, a batch at a time; owned
//   cIO* output;                stream of the current output, or null
//   std::string outputName;     current output, relative to the output root
//   std::string tempName;       where the current output is written until endFile moves it
//                               onto outputName (a hidden name beside it that no log or
//                               output pattern picks up); empty when the file system cannot
//                               move files into place and the output is written in place
//   bool outputCreated;         newFile created the current output for the current input and
//                               it is still there; only such a file is ever removed (never
//                               one we failed to create). An output that endFile kept stays
//                               ours until the next newFile, so dropFile can take it back.
//   uint64_t canFrames;         CAN data and remote frames of the current input
//   bool headerWritten;         the current file has its header; its frames go to `lines`
//   double startTime;           Timestamp of the file's first frame (NaN before it)
//   double lastTime;            Timestamp of the last frame written
//   uint64_t messageNumber;     number of the next frame written, 1 after newFile
//   std::string lineBuffer;     the header

#include <cstdint>
#include <string>

#include "bus/cBusLayer.h"
#include "converter/cFrameFormat.h"
#include "fs/cFS.h"
#include "io/cIO.h"

struct cFramePipeline;

struct cFrameWriter {
    cBusLayer layer;
    cFS* outputFs;
    const cFrameFormat* format;
    cFramePipeline* lines;
    cIO* output;
    std::string outputName;
    std::string tempName;
    bool outputCreated;
    uint64_t canFrames;
    bool headerWritten;
    double startTime;
    double lastTime;
    uint64_t messageNumber;
    std::string lineBuffer;
};

// A writer of the format with that number (cOutputFormat); an unknown number, or no
// memory, gives null.
cFrameWriter* cFrameWriter_ctor(cFS* outputFs, uint32_t format);
// Lets a second thread encode and write the frames while the caller's thread goes on with
// the next messages; the output and the log are the same as without. False when the system
// gives no thread: the writer then works alone, as before the call.
bool cFrameWriter_startHelper(cFrameWriter* writer);
// Closes an open stream (unchecked) and frees the object; null is accepted.
void cFrameWriter_dtor(cFrameWriter* writer);
