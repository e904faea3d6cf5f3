// Replays every input that once made a fuzz target fail, and the seeds kept beside them
// (fuzz/regressions/<target>/), through the same entry functions the targets call, and runs
// the binary on the damaged logs among them. Every input must come back with the result its
// name states (the logs: a clean failure).

#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <cstdlib>

#include "app/cLogReader.h"
#include "e2e_support.h"
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

// The number that follows the one-letter tag at the start of an input's name ("n2_..." or
// "s134_..."): the result the input must give. -1 when the name carries none.
long expectedOf(const std::string& name, char tag) {
    if (name.size() < 2 || name[0] != tag) return -1;
    char* end = nullptr;
    long v = std::strtol(name.c_str() + 1, &end, 10);
    return end && *end == '_' ? v : -1;
}

// Containers named "ok_..." open, "bad_..." ones are refused; password files named "nK_..."
// hold K entries; command lines named "sK_..." end with status K.
TEST(FuzzReplay, ContainersPasswordsAndCommandLinesGiveTheirResult) {
    for (std::string target : {"compressed", "encrypted", "passwords", "cli"}) {
        for (const std::string& name : inputsOf(target)) {
            SCOPED_TRACE(target + "/" + name);
            const std::string in = bytesOf(target, name);
            const size_t n = in.size();
            if (target == "passwords" || target == "cli") {
                const long want = expectedOf(name, target == "cli" ? 's' : 'n');
                ASSERT_GE(want, 0) << "name must begin with nK_ or sK_";
                EXPECT_EQ(target == "cli" ? cFuzz_parseCommandLine(dataOf(in), n)
                                          : static_cast<long>(cFuzz_loadPasswords(dataOf(in), n)),
                          want);
                continue;
            }
            ASSERT_TRUE(name.rfind("ok_", 0) == 0 || name.rfind("bad_", 0) == 0)
                << "name must say ok_ or bad_";
            EXPECT_EQ(target == "compressed" ? cFuzz_openCompressed(dataOf(in), n)
                                             : cFuzz_openEncrypted(dataOf(in), n),
                      name.rfind("ok_", 0) == 0);
        }
    }
}

// Damaged logs fail in both trace versions; the binary refuses each and keeps it.
TEST(FuzzReplay, DamagedLogsFailAndAreKept) {
    e2e_tempDir dir;
    const std::vector<std::string> logs = inputsOf("mdf");
    for (size_t i = 0; i < logs.size(); ++i) {
        SCOPED_TRACE(logs[i]);
        const std::string in = bytesOf("mdf", logs[i]); // fails in process in both versions
        EXPECT_NE(cFuzz_convert(dataOf(in), in.size(), false), cExitStatus_OK);
        EXPECT_NE(cFuzz_convert(dataOf(in), in.size(), true), cExitStatus_OK);
        const std::string name = "log" + std::to_string(i) + ".mf4";
        e2e_writeFile(dir / name, in);
        e2e_run run = e2e_runKelvane({"-d", name}, dir.path);
        EXPECT_GT(run.status, 0) << run.err;
        EXPECT_LT(run.status, 129) << run.err;
        EXPECT_EQ(e2e_countLines(run.err, "Error during conversion of " + name), 1) << run.err;
        EXPECT_TRUE(e2e_exists(dir / name));
        EXPECT_FALSE(e2e_exists(dir / ("log" + std::to_string(i) + "_CAN.trc")));
    }
}
