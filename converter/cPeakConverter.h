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
//   writeHeader, writeRecord;   the writers of the chosen version
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
//   bool headerWritten;         the current file has its header
//   double startTime;           Timestamp of the file's first frame (NaN before it)
//   uint64_t messageNumber;     number of the next record line, 1 after newFile
//   std::string lineBuffer;     reused for every header and record line
//   char numberText[36];        numberTextValue in decimal, right-aligned with leading blanks
//                               in the first 20 bytes: the next record number is counted up
//                               in place rather than converted anew for each line; the 16
//                               bytes behind let a short number be copied in one piece
//   uint64_t numberTextValue;   the number numberText holds; when messageNumber differs
//                               (a new file), the text is made anew from it
//   uint32_t numberDigits;      digits in numberText

#include <cstdint>
#include <string>

#include "converter/cBusLayer.h"
#include "fs/cFS.h"
#include "io/cIO.h"

enum : uint32_t { cPeakConverter_VERSION_1_1 = 1, cPeakConverter_VERSION_2_1 = 2 };

struct cPeakConverter {
    cBusLayer layer;
    cFS* outputFs;
    bool (*writeHeader)(cPeakConverter* converter, double startTime);
    bool (*writeRecord)(cPeakConverter* converter, const cBusMsg* msg);
    cIO* output;
    std::string outputName;
    std::string tempName;
    bool outputCreated;
    uint64_t canFrames;
    bool headerWritten;
    double startTime;
    uint64_t messageNumber;
    std::string lineBuffer;
    char numberText[36];
    uint64_t numberTextValue;
    uint32_t numberDigits;
};

// traceFormat 1 (version 1.1) or 2 (version 2.1); anything else, or no memory, gives null.
cPeakConverter* cPeakConverter_ctor(cFS* outputFs, uint32_t traceFormat);
// Closes an open stream (unchecked) and frees the object; null is accepted.
void cPeakConverter_dtor(cPeakConverter* converter);

// Appends the start time as an OLE automation date, "%5lu.%010.0f\n".
void cPeakConverter_appendStartDate(std::string* out, double startTime);
