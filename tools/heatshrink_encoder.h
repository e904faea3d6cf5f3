#pragma once
// Test-side heatshrink encoder: writes the LZSS token stream the decoder of io/ reads (tag
// bit 1 + 8-bit literal, or tag bit 0 + W bits of distance - 1 + L bits of length - 1, most
// significant bit first, zero padding in the last byte). Matches come from hash chains over
// 3-byte prefixes, so the output is valid for any 4 <= W <= 15, 3 <= L < W, though not
// always the shortest possible.
//
//   uint8_t windowBits, lookaheadBits;  W and L
//   uint32_t minMatch;                  shortest match worth a back-reference
//   std::vector<uint8_t> buffer;        up to 2^W bytes of history, then pending input
//   uint64_t bufferBase;                stream position of buffer[0]
//   uint64_t position;                  next byte to encode
//   uint64_t inserted;                  prefixes up to here are in the hash chains
//   std::vector<int64_t> head;          hash -> latest position with that prefix, -1 none
//   std::vector<int64_t> prev;          position mod 2^W -> previous position, same hash
//   uint64_t bits; unsigned bitCount;   output bits not yet forming a whole byte

#include <cstddef>
#include <cstdint>
#include <vector>

struct heatshrink_encoder {
    uint8_t windowBits;
    uint8_t lookaheadBits;
    uint32_t minMatch;
    std::vector<uint8_t> buffer;
    uint64_t bufferBase;
    uint64_t position;
    uint64_t inserted;
    std::vector<int64_t> head;
    std::vector<int64_t> prev;
    uint64_t bits;
    unsigned bitCount;
};

// Null unless 4 <= W <= 15 and 3 <= L < W.
heatshrink_encoder* heatshrink_encoder_alloc(uint8_t windowBits, uint8_t lookaheadBits);
void heatshrink_encoder_free(heatshrink_encoder* hse);
// Takes more input; appends to out the tokens that no later input can improve.
void heatshrink_encoder_sink(heatshrink_encoder* hse, const uint8_t* in, size_t size,
                             std::vector<uint8_t>* out);
// Encodes what is left and the padded last byte. The encoder is spent afterwards.
void heatshrink_encoder_finish(heatshrink_encoder* hse, std::vector<uint8_t>* out);
// One-shot form; false for parameters out of range.
bool heatshrink_encode(const uint8_t* in, size_t size, uint8_t windowBits, uint8_t lookaheadBits,
                       std::vector<uint8_t>* out);
