#pragma once
// The PEAK trace formats, versions 1.1 and 2.1 (cFrameFormat_trace11, cFrameFormat_trace21):
// the header with the start date, then one record line per frame, numbered from 1. Version
// 1.1 holds classic frames only.

#include <cstdint>
#include <string>

#include "converter/cFrameBatch.h"
#include "converter/cFrameFormat.h"

// Replaces the text with the record lines of the batch for trace version
// cOutputFormat_TRACE_1_1 or _2_1; offsets count from startTime. Version 1.1 lines are for
// classic frames only: the writer leaves FD frames out. False without memory.
[[nodiscard]] bool cPeakLines_format(uint32_t version, double startTime, cFrameBatch* batch);
