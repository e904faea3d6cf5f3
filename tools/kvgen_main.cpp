// kvgen: writes logger-style MDF 4 files for examples and benchmarks.
//
//   kvgen example DIR
//   kvgen bench FILE --frames N [--groups K] [--fd PERCENT] [--extended PERCENT] [--seed S]
//               [--layout sorted|unsorted|vlsd-sd|vlsd-cg]
//               [--serial TEXT] [--session N] [--split N] [--start SECONDS]

#include "tools/cMdfWriter.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

int usage() {
    fprintf(stderr, "usage: kvgen example DIR\n"
                    "       kvgen bench FILE --frames N [--groups K] [--fd PERCENT]"
                    " [--extended PERCENT] [--seed S]\n"
                    "                   [--layout sorted|unsorted|vlsd-sd|vlsd-cg]\n"
                    "                   [--serial TEXT] [--session N] [--split N]"
                    " [--start SECONDS]\n");
    return 2;
}

uint64_t splitmix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// The example files start on 2026-01-15 08:00:00 UTC.
constexpr uint64_t EXAMPLE_START_NS = 1768464000ull * 1000000000ull;

// A few seconds of mixed traffic: classic and FD data frames on two buses, remote frames,
// error frames and LIN frames, spread over three data groups (two sorted CAN groups and one
// unsorted group holding every kind) and interleaved in time.
std::vector<cMdfWriterGroup> mixedTraffic(uint64_t seed, double t0) {
    std::vector<cMdfWriterGroup> g(3);
    g[2].recordIdSize = 1;
    g[2].kinds = {MDFW_CAN_DATA, MDFW_CAN_REMOTE, MDFW_CAN_ERROR, MDFW_LIN};
    g[2].canDataBytes = 8;
    g[2].sourceComment = "<SIcomment><TX>CAN 1 and LIN 1</TX></SIcomment>";
    uint8_t data[64];
    for (int i = 0; i < 60; ++i) {
        uint64_t r = splitmix(seed * 1000 + i);
        for (int k = 0; k < 64; ++k)
            data[k] = (uint8_t)splitmix(r + k);
        double t = t0 + 0.010 * i;
        switch (i % 6) {
        case 0: // classic, standard id, bus 1
            g[0].frames.push_back(
                cMdfWriterFrame_can(t, 1, 0x100 + (r & 0xFF), false, data, (uint8_t)(r % 9)));
            break;
        case 1: { // FD with bit rate switch, bus 1
            static const uint8_t sizes[] = {12, 16, 24, 32, 48, 64};
            cMdfWriterFrame f =
                cMdfWriterFrame_can(t, 1, 0x200 + (r & 0xFF), false, data, sizes[r % 6], true);
            f.brs = true;
            g[0].frames.push_back(f);
            break;
        }
        case 2: // classic, extended id, bus 2, transmitted
        case 3: {
            cMdfWriterFrame f = cMdfWriterFrame_can(t, 2, 0x18FF0000 + (r & 0xFFFF), true, data, 8);
            f.dir = i % 6 == 3;
            g[1].frames.push_back(f);
            break;
        }
        case 4: // the unsorted group: remote, error and LIN frames, and some data frames
            if (i / 6 % 3 == 0)
                g[2].frames.push_back(
                    cMdfWriterFrame_remote(t, 1, 0x300 + (r & 0x7F), false, (uint8_t)(r % 9)));
            else if (i / 6 % 3 == 1)
                g[2].frames.push_back(cMdfWriterFrame_error(t, 1, (uint8_t)(1 + r % 5)));
            else
                g[2].frames.push_back(
                    cMdfWriterFrame_can(t, 1, 0x400 + (r & 0xFF), false, data, 4));
            break;
        default:
            g[2].frames.push_back(cMdfWriterFrame_lin(t, 1, (uint8_t)(r & 0x3F), data, 8));
        }
    }
    return g;
}

// FD traffic whose payloads go to an SD block, and LIN in a group of its own.
std::vector<cMdfWriterGroup> vlsdTraffic(uint64_t seed, double t0, cMdfWriterDataStorage how) {
    std::vector<cMdfWriterGroup> g(2);
    g[0].dataStorage = how;
    g[0].recordIdSize = how == MDFW_DATA_VLSD_CG ? 2 : 0;
    g[0].timeEncoding = MDFW_TIME_MICROS;
    g[1].timeEncoding = MDFW_TIME_MICROS;
    uint8_t data[64];
    for (int i = 0; i < 40; ++i) {
        uint64_t r = splitmix(seed * 1000 + i);
        for (int k = 0; k < 64; ++k)
            data[k] = (uint8_t)splitmix(r ^ k);
        double t = t0 + 0.005 * i;
        if (i % 4 == 3) {
            g[1].frames.push_back(cMdfWriterFrame_lin(t, 2, (uint8_t)(r & 0x3F), data, 8));
            continue;
        }
        uint8_t len =
            i % 2 ? (uint8_t)cMdfWriter_lengthForDlc((uint8_t)(9 + r % 7)) : (uint8_t)(r % 9);
        g[0].frames.push_back(
            cMdfWriterFrame_can(t, 1, 0x600 + (r & 0x3F), i % 3 == 0, data, len, true));
    }
    return g;
}

bool writeExample(const std::string& path, const cMdfWriterOptions& o,
                  const std::vector<cMdfWriterGroup>& groups) {
    cMdfWriterResult res;
    if (!cMdfWriter_writeFile(path.c_str(), &o, &groups, &res)) return false;
    printf("%s: %" PRIu64 " frames, %" PRIu64 " bytes\n", path.c_str(), res.frames, res.bytes);
    return true;
}

int example(const std::string& dir) {
    std::error_code ec;
    std::filesystem::create_directories(dir + "/sub", ec);
    if (ec) {
        fprintf(stderr, "kvgen: cannot create %s/sub: %s\n", dir.c_str(), ec.message().c_str());
        return 1;
    }
    cMdfWriterOptions a;
    a.serialNumber = "0000ABCD";
    a.session = 3;
    a.startTimeNs = EXAMPLE_START_NS;
    bool ok = true;
    for (uint32_t split = 1; split <= 2; ++split) {
        a.split = split;
        a.startTimeNs = EXAMPLE_START_NS + (split - 1) * 60000000000ull;
        ok = ok && writeExample(dir + "/0000000" + std::to_string(split) + ".MF4", a,
                                mixedTraffic(split, 0.001));
    }
    cMdfWriterOptions b;
    b.serialNumber = "0000BEEF";
    b.session = 12;
    b.tzOffsetMin = 60;
    b.startTimeNs = EXAMPLE_START_NS + 3600000000000ull;
    b.split = 1;
    ok = ok && writeExample(dir + "/sub/00000003.MF4", b, vlsdTraffic(3, 0.0, MDFW_DATA_VLSD_SD));
    b.split = 2;
    b.startTimeNs += 30000000000ull;
    ok = ok && writeExample(dir + "/sub/00000004.MF4", b, vlsdTraffic(4, 0.0, MDFW_DATA_VLSD_CG));
    return ok ? 0 : 1;
}

bool number(const char* text, uint64_t* out, uint64_t max) {
    char* end = nullptr;
    errno = 0;
    unsigned long long v = strtoull(text, &end, 10);
    if (errno || !end || *end || end == text || text[0] == '-' || v > max) return false;
    *out = v;
    return true;
}

// The frames of one bench data group: frame i of the file belongs to group i % K, is
// sent at i * 100 us and is drawn from (seed, i) alone, so each group is generated on its
// own and the file is the same for the same seed.
struct BenchSource {
    uint64_t next; // file-wide index of the group's next frame
    uint64_t total, groups, fd, extended, seed;
    bool remote; // 2 % remote frames (the unsorted layout)

    bool operator()(cMdfWriterFrame* f) {
        if (next >= total) return false;
        uint64_t i = next;
        next += groups;
        uint64_t r = splitmix(seed ^ splitmix(i));
        *f = cMdfWriterFrame();
        f->kind = MDFW_CAN_DATA;
        f->time = (double)i * 1e-4;
        f->bus = (uint8_t)(1 + (i % groups) % 2);
        f->ide = r % 100 < extended;
        f->id = f->ide ? (uint32_t)(r >> 8) & 0x1FFFFFFF : (uint32_t)(r >> 8) & 0x7FF;
        f->dir = (r >> 40) % 10 == 0;
        uint64_t r2 = splitmix(r);
        if (remote && (r >> 48) % 50 == 0) {
            f->kind = MDFW_CAN_REMOTE;
            f->dlc = (uint8_t)((r2 >> 9) % 9);
            f->dataLength = f->dlc;
            return true;
        }
        if (r2 % 100 < fd) {
            f->edl = true;
            f->brs = (r2 >> 8) & 1;
            f->dlc = (uint8_t)(9 + (r2 >> 9) % 7);
        } else {
            f->dlc = (uint8_t)((r2 >> 9) % 9);
        }
        f->dataLength = cMdfWriter_lengthForDlc(f->dlc);
        for (uint32_t k = 0; k < f->dataLength; k += 8) {
            uint64_t w = splitmix(r2 + k);
            memcpy(f->data + k, &w, 8);
        }
        return true;
    }
};

int bench(int argc, char** argv) {
    std::string path = argv[2];
    uint64_t frames = 0, groups = 1, fd = 0, extended = 0, seed = 1;
    bool haveFrames = false;
    std::string layout = "sorted";
    cMdfWriterOptions o;
    o.serialNumber = "00000001";
    uint64_t session = o.session, split = o.split, start = o.startTimeNs / 1000000000ull;
    for (int i = 3; i < argc; ++i) {
        std::string opt = argv[i];
        if (opt == "--layout" && i + 1 < argc) {
            layout = argv[++i];
            continue;
        }
        if (opt == "--serial" && i + 1 < argc) {
            o.serialNumber = argv[++i];
            continue;
        }
        uint64_t* slot = opt == "--frames"     ? &frames
                         : opt == "--groups"   ? &groups
                         : opt == "--fd"       ? &fd
                         : opt == "--extended" ? &extended
                         : opt == "--seed"     ? &seed
                         : opt == "--session"  ? &session
                         : opt == "--split"    ? &split
                         : opt == "--start"    ? &start
                                               : nullptr;
        uint64_t max = opt == "--fd" || opt == "--extended"     ? 100
                       : opt == "--groups"                      ? 1000
                       : opt == "--session" || opt == "--split" ? UINT32_MAX
                       : opt == "--start"                       ? UINT64_MAX / 1000000000ull
                                                                : UINT64_MAX;
        if (!slot || i + 1 >= argc || !number(argv[i + 1], slot, max)) {
            fprintf(stderr, "kvgen: bad option or value: %s\n", opt.c_str());
            return usage();
        }
        haveFrames = haveFrames || slot == &frames;
        ++i;
    }
    bool unsorted = layout == "unsorted";
    cMdfWriterDataStorage storage = layout == "vlsd-sd"   ? MDFW_DATA_VLSD_SD
                                    : layout == "vlsd-cg" ? MDFW_DATA_VLSD_CG
                                                          : MDFW_DATA_FIXED;
    if (!unsorted && layout != "sorted" && storage == MDFW_DATA_FIXED) {
        fprintf(stderr, "kvgen: unknown layout: %s\n", layout.c_str());
        return usage();
    }
    if (!haveFrames || groups == 0) return usage();
    std::vector<cMdfWriterGroup> dgs(groups);
    for (uint64_t g = 0; g < groups; ++g) {
        dgs[g].kinds = {MDFW_CAN_DATA};
        if (unsorted) dgs[g].kinds.push_back(MDFW_CAN_REMOTE);
        dgs[g].recordIdSize = unsorted || storage == MDFW_DATA_VLSD_CG ? 1 : 0;
        dgs[g].dataStorage = storage;
        dgs[g].canDataBytes = fd > 0 ? 64 : 8;
        dgs[g].source = BenchSource{g, frames, groups, fd, extended, seed, unsorted};
    }
    o.session = (uint32_t)session;
    o.split = (uint32_t)split;
    o.startTimeNs = start * 1000000000ull;
    cMdfWriterResult res;
    if (!cMdfWriter_writeFile(path.c_str(), &o, &dgs, &res)) return 1;
    printf("%s: %" PRIu64 " frames in %" PRIu64 " data groups, %" PRIu64 " bytes\n", path.c_str(),
           res.frames, groups, res.bytes);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && strcmp(argv[1], "example") == 0) return example(argv[2]);
    if (argc >= 3 && strcmp(argv[1], "bench") == 0) return bench(argc, argv);
    return usage();
}
