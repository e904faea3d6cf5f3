#pragma once
// The 24-byte header every MDF 4 block starts with (the identification block at offset 0 is
// read through the same path, see cMdfBlockHeader_load).
//
// On disk, little-endian:
//   0  4  block id: "##" and two upper-case letters ("##HD")
//   4  4  reserved, zero
//   8  8  block length: header, links and data section together
//   16 8  link count; the links (absolute file offsets, 0 = none) follow the header
//
// cMdfBlockHeader, in memory:
//   type      - the block type recognised from the id (never MDF_BLOCK_NONE once loaded)
//   length    - block length in bytes (64 for the identification block)
//   linkCount - number of 64-bit links behind the header (0 for the identification block)

#include <cstdint>

#include "io/cIO.h"

enum cMdfBlockType : uint32_t {
    MDF_BLOCK_NONE = 0,
    MDF_BLOCK_ID = 1,
    MDF_BLOCK_CC = 2,
    MDF_BLOCK_CG = 3,
    MDF_BLOCK_CN = 4,
    MDF_BLOCK_DG = 5,
    MDF_BLOCK_DT = 6,
    MDF_BLOCK_FH = 7,
    MDF_BLOCK_HD = 8,
    MDF_BLOCK_MD = 9,
    MDF_BLOCK_SD = 10,
    MDF_BLOCK_SI = 11,
    MDF_BLOCK_TX = 12,
};

struct cMdfBlockHeader {
    cMdfBlockType type;
    uint64_t length;
    uint64_t linkCount;
};

// Size of the on-disk header.
constexpr uint64_t cMdfBlockHeader_SIZE = 24;

// Reads a header at the stream's position into *header. False on a short read (silent) or
// an unknown id (logged). For the identification block the stream is moved back to its
// start and length 64, link count 0 are set.
bool cMdfBlockHeader_load(cIO* stream, cMdfBlockHeader* header);
// length - 24 - 8 * link count; 0 when the length cannot hold header and links.
uint64_t cMdfBlockHeader_getDataSize(const cMdfBlockHeader* header);
