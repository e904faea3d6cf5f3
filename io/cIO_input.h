#pragma once
// How the driver reads one input file. The start of the file is looked at first: a file
// that is neither an MDF 4 file nor a container is refused before anything else of it is
// read. The access put in front of the file then follows the buffer size asked for:
//   < 0  the whole file without copying it: a guarded read-only mapping (cIO_mapped), or a
//        whole-file read buffer where the file cannot be mapped;
//   > 0  a read buffer of that many bytes, so memory stays bounded;
//   0    the file stream itself, unbuffered.

#include <cstdint>

#include "io/cIO.h"

// Takes over file (a stream of cIO_file_open, or any stream that can read and seek) and
// returns the stream to read it through. Null, with file closed and the reason logged, when
// the start cannot be read, the file is no log file, or the buffer cannot be had.
[[nodiscard]] cIO* cIO_input_open(cIO* file, int64_t bufferSize);
