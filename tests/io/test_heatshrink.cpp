#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "io/cIO_heatshrink.h"
#include "io/heatshrink_decoder.h"
#include "io_test_support.h"
#include "tools/heatshrink_encoder.h"

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

TEST(HeatshrinkRoundTrip, EncoderOutputDecodesExactlyForManyParameters) {
    const std::pair<uint8_t, uint8_t> params[] = {{4, 3},  {5, 4},  {8, 7},
                                                  {11, 4}, {13, 9}, {15, 14}};
    Bytes thrice = randomBytes(5000, 4); // a random block three times: long copies from far back
    thrice.insert(thrice.end(), thrice.begin(), thrice.end());
    thrice.insert(thrice.end(), thrice.begin(), thrice.begin() + 5000);
    // Empty, one byte, a run (overlapping copies, the head index wraps), incompressible, a
    // short alphabet (many short matches), logger-like, a block three times.
    const Bytes inputs[] = {Bytes(),
                            Bytes(1, 0x42),
                            Bytes(70000, 0),
                            randomBytes(20000, 1),
                            randomBytes(30000, 2, 3),
                            sampleData(100000, 3),
                            thrice};
    for (auto [W, L] : params) {
        for (size_t i = 0; i < std::size(inputs); i++) {
            Bytes enc;
            ASSERT_TRUE(heatshrink_encode(inputs[i].data(), inputs[i].size(), W, L, &enc));
            EXPECT_EQ(decode(enc, W, L, 1 + i * 300, 1 + i * 999), inputs[i])
                << "W=" << int(W) << " L=" << int(L) << " input " << i;
        }
    }
    // The streaming encoder across its 1 MiB slices, fed in odd pieces.
    const Bytes big = sampleData(3 << 20, 5);
    heatshrink_encoder* hse = heatshrink_encoder_alloc(11, 4);
    Bytes enc;
    for (size_t pos = 0, n = 0; pos < big.size(); pos += n)
        heatshrink_encoder_sink(hse, &big[pos], n = std::min<size_t>(77777, big.size() - pos),
                                &enc);
    heatshrink_encoder_finish(hse, &enc);
    heatshrink_encoder_free(hse);
    EXPECT_LT(enc.size(), big.size() / 2);
    EXPECT_EQ(decode(enc, 11, 4), big);
}
