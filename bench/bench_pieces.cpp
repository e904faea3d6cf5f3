// Throughput of the inner pieces of a conversion, each on its own:
//   - bit extraction: the inline little-endian path and the general (big-endian) path;
//   - number writers of the trace lines against the printf conversions they replace;
//   - trace line writing (both versions) into a stream that drops the bytes;
//   - record reading, decoding and the time-ordered merge of an in-memory log, for 1 to 64
//     data groups (the cost per frame should grow with log k only).
// Rates: items are frames (or values), bytes are trace bytes for the line writers.

#include <benchmark/benchmark.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "converter/cPeakConverter.h"
#include "io/cIO_memoryAlloc.h"
#include "mdf/cDecode.h"
#include "mdf/cMdf.h"
#include "mdf/cMdfParallelIter.h"
#include "support/cstr_support.h"
#include "tools/cMdfWriter.h"

namespace {

// ---- bit extraction

struct Field {
    uint16_t start;
    uint8_t length;
};

std::vector<Field> fields(uint8_t maxLength) {
    std::mt19937 rng(3);
    std::vector<Field> f(1024);
    for (Field& x : f) {
        x.length = static_cast<uint8_t>(1 + rng() % maxLength);
        x.start = static_cast<uint16_t>(rng() % (64 * 8 - 64));
    }
    return f;
}

void BM_RawBits(benchmark::State& state) {
    const bool little = state.range(0) != 0;
    uint8_t record[64];
    for (int i = 0; i < 64; ++i)
        record[i] = static_cast<uint8_t>(i * 73 + 5);
    const std::vector<Field> f = fields(little ? 56 : 64);
    uint64_t sum = 0;
    for (auto _ : state) {
        for (const Field& x : f)
            sum += cDecode_getRawBits(record, sizeof record, x.start, x.length, little);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(f.size()));
}
BENCHMARK(BM_RawBits)->ArgName("littleEndian")->Arg(1)->Arg(0);

// ---- number writers

std::vector<double> offsets() {
    std::mt19937_64 rng(5);
    std::vector<double> v(4096);
    double t0 = 1.7e9, t = t0;
    for (double& x : v) {
        t += static_cast<double>(rng() % 2000) * 1e-6;
        x = (t - t0) * 1000.0;
    }
    return v;
}

void BM_FixedPoint(benchmark::State& state) {
    const bool library = state.range(0) != 0;
    const std::vector<double> v = offsets();
    char buf[400];
    for (auto _ : state) {
        for (double x : v) {
            if (library)
                snprintf(buf, sizeof buf, "%13.3f", x);
            else
                cstr_support_put_fixed(buf, x, 13, 3);
            benchmark::DoNotOptimize(buf);
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(v.size()));
}
BENCHMARK(BM_FixedPoint)->ArgName("printf")->Arg(0)->Arg(1);

void BM_Unsigned(benchmark::State& state) {
    const bool library = state.range(0) != 0;
    char buf[64];
    uint64_t n = 1;
    for (auto _ : state) {
        for (int i = 0; i < 4096; ++i, ++n) {
            if (library)
                snprintf(buf, sizeof buf, "%7" PRIu64, n);
            else
                cstr_support_put_uint(buf, n, 7);
            benchmark::DoNotOptimize(buf);
        }
    }
    state.SetItemsProcessed(state.iterations() * 4096);
}
BENCHMARK(BM_Unsigned)->ArgName("printf")->Arg(0)->Arg(1);

// ---- trace lines

struct NullFS {
    cFS base;
    uint64_t bytes = 0;
};
struct NullIO {
    cIO base;
    NullFS* fs;
};
int64_t nullWrite(cIO* io, const void*, uint64_t n) {
    reinterpret_cast<NullIO*>(io)->fs->bytes += n;
    return static_cast<int64_t>(n);
}
int32_t nullClose(cIO* io) {
    delete reinterpret_cast<NullIO*>(io);
    return 0;
}
const cIO_vtable kNullIo = {nullptr, nullWrite, nullptr, nullptr, nullClose};
void nullDtor(cFS*) {}
bool nullRm(cFS*, std::string_view) {
    return true;
}
cIO* nullOpen(cFS* fs, std::string_view, uint32_t) {
    return &(new NullIO{{&kNullIo}, reinterpret_cast<NullFS*>(fs)})->base;
}
const cFS_vtable kNullFs = {nullDtor, nullptr, nullptr, nullptr, nullRm, nullOpen};

// Frames like the generator's: 30 % FD, 40 % extended ids, 1 to 64 payload bytes.
std::vector<cBusMsg> messages() {
    std::mt19937 rng(9);
    std::vector<cBusMsg> m(4096);
    double t = 1.7e9;
    for (cBusMsg& x : m) {
        t += static_cast<double>(rng() % 2000) * 1e-6;
        x.Timestamp = t;
        x.Type = BUS_MSG_CAN_DATA_FRAME;
        x.BusChannel = static_cast<uint8_t>(1 + rng() % 2);
        x.CAN.IDE = rng() % 10 < 4;
        x.ID = x.CAN.IDE ? rng() % (1u << 29) : rng() % (1u << 11);
        x.CAN.EDL = rng() % 10 < 3;
        x.CAN.BRS = x.CAN.EDL && rng() % 2;
        const uint8_t length =
            x.CAN.EDL ? static_cast<uint8_t>(8 + rng() % 57) : static_cast<uint8_t>(rng() % 9);
        x.CAN.DLC = cMdfWriter_dlcForLength(length);
        for (uint8_t i = 0; i < length; ++i)
            x.DataBytes += static_cast<char>(rng());
    }
    return m;
}

void BM_TraceLines(benchmark::State& state) {
    NullFS fs;
    cFS_init(&fs.base, "");
    fs.base.vt = &kNullFs;
    cPeakConverter* c = cPeakConverter_ctor(&fs.base, static_cast<uint32_t>(state.range(0)));
    cLogReaderFileInfo info{};
    info.outputPath = "bench";
    c->layer.vt->newFile(&c->layer, &info, false);
    const std::vector<cBusMsg> m = messages();
    for (auto _ : state) {
        for (const cBusMsg& x : m)
            c->layer.vt->newMsg(&c->layer, &x);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(m.size()));
    state.SetBytesProcessed(static_cast<int64_t>(fs.bytes));
    c->layer.vt->endFile(&c->layer, &info);
    cPeakConverter_dtor(c);
}
BENCHMARK(BM_TraceLines)->ArgName("version")->Arg(2)->Arg(1);

// ---- record reading, decoding and merge

constexpr uint32_t kMergeFrames = 1 << 20;

const std::vector<uint8_t>& logOf(int groups) {
    static std::vector<std::vector<uint8_t>> cache(65);
    std::vector<uint8_t>& file = cache[groups];
    if (file.empty()) {
        std::vector<cMdfWriterGroup> g(groups);
        std::mt19937 rng(11);
        for (uint32_t i = 0; i < kMergeFrames; ++i) {
            uint8_t data[64];
            for (uint8_t& b : data)
                b = static_cast<uint8_t>(rng());
            const bool fd = rng() % 10 < 3;
            const uint8_t length = fd ? 12 : static_cast<uint8_t>(rng() % 9);
            g[i % groups].frames.push_back(
                cMdfWriterFrame_can(i * 1e-4, 1, rng() % 0x7FF, rng() % 10 < 4, data, length, fd));
        }
        cMdfWriterOptions o;
        file = cMdfWriter_writeMemory(&o, &g);
    }
    return file;
}

void BM_ReadDecodeMerge(benchmark::State& state) {
    const std::vector<uint8_t>& file = logOf(static_cast<int>(state.range(0)));
    uint64_t frames = 0;
    for (auto _ : state) {
        state.PauseTiming();
        cIO* io = cIO_memoryAlloc_ctor();
        (void)cIO_write(io, file.data(), file.size());
        (void)cIO_seek(io, 0, cIO_SEEK_SET);
        cMdf* mdf = cMdf_open(io);
        state.ResumeTiming();
        cMdfParallelIter* it = cMdf_getIter(mdf);
        for (; it && it->current; cMdfParallelIter_next(it))
            ++frames;
        cMdfParallelIter_dtor(it);
        state.PauseTiming();
        cMdf_close(mdf);
        (void)cIO_close(io);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(frames));
}
BENCHMARK(BM_ReadDecodeMerge)
    ->ArgName("groups")
    ->Arg(1)
    ->Arg(4)
    ->Arg(16)
    ->Arg(64)
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
