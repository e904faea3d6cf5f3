#pragma once
// File stream over the standard I/O library.
//   FILE* handle; int64_t position (cached, lets a seek to the current place skip fseek);
//   uint8_t lastOp (0 none, 1 read, 2 write: a change of direction on a read-and-write
//   stream gets the positioning call the C library asks for); char* writeBuffer (the
//   stream's 1 MiB buffer when it can write, freed after fclose; null otherwise).
// close always releases the object; a nonzero result means fclose reported a failure.

#include "io/cIO.h"

// mode 0: read ("rb"), 1: write ("wb", truncates), 2: read and write (file must exist).
cIO* cIO_file_open(const char* path, int mode);
