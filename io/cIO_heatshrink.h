#pragma once
// Read-only stream that decodes the heatshrink data it pulls from a source stream.
//   cIO base;                 vtable_r: read; write, tell and seek always give -1; close
//   cIO* source;              not owned
//   heatshrink_decoder* hsd;  owned, input buffer of heatshrink_INPUT_BUFFER_SIZE bytes
// A read delivers fewer bytes than asked only at the end of the data; a source failure
// gives -1.

#include <cstdint>

#include "io/cIO.h"

// Null when source is null, allocation fails or the decoder rejects W (window bits) or
// L (lookahead bits).
cIO* cIO_heatshrink_open(cIO* source, uint8_t windowBits, uint8_t lookaheadBits);
