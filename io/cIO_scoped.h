#pragma once
// Window onto [start, end) of an inner stream; positions seen through it are relative to start.
//   cIO* inner; int64_t start; int64_t end (absolute; <= 0 means no end).
// Never closes the inner stream. Seeks are clamped into [start, end]; reads and writes are
// cut at end and deliver nothing while the inner stream sits outside the window. fetch
// passes on what lies inside the window, fetchStays what the inner stream says.

#include "io/cIO.h"

// Seeks the inner stream to start. Null for a null inner stream.
cIO* cIO_scoped_ctor(cIO* inner, int64_t start, int64_t end);
