#pragma once
// The 20-byte header that starts every container file (compressed or encrypted). In the
// file, from offset 0, all numbers big-endian:
//   0  12  magic "Generic File" (no terminator)
//   12  1  first flag byte (compressed: equals the footer flag; encrypted: 0 or 1)
//   13  1  footer flag (1 = a 4-byte CRC footer follows a compressed payload)
//   14  1  container type (0x22 compressed, 0x11 encrypted)
//   15  1  format version (1)
//   16  4  device serial number
// The payload follows from offset 20. Note that the file holds the type before the version,
// the record below the version before the type.

#include <cstddef>
#include <cstdint>

#include "io/cIO.h"

struct cGenericFile {
    uint8_t magic[12];     // "Generic File" when the header is valid
    uint32_t serialNumber; // device serial number, host order
    uint8_t flag;          // first flag byte
    uint8_t footerFlag;    // 1 = CRC footer present (compressed container)
    uint8_t version;       // format version
    uint8_t type;          // cGenericFile_TYPE_*
};

inline constexpr char cGenericFile_MAGIC[12] = {'G', 'e', 'n', 'e', 'r', 'i',
                                                'c', ' ', 'F', 'i', 'l', 'e'};
inline constexpr int64_t cGenericFile_HEADER_SIZE = 20;
inline constexpr uint8_t cGenericFile_TYPE_COMPRESSED = 0x22;
inline constexpr uint8_t cGenericFile_TYPE_ENCRYPTED = 0x11;
inline constexpr uint8_t cGenericFile_VERSION = 1;

// Seeks to 0 and reads the header. True only when all fields could be read and the magic
// matches; the record is filled as far as the reads got. Logs nothing. The stream is left
// after byte 19.
bool cGenericFile_readHeader(cIO* io, cGenericFile* header);

// Far above what a logger uses; PBKDF2 at this count takes some seconds. It bounds the key
// derivation of a whole input, nested encrypted containers summed, so that a hostile file
// cannot stall a run.
inline constexpr uint64_t cGenericFile_MAX_KEY_ITERATIONS = 10000000;

// What the unwrapping of one input may still use, whatever the nesting: each container opened
// for the input draws on it, so a container inside another gets what the outer one left.
// Unwrapped content is held in memory of the run's budget (or the one given for tests), which
// every input being converted shares. With logContentOnly, decompressed content that does not
// start as a log file does (cGenericFile_isLogStart) is refused after its first bytes, so that
// a hostile file is not unwrapped until the budget is spent.
struct cMemoryBudget;
struct cGenericFile_budget {
    cMemoryBudget* memory = nullptr; // null: cMemoryBudget_run()
    uint64_t keyIterationsLeft = cGenericFile_MAX_KEY_ITERATIONS;
    bool logContentOnly = false;
};

// True when bytes that start a file (n of them, n >= 12 for a certain answer) begin an MDF 4
// file, finalised or not, or a container: the only things a log file may hold.
bool cGenericFile_isLogStart(const uint8_t* bytes, uint64_t n);
inline constexpr uint64_t cGenericFile_LOG_START_SIZE = 12;
