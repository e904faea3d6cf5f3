// MDF open, metadata, the merged iteration and trace writing, through the driver.
#include "fuzz/fuzz_entries.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    cFuzz_quiet();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The last byte picks the trace version, so both writers see every layout.
    cFuzz_convert(data, size, size > 0 && (data[size - 1] & 1));
    return 0;
}
