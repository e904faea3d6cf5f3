#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "io/cIO_heatshrink.h"
#include "io/heatshrink_decoder.h"
#include "io_test_support.h"

namespace {

// Decodes with sink and poll sizes of the given steps (with rng: random sizes up to them),
// finishing the way the decoding stream does.
Bytes decode(const Bytes& in, uint8_t W, uint8_t L, size_t sinkStep = 1024, size_t pollStep = 4096,
             std::mt19937* rng = nullptr) {
    auto size = [&](size_t step) { return rng ? 1 + (*rng)() % step : step; };
    heatshrink_decoder* hsd = heatshrink_decoder_alloc(1024, W, L);
    Bytes out, buf(pollStep);
    size_t pos = 0, got = 0, taken = 0;
    for (int r; (r = heatshrink_decoder_poll(hsd, buf.data(), size(pollStep), &got)) >= 0;) {
        out.insert(out.end(), buf.begin(), buf.begin() + got);
        if (r == HSDR_POLL_MORE) continue;
        if (pos == in.size()) break;
        heatshrink_decoder_sink(hsd, &in[pos], std::min(size(sinkStep), in.size() - pos), &taken);
        pos += taken;
    }
    EXPECT_EQ(heatshrink_decoder_finish(hsd), HSDR_FINISH_DONE);
    heatshrink_decoder_free(hsd);
    return out;
}

// The format read literally, one bit at a time over the whole input, as a yardstick for the
// fast decoder. A token cut short by the end of the data yields nothing.
Bytes refDecode(const Bytes& in, unsigned W, unsigned L) {
    size_t bit = 0;
    auto left = [&] { return in.size() * 8 - bit; };
    auto take = [&](unsigned n) {
        uint32_t v = 0;
        for (; n > 0; n--, bit++)
            v = v << 1 | (in[bit / 8] >> (7 - bit % 8) & 1);
        return v;
    };
    const uint32_t mask = (1u << W) - 1;
    Bytes out, window(mask + 1);
    auto emit = [&](uint8_t b) { window[out.size() & mask] = b, out.push_back(b); };
    for (bool literal; left() > 0 && left() >= ((literal = take(1)) ? 8 : W + L);) {
        if (literal) emit(uint8_t(take(8)));
        const uint32_t dist = literal ? 0 : take(W) + 1, count = literal ? 0 : take(L) + 1;
        for (uint32_t i = 0; i < count; i++)
            emit(window[(out.size() - dist) & mask]);
    }
    return out;
}

Bytes randomBytes(size_t n, uint32_t seed, unsigned alphabet = 256) {
    std::mt19937 rng(seed);
    Bytes b(n);
    std::generate(b.begin(), b.end(), [&] { return uint8_t(rng() % alphabet); });
    return b;
}

} // namespace

TEST(HeatshrinkDecoder, AgreesWithABitByBitDecoderOnArbitraryInput) {
    // Random bytes are an arbitrary token stream (far distances, wrapping copies); random sink
    // and poll sizes cross every place a poll can stop and resume.
    std::mt19937 rng(42);
    const std::pair<uint8_t, uint8_t> params[] = {{4, 3}, {8, 4}, {9, 5}, {12, 10}, {15, 14}};
    for (auto [W, L] : params) {
        for (int round = 0; round < 6; round++) {
            // Tiny polls get short inputs: long back-references make much output.
            const Bytes in = randomBytes(round < 3 ? 200 : 3000, rng(), round % 2 ? 256 : 2);
            EXPECT_EQ(decode(in, W, L, 1500, round < 3 ? 5 : 3000, &rng), refDecode(in, W, L))
                << int(W) << "/" << int(L) << " round " << round;
        }
    }
}
