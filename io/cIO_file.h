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

// How cIO_file_open opens a file, in the C library's terms.
enum cIO_fileMode {
    cIO_FILE_READ = 0,   // "rb"
    cIO_FILE_WRITE = 1,  // "wb": created or truncated
    cIO_FILE_UPDATE = 2, // "r+b": read and write; the file must exist
};

cIO* cIO_file_open(const char* path, cIO_fileMode mode);
// A write stream (as cIO_FILE_WRITE) over a descriptor open for writing, which it takes over
// (closed also when the stream cannot be made). errno tells why it failed.
cIO* cIO_file_writeTo(int fd);
// The system's descriptor of a file stream that can read, for mapping it; -1 for any other
// stream. The stream keeps owning it.
int cIO_file_descriptor(cIO* io);
