#pragma once
// Shared by the safety tests: the metadata of their logs.

#include "tools/cMdfWriter.h"

// One device and session; the split tells the logs of one run apart, so that none is
// skipped as a repeat of the one before.
inline cMdfWriterOptions safety_logOptions(uint32_t split) {
    cMdfWriterOptions o;
    o.startTimeNs = 1700000000500000000ull;
    o.serialNumber = "0000ABCD";
    o.session = 1;
    o.split = split;
    return o;
}
