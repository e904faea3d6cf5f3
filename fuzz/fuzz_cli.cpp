// Command-line parsing, options, paths and the password file option.
#include "fuzz/fuzz_entries.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    cFuzz_quiet();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cFuzz_parseCommandLine(data, size);
    return 0;
}
