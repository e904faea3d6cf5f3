#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <string>

#include "io/cIO_readBuffer.h"
#include "io_test_support.h"

// A refused allocation must come back as null under the address sanitizer too.
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}

namespace {

// Passes calls on to a memory stream of the bytes 0, 1, 2, ... it owns; can fail seeks.
struct Spy {
    cIO base{&vt};
    cIO* inner;
    int closes = 0;
    bool failSeek = false;
    uint64_t bytesRead = 0; // what the inner stream delivered
    int reads = 0;
    explicit Spy(size_t n) {
        Bytes bytes(n);
        std::iota(bytes.begin(), bytes.end(), uint8_t(0));
        inner = memoryOf(bytes);
    }
    ~Spy() { EXPECT_EQ(cIO_close(inner), 0); }
    static Spy* of(cIO* io) { return reinterpret_cast<Spy*>(io); }
    static int64_t read(cIO* io, void* d, uint64_t n) {
        const int64_t got = cIO_read(of(io)->inner, d, n);
        of(io)->reads++;
        if (got > 0) of(io)->bytesRead += uint64_t(got);
        return got;
    }
    static int64_t tell(cIO* io) { return cIO_tell(of(io)->inner); }
    static int64_t seek(cIO* io, int64_t off, int32_t origin) {
        return of(io)->failSeek ? -1 : cIO_seek(of(io)->inner, off, origin);
    }
    static int32_t close(cIO* io) { return of(io)->closes++, 0; }
    static constexpr cIO_vtable vt = {read, nullptr, tell, seek, close};
};

} // namespace

TEST(BufferStream, SeekPastTheDataKeepsThePosition) {
    Spy spy(30);
    cIO* b = cIO_bufferAlloc_ctor(&spy.base, true, 8);
    // The size is right whatever is buffered, and the end itself is a place to stand on.
    run(b, "r3=3 s40=3 z=30 t=3 s30=30 r3=0 s3=3");
    run(b, "r3=3@3 s-1=-1 c9223372036854775807=-1");
    spy.failSeek = true; // a refill that cannot land must not read from elsewhere
    run(b, "s0=6 r3=0");
    spy.failSeek = false;
    run(b, "r3=3@6");
    EXPECT_EQ(cIO_close(b), 0);
    EXPECT_EQ(spy.closes, 1); // owned
}

namespace {

// Whether the n bytes read at `at` are those the spy's stream holds there.
bool readsBack(cIO* b, uint64_t at, uint64_t n) {
    Bytes got(n);
    if (cIO_seek(b, int64_t(at), cIO_SEEK_SET) != int64_t(at)) return false;
    if (cIO_readFully(b, got.data(), n) != int64_t(n)) return false;
    for (uint64_t i = 0; i < n; ++i)
        if (got[i] != uint8_t(at + i)) return false;
    return true;
}

} // namespace

// Readers taking turns between far places (the record readers of several data groups) cost
// the inner stream about what they read, not the buffer's capacity per turn; reading on
// where the buffer ended grows the refills back to the capacity; a buffer as large as the
// stream holds all of it after its first read.
TEST(BufferStream, RefillsCostWhatIsReadWhateverTheCapacity) {
    constexpr uint64_t kMiB = uint64_t{1} << 20, kWindow = 65536;
    Spy spy(8 * kMiB);
    cIO* b = cIO_bufferAlloc_ctor(&spy.base, false, 4 * kMiB);
    ASSERT_TRUE(readsBack(b, 0, 100));
    EXPECT_EQ(spy.bytesRead, 4 * kMiB); // the first refill fills the buffer
    spy.bytesRead = 0;
    uint64_t delivered = 0;
    for (uint64_t turn = 0; turn < 32; ++turn) {
        for (uint64_t place : {1 * kMiB, 3 * kMiB, 5 * kMiB, 7 * kMiB - 40 * kWindow}) {
            ASSERT_TRUE(readsBack(b, place + turn * kWindow + 3, kWindow)) << turn;
            delivered += kWindow;
        }
    }
    EXPECT_LE(spy.bytesRead, delivered + 32 * 4 * 8192);
    // On from one place: a few refills of growing size, then whole buffers.
    spy.bytesRead = 0;
    spy.reads = 0;
    ASSERT_TRUE(readsBack(b, 1, 8 * kMiB - 1));
    EXPECT_LE(spy.bytesRead, 8 * kMiB + 8192);
    EXPECT_LE(spy.reads, 16);
    EXPECT_EQ(cIO_close(b), 0);

    Spy whole(kMiB);
    b = cIO_bufferAlloc_ctor(&whole.base, false, kMiB);
    ASSERT_TRUE(readsBack(b, 0, 10));
    for (uint64_t at : {kMiB - 10, uint64_t{5}, kMiB / 2, uint64_t{0}})
        ASSERT_TRUE(readsBack(b, at, 10));
    EXPECT_EQ(whole.reads, 1);
    EXPECT_EQ(cIO_close(b), 0);
}
