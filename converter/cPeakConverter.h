#pragma once
// The PEAK trace writer: the frame writer with trace version 1.1 or 2.1 (cPeakLines.h).

#include <cstdint>
#include <string>

#include "converter/cFrameWriter.h"

using cPeakConverter = cFrameWriter;

enum : uint32_t {
    cPeakConverter_VERSION_1_1 = cOutputFormat_TRACE_1_1,
    cPeakConverter_VERSION_2_1 = cOutputFormat_TRACE_2_1
};

// traceFormat 1 (version 1.1) or 2 (version 2.1); anything else, or no memory, gives null.
cPeakConverter* cPeakConverter_ctor(cFS* outputFs, uint32_t traceFormat);
inline bool cPeakConverter_startHelper(cPeakConverter* converter) {
    return cFrameWriter_startHelper(converter);
}
inline void cPeakConverter_dtor(cPeakConverter* converter) {
    cFrameWriter_dtor(converter);
}

// Appends the start time as an OLE automation date, "%5lu.%010.0f\n".
void cPeakConverter_appendStartDate(std::string* out, double startTime);
