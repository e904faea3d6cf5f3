#pragma once
// The output formats and what each brings to the frame writer, which does the rest alike for
// all of them (temporary file and rename, the batching pipeline, the summary for -d). A
// format is a table of this kind in a file of its own, listed in cFrameFormat_all.
//
// cFrameFormat:
//   cOutputFormat id;      the number the command line hands on
//   const char* name;      the value of "trace-format" that picks it ("asc")
//   const char* suffix;    what the writer appends to a file's output base path ("_CAN.asc")
//   bool classicOnly;      FD frames are left out (trace 1.1); the input is then kept by -d
//   header:  appends what goes before the first frame; startTime is that frame's Timestamp
//   format:  replaces a batch's text with the encoding of its frames; called for one batch
//            at a time per thread, possibly on two threads at once, so it keeps no state
//            outside the batch
//   finish:  once every batch is written: appends what follows the last frame, or puts the
//            file's own counts where the header keeps them (null: nothing to do). Gives 0,
//            or an errno / cFramePipeline_result when a write failed.

#include <cstdint>
#include <string>
#include <string_view>

#include "io/cIO.h"

struct cFrameBatch;

// The values of "trace-format"; the trace versions keep the numbers they always had.
enum cOutputFormat : uint32_t {
    cOutputFormat_NONE = 0,
    cOutputFormat_TRACE_1_1 = 1,
    cOutputFormat_TRACE_2_1 = 2,
    cOutputFormat_ASC = 3,
    cOutputFormat_BLF = 4,
    cOutputFormat_CANDUMP = 5,
    cOutputFormat_CSV = 6,
};

// What the writer knows of a file when its last batch is written.
struct cFrameFileEnd {
    double startTime; // Timestamp of the first frame
    double lastTime;  // Timestamp of the last frame written
    uint64_t frames;  // frames written
    uint64_t extra;   // the batches' `extra`, added up
};

struct cFrameFormat {
    cOutputFormat id;
    const char* name;
    const char* suffix;
    bool classicOnly;
    bool (*header)(std::string* out, double startTime);
    bool (*format)(double startTime, cFrameBatch* batch);
    int (*finish)(cIO* out, const cFrameFileEnd* end);
};

extern const cFrameFormat cFrameFormat_trace11, cFrameFormat_trace21, cFrameFormat_asc,
    cFrameFormat_blf, cFrameFormat_candump, cFrameFormat_csv;

// Every format, in the order the help lists them; null-terminated.
extern const cFrameFormat* const cFrameFormat_all[];
// The format of that number, or null.
const cFrameFormat* cFrameFormat_byId(uint32_t id);
// The format of that name, compared without regard to case, or null.
const cFrameFormat* cFrameFormat_byName(std::string_view name);
