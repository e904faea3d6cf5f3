#pragma once
// Command line of the frame writer: the shared command line plus "trace-format", which picks
// the output format.
//
// cPeakConverterCLI:
//   cLogReaderCLI cli;     shared command line (first member)
//   uint32_t traceFormat;  0 after construction; after parsing the cOutputFormat chosen

#include <cstdint>
#include <string>

#include "app/cArgParser.h"
#include "app/cLogReaderCLI.h"

struct cPeakConverterCLI {
    cLogReaderCLI cli;
    uint32_t traceFormat;
};

cPeakConverterCLI* cPeakConverterCLI_ctor();
void cPeakConverterCLI_dtor(cPeakConverterCLI* cli);
// traceFormat; 0 for null.
uint32_t cPeakConverterCLI_getFormat(const cPeakConverterCLI* cli);

// Extension: appends "trace-format" (always true; left out when the list cannot grow).
bool cPeakConverterCLI_addOptions(cLogReaderCLI* cli, cArgTable* options);
// Check of "trace-format": trace 2.1 when not given, else the format of that name (in any
// case: "version1", "version2", "asc", "blf", "candump", "csv"); 1 (an error) for any other
// value, traceFormat unchanged.
int cPeakConverterCLI_checkFn(cArgOption* option, void* cli);
void cPeakConverterCLI_errorFn(cArgOption* option, void* cli, std::string* errorText, int code,
                               const char* value, const char* programName);
