#pragma once
// CRC-32 as ISO-HDLC / IEEE 802.3 define it: reflected polynomial 0xEDB88320, register
// starting at 0xFFFFFFFF, final XOR 0xFFFFFFFF. The tables are built at compile time: any
// thread may use them at any time.

#include <cstddef>
#include <cstdint>

// CRC-32 of a buffer; 0 for a null buffer or a length of 0.
uint32_t crc_32(const void* data, size_t length);
// One table step: table[(reg ^ byte) & 0xFF] ^ (reg >> 8). No initial value, no final XOR.
uint32_t update_crc_32(uint32_t reg, uint8_t byte);
// update_crc_32 applied to every byte of a buffer in order (the same register arithmetic,
// a few bytes per step).
uint32_t update_crc_32_buffer(uint32_t reg, const void* data, size_t length);
