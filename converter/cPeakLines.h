#pragma once
// The PEAK trace formats, versions 1.1 and 2.1 (cFrameFormat_trace11, cFrameFormat_trace21):
// the header with the start date, then one record line per frame, numbered from 1. Version
// 1.1 holds classic frames only.

#include <cstdint>
#include <string>

#include "converter/cFrameBatch.h"
#include "converter/cFrameFormat.h"
