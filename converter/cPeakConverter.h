#pragma once
// Writes the CAN frames of each input file as a PEAK trace file (".trc"), version 1.1 or
// 2.1: the header with the start date when the first CAN frame arrives, then one line per
// data or remote frame. A trace is written under a temporary name and gets its own name
// only when it is complete and closed: whatever has the trace's name is a whole trace. A
// trace that received no frame, or failed, is removed again.
//
// cPeakConverter:
//   cBusLayer layer;            callback table (first member: a converter is a cBusLayer)
//   cFS* outputFs;              where trace files go; borrowed
//   uint32_t version;           cPeakConverter_VERSION_1_1 or _2_1
//   cPeakPipeline* lines;       makes and writes the record lines, a batch at a time; owned
//   cIO* output;                stream of the current trace file, or null
//   std::string outputName;     current trace file, relative to the output root
//   std::string tempName;       where the current trace is written until endFile moves it
//                               onto outputName (a hidden name beside it that no log or
//                               trace pattern picks up); empty when the file system cannot
//                               move files into place and the trace is written in place
//   bool outputCreated;         newFile created the current trace for the current input and
//                               it is still there; only such a file is ever removed (never
//                               one we failed to create). A trace that endFile kept stays
//                               ours until the next newFile, so dropFile can take it back.
//   uint64_t canFrames;         CAN data and remote frames of the current input
//   bool headerWritten;         the current file has its header; its lines go to `lines`
//   double startTime;           Timestamp of the file's first frame (NaN before it)
//   uint64_t messageNumber;     number of the next record line, 1 after newFile
//   std::string lineBuffer;     the header lines

#include <cstdint>
#include <string>

#include "bus/cBusLayer.h"
#include "fs/cFS.h"
#include "io/cIO.h"

struct cPeakPipeline;

enum : uint32_t { cPeakConverter_VERSION_1_1 = 1, cPeakConverter_VERSION_2_1 = 2 };

struct cPeakConverter {
    cBusLayer layer;
    cFS* outputFs;
    uint32_t version;
    cPeakPipeline* lines;
    cIO* output;
    std::string outputName;
    std::string tempName;
    bool outputCreated;
    uint64_t canFrames;
    bool headerWritten;
    double startTime;
    uint64_t messageNumber;
    std::string lineBuffer;
};

// traceFormat 1 (version 1.1) or 2 (version 2.1); anything else, or no memory, gives null.
cPeakConverter* cPeakConverter_ctor(cFS* outputFs, uint32_t traceFormat);
// Lets a second thread make and write the record lines while the caller's thread goes on
// with the next messages; the trace and the log are the same as without. False when the
// system gives no thread: the converter then works alone, as before the call.
bool cPeakConverter_startHelper(cPeakConverter* converter);
// Closes an open stream (unchecked) and frees the object; null is accepted.
void cPeakConverter_dtor(cPeakConverter* converter);

// Appends the start time as an OLE automation date, "%5lu.%010.0f\n".
void cPeakConverter_appendStartDate(std::string* out, double startTime);
