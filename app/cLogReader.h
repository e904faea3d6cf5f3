#pragma once
// The conversion driver: walks the input paths, unwraps containers, opens each MDF file
// and pumps its time-ordered bus messages into the converter.
// Result code of one input path, OR-ed over all inputs into the exit status:
//   0 converted / skipped by rule, 1 missing, 2 not decryptable, 4 not decompressible,
//   8 any other conversion failure, 129 neither file nor folder / query failed.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "bus/cBusLayer.h"
#include "fs/cFS.h"

struct cLogReaderOptions;
struct cLogReader;

enum : uint32_t {
    cLogReader_OK = 0,
    cLogReader_MISSING = 1,
    cLogReader_DECRYPT_FAILED = 2,
    cLogReader_DECOMPRESS_FAILED = 4,
    cLogReader_CONVERSION_FAILED = 8,
    cLogReader_BAD_PATH = 129,
};

// What became of one log file (files without a log extension are not reported).
enum class cLogReaderOutcome : uint8_t {
    CONVERTED,     // its trace is in place
    NO_CAN_FRAMES, // converted, but it holds no frame for a trace, so there is none
    REPEATED,      // the same file as the one before: skipped
    FAILED,        // code says why
};

struct cLogReaderFileReport {
    std::string_view inputPath;  // relative to the input root
    std::string_view outputPath; // the trace in place, relative to the output root, or empty
    cLogReaderOutcome outcome;
    uint32_t code; // result code of the file
    uint64_t framesWritten;
    bool inputDeleted;
};

using cLogReader_reportFn = void (*)(void* context, const cLogReaderFileReport& report);

// Null when any pointer is null. Borrows all four objects.
cLogReader* cLogReader_ctor(cFS* inputFs, cFS* outputFs, bool createDirs,
                            const cLogReaderOptions* options, cBusLayer* converter);
void cLogReader_dtor(cLogReader* reader);
// Another converter, so that one more file can be converted at once ("jobs"); borrowed.
void cLogReader_addConverter(cLogReader* reader, cBusLayer* converter);
// Calls fn once for every log file after it was handled; null fn: no calls.
void cLogReader_setReportFn(cLogReader* reader, cLogReader_reportFn fn, void* context);
// inputs: relative to the input root, in command-line order.
uint32_t cLogReader_process(cLogReader* reader, const std::vector<std::string>& inputs);
