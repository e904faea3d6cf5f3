// Random frame lists in random writer layouts, converted by the binary in both trace versions
// and compared byte for byte with traces written from the frame list with printf, line by
// line as the trace format lays them out (not by the program's own writer). The
// same files are also converted through a small read-ahead buffer, and wrapped in compressed
// (random window and lookahead) and encrypted containers.
// KELVANE_ROUNDTRIP_SEEDS="FIRST COUNT" runs further seeds; a failing seed prints its layout.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "converter/cPeakConverter.h"
#include "e2e_support.h"
#include "tools/cContainerWriter.h"

namespace {

using Rng = e2e_rng;

// One drawn file: what the writer gets and what it stands for.
struct Drawn {
    uint64_t seed = 0;
    cMdfWriterOptions options;
    std::vector<cMdfWriterGroup> groups;
    std::ostringstream layout;
};

// Draws one data group's layout for its frames and kinds.
void drawGroupLayout(Rng& rng, cMdfWriterGroup* g, bool msTimes, std::ostream& out) {
    std::vector<cMdfWriterFrameKind>& kinds = g->kinds;
    for (size_t i = kinds.size(); i > 1; --i)
        std::swap(kinds[i - 1], kinds[rng.below(i)]);
    bool fd = std::any_of(g->frames.begin(), g->frames.end(),
                          [](const cMdfWriterFrame& f) { return f.dataLength > 8; });
    g->recordIdSize = kinds.size() > 1 || rng.percent(40)
                          ? rng.pick(std::vector<uint8_t>{1, 2, 4, 8})
                          : uint8_t{0};
    std::vector<cMdfWriterDataStorage> storages = {MDFW_DATA_FIXED, MDFW_DATA_VLSD_SD};
    if (g->recordIdSize > 0) storages.push_back(MDFW_DATA_VLSD_CG);
    g->dataStorage = rng.pick(storages);
    g->canDataBytes = fd || rng.percent(50) ? 64 : 8;
    g->bigEndian = rng.percent(30);
    std::vector<cMdfWriterTimeEncoding> times = {MDFW_TIME_DOUBLE, MDFW_TIME_MICROS};
    if (msTimes) times.push_back(MDFW_TIME_MILLIS32_BE);
    g->timeEncoding = rng.pick(times);
    g->invalidationBytes = rng.percent(30) ? static_cast<uint32_t>(1 + rng.below(4)) : 0;
    g->flatChannels = rng.percent(30);
    g->vlsdPlace = static_cast<cMdfWriterVlsdPlace>(rng.below(3));
    g->channelShuffle = rng.percent(60) ? static_cast<uint32_t>(1 + rng.below(1000000)) : 0;
    // Distinct record ids that fit the record id size, two per kind (VLSD groups included).
    uint64_t idLimit = g->recordIdSize >= 8 ? ~0ull >> 1 : (1ull << (8 * g->recordIdSize)) - 1;
    while (g->recordIdSize > 0 && g->recordIds.size() < 2 * kinds.size()) {
        uint64_t id = 1 + rng.below(std::min<uint64_t>(idLimit, rng.percent(50) ? 20 : idLimit));
        if (std::find(g->recordIds.begin(), g->recordIds.end(), id) == g->recordIds.end())
            g->recordIds.push_back(id);
    }
    g->chainOrder.resize(kinds.size());
    for (uint32_t i = 0; i < kinds.size(); ++i)
        g->chainOrder[i] = i;
    if (rng.percent(30)) {
        std::reverse(g->chainOrder.begin(), g->chainOrder.end());
    } else if (rng.percent(50)) {
        for (size_t i = kinds.size(); i > 1; --i)
            std::swap(g->chainOrder[i - 1], g->chainOrder[rng.below(i)]);
    }
    out << "{kinds/chain/ids";
    for (size_t i = 0; i < kinds.size(); ++i)
        out << " " << int(kinds[i]) << "/" << g->chainOrder[i] << "/" << int(g->recordIdSize);
    out << " storage/vlsd/bytes/time/be/inval/flat/shuffle " << int(g->dataStorage) << "/"
        << int(g->vlsdPlace) << "/" << int(g->canDataBytes) << "/" << int(g->timeEncoding) << "/"
        << g->bigEndian << "/" << g->invalidationBytes << "/" << g->flatChannels << "/"
        << g->channelShuffle << " frames " << g->frames.size() << "}";
}

Drawn drawFile(uint64_t seed) {
    Rng rng{seed * 0x2545F4914F6CDD1Dull + 1};
    Drawn d;
    d.seed = seed;
    size_t count = rng.percent(5)   ? 0
                   : rng.percent(5) ? 1
                   : rng.percent(4) ? 1000 + rng.below(3000)
                                    : 2 + rng.below(60);
    unsigned fdPercent = rng.pick(std::vector<unsigned>{0, 0, 30, 100});
    std::vector<cMdfWriterFrameKind> kinds = {MDFW_CAN_DATA};
    for (cMdfWriterFrameKind k : {MDFW_CAN_REMOTE, MDFW_CAN_ERROR, MDFW_LIN})
        if (rng.percent(40)) kinds.push_back(k);
    bool msTimes = rng.percent(30);
    double unit = msTimes ? 1e-3 : 1e-6;
    d.layout << "seed " << seed << ": " << count << " frames, fd " << fdPercent << "%, times in "
             << (msTimes ? "ms" : "us");

    // Frames in time order with distinct times; a frame's kind is drawn from the file's kinds.
    std::vector<cMdfWriterFrame> frames;
    uint64_t ticks = rng.below(1000);
    for (size_t i = 0; i < count; ++i) {
        ticks += 1 + rng.below(msTimes ? 50 : 5000);
        frames.push_back(
            e2e_drawFrame(rng, rng.pick(kinds), static_cast<double>(ticks) * unit, fdPercent));
    }
    // How the frames are spread over data groups.
    int spread = static_cast<int>(rng.below(3));
    std::vector<cMdfWriterFrameKind> present;
    for (const cMdfWriterFrame& f : frames)
        if (std::find(present.begin(), present.end(), f.kind) == present.end())
            present.push_back(f.kind);
    if (present.empty()) present.push_back(MDFW_CAN_DATA);
    if (spread == 1 || (present.size() == 1 && spread == 0)) {
        d.layout << ", one data group";
        d.groups.resize(1);
        d.groups[0].kinds = present;
        d.groups[0].frames = frames;
    } else {
        // One group per kind; with spread 2 the data frames go to several groups.
        size_t dataGroups = spread == 2 ? 2 + rng.below(3) : 1;
        d.layout << (spread == 2 ? ", data frames split" : ", one data group per kind");
        for (cMdfWriterFrameKind k : present) {
            size_t n = k == MDFW_CAN_DATA ? dataGroups : 1;
            size_t first = d.groups.size();
            d.groups.resize(first + n);
            for (size_t i = first; i < first + n; ++i)
                d.groups[i].kinds = {k};
            for (const cMdfWriterFrame& f : frames)
                if (f.kind == k) d.groups[first + rng.below(n)].frames.push_back(f);
        }
        for (size_t i = d.groups.size(); i > 1; --i)
            std::swap(d.groups[i - 1], d.groups[rng.below(i)]);
    }
    cMdfWriterOptions& o = d.options;
    o.startTimeNs = 1600000000000000000ull + rng.below(200000000000000000ull);
    char serial[16];
    snprintf(serial, sizeof serial, "%08X", static_cast<unsigned>(rng.next()));
    o.serialNumber = serial;
    o.session = static_cast<uint32_t>(1 + rng.below(100)); // the driver needs a session
    o.split = static_cast<uint32_t>(seed);                 // no two files of a run are the same log
    o.unfinalised = rng.percent(20);
    if (rng.percent(30))
        o.toolIds = {"OtherTool", "Veskar"};
    else if (rng.percent(20))
        o.toolIds = {"VK"};
    bool siMeta = rng.percent(30);
    d.layout << (o.unfinalised ? ", unfinalised" : "") << ", file histories " << o.toolIds.size()
             << (siMeta ? ", metadata in SI comments" : "");
    for (size_t i = 0; i < d.groups.size(); ++i) {
        cMdfWriterGroup& g = d.groups[i];
        if (siMeta)
            g.sourceComment = "<SIcomment><TX>bus</TX><common_properties><tree name=\"Bus\">"
                              "<e name=\"bit rate\" type=\"integer\">500000</e></tree>"
                              "</common_properties></SIcomment>";
        d.layout << "\n  DG" << i;
        drawGroupLayout(rng, &g, msTimes, d.layout);
    }
    // The reader stretches the last data block of an unfinalised file to the end of the file.
    if (o.unfinalised && d.groups.back().dataStorage == MDFW_DATA_VLSD_SD) {
        d.groups.back().dataStorage = MDFW_DATA_FIXED;
        d.layout << " (last group fixed: unfinalised)";
    }
    return d;
}

// The time the reader gets back from a record: the stored value through its conversion.
double storedTime(const cMdfWriterGroup& g, double t) {
    switch (g.timeEncoding) {
    case MDFW_TIME_MICROS:
        return 1e-6 * static_cast<double>(std::llround(t * 1e6));
    case MDFW_TIME_MILLIS32_BE:
        return 1e-3 * static_cast<double>(std::llround(t * 1e3));
    case MDFW_TIME_DOUBLE:
        break;
    }
    return t;
}

// One CAN frame as the trace should show it: its absolute time and the frame as drawn.
struct Expected {
    double time;
    const cMdfWriterFrame* frame;
};

// The start date line's number: days since 1899-12-30 as "%5lu.%010.0f". A fraction that
// rounds to a whole day counts as the next day rather than printing eleven digits.
std::string startDate(double seconds) {
    double whole = 0;
    double fraction = std::modf(seconds / 86400.0 + 25569.0, &whole) * 1e10;
    if (std::nearbyint(fraction) >= 1e10) {
        whole += 1;
        fraction = 0;
    }
    char text[64];
    snprintf(text, sizeof text, "%5lu.%010.0f\n", static_cast<unsigned long>(whole), fraction);
    return text;
}

std::string dataBytes(const cMdfWriterFrame& f) {
    std::string out;
    char hex[4];
    for (uint8_t i = 0; i < f.dataLength; ++i) {
        snprintf(hex, sizeof hex, i ? " %02X" : "%02X", f.data[i]);
        out += hex;
    }
    return out;
}

// The trace of one version written straight from the frames with printf, not with the
// program's writer; empty when it holds no record line (the program then leaves no file).
std::string expectedTrace(const std::vector<Expected>& frames, uint32_t version) {
    if (frames.empty()) return std::string();
    const bool v1 = version == cPeakConverter_VERSION_1_1;
    // The header carries the first CAN frame's time, FD frames included (even in 1.1).
    const double start = frames.front().time;
    std::string out = v1 ? ";$FILEVERSION=1.1\n;$STARTTIME=" : ";$FILEVERSION=2.1\n;$STARTTIME=";
    out += startDate(start);
    if (!v1) out += ";$COLUMNS=N,O,T,B,I,d,L,D\n";
    int number = 0;
    char line[256];
    for (const Expected& e : frames) {
        const cMdfWriterFrame& f = *e.frame;
        const bool remote = f.kind == MDFW_CAN_REMOTE;
        if (v1 && f.edl) continue; // 1.1 holds classic frames only, numbered without gaps
        const double offset = (e.time - start) * 1000.0;
        const char* dir = f.dir ? "Tx" : "Rx";
        if (v1) {
            snprintf(line, sizeof line,
                     f.ide ? "%6d) %11.1f %s    %08X %d  " : "%6d) %11.1f %s        %04X %d  ",
                     ++number, offset, dir, f.id, f.dlc);
            out += line;
            out += remote ? "RTR" : dataBytes(f);
        } else {
            const char* type = f.edl    ? (f.brs && f.esi ? "BI"
                                           : f.brs        ? "FB"
                                           : f.esi        ? "FE"
                                                          : "FD")
                               : remote ? "RR"
                                        : "DT";
            snprintf(line, sizeof line,
                     f.ide ? "%7d %13.3f %s %d %08X %s %d" : "%7d %13.3f %s %d     %04X %s %d",
                     ++number, offset, type, f.bus, f.id, dir, f.dlc);
            out += line;
            out += f.dlc < 10 ? "    " : "   ";
            if (!remote) out += dataBytes(f);
        }
        out += '\n';
    }
    return number > 0 ? out : std::string();
}

// Writes the traces the frame list stands for below root/v<version>/<name>_CAN.trc.
void writeExpected(const Drawn& d, const std::string& root, const std::string& name) {
    const double start = static_cast<double>(d.options.startTimeNs) * 1e-9;
    std::vector<std::pair<double, Expected>> frames;
    for (const cMdfWriterGroup& g : d.groups)
        for (const cMdfWriterFrame& f : g.frames)
            if (f.kind == MDFW_CAN_DATA || f.kind == MDFW_CAN_REMOTE) {
                double t = storedTime(g, f.time);
                frames.push_back({t, Expected{t + start, &f}});
            }
    std::sort(frames.begin(), frames.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<Expected> ordered;
    for (const auto& [t, e] : frames)
        ordered.push_back(e);
    for (uint32_t version : {cPeakConverter_VERSION_1_1, cPeakConverter_VERSION_2_1}) {
        const std::string trace = expectedTrace(ordered, version);
        const std::string path = root + "/v" + std::to_string(version) + "/" + name + "_CAN.trc";
        if (!trace.empty()) {
            ASSERT_TRUE(e2e_writeFile(path, trace)) << path;
        }
    }
}

// The file wrapped in a container, compressed or encrypted by the seed, under the name the
// logger gives each kind; false when the writer refuses.
bool writeContainer(const std::string& plainPath, const std::string& base, uint64_t seed) {
    const std::string bytes = e2e_readFile(plainPath);
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    std::vector<uint8_t> out;
    Rng rng{seed * 7 + 3};
    if (seed % 2) {
        cContainerWriter_compressOptions o;
        o.windowBits = uint8_t(4 + rng.below(12));
        o.lookaheadBits = uint8_t(3 + rng.below(o.windowBits - 3));
        return cContainerWriter_compress(data, bytes.size(), &o, &out) &&
               e2e_writeBytes(base + ".MFC", out);
    }
    cContainerWriter_encryptOptions o;
    o.password = "roundtrip";
    o.iterations = 1000;
    return cContainerWriter_encrypt(data, bytes.size(), &o, &out) &&
           e2e_writeBytes(base + ".MFE", out);
}

// Writes the files of seeds [first, first + count), converts them in both versions with
// one run each and compares every trace. Returns the number of seeds that failed. Version
// 2.1 is converted once more through a small read-ahead buffer, which the data groups of
// a file share: it moves under them all the time, where a mapped input never does; and
// through one larger than a page, whose refills after a jump read less than it holds and
// grow back while reading goes on. And once more from containers (a compressed or
// encrypted copy of each file).
size_t roundTrip(uint64_t first, uint64_t count) {
    e2e_tempDir dir;
    for (const char* sub : {"in", "cin", "want/v1", "want/v2", "v1", "v2", "b2", "g2", "c2"})
        e2e_mkdirs(dir / sub);
    std::vector<Drawn> drawn;
    for (uint64_t seed = first; seed < first + count; ++seed) {
        drawn.push_back(drawFile(seed));
        const Drawn& d = drawn.back();
        const std::string name = "s" + std::to_string(seed);
        cMdfWriterResult result;
        if (!cMdfWriter_writeFile((dir / ("in/" + name + ".mf4")).c_str(), &d.options, &d.groups,
                                  &result)) {
            ADD_FAILURE() << "writer refused " << d.layout.str() << ": " << result.error;
            return count;
        }
        if (!writeContainer(dir / ("in/" + name + ".mf4"), dir / ("cin/" + name), seed)) {
            ADD_FAILURE() << "container writer refused seed " << seed;
            return count;
        }
        writeExpected(d, dir / "want", name);
    }
    e2e_writeFile(dir / "passwords.json", "{ \"default\": \"roundtrip\" }\n");
    e2e_run v2 = e2e_runKelvane({"-O", "v2", "in"}, dir.path);
    e2e_run v1 = e2e_runKelvane({"--trace-format=VERSION1", "-O", "v1", "in"}, dir.path);
    e2e_run b2 = e2e_runKelvane({"-b", "256", "-O", "b2", "in"}, dir.path);
    e2e_run g2 = e2e_runKelvane({"-b", "20000", "-O", "g2", "in"}, dir.path);
    e2e_run c2 = e2e_runKelvane({"-p", "passwords.json", "-O", "c2", "cin"}, dir.path);
    EXPECT_EQ(v2.status, 0) << v2.err;
    EXPECT_EQ(v1.status, 0) << v1.err;
    EXPECT_EQ(b2.status, 0) << b2.err;
    EXPECT_EQ(g2.status, 0) << g2.err;
    EXPECT_EQ(c2.status, 0) << c2.err;
    size_t failed = 0;
    for (const Drawn& d : drawn) {
        const std::string name = "s" + std::to_string(d.seed);
        std::string why;
        for (const auto& [out, v] :
             {std::pair{"v1", "v1"}, {"v2", "v2"}, {"b2", "v2"}, {"g2", "v2"}, {"c2", "v2"}}) {
            const std::string in = std::string(out) == "c2" ? "/cin_out/" : "/in_out/";
            const std::string got = dir / (std::string(out) + in + name + "_CAN.trc");
            const std::string want = dir / ("want/" + std::string(v) + "/" + name + "_CAN.trc");
            if (e2e_exists(got) != e2e_exists(want) || e2e_readFile(got) != e2e_readFile(want))
                why += std::string(out) + " trace differs; ";
        }
        if (!why.empty()) {
            ++failed;
            ADD_FAILURE() << why << "\n" << d.layout.str();
        }
    }
    return failed;
}

} // namespace

TEST(LayoutRoundTrip, FixedSeedsConvertExactlyInBothVersions) {
    EXPECT_EQ(roundTrip(1, 300), 0u);
}

// Seeds beyond the fixed ones: KELVANE_ROUNDTRIP_SEEDS="FIRST COUNT".
TEST(LayoutRoundTrip, FurtherSeedsFromTheEnvironment) {
    const char* range = std::getenv("KELVANE_ROUNDTRIP_SEEDS");
    unsigned long long first = 0, count = 0;
    if (!range || sscanf(range, "%llu %llu", &first, &count) != 2)
        GTEST_SKIP() << "KELVANE_ROUNDTRIP_SEEDS=\"FIRST COUNT\" not set";
    for (unsigned long long at = first; at < first + count; at += 500)
        EXPECT_EQ(roundTrip(at, std::min(500ull, first + count - at)), 0u);
}
