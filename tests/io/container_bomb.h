#pragma once
// A compressed container (no footer) whose content is the given start followed by zeros up
// to about `size` bytes: heatshrink back-references of the greatest length (W = 15, L = 14:
// 16384 bytes in 30 bits), so that a few kilobytes of file unpack to many megabytes. Written
// bit by bit from the format, not with the project's encoder, so it can reach sizes no test
// could afford to compress.

#include <cstdint>
#include <string>
#include <vector>

inline std::vector<uint8_t> containerBomb(const std::string& start, uint64_t size,
                                          uint32_t serialNumber = 0) {
    constexpr unsigned kW = 15, kL = 14;
    std::vector<uint8_t> out = {'G',
                                'e',
                                'n',
                                'e',
                                'r',
                                'i',
                                'c',
                                ' ',
                                'F',
                                'i',
                                'l',
                                'e',
                                0,
                                0,
                                0x22,
                                1,
                                uint8_t(serialNumber >> 24),
                                uint8_t(serialNumber >> 16),
                                uint8_t(serialNumber >> 8),
                                uint8_t(serialNumber)};
    for (uint32_t field : {uint32_t(kL), uint32_t(1) << kW})
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(uint8_t(field >> shift));
    uint8_t current = 0;
    int used = 0;
    auto put = [&](uint32_t bits, unsigned count) {
        for (unsigned i = count; i-- > 0;) {
            current = uint8_t(current << 1 | (bits >> i & 1));
            if (++used == 8) {
                out.push_back(current);
                current = 0;
                used = 0;
            }
        }
    };
    // A zero byte first, so that every back-reference (distance 1) copies zeros.
    for (char c : start + std::string(1, '\0'))
        put(0x100 | uint8_t(c), 9);
    for (uint64_t made = start.size() + 1; made < size; made += uint64_t(1) << kL)
        put(((uint32_t(1) << kL) - 1), 1 + kW + kL); // tag 0, distance 1, longest length
    if (used) out.push_back(uint8_t(current << (8 - used)));
    return out;
}
