// Byte streams: memory, file, read-ahead buffer, window and the dispatch helpers.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <string>
#include <unistd.h>

#include "io/cIO.h"
#include "io/cIO_file.h"
#include "io/cIO_readBuffer.h"
#include "io/cIO_scoped.h"
#include "io_test_support.h"

// A refused allocation must come back as null under the address sanitizer too.
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}

namespace {

// A memory stream holding the bytes 0, 1, 2, ... (mod 256), positioned at 0.
cIO* counting(size_t n) {
    Bytes bytes(n);
    std::iota(bytes.begin(), bytes.end(), uint8_t(0));
    return memoryOf(bytes);
}

// Passes calls on to a counting memory stream it owns, counting them; can fail seeks or cut
// writes.
struct Spy {
    cIO base{&vt};
    cIO* inner;
    int calls = 0, closes = 0;
    uint64_t asked = 0, writeLimit = UINT64_MAX;
    bool failSeek = false;
    explicit Spy(size_t n) : inner(counting(n)) {}
    ~Spy() { cIO_close(inner); }
    static Spy* of(cIO* io) { return reinterpret_cast<Spy*>(io); }
    static int64_t read(cIO* io, void* d, uint64_t n) {
        return of(io)->calls++, of(io)->asked = n, cIO_read(of(io)->inner, d, n);
    }
    static int64_t write(cIO* io, const void* src, uint64_t n) {
        return cIO_write(of(io)->inner, src, std::min(n, of(io)->writeLimit));
    }
    static int64_t tell(cIO* io) { return of(io)->calls++, cIO_tell(of(io)->inner); }
    static int64_t seek(cIO* io, int64_t off, int32_t origin) {
        return of(io)->calls++, of(io)->failSeek ? -1 : cIO_seek(of(io)->inner, off, origin);
    }
    static int32_t close(cIO* io) { return of(io)->closes++, 0; }
    static constexpr cIO_vtable vt = {read, write, tell, seek, close};
};

} // namespace

TEST(MemoryStream, GrowsByDoublingAndFillsGapsWithZeros) {
    cIO* m = cIO_memoryAlloc_ctor();
    run(m, "w=3:abc");
    EXPECT_EQ(cIO_memoryAlloc_capacity(m), 4u);
    run(m, "e10=13 z=13 s15=15 r4=0 w=1:Z"); // spare room past the end
    EXPECT_EQ(std::memcmp(cIO_memoryAlloc_data(m), "abc\0\0\0\0\0\0\0\0\0\0\0\0Z", 16), 0);
    EXPECT_EQ(cIO_close(m), 0);
}

TEST(MemoryStream, FailedSeeksAndWritesChangeNothing) {
    cIO* m = counting(5); // capacity 8
    run(m, "s2=2 c1=3 e-1=4 e-6=-1 t=4 c-10=-1 t=4 s8=8 s9=-1 t=8 x0=-1 t=8 "
           "c9223372036854775807=-1 t=8 e9223372036854775807=-1 t=8 s3=3");
    EXPECT_EQ(cIO_write(m, "x", UINT64_MAX - 1), -1); // the size would pass 64 bits
    EXPECT_EQ(cIO_write(m, "x", (uint64_t)INT64_MAX + 1), -1);
    EXPECT_EQ(cIO_write(m, "x", (uint64_t)1 << 62), -1); // realloc refuses
    run(m, "w=1:x t=4");
    EXPECT_EQ(cIO_memoryAlloc_size(m), 5u);
    EXPECT_EQ(std::memcmp(cIO_memoryAlloc_data(m), "\0\1\2x\4", 5), 0);
    cIO_close(m);
}

TEST(Streams, HelpersAndCopies) {
    Spy spy(20);
    cIO* m = spy.inner;
    run(m, "s7=7 z=20 t=7");
    int64_t slot = 0;
    EXPECT_TRUE(cIO_pushLocation(m, &slot) && cIO_seek(m, 15, cIO_SEEK_SET) == 15 &&
                cIO_popLocation(m, &slot) && cIO_tell(m) == 7);
    slot = -2; // a failed tell is no position to return to
    EXPECT_FALSE(cIO_popLocation(m, &slot) || cIO_pushLocation(m, nullptr));
    EXPECT_EQ(std::make_pair(cIO_getSize(nullptr), cIO_close(nullptr)), std::make_pair(-1L, 0));
    cIO* src = counting(10000);
    cIO* dst = cIO_memoryAlloc_ctor();
    cIO_cat(src, dst);
    run(dst, "z=10000 e-1=9999 r2=1@15");
    cIO_seek(src, 0, cIO_SEEK_SET);
    spy.writeLimit = 100; // a refused chunk ends the copy and is reported
    EXPECT_EQ(cIO_catChecked(src, &spy.base), -1);
    EXPECT_EQ(cIO_memoryAlloc_size(m), 107u);
    cIO_close(src);
    cIO_close(dst);
}

TEST(FileAndBufferStreams, ModesRefillsAndDirectionChanges) {
    std::string path = ::testing::TempDir() + "/kv_io_" + std::to_string(getpid());
    const char* p = path.c_str(); // read-write needs the file
    EXPECT_FALSE(cIO_file_open(p, 2) || cIO_file_open(p, 3) || cIO_file_open(nullptr, 1));
    cIO* w = cIO_file_open(p, 1);
    run(w, "r1=-2 w=10:abcdefghij x=-1");
    cIO_close(w);
    // A buffer of 8 over the 10-byte file: two refills, then the end.
    cIO* r = cIO_bufferAlloc_ctor(cIO_file_open(p, 0), true, 8);
    run(r, "r10=10:abcdefghij r4=0 t=10 e-4=6 r1=1:g w=-2:x");
    EXPECT_EQ(cIO_close(r), 0); // and the file it owns
    // A read straight after a write, and the other way round.
    cIO* rw = cIO_file_open(p, 2);
    run(rw, "w=1:A r2=2:bc w=1:B s0=0 r10=10:AbcBefghij z=10");
    cIO_close(rw);
    std::remove(p);
}

TEST(BufferStream, ServesItsRangeWithoutInnerCalls) {
    Spy spy(100);
    cIO* b = cIO_bufferAlloc_ctor(&spy.base, false, 13); // capacity 16
    run(b, "r4=4");
    EXPECT_EQ(spy.asked, 16u);
    const int calls = spy.calls; // the end of the range is inside it
    run(b, "s16=16 c-10=6 r4=4@6 t=10");
    EXPECT_EQ(spy.calls, calls);
    run(b, "s50=50"); // one refill: one seek, one read
    EXPECT_EQ(spy.calls, calls + 2);
    cIO_close(b);
    EXPECT_EQ(spy.closes, 0); // not owned
    cIO* z = cIO_bufferAlloc_ctor(&spy.base, false, 0);
    run(z, "r2=0");
    cIO_close(z);
    uint8_t own[3];
    cIO* c = cIO_buffer_ctor(&spy.base, false, own, sizeof own);
    run(c, "r4=4");
    EXPECT_EQ(spy.asked, 3u);
    cIO_close(c);
}

TEST(BufferStream, SeekPastTheDataKeepsThePosition) {
    Spy spy(30);
    cIO* b = cIO_bufferAlloc_ctor(&spy.base, true, 8);
    // The size is right whatever part of the data is buffered, and the end itself is a
    // place to stand on.
    run(b, "r3=3 s40=3 z=30 t=3 s30=30 r3=0 s3=3");
    int64_t slot = 40;
    EXPECT_FALSE(cIO_popLocation(b, &slot));
    run(b, "r3=3@3 s-1=-1 c9223372036854775807=-1");
    spy.failSeek = true; // a refill that cannot land must not read from elsewhere
    run(b, "s0=6 r3=0");
    spy.failSeek = false;
    run(b, "r3=3@6");
    cIO_close(b);
    EXPECT_EQ(spy.closes, 1); // owned
}

TEST(WindowStream, ClampsIntoItsRange) {
    cIO* m = counting(104);
    cIO* w = cIO_scoped_ctor(m, 28, 100); // writes are cut at the end like reads
    run(w, "t=0 e0=72 s500=72 s-5=0 x0=-1 c9223372036854775807=72 c-9223372036854775808=0 "
           "s70=70 r200=2@98 s71=71 w=1:xyz");
    cIO_seek(m, 101, cIO_SEEK_SET);
    run(w, "t=-1");
    cIO_seek(m, 2, cIO_SEEK_SET); // before the window: nothing leaks out
    run(w, "r4=0");
    EXPECT_EQ(cIO_close(w), 0);
    EXPECT_EQ(cIO_scoped_ctor(nullptr, 0, 0), nullptr);
    for (int64_t end : {0, -1}) { // no end: runs to the inner size
        cIO* open = cIO_scoped_ctor(m, 28, end);
        run(open, "e0=76");
        cIO_close(open);
    }
    // A window starting past a buffer stream's data: the inner seek falls short.
    cIO* b = cIO_bufferAlloc_ctor(m, false, 16);
    cIO* far = cIO_scoped_ctor(b, 180, 0);
    run(far, "r4=0");
    cIO_close(far);
    cIO_close(b);
    cIO_close(m);
}
