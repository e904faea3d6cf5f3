#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "io/cGenericFile.h"
#include "io/cGenericFileCompressed.h"
#include "io/cGenericFileEncrypted.h"
#include "io/cIO_file.h"
#include "io/cIO_input.h"
#include "io/cIO_mapped.h"
#include "io/cMemoryBudget.h"
#include "io_test_support.h"
#include "tests/io/container_bomb.h"
#include "tools/cContainerWriter.h"

namespace {

struct TempFile {
    inline static int made = 0;
    std::string path = ::testing::TempDir() + "/kv_input_" + std::to_string(getpid()) + "_" +
                       std::to_string(++made);
    explicit TempFile(const Bytes& b) {
        std::ofstream(path).write(reinterpret_cast<const char*>(b.data()),
                                  std::streamsize(b.size()));
    }
    ~TempFile() { std::remove(path.c_str()); }
};

Bytes logLike(size_t n, const char* id = "MDF     ") {
    Bytes b = sampleData(n, 5);
    std::copy(id, id + 8, b.begin());
    return b;
}

Bytes readAll(cIO* io) {
    Bytes out(size_t(cIO_getSize(io)));
    EXPECT_EQ(cIO_seek(io, 0, cIO_SEEK_SET), 0);
    EXPECT_EQ(cIO_read(io, out.data(), out.size()), int64_t(out.size()));
    return out;
}

} // namespace

TEST(InputFile, OnlyLogFilesAndContainersAreTakenWhateverTheBuffer) {
    Bytes packed, plain = logLike(1000);
    cContainerWriter_compressOptions o;
    ASSERT_TRUE(cContainerWriter_compress(plain.data(), plain.size(), &o, &packed));
    const Bytes taken[] = {logLike(100000), logLike(8), logLike(5000, "UnFinMF "), packed};
    const Bytes refused[] = {Bytes{}, Bytes{'M', 'D', 'F'}, Bytes(7000, 'x'),
                             logLike(64, "MDF4    ")};
    for (int64_t buffer : {-1L, 0L, 1L, 4096L, 1L << 20}) {
        for (const Bytes& bytes : taken) {
            TempFile f(bytes);
            cIO* in = cIO_input_open(cIO_file_open(f.path.c_str(), cIO_FILE_READ), buffer);
            ASSERT_NE(in, nullptr) << buffer;
            EXPECT_EQ(readAll(in), bytes) << buffer;
            // A mapping hands out any range, a buffer what it holds; nothing past the end.
            EXPECT_EQ(cIO_fetch(in, 1, bytes.size()), nullptr);
            if (const uint8_t* whole = cIO_fetch(in, 0, bytes.size()); buffer < 0) {
                EXPECT_EQ(whole ? Bytes(whole, whole + bytes.size()) : Bytes{}, bytes);
            }
            // Only a mapping promises that fetched bytes stay put; a buffer moves its window.
            EXPECT_EQ(cIO_fetchStays(in), buffer < 0 && cIO_fetch(in, 0, 1) != nullptr) << buffer;
            EXPECT_EQ(cIO_close(in), 0);
        }
        for (const Bytes& bytes : refused) {
            TempFile f(bytes);
            const std::string log = logOf([&] {
                EXPECT_EQ(cIO_input_open(cIO_file_open(f.path.c_str(), cIO_FILE_READ), buffer),
                          nullptr);
            });
            EXPECT_NE(log.find("not an MDF 4 file or log container"), std::string::npos) << log;
        }
    }
}

TEST(InputFile, MappedFileThatShrinksReadsZerosAndFailsAtClose) {
    const Bytes bytes = logLike(1 << 20);
    TempFile f(bytes);
    cIO* in = cIO_input_open(cIO_file_open(f.path.c_str(), cIO_FILE_READ), -1);
    ASSERT_NE(in, nullptr);
    const uint8_t* whole = cIO_fetch(in, 0, bytes.size());
    ASSERT_NE(whole, nullptr); // mapped

    ASSERT_EQ(truncate(f.path.c_str(), 100000), 0);
    // Reads past the new end, by stream or by the pointer handed out, see zeros, not a crash.
    Bytes tail(300000);
    ASSERT_EQ(cIO_seek(in, 700000, cIO_SEEK_SET), 700000);
    EXPECT_EQ(cIO_read(in, tail.data(), tail.size()), int64_t(tail.size()));
    EXPECT_EQ(tail, Bytes(tail.size(), 0));
    EXPECT_EQ(whole[bytes.size() - 1], 0);
    EXPECT_EQ(whole[99999], bytes[99999]); // what is left is still the file

    int32_t rc = 0;
    const std::string log = logOf([&] { rc = cIO_close(in); });
    EXPECT_EQ(rc, cIO_mapped_CUT);
    EXPECT_NE(log.find("shrank from 1048576 to 100000 bytes"), std::string::npos) << log;
    TempFile g(bytes); // the next mapping is whole again and closes cleanly
    cIO* again = cIO_input_open(cIO_file_open(g.path.c_str(), cIO_FILE_READ), -1);
    EXPECT_EQ(readAll(again), bytes);
    EXPECT_EQ(cIO_close(again), 0);
}

// Any number of inputs are mapped at once (there is no fixed table of guarded mappings), and
// each keeps its own guard: a cut in one of them is reported by that one alone.
TEST(InputFile, ManyInputsAreMappedAtOnce) {
    constexpr int kInputs = 70;
    std::vector<std::unique_ptr<TempFile>> files;
    std::vector<cIO*> inputs;
    for (int i = 0; i < kInputs; ++i) {
        files.push_back(std::make_unique<TempFile>(logLike(64 * 1024 + size_t(i))));
        inputs.push_back(
            cIO_input_open(cIO_file_open(files.back()->path.c_str(), cIO_FILE_READ), -1));
        ASSERT_NE(inputs.back(), nullptr);
        EXPECT_NE(cIO_fetch(inputs.back(), 0, 64 * 1024 + size_t(i)), nullptr) << i;
        EXPECT_TRUE(cIO_fetchStays(inputs.back())) << i; // a mapping, not a buffer
    }
    ASSERT_EQ(truncate(files[40]->path.c_str(), 4096), 0);
    EXPECT_EQ(cIO_fetch(inputs[40], 0, 64 * 1024 + 40)[60000], 0); // repaired, not a crash
    for (int i = 0; i < kInputs; ++i) {
        int32_t rc = 0;
        logOf([&] { rc = cIO_close(inputs[size_t(i)]); });
        EXPECT_EQ(rc, i == 40 ? cIO_mapped_CUT : 0) << i;
    }
}

// Everything unwrapped is held in the memory budget until its stream closes: an encrypted
// file inside a compressed one needs room for both while the inner one is decrypted.
TEST(InputFile, NestedContainersShareTheMemoryBudget) {
    const Bytes plain = logLike(200000);
    Bytes enc, file;
    cContainerWriter_encryptOptions eo{.password = "pw", .iterations = 1};
    ASSERT_TRUE(cContainerWriter_encrypt(plain.data(), plain.size(), &eo, &enc));
    cContainerWriter_compressOptions co;
    ASSERT_TRUE(cContainerWriter_compress(enc.data(), enc.size(), &co, &file));
    auto unwrapBoth = [&](uint64_t limit) {
        cMemoryBudget* memory = cMemoryBudget_ctor(limit);
        cGenericFile_budget budget{.memory = memory, .logContentOnly = true};
        cGenericFile h{};
        cIO* outer = memoryOf(file);
        EXPECT_TRUE(cGenericFile_readHeader(outer, &h));
        cIO* middle = cGenericFile_compressed_open(outer, &h, &budget);
        (void)cIO_close(outer);
        cIO* inner = nullptr;
        if (middle) {
            EXPECT_TRUE(cGenericFile_readHeader(middle, &h));
            inner = cGenericFile_encrypted_open(middle, &h, "pw", 2, &budget);
            (void)cIO_close(middle);
        }
        if (inner) {
            EXPECT_EQ(readAll(inner), plain);
        }
        (void)cIO_close(inner);
        EXPECT_EQ(cMemoryBudget_held(memory), 0u); // all given back
        cMemoryBudget_dtor(memory);
        return inner != nullptr;
    };
    const uint64_t both = enc.size() + plain.size();
    EXPECT_TRUE(unwrapBoth(both + (256 << 10)));
    std::string log = logOf([&] { EXPECT_FALSE(unwrapBoth(both - 1)); });
    EXPECT_NE(log.find("would pass the memory budget"), std::string::npos) << log;

    // Compressed content that is no log file stops after its first bytes, long before a
    // bomb of zeros has spent the budget.
    const Bytes bomb = containerBomb(std::string(8, '\0'), uint64_t(64) << 20);
    cMemoryBudget* memory = cMemoryBudget_ctor(uint64_t(1) << 20);
    cGenericFile_budget budget{.memory = memory, .logContentOnly = true};
    cGenericFile h{};
    cIO* in = memoryOf(bomb);
    ASSERT_TRUE(cGenericFile_readHeader(in, &h));
    log = logOf([&] { EXPECT_EQ(cGenericFile_compressed_open(in, &h, &budget), nullptr); });
    EXPECT_EQ(cIO_close(in), 0);
    EXPECT_NE(log.find("not an MDF 4 file or log container"), std::string::npos) << log;
    EXPECT_EQ(log.find("memory budget"), std::string::npos) << log;
    EXPECT_EQ(cMemoryBudget_held(memory), 0u);
    cMemoryBudget_dtor(memory);
}
