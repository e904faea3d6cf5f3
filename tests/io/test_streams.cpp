// Byte streams: memory, file, read-ahead buffer, window and the dispatch helpers.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <unistd.h>

#include "io/cIO.h"
#include "io/cIO_file.h"
#include "io/cIO_memoryAlloc.h"
#include "io/cIO_readBuffer.h"
#include "io/cIO_scoped.h"

// A refused allocation must come back as null under the address sanitizer too.
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}

namespace {

// Passes calls on to a memory stream, counting them; can fail seeks or cut writes.
struct Spy {
    cIO base;
    cIO* inner;
    int calls = 0, closes = 0;
    uint64_t asked = 0, writeLimit = UINT64_MAX;
    bool failSeek = false;
};
int64_t spyRead(cIO* io, void* d, uint64_t n) {
    Spy* s = (Spy*)io;
    s->calls++, s->asked = n;
    return cIO_read(s->inner, d, n);
}
int64_t spyWrite(cIO* io, const void* src, uint64_t n) {
    Spy* s = (Spy*)io;
    return cIO_write(s->inner, src, n < s->writeLimit ? n : s->writeLimit);
}
int64_t spyTell(cIO* io) {
    return ((Spy*)io)->calls++, cIO_tell(((Spy*)io)->inner);
}
int64_t spySeek(cIO* io, int64_t off, int32_t origin) {
    Spy* s = (Spy*)io;
    s->calls++;
    return s->failSeek ? -1 : cIO_seek(s->inner, off, origin);
}
int32_t spyClose(cIO* io) {
    return ((Spy*)io)->closes++, 0;
}
const cIO_vtable kSpyTable = {spyRead, spyWrite, spyTell, spySeek, spyClose};

// A memory stream holding the bytes 0, 1, 2, ... (mod 256), positioned at 0.
cIO* counting(size_t n) {
    cIO* m = cIO_memoryAlloc_ctor();
    for (size_t i = 0; i < n; ++i) {
        uint8_t b = (uint8_t)i;
        cIO_write(m, &b, 1);
    }
    cIO_seek(m, 0, cIO_SEEK_SET);
    return m;
}

struct Streams : ::testing::Test {
    Spy spy;
    void spyOn(size_t n) { spy.base.vt = &kSpyTable, spy.inner = counting(n); }
    void TearDown() override { cIO_close(spy.inner); }
};

} // namespace

TEST(MemoryStream, GrowsByDoublingAndFillsGapsWithZeros) {
    cIO* m = cIO_memoryAlloc_ctor();
    EXPECT_EQ(cIO_write(m, "abc", 3), 3);
    EXPECT_EQ(cIO_memoryAlloc_capacity(m), 4u);
    EXPECT_EQ(cIO_seek(m, 10, cIO_SEEK_END), 13);
    EXPECT_EQ(cIO_memoryAlloc_size(m), 13u);
    EXPECT_EQ(cIO_seek(m, 15, cIO_SEEK_SET), 15); // spare room past the end
    uint8_t out[4];
    EXPECT_EQ(cIO_read(m, out, 4), 0);
    EXPECT_EQ(cIO_write(m, "Z", 1), 1);
    EXPECT_EQ(std::memcmp(cIO_memoryAlloc_data(m), "abc\0\0\0\0\0\0\0\0\0\0\0\0Z", 16), 0);
    EXPECT_EQ(cIO_close(m), 0);
}

TEST(MemoryStream, FailedSeeksAndWritesChangeNothing) {
    cIO* m = counting(5); // capacity 8
    int64_t cases[][3] = {{2, 0, 2},          {1, 1, 3},          {-1, 2, 4}, {-6, 2, -1},
                          {-10, 1, -1},       {8, 0, 8},          {9, 0, -1}, {0, 3, -1},
                          {INT64_MAX, 1, -1}, {INT64_MAX, 2, -1}, {3, 0, 3}};
    for (auto& c : cases) {
        int64_t before = cIO_tell(m);
        EXPECT_EQ(cIO_seek(m, c[0], (int32_t)c[1]), c[2]) << c[0] << "," << c[1];
        EXPECT_EQ(cIO_tell(m), c[2] < 0 ? before : c[2]);
    }
    EXPECT_EQ(cIO_write(m, "x", UINT64_MAX - 1), -1); // the size would pass 64 bits
    EXPECT_EQ(cIO_write(m, "x", (uint64_t)INT64_MAX + 1), -1);
    EXPECT_EQ(cIO_write(m, "x", (uint64_t)1 << 62), -1); // realloc refuses
    EXPECT_EQ(cIO_write(m, "x", 1), 1);
    EXPECT_EQ(cIO_memoryAlloc_size(m), 5u);
    EXPECT_EQ(std::memcmp(cIO_memoryAlloc_data(m), "\0\1\2x\4", 5), 0);
    cIO_close(m);
}

TEST_F(Streams, HelpersAndCopies) {
    spyOn(20);
    cIO* m = spy.inner;
    cIO_seek(m, 7, cIO_SEEK_SET);
    EXPECT_EQ(cIO_getSize(m), 20);
    int64_t slot = 0;
    EXPECT_TRUE(cIO_pushLocation(m, &slot));
    cIO_seek(m, 15, cIO_SEEK_SET);
    EXPECT_TRUE(cIO_popLocation(m, &slot));
    EXPECT_EQ(cIO_tell(m), 7);
    slot = -2; // a failed tell is no position to return to
    EXPECT_FALSE(cIO_popLocation(m, &slot) || cIO_pushLocation(m, nullptr));
    EXPECT_EQ(cIO_getSize(nullptr), -1);
    EXPECT_EQ(cIO_close(nullptr), 0);
    cIO* src = counting(10000);
    cIO* dst = cIO_memoryAlloc_ctor();
    cIO_cat(src, dst);
    EXPECT_EQ(cIO_memoryAlloc_size(dst), 10000u);
    EXPECT_EQ(cIO_memoryAlloc_data(dst)[9999], (uint8_t)9999);
    cIO_seek(src, 0, cIO_SEEK_SET);
    spy.writeLimit = 100; // a refused chunk ends the copy and is reported
    EXPECT_EQ(cIO_catChecked(src, &spy.base), -1);
    EXPECT_EQ(cIO_memoryAlloc_size(m), 107u);
    cIO_close(src);
    cIO_close(dst);
}

TEST(FileAndBufferStreams, ModesRefillsAndDirectionChanges) {
    std::string path = ::testing::TempDir() + "/kv_io_" + std::to_string(getpid());
    EXPECT_EQ(cIO_file_open(path.c_str(), 2), nullptr); // read-write needs the file
    EXPECT_EQ(cIO_file_open(path.c_str(), 3), nullptr);
    EXPECT_EQ(cIO_file_open(nullptr, 1), nullptr);
    cIO* w = cIO_file_open(path.c_str(), 1);
    char b[16] = {};
    EXPECT_EQ(cIO_read(w, b, 1), cIO_UNSUPPORTED);
    EXPECT_EQ(cIO_write(w, "abcdefghij", 10), 10);
    EXPECT_EQ(cIO_seek(w, 0, 7), -1);
    cIO_close(w);

    // A buffer of 8 over the 10-byte file: two refills, then the end.
    cIO* r = cIO_bufferAlloc_ctor(cIO_file_open(path.c_str(), 0), true, 8);
    EXPECT_EQ(cIO_read(r, b, 10), 10);
    EXPECT_STREQ(b, "abcdefghij");
    EXPECT_EQ(cIO_read(r, b, 4), 0);
    EXPECT_EQ(cIO_tell(r), 10);
    EXPECT_EQ(cIO_seek(r, -4, cIO_SEEK_END), 6);
    EXPECT_EQ(cIO_read(r, b, 1), 1);
    EXPECT_EQ(b[0], 'g');
    EXPECT_EQ(cIO_write(r, "x", 1), cIO_UNSUPPORTED);
    EXPECT_EQ(cIO_close(r), 0); // and the file it owns

    cIO* rw = cIO_file_open(path.c_str(), 2);
    EXPECT_EQ(cIO_write(rw, "A", 1), 1);
    EXPECT_EQ(cIO_read(rw, b, 2), 2); // straight after a write
    EXPECT_EQ(cIO_write(rw, "B", 1), 1);
    EXPECT_EQ(cIO_seek(rw, 0, cIO_SEEK_SET), 0);
    EXPECT_EQ(cIO_read(rw, b, 10), 10);
    EXPECT_EQ(std::memcmp(b, "AbcBefghij", 10), 0);
    EXPECT_EQ(cIO_getSize(rw), 10);
    cIO_close(rw);
    std::remove(path.c_str());
}

TEST_F(Streams, BufferServesItsRangeWithoutInnerCalls) {
    spyOn(100);
    cIO* b = cIO_bufferAlloc_ctor(&spy.base, false, 13); // capacity 16
    uint8_t v[4];
    ASSERT_EQ(cIO_read(b, v, 4), 4);
    EXPECT_EQ(spy.asked, 16u);
    int calls = spy.calls;
    EXPECT_EQ(cIO_seek(b, 16, cIO_SEEK_SET), 16); // the end of the range is inside it
    EXPECT_EQ(cIO_seek(b, -10, cIO_SEEK_CUR), 6);
    EXPECT_EQ(cIO_read(b, v, 4), 4);
    EXPECT_EQ(v[0], 6);
    EXPECT_EQ(cIO_tell(b), 10);
    EXPECT_EQ(spy.calls, calls);
    EXPECT_EQ(cIO_seek(b, 50, cIO_SEEK_SET), 50); // one refill: one seek, one read
    EXPECT_EQ(spy.calls, calls + 2);
    cIO_close(b);
    EXPECT_EQ(spy.closes, 0); // not owned

    cIO* z = cIO_bufferAlloc_ctor(&spy.base, false, 0);
    EXPECT_EQ(cIO_read(z, v, 2), 0);
    cIO_close(z);
    uint8_t own[3];
    cIO* c = cIO_buffer_ctor(&spy.base, false, own, sizeof own);
    EXPECT_EQ(cIO_read(c, v, 4), 4);
    EXPECT_EQ(spy.asked, 3u);
    cIO_close(c);
}

TEST_F(Streams, BufferSeekPastTheDataKeepsThePosition) {
    spyOn(30);
    cIO* b = cIO_bufferAlloc_ctor(&spy.base, true, 8);
    uint8_t v[3];
    cIO_read(b, v, 3);
    EXPECT_EQ(cIO_seek(b, 40, cIO_SEEK_SET), 3);
    // The size is right whatever part of the data is buffered, and the end itself is a
    // place to stand on.
    EXPECT_EQ(cIO_getSize(b), 30);
    EXPECT_EQ(cIO_tell(b), 3);
    EXPECT_EQ(cIO_seek(b, 30, cIO_SEEK_SET), 30);
    EXPECT_EQ(cIO_read(b, v, 3), 0);
    EXPECT_EQ(cIO_seek(b, 3, cIO_SEEK_SET), 3);
    int64_t slot = 40;
    EXPECT_FALSE(cIO_popLocation(b, &slot));
    EXPECT_EQ(cIO_read(b, v, 3), 3);
    EXPECT_EQ(v[0], 3);
    EXPECT_EQ(cIO_seek(b, -1, cIO_SEEK_SET), -1);
    EXPECT_EQ(cIO_seek(b, INT64_MAX, cIO_SEEK_CUR), -1);
    spy.failSeek = true; // a refill that cannot land must not read from elsewhere
    EXPECT_EQ(cIO_seek(b, 0, cIO_SEEK_SET), 6);
    EXPECT_EQ(cIO_read(b, v, 3), 0);
    spy.failSeek = false;
    EXPECT_EQ(cIO_read(b, v, 3), 3);
    EXPECT_EQ(v[0], 6);
    cIO_close(b);
    EXPECT_EQ(spy.closes, 1); // owned
}

TEST(WindowStream, ClampsIntoItsRange) {
    cIO* m = counting(104);
    cIO* w = cIO_scoped_ctor(m, 28, 100);
    EXPECT_EQ(cIO_tell(w), 0);
    int64_t seeks[][3] = {{0, 2, 72},         {500, 0, 72},      {-5, 0, 0}, {0, 3, -1},
                          {INT64_MAX, 1, 72}, {INT64_MIN, 1, 0}, {70, 0, 70}};
    for (auto& s : seeks)
        EXPECT_EQ(cIO_seek(w, s[0], (int32_t)s[1]), s[2]) << s[0];
    uint8_t v[200];
    EXPECT_EQ(cIO_read(w, v, 200), 2);
    EXPECT_EQ(v[0], 98);
    cIO_seek(w, 71, cIO_SEEK_SET);
    EXPECT_EQ(cIO_write(w, "xyz", 3), 1); // cut at the end like a read
    cIO_seek(m, 101, cIO_SEEK_SET);
    EXPECT_EQ(cIO_tell(w), -1);
    cIO_seek(m, 2, cIO_SEEK_SET); // before the window: nothing leaks out
    EXPECT_EQ(cIO_read(w, v, 4), 0);
    EXPECT_EQ(cIO_close(w), 0);
    EXPECT_EQ(cIO_scoped_ctor(nullptr, 0, 0), nullptr);
    for (int64_t end : {0, -1}) { // no end: runs to the inner size
        cIO* open = cIO_scoped_ctor(m, 28, end);
        EXPECT_EQ(cIO_seek(open, 0, cIO_SEEK_END), 76);
        cIO_close(open);
    }
    // A window starting past a buffer stream's data: the inner seek falls short.
    cIO* b = cIO_bufferAlloc_ctor(m, false, 16);
    cIO* far = cIO_scoped_ctor(b, 180, 0);
    EXPECT_EQ(cIO_read(far, v, 4), 0);
    cIO_close(far);
    cIO_close(b);
    cIO_close(m);
}
