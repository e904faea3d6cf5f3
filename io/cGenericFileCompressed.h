#pragma once
// Compressed container (type 0x22): the header, two big-endian parameter fields, a heatshrink
// stream, and, when the footer flag is set, a big-endian CRC footer. Offsets from the start:
//   0   20  header (flag byte and footer flag both 1 or both 0, version 1)
//   20   4  lookahead field: the lookahead bit count L (low 8 bits used)
//   24   4  window field: the window size in bytes, 2^W (W = its trailing zero bits)
//   28   n  heatshrink data, up to the footer or the end of the file
//   end-4 4 footer (footer flag 1): the CRC-32 register over the heatshrink data, initial
//           0xFFFFFFFF and no final XOR
// The open decompresses everything into memory and hands back that memory stream, sealed
// (read-only, fetched bytes stay in place until close).
// Positions and sizes are 64-bit throughout, so containers of 2 GiB and more are read whole.
// The decompressed content is held in a block of the run's memory budget (cMemoryBudget).

#include "io/cGenericFile.h"
#include "io/cIO.h"

inline constexpr int64_t cGenericFileCompressed_LOOKAHEAD_OFFSET = 20;
inline constexpr int64_t cGenericFileCompressed_PAYLOAD_OFFSET = 28;
inline constexpr int64_t cGenericFileCompressed_FOOTER_SIZE = 4;

// Null on any failure (refused header fields, parameters the decoder rejects, a read error,
// content that is no MDF 4 file or container, a spent budget, a missing or wrong footer).
// The output is drawn from budget (null: the run's memory budget, no other bound). The input stays
// open and the caller's; the result no longer needs it. The result's position is at the end of the
// decompressed data.
cIO* cGenericFile_compressed_open(cIO* input, const cGenericFile* header,
                                  cGenericFile_budget* budget = nullptr);
