// Memory through the real binary: decompression bombs meet the run's memory budget, taken from
// the process's real limit, and fail with 4 while the run goes on; inputs stay mapped at any
// job count; nested encrypted layers share one key-derivation limit.

#include <gtest/gtest.h>

#include <filesystem>

#include <sys/resource.h>
#include <sys/wait.h>

#include "e2e_support.h"
#include "tests/io/container_bomb.h"
#include "tools/cContainerWriter.h"

namespace fs = std::filesystem;

namespace {

const uint8_t kBytes[] = {0xDE, 0xAD, 0xBE, 0xEF, 1, 2, 3, 4};

void writeLog(const std::string& path, uint32_t split, int frames) {
    cMdfWriterGroup g;
    for (int i = 0; i < frames; ++i)
        g.frames.push_back(cMdfWriterFrame_can(0.001 * (i + 1), 1, 0x100 + i % 7, false, kBytes,
                                               static_cast<uint8_t>(i % 9)));
    e2e_writeLog(path, e2e_logOptions("0000ABCD", 1, split), {g});
}

// Runs the binary under an address-space limit (0: none); the exit status, the log in *err.
int runLimited(const std::vector<std::string>& args, const std::string& cwd, uint64_t limit,
               std::string* err) {
    const std::string out = cwd + "/.out", log = cwd + "/.err";
    const pid_t pid = e2e_startKelvane(args, cwd, out, log, [limit] {
        if (limit == 0) return;
        struct rlimit rl;
        getrlimit(RLIMIT_AS, &rl);
        rl.rlim_cur = rlim_t(limit);
        setrlimit(RLIMIT_AS, &rl);
    });
    const int status = e2e_waitFor(pid);
    *err = e2e_readFile(log);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The address sanitizer reserves far more address space than any limit set here.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSpaceLimitWorks = false;
#else
constexpr bool kAddressSpaceLimitWorks = true;
#endif

} // namespace

// Two bombs in a row at one job, each unpacking to far more than a 1 GiB address space allows:
// each fails with 4 and a message, nothing is killed. Two bombs within the budget but holding
// no MDF file behind them fail with 8, one after the other, each block reused or given back,
// so the run's memory stays near one bomb's content. The log after them all converts.
TEST(Memory, CompressionBombsFailUnderAnAddressSpaceLimitAndTheRunGoesOn) {
    if (!kAddressSpaceLimitWorks) GTEST_SKIP() << "address sanitizer";
    e2e_tempDir dir;
    e2e_mkdirs(dir / "in");
    const std::vector<uint8_t> huge = containerBomb("MDF     ", uint64_t(3) << 30);
    const std::vector<uint8_t> fits = containerBomb("MDF     ", uint64_t(200) << 20);
    ASSERT_LT(huge.size(), size_t(1) << 20);
    for (const char* name : {"in/a.MFC", "in/b.MFC"})
        ASSERT_TRUE(e2e_writeBytes(dir / name, huge));
    for (const char* name : {"in/c.MFC", "in/d.MFC"})
        ASSERT_TRUE(e2e_writeBytes(dir / name, fits));
    writeLog(dir / "in/e.MF4", 1, 100);

    std::string err;
    const int status = runLimited({"-j", "1", "in"}, dir.path, uint64_t(1) << 30, &err);
    EXPECT_EQ(status, 4 | 8) << err;
    EXPECT_EQ(e2e_countLines(err, "would pass the memory budget"), 2) << err;
    EXPECT_EQ(e2e_countLines(err, "Could not decompress file"), 2) << err;
    for (const char* name : {"a", "b", "c", "d"})
        EXPECT_EQ(
            e2e_countLines(err, "Error during conversion of in/" + std::string(name) + ".MFC"), 1)
            << err;
    EXPECT_TRUE(e2e_exists(dir / "in_out/e_CAN.trc")) << err;
}

// More files in flight than there used to be guard slots: every input is mapped, none is
// copied into memory of the program's own.
TEST(Memory, InputsAreMappedAtManyJobs) {
    e2e_tempDir dir;
    e2e_mkdirs(dir / "in");
    for (int i = 0; i < 40; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "in/%02d/00000001.MF4", i);
        e2e_mkdirs(fs::path(dir / name).parent_path().string());
        writeLog(dir / name, uint32_t(i + 1), 20000);
    }
    std::string err;
    const int status = runLimited({"-j", "32", "--verbosity=4", "in"}, dir.path, 0, &err);
    EXPECT_EQ(status, 0) << err;
    EXPECT_EQ(e2e_countLines(err, "Input mapped"), 40) << err;
    EXPECT_EQ(e2e_countLines(err, "cannot be mapped"), 0) << err;
    for (int i = 0; i < 40; ++i) {
        char name[40];
        std::snprintf(name, sizeof name, "in_out/%02d/00000001_CAN.trc", i);
        EXPECT_TRUE(e2e_exists(dir / name)) << name;
    }
}

// Each of two nested encrypted layers asks for no more than the key-derivation limit, but
// together they pass it: the inner one is refused before its key is derived, with 2.
TEST(Memory, NestedKeyDerivationsAreLimitedAsAWhole) {
    e2e_tempDir dir;
    e2e_mkdirs(dir / "in");
    writeLog(dir / "plain.MF4", 1, 10);
    const std::string plain = e2e_readFile(dir / "plain.MF4");
    std::vector<uint8_t> inner, outer;
    cContainerWriter_encryptOptions o{.serialNumber = 0xABCD, .password = "pw"};
    o.iterations = 10000000; // the limit itself
    ASSERT_TRUE(cContainerWriter_encrypt(reinterpret_cast<const uint8_t*>(plain.data()),
                                         plain.size(), &o, &inner));
    o.iterations = 1;
    ASSERT_TRUE(cContainerWriter_encrypt(inner.data(), inner.size(), &o, &outer));
    ASSERT_TRUE(e2e_writeBytes(dir / "in/00000001.MFE", outer));
    ASSERT_TRUE(e2e_writeFile(dir / "passwords.json", "{ \"default\": \"pw\" }\n"));
    std::string err;
    const int status = runLimited({"-p", "passwords.json", "in"}, dir.path, 0, &err);
    EXPECT_EQ(status, 2) << err;
    EXPECT_EQ(e2e_countLines(err, "iteration count 10000000 exceeds the 9999999 left"), 1) << err;
    EXPECT_EQ(e2e_countLines(err, "Could not decrypt file in/00000001.MFE: its key derivation"), 1)
        << err;
    EXPECT_EQ(e2e_countLines(err, "password"), 1) << err; // "1 password(s) loaded" alone
}
