#include "io/heatshrink_decoder.h"

#include <bit>
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

namespace {

// The registers of the whole-token loop, handed in and out in one piece.
struct FastState {
    uint64_t acc;
    unsigned nb;
    const uint8_t* in;
    const uint8_t* inEnd;
    uint8_t* out;
    uint8_t* outEnd;
    uint32_t head, dist, count;
};

// Copies n bytes of s to both a and b, none of the three ranges overlapping, in a few
// word-sized pieces (the last piece may overlap the one before).
template <size_t N> inline void copyPiece(uint8_t* a, uint8_t* b, const uint8_t* s) {
    uint8_t v[N];
    std::memcpy(v, s, N);
    std::memcpy(a, v, N);
    std::memcpy(b, v, N);
}
inline void copyDisjoint(uint8_t* a, uint8_t* b, const uint8_t* s, size_t n) {
    if (n >= 16) {
        size_t i = 0;
        for (; i + 16 <= n; i += 16)
            copyPiece<16>(a + i, b + i, s + i);
        if (i < n) copyPiece<16>(a + n - 16, b + n - 16, s + n - 16);
    } else if (n >= 8) {
        copyPiece<8>(a, b, s);
        copyPiece<8>(a + n - 8, b + n - 8, s + n - 8);
    } else if (n >= 4) {
        copyPiece<4>(a, b, s);
        copyPiece<4>(a + n - 4, b + n - 4, s + n - 4);
    } else {
        for (size_t i = 0; i < n; i++)
            a[i] = b[i] = s[i];
    }
}

// Decodes whole tokens, starting at a tag bit, while the bits of the longest token and room
// for one byte are at hand. Kept apart from the step-by-step machine so that its few
// counters stay in registers; inside, the unread bits sit at the top of the accumulator so
// fields come out with constant shifts. True when it stops inside a back-reference.
__attribute__((noinline)) bool decodeTokens(FastState* f, uint8_t* window, unsigned W, unsigned L) {
    const unsigned tokenBits = 1 + W + L;
    const unsigned fastBits = tokenBits > 9 ? tokenBits : 9; // also a whole literal
    const unsigned distShift = 64 - W, countShift = 64 - L;
    const uint32_t mask = (uint32_t(1) << W) - 1;
    unsigned nb = f->nb;
    uint64_t acc = nb == 0 ? 0 : f->acc << (64 - nb);
    const uint8_t* in = f->in;
    const uint8_t* const inEnd = f->inEnd;
    uint8_t* out = f->out;
    uint8_t* const outEnd = f->outEnd;
    // The count of bytes emitted (modulo 2^32) follows from the output: head at outStart.
    const uint32_t headStart = f->head;
    uint32_t dist = f->dist, count = f->count; // the last back-reference stays on record
    bool pending = false;
    // Bytes made in this call are read back from the output, not the window: each byte is
    // written once, and the window is brought up to date on the way out.
    uint8_t* const outStart = out;
    for (;;) {
        if (nb > 56) {
            // full enough
        } else if (inEnd - in >= 8) {
            // Tops the accumulator up to 56..63 bits; the bits below the count are the
            // true next bits, so or-ing them in again on the next load changes nothing.
            uint64_t v;
            std::memcpy(&v, in, sizeof v);
            acc |= __builtin_bswap64(v) >> nb;
            in += (63 - nb) >> 3;
            nb |= 56;
        } else {
            while (nb <= 56 && in < inEnd) {
                acc |= uint64_t(*in++) << (56 - nb);
                nb += 8;
            }
        }
        if (nb < fastBits || out == outEnd) break;
        if (int64_t(acc) < 0) {
            // Literals come in runs: as many as the loaded bits and the room hold go out
            // without a refill.
            const size_t room = size_t(outEnd - out);
            uint8_t* const runEnd = out + (nb / 9 < room ? nb / 9 : room);
            uint8_t* const runStart = out;
            do {
                *out++ = uint8_t(acc >> 55);
                acc <<= 9;
            } while (int64_t(acc) < 0 && out != runEnd);
            nb -= 9 * unsigned(out - runStart);
            continue;
        }
        dist = uint32_t((acc << 1) >> distShift) + 1;
        count = uint32_t((acc << (1 + W)) >> countShift) + 1;
        acc <<= tokenBits;
        nb -= tokenBits;
        uint32_t k = count;
        if (size_t(outEnd - out) < k) k = uint32_t(outEnd - out);
        const size_t made = size_t(out - outStart);
        if (dist <= made) {
            // All of it lies in this call's output. 16 (or 8) bytes at least apart, the copy
            // goes in 16-byte (8-byte) pieces, each reading only bytes written before it; the
            // last may write past the reference into room the next tokens overwrite.
            const uint8_t* s = out - dist;
            if (dist >= 16 && size_t(outEnd - out) >= size_t(k) + 15) {
                for (uint32_t i = 0; i < k; i += 16)
                    std::memcpy(out + i, s + i, 16);
            } else if (dist >= 8 && size_t(outEnd - out) >= size_t(k) + 7) {
                for (uint32_t i = 0; i < k; i += 8)
                    std::memcpy(out + i, s + i, 8);
            } else if (std::endian::native == std::endian::little &&
                       size_t(outEnd - out) >= size_t(k) + 7) {
                // Closer than 8: the repeating pattern of dist bytes is spread over 8 bytes
                // and stored a whole number of patterns apart.
                uint64_t v;
                std::memcpy(&v, s, 8);
                v &= ~uint64_t(0) >> (64 - 8 * dist);
                for (uint32_t have = dist; have < 8; have *= 2)
                    v |= v << (8 * have);
                const uint32_t step = 8 / dist * dist;
                for (uint32_t i = 0; i < k; i += step)
                    std::memcpy(out + i, &v, 8);
            } else {
                for (uint32_t i = 0; i < k; i++)
                    out[i] = s[i];
            }
        } else {
            // It starts before this call: those bytes are in the window.
            const uint32_t head = headStart + uint32_t(made);
            for (uint32_t i = 0; i < k; i++)
                out[i] = dist <= made + i ? *(out + i - dist) : window[(head + i - dist) & mask];
        }
        out += k;
        count -= k;
        if (count != 0) {
            pending = true;
            break;
        }
    }
    // The window takes the last bytes of this call's output, as many as it holds.
    const size_t made = size_t(out - outStart);
    const uint32_t head = headStart + uint32_t(made);
    const uint32_t size = mask + 1;
    const uint32_t n = made < size ? uint32_t(made) : size;
    const uint32_t at = (head - n) & mask;
    const uint32_t first = n < size - at ? n : size - at;
    std::memcpy(window + at, out - n, first);
    std::memcpy(window, out - n + first, n - first);
    f->acc = nb == 0 ? 0 : acc >> (64 - nb);
    f->nb = nb;
    f->in = in;
    f->out = out;
    f->head = head;
    f->dist = dist;
    f->count = count;
    return pending;
}

} // namespace

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

    // Macros rather than lambdas keep every counter of the loop in a register.
#define HSD_REFILL()                                                                               \
    do {                                                                                           \
        if (nb <= 56 && inSize - inIdx >= 8) {                                                     \
            /* whole bytes up to 56 bits from one big-endian load */                               \
            unsigned k_ = (63 - nb) / 8;                                                           \
            uint64_t v_;                                                                           \
            std::memcpy(&v_, in + inIdx, sizeof v_);                                               \
            v_ = __builtin_bswap64(v_);                                                            \
            acc = (acc << (8 * k_)) | (v_ >> (64 - 8 * k_));                                       \
            nb += 8 * k_;                                                                          \
            inIdx += k_;                                                                           \
        } else {                                                                                   \
            while (nb <= 56 && inIdx < inSize) {                                                   \
                acc = (acc << 8) | in[inIdx++];                                                    \
                nb += 8;                                                                           \
            }                                                                                      \
        }                                                                                          \
    } while (0)
#define HSD_TAKE(n) (nb -= (n), uint32_t(acc >> nb) & ((uint32_t(1) << (n)) - 1))
    // Each byte of a back-reference is also written back at the head, so a copy may
    // overlap itself.
#define HSD_EMIT(kk)                                                                               \
    do {                                                                                           \
        const uint32_t k_ = (kk);                                                                  \
        const uint32_t src_ = head - dist;                                                         \
        const uint32_t from_ = src_ & mask, to_ = head & mask, size_ = mask + 1;                   \
        if (dist >= k_ && size_ - dist >= k_ && from_ + k_ <= size_ && to_ + k_ <= size_) {        \
            copyDisjoint(window + to_, out + o, window + from_, k_);                               \
        } else {                                                                                   \
            for (uint32_t i_ = 0; i_ < k_; i_++) {                                                 \
                uint8_t b_ = window[(src_ + i_) & mask];                                           \
                window[(head + i_) & mask] = b_;                                                   \
                out[o + i_] = b_;                                                                  \
            }                                                                                      \
        }                                                                                          \
        head += k_;                                                                                \
        o += k_;                                                                                   \
        count -= k_;                                                                               \
    } while (0)

#define NEED_BITS(n)                                                                               \
    if (nb < (n)) {                                                                                \
        HSD_REFILL();                                                                              \
        if (nb < (n)) goto stop;                                                                   \
    }

    for (;;) {
        if (state == HSDS_TAG_BIT) {
            FastState f{acc,           nb,   in + inIdx, in + inSize, out + o,
                        out + outSize, head, dist,       count};
            if (decodeTokens(&f, window, W, L)) state = HSDS_YIELD_BACKREF;
            acc = f.acc;
            nb = f.nb;
            inIdx = size_t(f.in - in);
            o = size_t(f.out - out);
            head = f.head;
            dist = f.dist;
            count = f.count;
        }
        switch (state) {
        case HSDS_TAG_BIT:
            NEED_BITS(1);
            if (HSD_TAKE(1)) {
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
            uint8_t b = uint8_t(HSD_TAKE(8));
            window[head & mask] = b;
            head++;
            out[o++] = b;
            state = HSDS_TAG_BIT;
            break;
        }
        case HSDS_BACKREF_INDEX_MSB:
            NEED_BITS(W - 8);
            dist = HSD_TAKE(W - 8) << 8;
            state = HSDS_BACKREF_INDEX_LSB;
            break;
        case HSDS_BACKREF_INDEX_LSB: {
            unsigned n = W < 8 ? W : 8;
            NEED_BITS(n);
            dist = (dist | HSD_TAKE(n)) + 1;
            count = 0;
            state = L > 8 ? HSDS_BACKREF_COUNT_MSB : HSDS_BACKREF_COUNT_LSB;
            break;
        }
        case HSDS_BACKREF_COUNT_MSB:
            NEED_BITS(L - 8);
            count = HSD_TAKE(L - 8) << 8;
            state = HSDS_BACKREF_COUNT_LSB;
            break;
        case HSDS_BACKREF_COUNT_LSB: {
            unsigned n = L < 8 ? L : 8;
            NEED_BITS(n);
            count = (count | HSD_TAKE(n)) + 1;
            state = HSDS_YIELD_BACKREF;
            break;
        }
        default: { // HSDS_YIELD_BACKREF
            size_t room = outSize - o;
            if (room == 0) goto stop;
            HSD_EMIT(count < room ? count : uint32_t(room));
            if (count == 0) state = HSDS_TAG_BIT;
            break;
        }
        }
    }
#undef NEED_BITS
#undef HSD_REFILL
#undef HSD_TAKE
#undef HSD_EMIT

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
