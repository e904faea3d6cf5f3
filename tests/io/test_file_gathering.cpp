// A write-only file stream gathers small writes in its own buffer: positions, seeks back
// and the contents must be those of plain writes, and a failure to hand the bytes on must
// still be reported (by the write that meets it, or by close).
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "io/cIO_file.h"

namespace {

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(FileGathering, PositionsSeeksAndContents) {
    const std::string path = ::testing::TempDir() + "kelvane_gathering.bin";
    cIO* io = cIO_file_open(path.c_str(), 1);
    ASSERT_NE(io, nullptr);
    std::string expected;
    const std::string line = "      1         0.000 DT 1     0123 Rx 8    01 02 03\n";
    for (int i = 0; i < 30000; ++i) { // past the buffer size, so some lines cross a flush
        ASSERT_EQ(cIO_write(io, line.data(), line.size()), int64_t(line.size()));
        expected += line;
    }
    const std::string big(3 << 20, 'b'); // larger than the buffer: handed on directly
    ASSERT_EQ(cIO_write(io, big.data(), big.size()), int64_t(big.size()));
    expected += big;
    EXPECT_EQ(cIO_tell(io), int64_t(expected.size()));
    ASSERT_EQ(cIO_seek(io, 7, cIO_SEEK_SET), 7);
    ASSERT_EQ(cIO_write(io, "XY", 2), 2);
    expected.replace(7, 2, "XY");
    EXPECT_EQ(cIO_tell(io), 9);
    EXPECT_EQ(cIO_close(io), 0);
    EXPECT_EQ(readAll(path), expected);
    std::remove(path.c_str());
}

TEST(FileGathering, FailedHandOverIsReported) {
    // Small writes are taken into the buffer; the device refuses them at close.
    cIO* io = cIO_file_open("/dev/full", 1);
    if (!io) GTEST_SKIP() << "no /dev/full";
    EXPECT_EQ(cIO_write(io, "abc", 3), 3);
    EXPECT_NE(cIO_close(io), 0);
    // A write that needs the full buffer handed on first accepts nothing.
    io = cIO_file_open("/dev/full", 1);
    const std::string chunk(600 << 10, 'x');
    EXPECT_EQ(cIO_write(io, chunk.data(), chunk.size()), int64_t(chunk.size()));
    EXPECT_EQ(cIO_write(io, chunk.data(), chunk.size()), 0);
    cIO_close(io);
}

} // namespace
