// Several files at once (--jobs) must give exactly what one job gives: the same traces, the
// same exit status, the same inputs deleted and the same log lines in the same order.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>

#include "e2e_support.h"

namespace fs = std::filesystem;

namespace {

const uint8_t kBytes[] = {0xDE, 0xAD, 0xBE, 0xEF, 1, 2, 3, 4};

cMdfWriterOptions logOptions(const char* serial, uint32_t session, uint32_t split) {
    cMdfWriterOptions o;
    o.startTimeNs = 1700000000000000000ull + uint64_t(session) * 3600000000000ull + split;
    o.serialNumber = serial;
    o.session = session;
    o.split = split;
    return o;
}

// A log whose frames depend on its split, with many frames for some, so that conversions
// overlap and finish out of order.
void writeLog(const std::string& path, const char* serial, uint32_t session, uint32_t split,
              int frames) {
    cMdfWriterGroup g;
    for (int i = 0; i < frames; ++i)
        g.frames.push_back(cMdfWriterFrame_can(0.001 * (i + 1), 1, 0x100 + split + i % 7,
                                               i % 3 == 0, kBytes, static_cast<uint8_t>(i % 9)));
    e2e_writeLog(path, logOptions(serial, session, split), {g});
}

// A fleet with what makes the order matter: repeats and continuations across folders, a
// file cut short, a file that is no log, two inputs with one trace name, a folder link
// visited twice and a link back up, a missing input.
void makeFleet(const std::string& root) {
    for (const char* sub : {"/fleet/devA/day1", "/fleet/devA/day2", "/fleet/devB/day1"})
        e2e_mkdirs(root + sub);
    writeLog(root + "/fleet/devA/day1/00000001.MF4", "0000000A", 1, 1, 30000);
    writeLog(root + "/fleet/devA/day1/00000002.MF4", "0000000A", 1, 2, 10);
    writeLog(root + "/fleet/devA/day1/00000003.MF4", "0000000A", 1, 2, 10); // repeat of 2
    writeLog(root + "/fleet/devA/day2/00000001.MF4", "0000000A", 1, 3, 20000);
    writeLog(root + "/fleet/devA/day2/00000001.mf4", "0000000A", 1, 4, 5); // same trace name
    writeLog(root + "/fleet/devB/day1/00000001.MF4", "0000000B", 7, 1, 5);
    writeLog(root + "/fleet/devB/day1/00000002.MF4", "0000000B", 7, 2, 25000);
    std::string cut = e2e_readFile(root + "/fleet/devB/day1/00000002.MF4");
    e2e_writeFile(root + "/fleet/devB/day1/00000003.MF4", cut.substr(0, cut.size() / 2));
    e2e_writeFile(root + "/fleet/devB/day1/00000004.MF4", std::string(5000, 'x'));
    e2e_writeFile(root + "/fleet/devB/notes.txt", "not a log");
    cMdfWriterOptions foreign = logOptions("0000000C", 1, 1); // another tool's file
    foreign.toolIds = {"SomeOtherTool"};
    cMdfWriterGroup one;
    one.frames = {cMdfWriterFrame_can(0.001, 1, 0x10, false, kBytes, 8)};
    e2e_writeLog(root + "/fleet/devB/day1/foreign.MF4", foreign, {one});
    fs::create_directory_symlink("../devA/day1", root + "/fleet/devB/again");
    fs::create_directory_symlink("..", root + "/fleet/devA/day2/up");
}

// The log without what differs from run to run: time, process and thread ids, seconds.
std::string stableLog(const std::string& err) {
    static const std::regex prefix("^\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} +\\d+ +\\d+ ",
                                   std::regex::multiline);
    static const std::regex seconds(", [0-9.]+ s$", std::regex::multiline);
    return std::regex_replace(std::regex_replace(err, prefix, ""), seconds, ", S");
}

// Every file below root with its bytes; traces and the inputs left.
std::map<std::string, std::string> tree(const std::string& root) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        if (e.is_symlink() || !e.is_regular_file()) continue;
        files[fs::relative(e.path(), root).string()] = e2e_readFile(e.path().string());
    }
    return files;
}

struct Outcome {
    e2e_run run;
    std::map<std::string, std::string> files;
};

Outcome convertFleet(const std::vector<std::string>& options) {
    e2e_tempDir dir;
    makeFleet(dir.path);
    std::vector<std::string> args = options;
    args.insert(args.end(), {"fleet", "missing"});
    return {e2e_runKelvane(args, dir.path), tree(dir.path)};
}

void expectSame(const Outcome& one, const Outcome& many) {
    EXPECT_EQ(one.run.status, many.run.status);
    EXPECT_EQ(stableLog(one.run.err), stableLog(many.run.err));
    EXPECT_EQ(one.files.size(), many.files.size());
    for (const auto& [name, bytes] : one.files)
        EXPECT_TRUE(many.files.count(name) && many.files.at(name) == bytes) << "differs: " << name;
}

} // namespace

TEST(Jobs, ManyJobsGiveWhatOneJobGives) {
    for (const char* format : {"version1", "version2"}) {
        const Outcome one = convertFleet({"-f", format, "--verbosity=4", "-j", "1"});
        // The fleet's failures: the cut file, the file that is no log, the taken name and
        // the missing input.
        EXPECT_EQ(one.run.status, 9) << one.run.err;
        EXPECT_GT(e2e_countLines(one.run.err, "Repeated input file"), 0) << one.run.err;
        EXPECT_EQ(e2e_countLines(one.run.err, "both map to"), 1) << one.run.err;
        EXPECT_EQ(e2e_countLines(one.run.err, "E Unsupported MF4 file"), 1) << one.run.err;
        EXPECT_EQ(e2e_countLines(one.run.err, "W Could not find input file/folder missing"), 1);
        EXPECT_EQ(e2e_countLines(one.run.err, "a link back to a folder"), 1) << one.run.err;
        for (const char* jobs : {"2", "3", "0"})
            expectSame(one, convertFleet({"-f", format, "--verbosity=4", "-j", jobs}));
    }
}

// With -d, a file met again through a folder link after its deletion is not there any more,
// whichever job converted it.
TEST(Jobs, DeletionGivesWhatOneJobGives) {
    const Outcome one = convertFleet({"-d", "--jobs=1"});
    EXPECT_EQ(one.files.count("fleet/devA/day1/00000002.MF4"), 0u);
    EXPECT_EQ(one.files.count("fleet/devB/day1/00000003.MF4"), 1u); // cut: kept
    EXPECT_EQ(one.files.count("fleet/devB/day1/foreign.MF4"), 1u);  // refused: kept
    expectSame(one, convertFleet({"-d", "--jobs=2"}));
    expectSame(one, convertFleet({"-d", "--jobs=4"}));
}
