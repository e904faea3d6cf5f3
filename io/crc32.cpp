#include "io/crc32.h"

#include <array>

namespace {

using CrcTables = std::array<std::array<uint32_t, 256>, 8>;

// table[0] is the byte-at-a-time table; table[1..7] let the bulk routine fold eight bytes per
// step (each is the one before advanced by one more zero byte). Built by the compiler, so
// that no thread ever sees it half made.
constexpr CrcTables crcTables_build() {
    CrcTables t{};
    for (uint32_t n = 0; n < 256; n++) {
        uint32_t c = n;
        for (int k = 0; k < 8; k++)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[0][n] = c;
    }
    for (uint32_t n = 0; n < 256; n++) {
        for (size_t i = 1; i < 8; i++) {
            uint32_t prev = t[i - 1][n];
            t[i][n] = t[0][prev & 0xFF] ^ (prev >> 8);
        }
    }
    return t;
}

constexpr CrcTables crcTable = crcTables_build();
static_assert(crcTable[0][1] == 0x77073096u && crcTable[0][255] == 0x2D02EF8Du);

} // namespace

uint32_t update_crc_32(uint32_t reg, uint8_t byte) {
    return crcTable[0][(reg ^ byte) & 0xFF] ^ (reg >> 8);
}

uint32_t update_crc_32_buffer(uint32_t reg, const void* data, size_t length) {
    if (data == nullptr || length == 0) return reg;
    const uint8_t* p = static_cast<const uint8_t*>(data);
    while (length >= 8) {
        uint32_t lo = reg ^ (uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                             uint32_t(p[3]) << 24);
        uint32_t hi =
            uint32_t(p[4]) | uint32_t(p[5]) << 8 | uint32_t(p[6]) << 16 | uint32_t(p[7]) << 24;
        reg = crcTable[7][lo & 0xFF] ^ crcTable[6][(lo >> 8) & 0xFF] ^
              crcTable[5][(lo >> 16) & 0xFF] ^ crcTable[4][lo >> 24] ^ crcTable[3][hi & 0xFF] ^
              crcTable[2][(hi >> 8) & 0xFF] ^ crcTable[1][(hi >> 16) & 0xFF] ^
              crcTable[0][hi >> 24];
        p += 8;
        length -= 8;
    }
    while (length-- > 0)
        reg = crcTable[0][(reg ^ *p++) & 0xFF] ^ (reg >> 8);
    return reg;
}

uint32_t crc_32(const void* data, size_t length) {
    if (data == nullptr || length == 0) return 0;
    return update_crc_32_buffer(0xFFFFFFFFu, data, length) ^ 0xFFFFFFFFu;
}
