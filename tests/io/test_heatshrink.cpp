#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "io/cIO_heatshrink.h"
#include "io/cIO_memoryAlloc.h"
#include "io/heatshrink_decoder.h"
#include "tools/heatshrink_encoder.h"

namespace {

using Bytes = std::vector<uint8_t>;

// "1 0100 0001" -> bytes, most significant bit first, zero padded.
Bytes bitsToBytes(const std::string& bits) {
    Bytes out;
    int n = 0;
    for (char c : bits) {
        if (c != '0' && c != '1') continue;
        if (n++ % 8 == 0) out.push_back(0);
        out.back() |= uint8_t((c == '1') << (7 - (n - 1) % 8));
    }
    return out;
}

// Decodes with the given sink and poll sizes, finishing the way the decoding stream does.
Bytes decode(const Bytes& in, uint8_t W, uint8_t L, size_t sinkStep = 1024,
             size_t pollStep = 4096) {
    heatshrink_decoder* hsd = heatshrink_decoder_alloc(1024, W, L);
    Bytes out, buf(pollStep);
    size_t pos = 0, got = 0, taken = 0;
    for (;;) {
        HSD_poll_res r = heatshrink_decoder_poll(hsd, buf.data(), buf.size(), &got);
        out.insert(out.end(), buf.begin(), buf.begin() + got);
        if (r == HSDR_POLL_MORE) continue;
        if (r != HSDR_POLL_EMPTY || pos == in.size()) break;
        heatshrink_decoder_sink(hsd, in.data() + pos, std::min(sinkStep, in.size() - pos), &taken);
        pos += taken;
    }
    EXPECT_EQ(heatshrink_decoder_finish(hsd), HSDR_FINISH_DONE);
    heatshrink_decoder_free(hsd);
    return out;
}

Bytes randomBytes(size_t n, uint32_t seed, int alphabet = 256) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b)
        x = uint8_t(rng() % alphabet);
    return b;
}

// Logger-like data: 16-byte records with a growing time, a few fixed and a few varying bytes.
Bytes recordLike(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    uint32_t t = 0;
    for (size_t i = 0; i < n; i++) {
        if (i % 16 == 0) t += 1 + rng() % 300;
        const uint8_t fixed[16] = {1, 0, 0, 0, 0, 0, 0x12, 3, 8, 0, 0, 0, 0xFF, 0, 0, 0};
        b[i] = (i % 16 >= 1 && i % 16 <= 3)    ? uint8_t(t >> (8 * (i % 16 - 1)))
               : (i % 16 == 9 || i % 16 == 15) ? uint8_t(rng() % 4)
                                               : fixed[i % 16];
    }
    return b;
}

// The decoder read literally, one bit at a time, as a yardstick for the fast one.
struct RefDecoder {
    Bytes input = Bytes(1024);
    uint16_t inputSize = 0, inputIndex = 0, outputCount = 0, outputIndex = 0, headIndex = 0;
    uint8_t state = 0, currentByte = 0, bitIndex = 0, W, L;
    Bytes window;
    RefDecoder(uint8_t w, uint8_t l) : W(w), L(l), window(size_t(1) << w) {}

    int getBits(unsigned n) { // -1: suspended
        if (inputSize == 0 && bitIndex < (1u << (n - 1))) return -1;
        int v = 0;
        for (unsigned i = 0; i < n; i++) {
            if (bitIndex == 0) {
                currentByte = input[inputIndex++];
                if (inputIndex == inputSize) inputIndex = inputSize = 0;
                bitIndex = 0x80;
            }
            v = v << 1 | ((currentByte & bitIndex) ? 1 : 0);
            bitIndex >>= 1;
        }
        return v;
    }
    size_t sink(const uint8_t* in, size_t n) {
        n = std::min<size_t>(n, 1024 - inputSize);
        std::copy(in, in + n, input.begin() + inputSize);
        inputSize = uint16_t(inputSize + n);
        return n;
    }
    int poll(uint8_t* out, size_t cap, size_t* got) {
        size_t o = 0;
        const uint32_t mask = (1u << W) - 1;
        for (uint8_t before = 0xFF; state != before;) {
            before = state;
            int b;
            if (state == 0 && (b = getBits(1)) >= 0) {
                state = b ? 1 : W > 8 ? 2 : 3;
                if (state == 3) outputIndex = 0;
            } else if (state == 1 && o < cap && (b = getBits(8)) >= 0) {
                window[headIndex++ & mask] = out[o++] = uint8_t(b);
                state = 0;
            } else if (state >= 2 && state <= 5) { // distance or count, high or low part
                const bool dist = state < 4, high = state % 2 == 0;
                const unsigned width = dist ? W : L;
                uint16_t& field = dist ? outputIndex : outputCount;
                if ((b = getBits(high ? width - 8 : std::min(width, 8u))) < 0) break;
                field = uint16_t(high ? b << 8 : (field | b) + 1);
                if (high)
                    state++;
                else if (dist)
                    outputCount = 0, state = L > 8 ? 4 : 5;
                else
                    state = 6;
            } else if (state == 6) {
                for (; o < cap && outputCount > 0; outputCount--) {
                    uint8_t c = window[uint16_t(headIndex - outputIndex) & mask];
                    window[headIndex++ & mask] = out[o++] = c;
                }
                if (outputCount == 0) state = 0;
            }
        }
        *got = o;
        return o == cap ? HSDR_POLL_MORE : HSDR_POLL_EMPTY;
    }
};

} // namespace

TEST(HeatshrinkDecoder, HandMadeBitStreams) {
    // W = 8, L = 4: literal 0x41, then distance 1 length 4: five 0x41 in all.
    Bytes in = bitsToBytes("1 01000001  0 00000000 0011");
    ASSERT_EQ(in, (Bytes{0xA0, 0x80, 0x0C}));
    EXPECT_EQ(decode(in, 8, 4), Bytes(5, 0x41));
    EXPECT_EQ(decode(in, 8, 4, 1, 1), Bytes(5, 0x41));
    // A back-reference before any output copies the zeroed window.
    EXPECT_EQ(decode(bitsToBytes("0 0100 011"), 4, 3), Bytes(4, 0));
    // W = 12, L = 9: wide fields, high part first: 'x', then distance 4 and length 258,
    // which reaches three zero bytes of the fresh window before the 'x'.
    Bytes out = decode(bitsToBytes("1 01111000  0 0000 00000011  1 00000001"), 12, 9);
    ASSERT_EQ(out.size(), 259u);
    for (size_t i = 0; i < out.size(); i++)
        EXPECT_EQ(out[i], (i % 4 == 0) ? 'x' : 0) << i;
}

TEST(HeatshrinkDecoder, FinishSemantics) {
    heatshrink_decoder* hsd = heatshrink_decoder_alloc(1024, 8, 4);
    size_t taken = 0, got = 0;
    uint8_t out[8];
    // Tag 1 and four literal bits, then padding: the data ends cleanly inside the literal.
    const uint8_t cut = 0xA0;
    heatshrink_decoder_sink(hsd, &cut, 1, &taken);
    EXPECT_EQ(heatshrink_decoder_poll(hsd, out, sizeof out, &got), HSDR_POLL_EMPTY);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(hsd->state, HSDS_YIELD_LITERAL);
    EXPECT_EQ(hsd->bitIndex, 0x40); // seven bits of the byte unread, none waiting
    EXPECT_EQ(heatshrink_decoder_finish(hsd), HSDR_FINISH_DONE);
    // A back-reference longer than the output room keeps finish at MORE until it is out.
    heatshrink_decoder_reset(hsd);
    Bytes in = bitsToBytes("1 01000001  0 00000000 0011");
    heatshrink_decoder_sink(hsd, in.data(), in.size(), &taken);
    EXPECT_EQ(heatshrink_decoder_poll(hsd, out, 2, &got), HSDR_POLL_MORE);
    EXPECT_EQ(hsd->state, HSDS_YIELD_BACKREF);
    EXPECT_EQ(hsd->outputCount, 3);
    EXPECT_EQ(heatshrink_decoder_finish(hsd), HSDR_FINISH_MORE);
    EXPECT_EQ(heatshrink_decoder_poll(hsd, out, 8, &got), HSDR_POLL_EMPTY);
    EXPECT_EQ(got, 3u);
    EXPECT_EQ(heatshrink_decoder_finish(hsd), HSDR_FINISH_DONE);
    heatshrink_decoder_free(hsd);
}

TEST(HeatshrinkDecoder, AgreesWithABitByBitDecoderOnArbitraryInput) {
    // Random bytes are a valid but arbitrary token stream; every field of the state must
    // match the literal reading after every call, whatever the sink and poll sizes.
    std::mt19937 rng(42);
    const std::pair<uint8_t, uint8_t> params[] = {{4, 3}, {8, 4}, {9, 5}, {12, 10}, {15, 14}};
    for (auto [W, L] : params) {
        for (int round = 0; round < 6; round++) {
            // Tiny polls get short inputs: long back-references make much output.
            Bytes in = randomBytes(round < 3 ? 200 : 3000, rng(), round % 2 ? 256 : 2), fast, slow;
            heatshrink_decoder* hsd = heatshrink_decoder_alloc(1024, W, L);
            RefDecoder ref(W, L);
            uint8_t a[3000], b[3000];
            for (size_t pos = 0;;) {
                size_t want = 1 + rng() % (round < 3 ? 5 : 3000), ga = 0, gb = 0, t = 0;
                int ra = heatshrink_decoder_poll(hsd, a, want, &ga);
                ASSERT_EQ(ra, ref.poll(b, want, &gb));
                fast.insert(fast.end(), a, a + ga);
                slow.insert(slow.end(), b, b + gb);
                ASSERT_EQ(hsd->state, ref.state);
                ASSERT_EQ(hsd->inputSize, ref.inputSize);
                ASSERT_EQ(hsd->inputIndex, ref.inputIndex);
                ASSERT_EQ(hsd->bitIndex, ref.bitIndex);
                if (hsd->bitIndex != 0) {
                    ASSERT_EQ(hsd->currentByte, ref.currentByte);
                }
                ASSERT_EQ(hsd->outputCount, ref.outputCount);
                ASSERT_EQ(hsd->outputIndex, ref.outputIndex);
                ASSERT_EQ(hsd->headIndex, ref.headIndex);
                if (ra == HSDR_POLL_MORE) continue;
                if (pos == in.size()) break;
                size_t n = std::min<size_t>(1 + rng() % 1500, in.size() - pos);
                heatshrink_decoder_sink(hsd, in.data() + pos, n, &t);
                ASSERT_EQ(t, ref.sink(in.data() + pos, n));
                pos += t;
            }
            EXPECT_EQ(fast, slow);
            heatshrink_decoder_free(hsd);
        }
    }
}

TEST(HeatshrinkDecoder, ParameterLimitsAndFullBuffer) {
    const struct {
        uint16_t input;
        uint8_t W, L;
        bool ok;
    } cases[] = {{1024, 4, 3, true},  {1024, 15, 14, true}, {1, 5, 4, true},
                 {1024, 3, 2, false}, {1024, 16, 4, false}, {1024, 8, 8, false},
                 {1024, 8, 2, false}, {1024, 0, 0, false},  {0, 8, 4, false}};
    for (const auto& c : cases) {
        heatshrink_decoder* hsd = heatshrink_decoder_alloc(c.input, c.W, c.L);
        EXPECT_EQ(hsd != nullptr, c.ok) << int(c.W) << "/" << int(c.L) << " buf " << c.input;
        heatshrink_decoder_free(hsd);
    }
    heatshrink_decoder* hsd = heatshrink_decoder_alloc(4, 8, 4);
    uint8_t data[8] = {};
    size_t n = 0;
    // A 4-byte input buffer takes 3, then 1, then reports FULL.
    EXPECT_EQ(heatshrink_decoder_sink(hsd, data, 3, &n), HSDR_SINK_OK);
    EXPECT_EQ(heatshrink_decoder_sink(hsd, data, 3, &n), HSDR_SINK_OK);
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(heatshrink_decoder_sink(hsd, data, 3, &n), HSDR_SINK_FULL);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(heatshrink_decoder_finish(hsd), HSDR_FINISH_MORE); // input waiting
    hsd->state = 7;
    EXPECT_EQ(heatshrink_decoder_poll(hsd, data, sizeof data, &n), HSDR_POLL_ERROR_UNKNOWN);
    heatshrink_decoder_free(hsd);
}

TEST(HeatshrinkRoundTrip, EncoderOutputDecodesExactlyForManyParameters) {
    const std::pair<uint8_t, uint8_t> params[] = {{4, 3},  {5, 4},  {8, 4},  {8, 7},  {9, 8},
                                                  {10, 5}, {11, 4}, {13, 9}, {15, 14}};
    const std::vector<Bytes> inputs = {
        {},
        {0x42},
        Bytes(70000, 0),          // a run: overlapping copies, head index wraps
        randomBytes(20000, 1),    // incompressible
        randomBytes(30000, 2, 3), // short alphabet: many short matches
        recordLike(100000, 3),
        [] { // a random block three times: long copies from far back
            Bytes b = randomBytes(5000, 4);
            b.insert(b.end(), b.begin(), b.end());
            b.insert(b.end(), b.begin(), b.begin() + 5000);
            return b;
        }(),
    };
    for (auto [W, L] : params) {
        for (size_t i = 0; i < inputs.size(); i++) {
            Bytes enc;
            ASSERT_TRUE(heatshrink_encode(inputs[i].data(), inputs[i].size(), W, L, &enc));
            EXPECT_EQ(decode(enc, W, L, 1 + i * 300, 1 + i * 999), inputs[i])
                << "W=" << int(W) << " L=" << int(L) << " input " << i;
        }
    }
    // The streaming encoder across its 1 MiB slices, fed in odd pieces.
    const Bytes big = recordLike(3 << 20, 5);
    heatshrink_encoder* hse = heatshrink_encoder_alloc(11, 4);
    Bytes enc;
    for (size_t pos = 0; pos < big.size(); pos += 77777)
        heatshrink_encoder_sink(hse, big.data() + pos, std::min<size_t>(77777, big.size() - pos),
                                &enc);
    heatshrink_encoder_finish(hse, &enc);
    heatshrink_encoder_free(hse);
    EXPECT_LT(enc.size(), big.size() / 2);
    EXPECT_EQ(decode(enc, 11, 4), big);
}

TEST(HeatshrinkStream, ReadsInAnyChunkSize) {
    const Bytes input = recordLike(50000, 11);
    Bytes enc;
    ASSERT_TRUE(heatshrink_encode(input.data(), input.size(), 10, 6, &enc));
    cIO* src = cIO_memoryAlloc_ctor();
    ASSERT_EQ(cIO_write(src, enc.data(), enc.size()), int64_t(enc.size()));
    for (size_t chunk : {size_t(1), size_t(999), size_t(1) << 20}) {
        ASSERT_EQ(cIO_seek(src, 0, cIO_SEEK_SET), 0);
        cIO* hs = cIO_heatshrink_open(src, 10, 6);
        ASSERT_NE(hs, nullptr);
        Bytes out, buf(chunk);
        int64_t got;
        while ((got = cIO_read(hs, buf.data(), buf.size())) > 0)
            out.insert(out.end(), buf.begin(), buf.begin() + got);
        EXPECT_EQ(got, 0);
        EXPECT_EQ(out, input) << "chunk " << chunk;
        EXPECT_EQ(cIO_close(hs), 0);
    }
    EXPECT_EQ(cIO_heatshrink_open(nullptr, 8, 4), nullptr);
    EXPECT_EQ(cIO_heatshrink_open(src, 0, 4), nullptr);
    EXPECT_EQ(cIO_heatshrink_open(src, 8, 8), nullptr);
    cIO_close(src);
}
