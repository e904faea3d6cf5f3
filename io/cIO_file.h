#pragma once
// File stream over the standard I/O library.
//   FILE* handle; int64_t position (cached, lets a seek to the current place skip fseek);
//   uint8_t lastOp (0 none, 1 read, 2 write: a change of direction on a read-and-write
//   stream gets the positioning call the C library asks for); char* writeBuffer (1 MiB
//   when the stream can write, freed after fclose; null otherwise); size_t pending (bytes
//   of writeBuffer not yet handed to the library). A write-only stream gathers its writes
//   of less than 64 KiB in writeBuffer and hands them on in whole blocks (before a larger
//   write, which goes on at once, a tell, a seek elsewhere and the close, whose result then
//   also reports a failed hand-over); a read-and-write
//   stream gives writeBuffer to the library as its buffer.
// close always releases the object; a nonzero result means fclose reported a failure.

#include "io/cIO.h"

// mode 0: read ("rb"), 1: write ("wb", truncates), 2: read and write (file must exist).
cIO* cIO_file_open(const char* path, int mode);
// A write stream (as mode 1) on a file that this call creates: fails when anything, a link
// included, already has that name, so nobody else's file is ever written through it.
// errno tells why it failed.
cIO* cIO_file_openNew(const char* path);
// The system's descriptor of a file stream that can read, for mapping it; -1 for any other
// stream. The stream keeps owning it.
int cIO_file_descriptor(cIO* io);
