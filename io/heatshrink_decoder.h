#pragma once
// Streaming decoder of the heatshrink LZSS format the loggers compress with. Bits are read
// most significant first. A token is a tag bit: 1 = an 8-bit literal; 0 = a back-reference
// of W bits (distance - 1) and L bits (length - 1). Fields wider than 8 bits are read in two
// steps, high part first, so a suspension for lack of input never splits a step.
//
// One heap block:
//   uint16_t inputSize;   bytes waiting in the input buffer (0 once the last is loaded)
//   uint16_t inputIndex;  next byte of the input buffer to load
//   uint16_t outputCount; bytes of the current back-reference still to emit
//   uint16_t outputIndex; the back-reference distance (1 .. 2^W)
//   uint16_t headIndex;   bytes emitted so far, modulo 2^16
//   uint8_t state;        heatshrink_decoder_state
//   uint8_t currentByte;  the byte bits are being taken from
//   uint8_t bitIndex;     mask of the next bit of currentByte, 0 = none left
//   uint8_t windowBits;   W, 4 .. 15
//   uint8_t lookaheadBits; L, 3 .. W - 1
//   uint16_t inputBufferSize;
//   uint8_t buffers[];    input buffer, then the window of 2^W bytes

#include <cstddef>
#include <cstdint>

// The decoding stream always feeds the decoder through an input buffer of this size.
inline constexpr uint16_t heatshrink_INPUT_BUFFER_SIZE = 1024;

enum heatshrink_decoder_state : uint8_t {
    HSDS_TAG_BIT = 0,
    HSDS_YIELD_LITERAL = 1,
    HSDS_BACKREF_INDEX_MSB = 2,
    HSDS_BACKREF_INDEX_LSB = 3,
    HSDS_BACKREF_COUNT_MSB = 4,
    HSDS_BACKREF_COUNT_LSB = 5,
    HSDS_YIELD_BACKREF = 6,
};

enum HSD_sink_res { HSDR_SINK_OK = 0, HSDR_SINK_FULL = 1, HSDR_SINK_ERROR_NULL = -1 };
enum HSD_poll_res {
    HSDR_POLL_EMPTY = 0, // more input needed
    HSDR_POLL_MORE = 1,  // output buffer full
    HSDR_POLL_ERROR_NULL = -1,
    HSDR_POLL_ERROR_UNKNOWN = -2,
};
enum HSD_finish_res { HSDR_FINISH_DONE = 0, HSDR_FINISH_MORE = 1, HSDR_FINISH_ERROR_NULL = -1 };

struct heatshrink_decoder {
    uint16_t inputSize;
    uint16_t inputIndex;
    uint16_t outputCount;
    uint16_t outputIndex;
    uint16_t headIndex;
    uint8_t state;
    uint8_t currentByte;
    uint8_t bitIndex;
    uint8_t windowBits;
    uint8_t lookaheadBits;
    uint16_t inputBufferSize;
    uint8_t buffers[];
};

// Null unless 4 <= W <= 15, 3 <= L < W and the input buffer size is not 0. Starts reset.
heatshrink_decoder* heatshrink_decoder_alloc(uint16_t inputBufferSize, uint8_t windowBits,
                                             uint8_t lookaheadBits);
void heatshrink_decoder_free(heatshrink_decoder* hsd);
// Zeroes the buffers, the counters, the bit index and the state.
void heatshrink_decoder_reset(heatshrink_decoder* hsd);
// Appends min(size, free room) bytes behind the waiting input; FULL (nothing taken) when
// there is no room.
HSD_sink_res heatshrink_decoder_sink(heatshrink_decoder* hsd, const uint8_t* in, size_t size,
                                     size_t* inputSize);
// Decodes into out until no step can progress: MORE when out is full, else EMPTY.
HSD_poll_res heatshrink_decoder_poll(heatshrink_decoder* hsd, uint8_t* out, size_t outSize,
                                     size_t* outputSize);
// MORE while a back-reference is being emitted or input is waiting, DONE otherwise (trailing
// padding bits of the last byte end the stream without error).
HSD_finish_res heatshrink_decoder_finish(heatshrink_decoder* hsd);
