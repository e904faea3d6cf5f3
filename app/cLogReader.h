#pragma once
// The conversion driver: walks the input paths, unwraps containers, opens each MDF file
// and pumps its time-ordered bus messages into the converter. Each input path gives a
// result code (cExitStatus), OR-ed over all inputs into the run's result.

#include <cstdint>
#include <string>
#include <vector>

#include "app/cExitStatus.h"
#include "bus/cBusLayer.h"
#include "fs/cFS.h"

struct cLogReaderOptions;
struct cLogReader;

// Null when any pointer is null. Borrows all four objects.
cLogReader* cLogReader_ctor(cFS* inputFs, cFS* outputFs, bool createDirs,
                            const cLogReaderOptions* options, cBusLayer* converter);
void cLogReader_dtor(cLogReader* reader);
// Another converter, so that one more file can be converted at once ("jobs"); borrowed.
void cLogReader_addConverter(cLogReader* reader, cBusLayer* converter);
// inputs: relative to the input root, in command-line order.
uint32_t cLogReader_process(cLogReader* reader, const std::vector<std::string>& inputs);
