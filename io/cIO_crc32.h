#pragma once
// Pass-through stream that keeps a CRC-32 register over every byte read or written through
// it. The register starts at 0xFFFFFFFF and is never finalised, so after a byte sequence it
// holds the CRC-32/ISO-HDLC of that sequence XOR 0xFFFFFFFF (the JAMCRC value), which is
// what the compressed container's footer stores.
//   const cIO_vtable* vt;  read, write, close (no tell, no seek)
//   uint32_t crc;          the running register
//   cIO* inner;            not owned
// An inner failure is returned unchanged and leaves the register as it was.

#include <cstdint>

#include "io/cIO.h"

// Null when inner is null or allocation fails.
cIO* cIO_crc32_ctor(cIO* inner);
// The current register (no final XOR); 0 for a null stream or another kind of stream.
uint32_t cIO_crc32_getCRC(cIO* io);
