#pragma once
// Update mode (-u) of the driver.
//
// A log whose trace is at least as new is skipped without being read. Whether the next log
// repeats it, or continues it, is decided against its header all the same: the header of
// the skipped log is read when a later log needs it, which in a daily run is the first new
// log of each device. Not for use outside the driver.

#include <cstdint>
#include <string>

#include "app/cLogReaderState.h"

// Update mode: the file's trace (*trace: its name relative to the output root) is there and
// at least as new as the input, as "cp -u" and make decide. False outside update mode and
// when the converter cannot name its output.
bool cLogReaderUpdate_upToDate(const cLogReader* reader, const std::string& input,
                               const std::string& base, std::string* trace);

// The previous-file record after a skipped file: its header is not known yet.
void cLogReaderUpdate_skipped(cLogReaderFileInfo* previous, const std::string& input);
// Reads the header of the skipped file the record stands for, if it does, so that the file
// after it is compared with it; a header that cannot be read leaves the record empty (the
// file after it is then neither repeated nor continued).
void cLogReaderUpdate_resolve(const cLogReader* reader, cLogReaderFileInfo* previous);
