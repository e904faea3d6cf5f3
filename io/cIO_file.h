#pragma once
// File stream over the standard I/O library.
//   FILE* handle; int64_t position (cached, lets a seek to the current place skip fseek).

#include "io/cIO.h"

// mode 0: read ("rb"), 1: write ("wb", truncates), 2: read and write (file must exist).
cIO* cIO_file_open(const char* path, int mode);
