#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include <unistd.h>

#include "io/cGenericFile.h"
#include "io/cGenericFileCompressed.h"
#include "io/cGenericFileEncrypted.h"
#include "io/cIO_file.h"
#include "io/cIO_input.h"
#include "io/cIO_mapped.h"
#include "io_test_support.h"
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

// All unwrapping of one input draws on one budget: an encrypted file inside a compressed one
// may use what the outer one left, not a limit of its own.
TEST(InputFile, NestedContainersShareOneBudget) {
    const Bytes plain = logLike(200000);
    Bytes enc, file;
    cContainerWriter_encryptOptions eo{.password = "pw", .iterations = 1};
    ASSERT_TRUE(cContainerWriter_encrypt(plain.data(), plain.size(), &eo, &enc));
    cContainerWriter_compressOptions co;
    ASSERT_TRUE(cContainerWriter_compress(enc.data(), enc.size(), &co, &file));
    auto unwrapBoth = [&](uint64_t limit) {
        cGenericFile_budget budget{limit, true};
        cGenericFile h{};
        cIO* outer = memoryOf(file);
        EXPECT_TRUE(cGenericFile_readHeader(outer, &h));
        cIO* middle = cGenericFile_compressed_open(outer, &h, &budget);
        EXPECT_EQ(cIO_close(outer), 0);
        if (!middle) return false;
        EXPECT_TRUE(cGenericFile_readHeader(middle, &h));
        cIO* inner = cGenericFile_encrypted_open(middle, &h, "pw", 2, &budget);
        EXPECT_EQ(cIO_close(middle), 0);
        if (!inner) return false;
        EXPECT_EQ(readAll(inner), plain);
        EXPECT_EQ(cIO_close(inner), 0);
        return true;
    };
    const uint64_t both = enc.size() + plain.size();
    EXPECT_TRUE(unwrapBoth(both));
    std::string log = logOf([&] { EXPECT_FALSE(unwrapBoth(both - 1)); });
    EXPECT_NE(log.find("Unwrapped data exceeds the limit"), std::string::npos) << log;

    // Compressed content that is no log file stops after its first bytes, long before a
    // bomb of zeros has spent the budget.
    const Bytes zeros(8 << 20, 0);
    Bytes bomb;
    ASSERT_TRUE(cContainerWriter_compress(zeros.data(), zeros.size(), &co, &bomb));
    cGenericFile_budget budget{uint64_t(1) << 40, true};
    cGenericFile h{};
    cIO* in = memoryOf(bomb);
    ASSERT_TRUE(cGenericFile_readHeader(in, &h));
    log = logOf([&] { EXPECT_EQ(cGenericFile_compressed_open(in, &h, &budget), nullptr); });
    EXPECT_EQ(cIO_close(in), 0);
    EXPECT_NE(log.find("not an MDF 4 file or log container"), std::string::npos) << log;
    EXPECT_GT(budget.left, (uint64_t(1) << 40) - 1024);
}
