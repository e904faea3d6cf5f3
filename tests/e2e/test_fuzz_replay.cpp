// Replays every input that once made a fuzz target fail (fuzz/regressions/<target>/) through
// the same entry functions the targets call, and runs the binary on the damaged logs among
// them: each must come back with a result, the logs with a clean nonzero exit.

#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>

#include "e2e_support.h"
#include "app/cLogReader.h"
#include "fuzz/fuzz_entries.h"

namespace {

// The source tree, from this file's own path (the build names sources by absolute path).
const std::string sourceFile = __FILE__;
const std::string regressions =
    sourceFile.substr(0, sourceFile.rfind("tests/e2e/")) + "fuzz/regressions/";

std::vector<std::string> inputsOf(const std::string& target) {
    std::vector<std::string> names;
    if (DIR* d = opendir((regressions + target).c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string bytesOf(const std::string& target, const std::string& name) {
    return e2e_readFile(regressions + target + "/" + name);
}

const uint8_t* dataOf(const std::string& bytes) {
    return reinterpret_cast<const uint8_t*>(bytes.data());
}

} // namespace

TEST(FuzzReplay, EveryRegressionInputGetsAResult) {
    size_t replayed = 0;
    for (std::string target : {"mdf", "compressed", "encrypted", "passwords", "cli"}) {
        for (const std::string& name : inputsOf(target)) {
            SCOPED_TRACE(target + "/" + name);
            const std::string in = bytesOf(target, name);
            if (target == "mdf") {
                EXPECT_NE(cFuzz_convert(dataOf(in), in.size(), false), cLogReader_OK);
                EXPECT_NE(cFuzz_convert(dataOf(in), in.size(), true), cLogReader_OK);
            } else if (target == "compressed") {
                cFuzz_openCompressed(dataOf(in), in.size());
            } else if (target == "encrypted") {
                cFuzz_openEncrypted(dataOf(in), in.size());
            } else if (target == "passwords") {
                cFuzz_loadPasswords(dataOf(in), in.size());
            } else {
                cFuzz_parseCommandLine(dataOf(in), in.size());
            }
            ++replayed;
        }
    }
    EXPECT_GT(replayed, 0u);
}

TEST(FuzzReplay, BinaryRefusesEachDamagedLogAndKeepsIt) {
    e2e_tempDir dir;
    const std::vector<std::string> logs = inputsOf("mdf");
    for (size_t i = 0; i < logs.size(); ++i) {
        SCOPED_TRACE(logs[i]);
        const std::string name = "log" + std::to_string(i) + ".mf4";
        e2e_writeFile(dir / name, bytesOf("mdf", logs[i]));
        e2e_run run = e2e_runKelvane({"-d", name}, dir.path);
        EXPECT_GT(run.status, 0) << run.err;
        EXPECT_LT(run.status, 129) << run.err;
        EXPECT_EQ(e2e_countLines(run.err, "Error during conversion of " + name), 1) << run.err;
        EXPECT_TRUE(e2e_exists(dir / name));
        EXPECT_FALSE(e2e_exists(dir / ("log" + std::to_string(i) + "_CAN.trc")));
    }
}
