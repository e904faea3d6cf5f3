#pragma once
// Read-only mapping of a whole input file. Reads copy out of the mapping and fetch hands out
// any range of the file in place, so the file is never copied into memory of our own and
// its pages stay the system's cache pages. The bytes fetched stay where they are until
// close (fetchStays).
//   cIO base; const uint8_t* data; uint64_t size; uint64_t position; cIO* file (owned);
//   Guard* guard (the mapping's entry in the list of guarded mappings)
// A file that shrinks while it is mapped would end the process at the first touch of a page
// past its new end (SIGBUS). The mapping is guarded instead: the fault handler puts zero
// pages in place of the lost ones and marks the mapping as cut, so readers see zeros where
// the bytes went, and close reports the cut (logged, nonzero result) so that the file the
// stream was read from fails rather than pass with made-up content.

#include "io/cIO.h"

// Result of close when the file shrank while mapped.
inline constexpr int32_t cIO_mapped_CUT = 1;

// Maps the file under a readable file stream of cIO_file_open and takes the stream over.
// Null, with the stream left to the caller untouched, when it cannot be mapped: not a file
// stream, an empty or special file, a failing mmap, or no memory for its guard.
cIO* cIO_mapped_open(cIO* file);
