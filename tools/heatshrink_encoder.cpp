#include "tools/heatshrink_encoder.h"

#include <new>

namespace {

constexpr unsigned HASH_BITS = 15;
// Longer chains find little more on logger data and cost time on repetitive input.
constexpr unsigned MAX_CHAIN = 48;

uint32_t hashAt(const uint8_t* p) {
    uint32_t v = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    return (v * 2654435761u) >> (32 - HASH_BITS);
}

void putBits(heatshrink_encoder* hse, uint32_t value, unsigned count, std::vector<uint8_t>* out) {
    hse->bits = (hse->bits << count) | value;
    hse->bitCount += count;
    while (hse->bitCount >= 8) {
        hse->bitCount -= 8;
        out->push_back(uint8_t(hse->bits >> hse->bitCount));
    }
}

void insertUpTo(heatshrink_encoder* hse, uint64_t limit, uint64_t end) {
    const uint64_t wmask = (uint64_t(1) << hse->windowBits) - 1;
    while (hse->inserted < limit && hse->inserted + 3 <= end) {
        uint64_t p = hse->inserted++;
        uint32_t h = hashAt(&hse->buffer[p - hse->bufferBase]);
        hse->prev[p & wmask] = hse->head[h];
        hse->head[h] = int64_t(p);
    }
}

// Longest earlier match for the bytes at position; its length (0 if none) and distance.
uint32_t findMatch(heatshrink_encoder* hse, uint64_t end, uint32_t* distance) {
    const uint64_t pos = hse->position;
    const uint64_t windowSize = uint64_t(1) << hse->windowBits;
    const uint64_t wmask = windowSize - 1;
    uint64_t avail = end - pos;
    uint32_t maxLen = uint32_t(1) << hse->lookaheadBits;
    if (avail < maxLen) maxLen = uint32_t(avail);
    if (maxLen < 3) return 0;
    const uint8_t* cur = &hse->buffer[pos - hse->bufferBase];
    uint32_t best = 0;
    int64_t cand = hse->head[hashAt(cur)];
    for (unsigned depth = 0; depth < MAX_CHAIN && cand >= 0; depth++) {
        uint64_t c = uint64_t(cand);
        if (c >= pos || pos - c > windowSize || c < hse->bufferBase) break;
        const uint8_t* old = &hse->buffer[c - hse->bufferBase];
        // Only a candidate that also matches at the current best length can beat it.
        if (best == 0 || old[best] == cur[best]) {
            uint32_t len = 0;
            while (len < maxLen && old[len] == cur[len])
                len++;
            if (len > best) {
                best = len;
                *distance = uint32_t(pos - c);
                if (len == maxLen) break;
            }
        }
        int64_t next = hse->prev[c & wmask];
        if (next >= cand) break;
        cand = next;
    }
    return best;
}

void encodeAvailable(heatshrink_encoder* hse, bool final, std::vector<uint8_t>* out) {
    const uint64_t end = hse->bufferBase + hse->buffer.size();
    const uint32_t maxLen = uint32_t(1) << hse->lookaheadBits;
    const unsigned W = hse->windowBits, L = hse->lookaheadBits;
    while (hse->position < end) {
        if (!final && end - hse->position < maxLen + 2) break;
        insertUpTo(hse, hse->position, end);
        uint32_t distance = 0;
        uint32_t len = findMatch(hse, end, &distance);
        if (len >= hse->minMatch && len >= 3) {
            putBits(hse, ((distance - 1) << L) | (len - 1), 1 + W + L, out);
            hse->position += len;
        } else {
            putBits(hse, 0x100u | hse->buffer[hse->position - hse->bufferBase], 9, out);
            hse->position++;
        }
    }
    // Keep the window's worth of history; drop older bytes in large steps.
    const uint64_t windowSize = uint64_t(1) << W;
    uint64_t keepFrom = hse->position > windowSize ? hse->position - windowSize : 0;
    if (hse->inserted < keepFrom) keepFrom = hse->inserted;
    if (keepFrom > hse->bufferBase + (1u << 20)) {
        hse->buffer.erase(hse->buffer.begin(), hse->buffer.begin() + (keepFrom - hse->bufferBase));
        hse->bufferBase = keepFrom;
    }
}

} // namespace

heatshrink_encoder* heatshrink_encoder_alloc(uint8_t windowBits, uint8_t lookaheadBits) {
    if (windowBits < 4 || windowBits > 15 || lookaheadBits < 3 || lookaheadBits >= windowBits)
        return nullptr;
    auto* hse = new (std::nothrow) heatshrink_encoder{};
    if (hse == nullptr) return nullptr;
    hse->windowBits = windowBits;
    hse->lookaheadBits = lookaheadBits;
    // A back-reference must cost fewer bits than the literals it replaces (9 bits each).
    const unsigned refBits = 1u + windowBits + lookaheadBits;
    hse->minMatch = refBits / 9 + 1;
    hse->head.assign(size_t(1) << HASH_BITS, -1);
    hse->prev.assign(size_t(1) << windowBits, -1);
    return hse;
}

void heatshrink_encoder_free(heatshrink_encoder* hse) {
    delete hse;
}

void heatshrink_encoder_sink(heatshrink_encoder* hse, const uint8_t* in, size_t size,
                             std::vector<uint8_t>* out) {
    if (hse == nullptr || out == nullptr || (in == nullptr && size != 0)) return;
    // Feed in slices so the buffer never holds much more than a slice plus the window.
    const size_t slice = size_t(1) << 20;
    while (size > 0) {
        size_t n = size < slice ? size : slice;
        hse->buffer.insert(hse->buffer.end(), in, in + n);
        in += n;
        size -= n;
        encodeAvailable(hse, false, out);
    }
}

void heatshrink_encoder_finish(heatshrink_encoder* hse, std::vector<uint8_t>* out) {
    if (hse == nullptr || out == nullptr) return;
    encodeAvailable(hse, true, out);
    if (hse->bitCount > 0) {
        out->push_back(uint8_t(hse->bits << (8 - hse->bitCount)));
        hse->bitCount = 0;
    }
}

bool heatshrink_encode(const uint8_t* in, size_t size, uint8_t windowBits, uint8_t lookaheadBits,
                       std::vector<uint8_t>* out) {
    heatshrink_encoder* hse = heatshrink_encoder_alloc(windowBits, lookaheadBits);
    if (hse == nullptr || out == nullptr) {
        heatshrink_encoder_free(hse);
        return false;
    }
    heatshrink_encoder_sink(hse, in, size, out);
    heatshrink_encoder_finish(hse, out);
    heatshrink_encoder_free(hse);
    return true;
}
