#include "io/heatshrink_decoder.h"

#include <cstdlib>
#include <cstring>

heatshrink_decoder* heatshrink_decoder_alloc(uint16_t inputBufferSize, uint8_t windowBits,
                                             uint8_t lookaheadBits) {
    if (inputBufferSize == 0 || windowBits < 4 || windowBits > 15 || lookaheadBits < 3 ||
        lookaheadBits >= windowBits)
        return nullptr;
    size_t bytes = sizeof(heatshrink_decoder) + inputBufferSize + (size_t(1) << windowBits);
    auto* hsd = static_cast<heatshrink_decoder*>(std::malloc(bytes));
    if (hsd == nullptr) return nullptr;
    hsd->inputBufferSize = inputBufferSize;
    hsd->windowBits = windowBits;
    hsd->lookaheadBits = lookaheadBits;
    heatshrink_decoder_reset(hsd);
    return hsd;
}

void heatshrink_decoder_free(heatshrink_decoder* hsd) {
    std::free(hsd);
}

void heatshrink_decoder_reset(heatshrink_decoder* hsd) {
    if (hsd == nullptr) return;
    std::memset(hsd->buffers, 0, hsd->inputBufferSize + (size_t(1) << hsd->windowBits));
    hsd->inputSize = 0;
    hsd->inputIndex = 0;
    hsd->outputCount = 0;
    hsd->outputIndex = 0;
    hsd->headIndex = 0;
    hsd->state = HSDS_TAG_BIT;
    hsd->currentByte = 0;
    hsd->bitIndex = 0;
}

HSD_sink_res heatshrink_decoder_sink(heatshrink_decoder* hsd, const uint8_t* in, size_t size,
                                     size_t* inputSize) {
    if (hsd == nullptr || in == nullptr || inputSize == nullptr) return HSDR_SINK_ERROR_NULL;
    size_t room = size_t(hsd->inputBufferSize) - hsd->inputSize;
    if (room == 0) {
        *inputSize = 0;
        return HSDR_SINK_FULL;
    }
    if (size > room) size = room;
    std::memcpy(hsd->buffers + hsd->inputSize, in, size);
    hsd->inputSize = uint16_t(hsd->inputSize + size);
    *inputSize = size;
    return HSDR_SINK_OK;
}

// The bit reader works on a 64-bit accumulator that loads input bytes ahead of need; on the
// way out the bytes that were loaded but not started go back to the input buffer, so the
// stored state (current byte, bit mask, input index) is exactly what taking the bits one by
// one would have left.
HSD_poll_res heatshrink_decoder_poll(heatshrink_decoder* hsd, uint8_t* out, size_t outSize,
                                     size_t* outputSize) {
    if (hsd == nullptr || out == nullptr || outputSize == nullptr) return HSDR_POLL_ERROR_NULL;
    *outputSize = 0;
    if (hsd->state > HSDS_YIELD_BACKREF) return HSDR_POLL_ERROR_UNKNOWN;

    const unsigned W = hsd->windowBits;
    const unsigned L = hsd->lookaheadBits;
    const unsigned tokenBits = 1 + W + L;
    // The fast path needs room for a back-reference and for a literal (9 bits).
    const unsigned fastBits = tokenBits > 9 ? tokenBits : 9;
    const uint32_t mask = (uint32_t(1) << W) - 1;
    const uint8_t* in = hsd->buffers;
    uint8_t* window = hsd->buffers + hsd->inputBufferSize;
    const size_t inSize = hsd->inputSize;
    const size_t inStart = hsd->inputIndex;
    size_t inIdx = inStart;

    const unsigned startBits = hsd->bitIndex == 0 ? 0 : 32 - __builtin_clz(hsd->bitIndex);
    uint64_t acc = hsd->currentByte;
    unsigned nb = startBits;

    unsigned state = hsd->state;
    uint32_t dist = hsd->outputIndex;
    uint32_t count = hsd->outputCount;
    uint32_t head = hsd->headIndex;
    size_t o = 0;

    auto refill = [&]() {
        while (nb <= 56 && inIdx < inSize) {
            acc = (acc << 8) | in[inIdx++];
            nb += 8;
        }
    };
    auto take = [&](unsigned n) -> uint32_t {
        nb -= n;
        return uint32_t(acc >> nb) & ((uint32_t(1) << n) - 1);
    };
    auto emit = [&](uint32_t k) {
        uint32_t src = head - dist;
        for (uint32_t i = 0; i < k; i++) {
            uint8_t b = window[(src + i) & mask];
            window[(head + i) & mask] = b;
            out[o + i] = b;
        }
        head += k;
        o += k;
        count -= k;
    };

#define NEED_BITS(n)                                                                               \
    if (nb < (n)) {                                                                                \
        refill();                                                                                  \
        if (nb < (n)) goto stop;                                                                   \
    }

    for (;;) {
        if (state == HSDS_TAG_BIT) {
            // Whole tokens while enough bits for the longest one are at hand.
            for (;;) {
                if (nb < 32) refill();
                if (nb < fastBits || o == outSize) break;
                if ((acc >> (nb - 1)) & 1) {
                    nb -= 9;
                    uint8_t b = uint8_t(acc >> nb);
                    window[head & mask] = b;
                    head++;
                    out[o++] = b;
                } else {
                    nb -= tokenBits;
                    dist = (uint32_t(acc >> (nb + L)) & mask) + 1;
                    count = (uint32_t(acc >> nb) & ((uint32_t(1) << L) - 1)) + 1;
                    size_t room = outSize - o;
                    emit(count < room ? count : uint32_t(room));
                    if (count != 0) {
                        state = HSDS_YIELD_BACKREF;
                        break;
                    }
                }
            }
        }
        switch (state) {
        case HSDS_TAG_BIT:
            NEED_BITS(1);
            if (take(1)) {
                state = HSDS_YIELD_LITERAL;
            } else if (W > 8) {
                state = HSDS_BACKREF_INDEX_MSB;
            } else {
                dist = 0;
                state = HSDS_BACKREF_INDEX_LSB;
            }
            break;
        case HSDS_YIELD_LITERAL: {
            if (o == outSize) goto stop;
            NEED_BITS(8);
            uint8_t b = uint8_t(take(8));
            window[head & mask] = b;
            head++;
            out[o++] = b;
            state = HSDS_TAG_BIT;
            break;
        }
        case HSDS_BACKREF_INDEX_MSB:
            NEED_BITS(W - 8);
            dist = take(W - 8) << 8;
            state = HSDS_BACKREF_INDEX_LSB;
            break;
        case HSDS_BACKREF_INDEX_LSB: {
            unsigned n = W < 8 ? W : 8;
            NEED_BITS(n);
            dist = (dist | take(n)) + 1;
            count = 0;
            state = L > 8 ? HSDS_BACKREF_COUNT_MSB : HSDS_BACKREF_COUNT_LSB;
            break;
        }
        case HSDS_BACKREF_COUNT_MSB:
            NEED_BITS(L - 8);
            count = take(L - 8) << 8;
            state = HSDS_BACKREF_COUNT_LSB;
            break;
        case HSDS_BACKREF_COUNT_LSB: {
            unsigned n = L < 8 ? L : 8;
            NEED_BITS(n);
            count = (count | take(n)) + 1;
            state = HSDS_YIELD_BACKREF;
            break;
        }
        default: { // HSDS_YIELD_BACKREF
            size_t room = outSize - o;
            if (room == 0) goto stop;
            emit(count < room ? count : uint32_t(room));
            if (count == 0) state = HSDS_TAG_BIT;
            break;
        }
        }
    }
#undef NEED_BITS

stop:
    // Give back the bytes the accumulator loaded but did not start.
    const unsigned loadedBits = unsigned(inIdx - inStart) * 8;
    uint8_t currentByte = hsd->currentByte;
    unsigned rest;
    if (nb > loadedBits) {
        rest = nb - loadedBits; // still inside the byte that was current on entry
        inIdx = inStart;
    } else {
        inIdx -= nb / 8;
        rest = nb % 8;
        if (inIdx > inStart) currentByte = in[inIdx - 1];
    }
    hsd->currentByte = currentByte;
    hsd->bitIndex = rest == 0 ? 0 : uint8_t(1u << (rest - 1));
    if (inIdx == inSize) {
        hsd->inputSize = 0;
        hsd->inputIndex = 0;
    } else {
        hsd->inputIndex = uint16_t(inIdx);
    }
    hsd->state = uint8_t(state);
    hsd->outputIndex = uint16_t(dist);
    hsd->outputCount = uint16_t(count);
    hsd->headIndex = uint16_t(head);
    *outputSize = o;
    return o == outSize ? HSDR_POLL_MORE : HSDR_POLL_EMPTY;
}

HSD_finish_res heatshrink_decoder_finish(heatshrink_decoder* hsd) {
    if (hsd == nullptr) return HSDR_FINISH_ERROR_NULL;
    if (hsd->state == HSDS_YIELD_BACKREF) return HSDR_FINISH_MORE;
    return hsd->inputSize == 0 ? HSDR_FINISH_DONE : HSDR_FINISH_MORE;
}
