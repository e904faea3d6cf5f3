// Throughput of unwrapping containers: the bare heatshrink decoder, the whole compressed
// open (window, CRC and decoding streams into memory) and the whole encrypted open (one
// PBKDF2 iteration, so the figure is the AES-GCM decryption). Rates are of output bytes.
// KELVANE_BENCH_INPUT=FILE takes a real file instead of the generated 256 MiB of records.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "io/cGenericFile.h"
#include "io/cGenericFileCompressed.h"
#include "io/cGenericFileEncrypted.h"
#include "io/cIO_memoryAlloc.h"
#include "io/heatshrink_decoder.h"
#include "tools/cContainerWriter.h"
#include "tools/heatshrink_encoder.h"

namespace {

using Bytes = std::vector<uint8_t>;

// CAN-like records: a growing timestamp, one of 60 identifiers, and payloads that change a
// little from one frame of an identifier to the next.
Bytes generated(size_t size) {
    std::mt19937_64 rng(1);
    Bytes out;
    out.reserve(size + 32);
    uint64_t t = 0;
    uint8_t payload[60][8] = {};
    while (out.size() < size) {
        t += rng() % 20000;
        unsigned id = unsigned(rng() % 60);
        payload[id][0]++;
        payload[id][1 + rng() % 7] = uint8_t(rng());
        uint8_t rec[24] = {0x01};
        for (int i = 0; i < 8; i++)
            rec[1 + i] = uint8_t(t >> (8 * i));
        rec[9] = uint8_t(0x100 + id * 7);
        rec[10] = uint8_t((0x100 + id * 7) >> 8);
        rec[13] = 1;
        rec[14] = 8;
        for (int i = 0; i < 8; i++)
            rec[16 + i] = payload[id][i];
        out.insert(out.end(), rec, rec + sizeof rec);
    }
    out.resize(size);
    return out;
}

const Bytes& plain() {
    static const Bytes data = [] {
        if (const char* path = std::getenv("KELVANE_BENCH_INPUT")) {
            Bytes b;
            if (FILE* f = std::fopen(path, "rb")) {
                uint8_t buf[1 << 16];
                size_t n;
                while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
                    b.insert(b.end(), buf, buf + n);
                std::fclose(f);
                return b;
            }
        }
        return generated(size_t(256) << 20);
    }();
    return data;
}

constexpr uint8_t W = 11, L = 4;

const Bytes& compressedFile() {
    static const Bytes file = [] {
        cContainerWriter_compressOptions o;
        o.windowBits = W;
        o.lookaheadBits = L;
        Bytes out;
        cContainerWriter_compress(plain().data(), plain().size(), &o, &out);
        std::fprintf(stderr, "plain %zu bytes, compressed %zu bytes (%.1f%%)\n", plain().size(),
                     out.size(), 100.0 * double(out.size()) / double(plain().size()));
        return out;
    }();
    return file;
}

cIO* memoryOf(const Bytes& b) {
    cIO* m = cIO_memoryAlloc_ctor();
    (void)cIO_write(m, b.data(), b.size());
    return m;
}

void BM_HeatshrinkDecoder(benchmark::State& state) {
    const Bytes& file = compressedFile();
    const uint8_t* payload = file.data() + cGenericFileCompressed_PAYLOAD_OFFSET;
    size_t payloadSize = file.size() - cGenericFileCompressed_PAYLOAD_OFFSET - 4;
    Bytes out(64 * 1024);
    uint64_t total = 0;
    for (auto _ : state) {
        heatshrink_decoder* hsd = heatshrink_decoder_alloc(heatshrink_INPUT_BUFFER_SIZE, W, L);
        size_t pos = 0;
        for (;;) {
            size_t got = 0;
            HSD_poll_res r = heatshrink_decoder_poll(hsd, out.data(), out.size(), &got);
            total += got;
            if (r == HSDR_POLL_MORE) continue;
            if (pos == payloadSize) break;
            size_t taken = 0;
            heatshrink_decoder_sink(hsd, payload + pos, payloadSize - pos, &taken);
            pos += taken;
        }
        heatshrink_decoder_free(hsd);
    }
    state.SetBytesProcessed(int64_t(total));
}

void BM_CompressedOpen(benchmark::State& state) {
    cIO* in = memoryOf(compressedFile());
    cGenericFile h{};
    cGenericFile_readHeader(in, &h);
    for (auto _ : state) {
        cIO* c = cGenericFile_compressed_open(in, &h);
        if (c == nullptr) state.SkipWithError("open failed");
        (void)cIO_close(c);
    }
    (void)cIO_close(in);
    state.SetBytesProcessed(int64_t(state.iterations() * plain().size()));
}

void BM_EncryptedOpen(benchmark::State& state) {
    cContainerWriter_encryptOptions o;
    o.password = "bench";
    o.iterations = 1;
    Bytes file;
    cContainerWriter_encrypt(plain().data(), plain().size(), &o, &file);
    cIO* in = memoryOf(file);
    cGenericFile h{};
    cGenericFile_readHeader(in, &h);
    for (auto _ : state) {
        cIO* c = cGenericFile_encrypted_open(in, &h, "bench", 5);
        if (c == nullptr) state.SkipWithError("open failed");
        (void)cIO_close(c);
    }
    (void)cIO_close(in);
    state.SetBytesProcessed(int64_t(state.iterations() * plain().size()));
}

void BM_HeatshrinkEncoder(benchmark::State& state) {
    const Bytes& data = plain();
    for (auto _ : state) {
        Bytes out;
        heatshrink_encode(data.data(), data.size(), W, L, &out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations() * data.size()));
}

} // namespace

BENCHMARK(BM_HeatshrinkDecoder)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_CompressedOpen)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_EncryptedOpen)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_HeatshrinkEncoder)->Unit(benchmark::kMillisecond)->Iterations(1);

BENCHMARK_MAIN();
