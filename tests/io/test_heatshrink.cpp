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
    uint8_t cur = 0;
    for (char c : bits) {
        if (c != '0' && c != '1') continue;
        cur = uint8_t(cur << 1 | (c == '1'));
        if (++n == 8) {
            out.push_back(cur);
            n = 0;
            cur = 0;
        }
    }
    if (n > 0) out.push_back(uint8_t(cur << (8 - n)));
    return out;
}

// Decodes with the given sink and poll sizes, finishing the way the decoding stream does.
Bytes decode(const Bytes& in, uint8_t W, uint8_t L, size_t sinkStep = 1024,
             size_t pollStep = 4096) {
    heatshrink_decoder* hsd = heatshrink_decoder_alloc(1024, W, L);
    EXPECT_NE(hsd, nullptr);
    Bytes out;
    std::vector<uint8_t> buf(pollStep);
    size_t pos = 0;
    for (;;) {
        size_t got = 0;
        HSD_poll_res r = heatshrink_decoder_poll(hsd, buf.data(), buf.size(), &got);
        out.insert(out.end(), buf.begin(), buf.begin() + got);
        if (r == HSDR_POLL_MORE) continue;
        EXPECT_EQ(r, HSDR_POLL_EMPTY);
        if (r != HSDR_POLL_EMPTY) break;
        if (pos == in.size()) {
            if (heatshrink_decoder_finish(hsd) == HSDR_FINISH_DONE) break;
            if (got == 0) {
                ADD_FAILURE() << "finish reports MORE but nothing comes";
                break;
            }
            continue;
        }
        size_t taken = 0;
        size_t n = std::min(sinkStep, in.size() - pos);
        EXPECT_EQ(heatshrink_decoder_sink(hsd, in.data() + pos, n, &taken), HSDR_SINK_OK);
        pos += taken;
    }
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

// Logger-like data: repeating 16-byte records with a counter and a few varying bytes.
Bytes recordLike(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b;
    uint32_t t = 0;
    while (b.size() < n) {
        t += 1 + rng() % 300;
        uint8_t rec[16] = {0x01,
                           uint8_t(t),
                           uint8_t(t >> 8),
                           uint8_t(t >> 16),
                           0,
                           0,
                           0x12,
                           0x03,
                           8,
                           uint8_t(rng() % 4),
                           0,
                           0,
                           0xFF,
                           0,
                           0,
                           uint8_t(rng())};
        b.insert(b.end(), rec, rec + 16);
    }
    b.resize(n);
    return b;
}

// The decoder taken literally, one bit at a time, as a yardstick for the fast one.
struct RefDecoder {
    Bytes input;
    uint16_t inputSize = 0, inputIndex = 0, outputCount = 0, outputIndex = 0, headIndex = 0;
    uint8_t state = 0, currentByte = 0, bitIndex = 0, W, L;
    Bytes window;
    RefDecoder(uint8_t w, uint8_t l) : input(1024), W(w), L(l), window(size_t(1) << w) {}

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
        for (;;) {
            uint8_t before = state;
            int b;
            switch (state) {
            case 0:
                if ((b = getBits(1)) < 0) break;
                if (b)
                    state = 1;
                else if (W > 8)
                    state = 2;
                else
                    outputIndex = 0, state = 3;
                break;
            case 1:
                if (o == cap || (b = getBits(8)) < 0) break;
                window[headIndex++ & mask] = uint8_t(b);
                out[o++] = uint8_t(b);
                state = 0;
                break;
            case 2:
                if ((b = getBits(W - 8)) < 0) break;
                outputIndex = uint16_t(b << 8), state = 3;
                break;
            case 3:
                if ((b = getBits(std::min<unsigned>(W, 8))) < 0) break;
                outputIndex = uint16_t((outputIndex | b) + 1), outputCount = 0;
                state = L > 8 ? 4 : 5;
                break;
            case 4:
                if ((b = getBits(L - 8)) < 0) break;
                outputCount = uint16_t(b << 8), state = 5;
                break;
            case 5:
                if ((b = getBits(std::min<unsigned>(L, 8))) < 0) break;
                outputCount = uint16_t((outputCount | b) + 1), state = 6;
                break;
            case 6: {
                size_t k = std::min<size_t>(cap - o, outputCount);
                for (size_t i = 0; i < k; i++) {
                    uint8_t c = window[uint16_t(headIndex - outputIndex) & mask];
                    window[headIndex++ & mask] = c;
                    out[o++] = c;
                }
                outputCount = uint16_t(outputCount - k);
                if (outputCount == 0)
                    state = 0;
                else if (k > 0)
                    continue;
                break;
            }
            }
            if (state == before) { // no step made progress
                *got = o;
                return o == cap ? HSDR_POLL_MORE : HSDR_POLL_EMPTY;
            }
        }
    }
};

} // namespace

TEST(HeatshrinkDecoder, BitLevelExampleW8L4) {
    // Literal 0x41, then a back-reference of distance 1 and length 4: five 0x41 in all.
    Bytes in = bitsToBytes("1 01000001  0 00000000 0011");
    ASSERT_EQ(in, (Bytes{0xA0, 0x80, 0x0C}));
    EXPECT_EQ(decode(in, 8, 4), Bytes(5, 0x41));
    // The same stream survives any sink and poll granularity.
    EXPECT_EQ(decode(in, 8, 4, 1, 1), Bytes(5, 0x41));
}

TEST(HeatshrinkDecoder, WideFieldsAreReadHighPartFirst) {
    // W = 12, L = 9: distance 0x0003 + 1 and length 0x101 + 1 after a literal 'x'.
    Bytes in = bitsToBytes("1 01111000  0 0000 00000011  1 00000001");
    Bytes out = decode(in, 12, 9);
    ASSERT_EQ(out.size(), 1u + 258u);
    EXPECT_EQ(out[0], 'x');
    // Distance 4 reaches three zero bytes of the fresh window before the 'x'.
    for (size_t i = 1; i < out.size(); i++)
        EXPECT_EQ(out[i], (i % 4 == 0) ? 'x' : 0) << i;
}

TEST(HeatshrinkDecoder, BackReferenceBeforeAnyOutputCopiesTheZeroedWindow) {
    EXPECT_EQ(decode(bitsToBytes("0 0100 011"), 4, 3), Bytes(4, 0));
}

TEST(HeatshrinkDecoder, EndInsideALiteralFinishesCleanly) {
    // Tag 1 and four literal bits, the rest of the byte is padding: nothing comes out.
    heatshrink_decoder* hsd = heatshrink_decoder_alloc(1024, 8, 4);
    ASSERT_NE(hsd, nullptr);
    uint8_t in = 0xA0;
    size_t taken = 0, got = 0;
    uint8_t out[8];
    ASSERT_EQ(heatshrink_decoder_sink(hsd, &in, 1, &taken), HSDR_SINK_OK);
    EXPECT_EQ(heatshrink_decoder_poll(hsd, out, sizeof out, &got), HSDR_POLL_EMPTY);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(hsd->state, HSDS_YIELD_LITERAL);
    EXPECT_EQ(hsd->inputSize, 0);
    EXPECT_EQ(hsd->bitIndex, 0x40); // seven bits of the byte still unread
    EXPECT_EQ(heatshrink_decoder_finish(hsd), HSDR_FINISH_DONE);
    heatshrink_decoder_free(hsd);
}

TEST(HeatshrinkDecoder, FinishReportsMoreWhileABackReferenceIsPending) {
    heatshrink_decoder* hsd = heatshrink_decoder_alloc(1024, 8, 4);
    Bytes in = bitsToBytes("1 01000001  0 00000000 0011");
    size_t taken = 0, got = 0;
    uint8_t out[2];
    heatshrink_decoder_sink(hsd, in.data(), in.size(), &taken);
    EXPECT_EQ(taken, in.size());
    EXPECT_EQ(heatshrink_decoder_poll(hsd, out, 2, &got), HSDR_POLL_MORE);
    EXPECT_EQ(got, 2u);
    EXPECT_EQ(hsd->state, HSDS_YIELD_BACKREF);
    EXPECT_EQ(hsd->outputCount, 3);
    EXPECT_EQ(hsd->outputIndex, 1);
    EXPECT_EQ(heatshrink_decoder_finish(hsd), HSDR_FINISH_MORE);
    EXPECT_EQ(heatshrink_decoder_poll(hsd, out, 2, &got), HSDR_POLL_MORE);
    EXPECT_EQ(heatshrink_decoder_poll(hsd, out, 2, &got), HSDR_POLL_EMPTY);
    EXPECT_EQ(got, 1u);
    EXPECT_EQ(heatshrink_decoder_finish(hsd), HSDR_FINISH_DONE);
    EXPECT_EQ(hsd->headIndex, 5);
    heatshrink_decoder_free(hsd);
}

TEST(HeatshrinkDecoder, AgreesWithABitByBitDecoderOnArbitraryInput) {
    // Random bytes are a valid but arbitrary token stream; every field of the state must
    // match the literal reading after every call, whatever the sink and poll sizes.
    std::mt19937 rng(42);
    const std::pair<uint8_t, uint8_t> params[] = {{4, 3}, {8, 4}, {9, 5}, {12, 10}, {15, 14}};
    for (auto [W, L] : params) {
        for (int round = 0; round < 6; round++) {
            Bytes in = randomBytes(3000, rng(), round % 2 ? 256 : 2);
            heatshrink_decoder* hsd = heatshrink_decoder_alloc(1024, W, L);
            RefDecoder ref(W, L);
            Bytes fast, slow;
            size_t pos = 0;
            for (int step = 0; step < 100000; step++) {
                size_t want = 1 + rng() % (round < 3 ? 5 : 3000);
                uint8_t a[3000], b[3000];
                size_t ga = 0, gb = 0;
                int ra = heatshrink_decoder_poll(hsd, a, want, &ga);
                int rb = ref.poll(b, want, &gb);
                ASSERT_EQ(ra, rb);
                fast.insert(fast.end(), a, a + ga);
                slow.insert(slow.end(), b, b + gb);
                ASSERT_EQ(hsd->state, ref.state);
                ASSERT_EQ(hsd->inputSize, ref.inputSize);
                ASSERT_EQ(hsd->inputIndex, ref.inputIndex);
                ASSERT_EQ(hsd->bitIndex, ref.bitIndex);
                if (hsd->bitIndex != 0) ASSERT_EQ(hsd->currentByte, ref.currentByte);
                ASSERT_EQ(hsd->outputCount, ref.outputCount);
                ASSERT_EQ(hsd->outputIndex, ref.outputIndex);
                ASSERT_EQ(hsd->headIndex, ref.headIndex);
                if (ra == HSDR_POLL_MORE) continue;
                if (pos == in.size()) break;
                size_t n = std::min<size_t>(1 + rng() % 1500, in.size() - pos), t = 0;
                heatshrink_decoder_sink(hsd, in.data() + pos, n, &t);
                ASSERT_EQ(t, ref.sink(in.data() + pos, n));
                pos += t;
            }
            EXPECT_EQ(fast, slow);
            EXPECT_EQ(heatshrink_decoder_finish(hsd),
                      (ref.state == 6 || ref.inputSize != 0) ? HSDR_FINISH_MORE : HSDR_FINISH_DONE);
            heatshrink_decoder_free(hsd);
        }
    }
}

TEST(HeatshrinkDecoder, ParameterLimits) {
    struct Case {
        uint16_t input;
        uint8_t W, L;
        bool ok;
    } cases[] = {
        {1024, 4, 3, true},  {1024, 15, 14, true}, {1024, 8, 4, true},  {1, 5, 4, true},
        {1024, 3, 2, false}, {1024, 16, 4, false}, {1024, 8, 8, false}, {1024, 8, 2, false},
        {1024, 0, 0, false}, {0, 8, 4, false},     {1024, 4, 4, false}, {1024, 255, 4, false},
    };
    for (const Case& c : cases) {
        heatshrink_decoder* hsd = heatshrink_decoder_alloc(c.input, c.W, c.L);
        EXPECT_EQ(hsd != nullptr, c.ok) << int(c.W) << "/" << int(c.L) << " buf " << c.input;
        heatshrink_decoder_free(hsd);
    }
}

TEST(HeatshrinkDecoder, NullArgumentsFullBufferAndUnknownState) {
    heatshrink_decoder* hsd = heatshrink_decoder_alloc(4, 8, 4);
    ASSERT_NE(hsd, nullptr);
    uint8_t data[8] = {};
    size_t n = 0;
    EXPECT_EQ(heatshrink_decoder_sink(nullptr, data, 1, &n), HSDR_SINK_ERROR_NULL);
    EXPECT_EQ(heatshrink_decoder_sink(hsd, nullptr, 1, &n), HSDR_SINK_ERROR_NULL);
    EXPECT_EQ(heatshrink_decoder_sink(hsd, data, 1, nullptr), HSDR_SINK_ERROR_NULL);
    EXPECT_EQ(heatshrink_decoder_poll(nullptr, data, 1, &n), HSDR_POLL_ERROR_NULL);
    EXPECT_EQ(heatshrink_decoder_poll(hsd, nullptr, 1, &n), HSDR_POLL_ERROR_NULL);
    EXPECT_EQ(heatshrink_decoder_poll(hsd, data, 1, nullptr), HSDR_POLL_ERROR_NULL);
    EXPECT_EQ(heatshrink_decoder_finish(nullptr), HSDR_FINISH_ERROR_NULL);
    // A 4-byte input buffer takes 3, then 1, then reports FULL.
    EXPECT_EQ(heatshrink_decoder_sink(hsd, data, 3, &n), HSDR_SINK_OK);
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(heatshrink_decoder_sink(hsd, data, 3, &n), HSDR_SINK_OK);
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(heatshrink_decoder_sink(hsd, data, 3, &n), HSDR_SINK_FULL);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(heatshrink_decoder_finish(hsd), HSDR_FINISH_MORE); // input waiting
    hsd->state = 7;
    EXPECT_EQ(heatshrink_decoder_poll(hsd, data, sizeof data, &n), HSDR_POLL_ERROR_UNKNOWN);
    heatshrink_decoder_reset(hsd);
    EXPECT_EQ(hsd->state, HSDS_TAG_BIT);
    EXPECT_EQ(hsd->inputSize, 0);
    EXPECT_EQ(heatshrink_decoder_finish(hsd), HSDR_FINISH_DONE);
    heatshrink_decoder_free(hsd);
}

TEST(HeatshrinkRoundTrip, EncoderOutputDecodesExactlyForManyParameters) {
    const struct {
        uint8_t W, L;
    } params[] = {{4, 3}, {5, 4}, {8, 4}, {8, 7}, {9, 8}, {10, 5}, {11, 4}, {13, 9}, {15, 14}};
    const std::vector<Bytes> inputs = {
        {},
        {0x42},
        Bytes(70000, 0),          // one long run: overlapping copies, head wrap
        randomBytes(20000, 1),    // incompressible
        randomBytes(30000, 2, 3), // short alphabet: many short matches
        recordLike(100000, 3),    // structured records
    };
    for (const auto& p : params) {
        for (size_t i = 0; i < inputs.size(); i++) {
            Bytes enc;
            ASSERT_TRUE(heatshrink_encode(inputs[i].data(), inputs[i].size(), p.W, p.L, &enc));
            EXPECT_EQ(decode(enc, p.W, p.L), inputs[i])
                << "W=" << int(p.W) << " L=" << int(p.L) << " input " << i;
            if (i == 2) EXPECT_LT(enc.size(), inputs[i].size() / 2);
        }
    }
}

TEST(HeatshrinkRoundTrip, SuspensionAtEveryBitBoundaryGivesTheSameOutput) {
    const Bytes input = recordLike(5000, 9);
    for (auto [W, L] : {std::pair<uint8_t, uint8_t>{8, 4}, {12, 10}, {4, 3}}) {
        Bytes enc;
        ASSERT_TRUE(heatshrink_encode(input.data(), input.size(), W, L, &enc));
        EXPECT_EQ(decode(enc, W, L, 1, 1), input);
        EXPECT_EQ(decode(enc, W, L, 3, 7), input);
        EXPECT_EQ(decode(enc, W, L, 1024, 100000), input);
    }
}

TEST(HeatshrinkRoundTrip, StreamingEncoderMatchesOneShotDecoding) {
    const Bytes input = recordLike(3 << 20, 5); // crosses the encoder's 1 MiB slices
    heatshrink_encoder* hse = heatshrink_encoder_alloc(11, 4);
    ASSERT_NE(hse, nullptr);
    Bytes enc;
    for (size_t pos = 0; pos < input.size(); pos += 77777)
        heatshrink_encoder_sink(hse, input.data() + pos,
                                std::min<size_t>(77777, input.size() - pos), &enc);
    heatshrink_encoder_finish(hse, &enc);
    heatshrink_encoder_free(hse);
    EXPECT_LT(enc.size(), input.size() / 2);
    EXPECT_EQ(decode(enc, 11, 4), input);
    EXPECT_EQ(heatshrink_encoder_alloc(16, 4), nullptr);
    EXPECT_EQ(heatshrink_encoder_alloc(8, 8), nullptr);
}

TEST(HeatshrinkStream, ReadsInAnyChunkSizeAndRefusesWriteTellSeek) {
    const Bytes input = recordLike(50000, 11);
    Bytes enc;
    ASSERT_TRUE(heatshrink_encode(input.data(), input.size(), 10, 6, &enc));
    cIO* src = cIO_memoryAlloc_ctor();
    ASSERT_EQ(cIO_write(src, enc.data(), enc.size()), int64_t(enc.size()));
    for (size_t chunk : {size_t(1), size_t(999), size_t(4096), size_t(1) << 20}) {
        ASSERT_EQ(cIO_seek(src, 0, cIO_SEEK_SET), 0);
        cIO* hs = cIO_heatshrink_open(src, 10, 6);
        ASSERT_NE(hs, nullptr);
        Bytes out, buf(chunk);
        int64_t got;
        while ((got = cIO_read(hs, buf.data(), buf.size())) > 0) {
            out.insert(out.end(), buf.begin(), buf.begin() + got);
            if (got < int64_t(chunk)) EXPECT_EQ(cIO_read(hs, buf.data(), chunk), 0);
        }
        EXPECT_EQ(got, 0);
        EXPECT_EQ(out, input) << "chunk " << chunk;
        EXPECT_EQ(cIO_read(hs, buf.data(), 0), 0);
        EXPECT_EQ(cIO_write(hs, buf.data(), 1), -1);
        EXPECT_EQ(cIO_tell(hs), -1);
        EXPECT_EQ(cIO_seek(hs, 0, cIO_SEEK_SET), -1);
        EXPECT_EQ(cIO_close(hs), 0);
    }
    EXPECT_EQ(cIO_heatshrink_open(nullptr, 8, 4), nullptr);
    EXPECT_EQ(cIO_heatshrink_open(src, 0, 4), nullptr);
    EXPECT_EQ(cIO_heatshrink_open(src, 8, 8), nullptr);
    cIO_close(src);
}
