// fuzz_seeds DIR: writes the seed inputs of every fuzz target below DIR/<target>/, made by
// the project's own writers: logger-style MDF files of every layout the reader knows, the
// same files in compressed and encrypted containers, password files and command lines.

#include <cstdio>
#include <string>
#include <vector>

#include "fuzz/fuzz_entries.h"
#include "tools/cContainerWriter.h"
#include "tools/cMdfWriter.h"

namespace {

bool writeSeed(const std::string& dir, const std::string& name, const std::string& bytes) {
    std::string path = dir + "/" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

std::string asText(const std::vector<uint8_t>& v) {
    return std::string(v.begin(), v.end());
}

// A few frames of every kind the group can hold.
std::vector<cMdfWriterFrame> frames(bool withOthers) {
    const uint8_t data[64] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    std::vector<cMdfWriterFrame> f = {
        cMdfWriterFrame_can(0.001, 1, 0x123, false, data, 8),
        cMdfWriterFrame_can(0.002, 2, 0x18FF1234, true, data, 16, true),
        cMdfWriterFrame_remote(0.003, 1, 0x7FF, false, 4),
    };
    if (withOthers) {
        f.push_back(cMdfWriterFrame_error(0.004, 1, 3));
        f.push_back(cMdfWriterFrame_lin(0.005, 1, 0x21, data, 4));
    }
    return f;
}

std::vector<std::pair<std::string, std::vector<uint8_t>>> mdfSeeds() {
    std::vector<std::pair<std::string, std::vector<uint8_t>>> out;
    auto add = [&](const char* name, const cMdfWriterOptions& o, std::vector<cMdfWriterGroup> g) {
        std::vector<uint8_t> bytes = cMdfWriter_writeMemory(&o, &g);
        out.emplace_back(name, bytes); // an empty one fails the run below
    };
    cMdfWriterOptions plain;
    cMdfWriterGroup sorted;
    sorted.frames = {cMdfWriterFrame_can(0.5, 1, 0x10, false, nullptr, 2)};
    add("sorted", plain, {sorted});

    cMdfWriterGroup unsorted;
    unsorted.recordIdSize = 1;
    unsorted.frames = frames(true);
    add("unsorted", plain, {unsorted});

    cMdfWriterGroup sd;
    sd.frames = frames(false);
    sd.recordIdSize = 2;
    sd.dataStorage = MDFW_DATA_VLSD_SD;
    add("vlsd_sd", plain, {sd});

    cMdfWriterGroup cg = sd;
    cg.dataStorage = MDFW_DATA_VLSD_CG;
    add("vlsd_cg", plain, {cg});

    cMdfWriterGroup odd = unsorted;
    odd.bigEndian = true;
    odd.timeEncoding = MDFW_TIME_MICROS;
    odd.busChannelTable = {{0, 1}, {1, 2}};
    odd.invalidationBytes = 1;
    odd.flatChannels = true;
    odd.comment = "group";
    odd.sourceComment = "<SIcomment><TX>CAN</TX></SIcomment>";
    cMdfWriterOptions text;
    text.hdCommentAsTx = false;
    text.fhCommentAsTx = false;
    text.toolIds = {"Other", "Veskar"};
    text.shareTexts = false;
    add("big_endian_micros", text, {odd, sorted});

    cMdfWriterOptions unfinished;
    unfinished.unfinalised = true;
    add("unfinalised", unfinished, {sorted, unsorted});

    // A VLSD channel group between other groups of a shuffled chain, channels in shuffled
    // order, 32-bit big-endian millisecond timestamps.
    cMdfWriterGroup chained;
    chained.frames = frames(true);
    chained.kinds = {MDFW_CAN_DATA, MDFW_CAN_REMOTE, MDFW_LIN, MDFW_CAN_ERROR};
    chained.recordIdSize = 1;
    chained.dataStorage = MDFW_DATA_VLSD_CG;
    chained.vlsdPlace = MDFW_VLSD_BEHIND_PARENT;
    chained.chainOrder = {0, 3, 1, 2};
    chained.channelShuffle = 7;
    chained.timeEncoding = MDFW_TIME_MILLIS32_BE;
    add("shared_chain", plain, {chained});
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds DIR\n");
        return 2;
    }
    const std::string root = argv[1];
    bool ok = true;
    int n = 0;
    for (const auto& [name, bytes] : mdfSeeds()) {
        ok = !bytes.empty() && ok;
        ok = writeSeed(root + "/mdf", name, asText(bytes)) && ok;
        cContainerWriter_compressOptions c;
        c.serialNumber = 0xABCD;
        c.windowBits = static_cast<uint8_t>(4 + n % 12);
        c.lookaheadBits = static_cast<uint8_t>(3 + n % (c.windowBits - 3));
        c.footer = n % 2 == 0;
        std::vector<uint8_t> compressed;
        ok = cContainerWriter_compress(bytes.data(), bytes.size(), &c, &compressed) && ok;
        ok = writeSeed(root + "/compressed", name, asText(compressed)) && ok;
        cContainerWriter_encryptOptions e;
        e.serialNumber = 0xABCD;
        e.password = cFuzz_PASSWORD;
        e.iterations = 1 + n % 4;
        e.flag = static_cast<uint8_t>(n % 2);
        std::vector<uint8_t> encrypted;
        ok = cContainerWriter_encrypt(bytes.data(), bytes.size(), &e, &encrypted) && ok;
        ok = writeSeed(root + "/encrypted", name, asText(encrypted)) && ok;
        // Containers in containers reach the driver's unwrapping loop.
        std::vector<uint8_t> nested;
        ok = cContainerWriter_encrypt(compressed.data(), compressed.size(), &e, &nested) && ok;
        ok = writeSeed(root + "/mdf", name + "_compressed", asText(compressed)) && ok;
        ok = writeSeed(root + "/mdf", name + "_nested", asText(nested)) && ok;
        ++n;
    }
    const char* passwords[] = {
        "{\n  \"default\": \"secret\",\n  \"0000ABCD\": \"device\"\n}\n",
        "{\"abcdef\":\"x\",\"ABCDEF\":\"y\",\"abcdef\":\"dup\"}",
        "\"default\" : \"no end\n\"1\":\"\"",
    };
    const std::vector<std::vector<std::string>> commandLines = {
        {"--verbosity=4", "-d", "-X", "-b", "4KB", "/tmp"},
        {"-O", "/tmp", "--trace-format=version1", "/tmp/a.mf4", "/tmp/b.MF4"},
        {"-p", "/nonexistent/passwords.json", "--input-files=x", "/tmp/"},
        {"--help"},
        {"-v", "--non-interactive", "--buffer=0x10", "--", "-x"},
    };
    for (size_t i = 0; i < sizeof passwords / sizeof *passwords; ++i)
        ok = writeSeed(root + "/passwords", "p" + std::to_string(i), passwords[i]) && ok;
    for (size_t i = 0; i < commandLines.size(); ++i) {
        std::string joined; // the target splits its input at NUL bytes
        for (const std::string& arg : commandLines[i])
            joined += (joined.empty() ? "" : std::string(1, '\0')) + arg;
        ok = writeSeed(root + "/cli", "c" + std::to_string(i), joined) && ok;
    }
    if (!ok) std::fprintf(stderr, "fuzz_seeds: could not write every seed below %s\n", argv[1]);
    return ok ? 0 : 1;
}
