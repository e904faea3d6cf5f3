// Byte streams: memory, file, read-ahead buffer, window and the dispatch helpers.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

#include "io/cIO.h"
#include "io/cIO_file.h"
#include "io/cIO_memoryAlloc.h"
#include "io/cIO_readBuffer.h"
#include "io/cIO_scoped.h"

namespace {

// Passes calls on to a memory stream, counting them; can fail seeks or cut writes.
struct Spy {
    cIO base;
    cIO* inner;
    int reads = 0, seeks = 0, closes = 0;
    uint64_t asked = 0;
    bool failSeek = false;
    uint64_t writeLimit = UINT64_MAX;
};
int64_t spyRead(cIO* io, void* d, uint64_t n) {
    Spy* s = (Spy*)io;
    s->reads++, s->asked = n;
    return cIO_read(s->inner, d, n);
}
int64_t spyWrite(cIO* io, const void* src, uint64_t n) {
    Spy* s = (Spy*)io;
    return cIO_write(s->inner, src, n < s->writeLimit ? n : s->writeLimit);
}
int64_t spyTell(cIO* io) {
    return cIO_tell(((Spy*)io)->inner);
}
int64_t spySeek(cIO* io, int64_t off, int32_t origin) {
    Spy* s = (Spy*)io;
    s->seeks++;
    return s->failSeek ? -1 : cIO_seek(s->inner, off, origin);
}
int32_t spyClose(cIO* io) {
    return ((Spy*)io)->closes++, 0;
}
const cIO_vtable kSpyTable = {spyRead, spyWrite, spyTell, spySeek, spyClose};

// A memory stream holding the bytes 0, 1, 2, ... (mod 256), positioned at 0.
cIO* counting(size_t n) {
    cIO* m = cIO_memoryAlloc_ctor();
    for (size_t i = 0; i < n; ++i)
        cIO_write(m, &(const uint8_t&)(uint8_t)i, 1);
    cIO_seek(m, 0, cIO_SEEK_SET);
    return m;
}

struct Streams : ::testing::Test {
    Spy spy;
    void spyOn(size_t n) {
        spy.base.vt = &kSpyTable;
        spy.inner = counting(n);
    }
    void TearDown() override { cIO_close(spy.inner); }
};

std::string tempFile(const char* name, const char* text) {
    std::string p = ::testing::TempDir() + "/kv_io_" + std::to_string(getpid()) + name;
    cIO* w = cIO_file_open(p.c_str(), 1);
    cIO_write(w, text, strlen(text));
    cIO_close(w);
    return p;
}

} // namespace

TEST(MemoryStream, GrowsByDoublingAndSeekFromEndAddsZeros) {
    cIO* m = cIO_memoryAlloc_ctor();
    EXPECT_EQ(cIO_memoryAlloc_data(m), nullptr);
    EXPECT_EQ(cIO_write(m, "abc", 3), 3);
    EXPECT_EQ(cIO_memoryAlloc_capacity(m), 4u);
    EXPECT_EQ(cIO_seek(m, 10, cIO_SEEK_END), 13);
    ASSERT_EQ(cIO_memoryAlloc_size(m), 13u);
    EXPECT_EQ(std::memcmp(cIO_memoryAlloc_data(m), "abc\0\0\0\0\0\0\0\0\0\0", 13), 0);
    // Seek into the spare room past the end, then write: the gap reads as zeros.
    EXPECT_EQ(cIO_seek(m, 15, cIO_SEEK_SET), 15);
    uint8_t out[4] = {9};
    EXPECT_EQ(cIO_read(m, out, 4), 0);
    EXPECT_EQ(cIO_write(m, "Z", 1), 1);
    cIO_seek(m, 12, cIO_SEEK_SET);
    EXPECT_EQ(cIO_read(m, out, 8), 4);
    EXPECT_EQ(std::memcmp(out, "\0\0\0Z", 4), 0);
    EXPECT_EQ(cIO_close(m), 0);
}

TEST(MemoryStream, FailedSeeksAndWritesChangeNothing) {
    cIO* m = counting(5); // capacity 8
    struct {
        int64_t off;
        int32_t origin, want;
    } cases[] = {{2, 0, 2},          {1, 1, 3},          {-1, 2, 4}, {-6, 2, -1},
                 {-10, 1, -1},       {8, 0, 8},          {9, 0, -1}, {0, 3, -1},
                 {INT64_MAX, 1, -1}, {INT64_MAX, 2, -1}, {3, 0, 3}};
    for (auto& c : cases) {
        int64_t before = cIO_tell(m);
        EXPECT_EQ(cIO_seek(m, c.off, c.origin), c.want) << c.off << "," << c.origin;
        EXPECT_EQ(cIO_tell(m), c.want < 0 ? before : c.want);
    }
    EXPECT_EQ(cIO_write(m, "x", UINT64_MAX - 1), -1); // size would pass 64 bits
    EXPECT_EQ(cIO_write(m, "x", (uint64_t)INT64_MAX + 1), -1);
    EXPECT_EQ(cIO_memoryAlloc_size(m), 5u);
    EXPECT_EQ(cIO_tell(m), 3);
    EXPECT_EQ(cIO_write(m, "x", 1), 1);
    EXPECT_EQ(std::memcmp(cIO_memoryAlloc_data(m), "\0\1\2x\4", 5), 0);
    EXPECT_EQ(cIO_memoryAlloc_size(nullptr), 0u);
    cIO_close(m);
}

TEST_F(Streams, HelpersAndEmptySlots) {
    spyOn(20);
    cIO* m = spy.inner;
    cIO_seek(m, 7, cIO_SEEK_SET);
    EXPECT_EQ(cIO_getSize(m), 20);
    EXPECT_EQ(cIO_tell(m), 7);
    EXPECT_EQ(cIO_getSize(nullptr), -1);
    int64_t slot = 0;
    EXPECT_TRUE(cIO_pushLocation(m, &slot));
    cIO_seek(m, 15, cIO_SEEK_SET);
    EXPECT_TRUE(cIO_popLocation(m, &slot));
    EXPECT_EQ(cIO_tell(m), 7);
    EXPECT_FALSE(cIO_pushLocation(m, nullptr) || cIO_popLocation(nullptr, &slot));
    slot = -2; // a failed tell is no position to return to
    EXPECT_FALSE(cIO_popLocation(m, &slot));
    EXPECT_EQ(cIO_close(nullptr), 0);

    cIO* src = counting(10000);
    cIO* dst = cIO_memoryAlloc_ctor();
    cIO_cat(src, dst);
    ASSERT_EQ(cIO_memoryAlloc_size(dst), 10000u);
    EXPECT_EQ(cIO_memoryAlloc_data(dst)[9999], (uint8_t)9999);
    cIO_seek(src, 0, cIO_SEEK_SET);
    spy.writeLimit = 100; // a refused chunk ends the copy and is reported
    EXPECT_EQ(cIO_catChecked(src, &spy.base), -1);
    EXPECT_EQ(cIO_memoryAlloc_size(m), 107u);
    cIO_close(src);
    cIO_close(dst);
}

TEST(FileStream, ModesSeeksAndDirectionChanges) {
    std::string path = tempFile("modes", "0123456789");
    std::string missing = path + ".none";
    EXPECT_EQ(cIO_file_open(nullptr, 0), nullptr);
    EXPECT_EQ(cIO_file_open(missing.c_str(), 0), nullptr);
    EXPECT_EQ(cIO_file_open(missing.c_str(), 2), nullptr); // read-write needs the file
    EXPECT_EQ(cIO_file_open(path.c_str(), 3), nullptr);

    cIO* r = cIO_file_open(path.c_str(), 0);
    char b[16] = {};
    EXPECT_EQ(cIO_write(r, "x", 1), cIO_UNSUPPORTED);
    EXPECT_EQ(cIO_seek(r, 4, cIO_SEEK_SET), 4);
    EXPECT_EQ(cIO_read(r, b, 16), 6);
    EXPECT_STREQ(b, "456789");
    EXPECT_EQ(cIO_seek(r, -3, cIO_SEEK_END), 7);
    EXPECT_EQ(cIO_seek(r, 0, 7), -1);
    EXPECT_LT(cIO_seek(r, -100, cIO_SEEK_SET), 0);
    EXPECT_EQ(cIO_getSize(r), 10);
    EXPECT_EQ(cIO_read(r, b, 1), 1);
    EXPECT_EQ(b[0], '7');
    cIO_close(r);

    cIO* rw = cIO_file_open(path.c_str(), 2);
    EXPECT_EQ(cIO_write(rw, "A", 1), 1);
    EXPECT_EQ(cIO_read(rw, b, 2), 2); // straight after a write
    EXPECT_EQ(std::memcmp(b, "12", 2), 0);
    EXPECT_EQ(cIO_write(rw, "B", 1), 1);
    EXPECT_EQ(cIO_seek(rw, 0, cIO_SEEK_SET), 0);
    EXPECT_EQ(cIO_read(rw, b, 10), 10);
    EXPECT_EQ(std::memcmp(b, "A12B456789", 10), 0);
    cIO_close(rw);
    cIO* w = cIO_file_open(path.c_str(), 1);
    EXPECT_EQ(cIO_read(w, b, 1), cIO_UNSUPPORTED);
    EXPECT_EQ(cIO_getSize(w), 0); // truncated
    cIO_close(w);
    std::remove(path.c_str());
}

TEST(BufferStream, RefillsAcrossAFileAndStopsAtItsEnd) {
    std::string path = tempFile("buf", "abcdefghij");
    cIO* b = cIO_bufferAlloc_ctor(cIO_file_open(path.c_str(), 0), true, 8);
    char out[16] = {};
    EXPECT_EQ(cIO_read(b, out, 10), 10);
    EXPECT_STREQ(out, "abcdefghij");
    EXPECT_EQ(cIO_read(b, out, 4), 0);
    EXPECT_EQ(cIO_tell(b), 10);
    EXPECT_EQ(cIO_seek(b, -4, cIO_SEEK_END), 6);
    EXPECT_EQ(cIO_read(b, out, 4), 4);
    EXPECT_EQ(std::memcmp(out, "ghij", 4), 0);
    EXPECT_EQ(cIO_write(b, "x", 1), cIO_UNSUPPORTED);
    EXPECT_EQ(cIO_close(b), 0); // and the file it owns
    std::remove(path.c_str());
}

TEST_F(Streams, BufferServesItsRangeWithoutInnerCalls) {
    spyOn(100);
    cIO* b = cIO_bufferAlloc_ctor(&spy.base, false, 16);
    uint8_t v[4];
    ASSERT_EQ(cIO_read(b, v, 4), 4);
    EXPECT_EQ(spy.asked, 16u);
    EXPECT_EQ(cIO_seek(b, 16, cIO_SEEK_SET), 16); // the end of the range is inside it
    EXPECT_EQ(cIO_seek(b, -10, cIO_SEEK_CUR), 6);
    EXPECT_EQ(cIO_read(b, v, 4), 4);
    EXPECT_EQ(v[0], 6);
    EXPECT_EQ(cIO_tell(b), 10);
    EXPECT_EQ(spy.reads + spy.seeks, 2);
    EXPECT_EQ(cIO_seek(b, 50, cIO_SEEK_SET), 50); // one refill: one seek, one read
    EXPECT_EQ(spy.reads + spy.seeks, 4);
    EXPECT_EQ(cIO_read(b, v, 1), 1);
    EXPECT_EQ(v[0], 50);
    cIO_close(b);
    EXPECT_EQ(spy.closes, 0); // not owned
}

TEST_F(Streams, BufferSeekPastTheDataKeepsThePosition) {
    spyOn(30);
    cIO* b = cIO_bufferAlloc_ctor(&spy.base, true, 8);
    uint8_t v[3];
    cIO_read(b, v, 3);
    EXPECT_EQ(cIO_seek(b, 40, cIO_SEEK_SET), 3);
    int64_t slot = 40;
    EXPECT_FALSE(cIO_popLocation(b, &slot));
    EXPECT_EQ(cIO_read(b, v, 3), 3);
    EXPECT_EQ(v[0], 3);
    EXPECT_EQ(cIO_seek(b, -1, cIO_SEEK_SET), -1);
    EXPECT_EQ(cIO_seek(b, INT64_MAX, cIO_SEEK_CUR), -1);
    EXPECT_EQ(cIO_seek(b, 0, 5), -1);
    spy.failSeek = true; // a refill that cannot land must not read from elsewhere
    EXPECT_EQ(cIO_seek(b, 0, cIO_SEEK_SET), 6);
    EXPECT_EQ(cIO_read(b, v, 3), 0);
    spy.failSeek = false;
    EXPECT_EQ(cIO_read(b, v, 3), 3);
    EXPECT_EQ(v[0], 6);
    cIO_close(b);
    EXPECT_EQ(spy.closes, 1); // owned
}

TEST_F(Streams, BufferCapacity) {
    spyOn(30);
    uint8_t v[8];
    cIO* b = cIO_bufferAlloc_ctor(&spy.base, false, 5);
    cIO_read(b, v, 1);
    EXPECT_EQ(spy.asked, 8u);
    cIO_close(b);
    cIO* z = cIO_bufferAlloc_ctor(&spy.base, false, 0);
    EXPECT_EQ(cIO_read(z, v, 2), 0);
    EXPECT_EQ(cIO_seek(z, 5, cIO_SEEK_SET), 0);
    cIO_close(z);
    uint8_t own[3];
    cIO* c = cIO_buffer_ctor(&spy.base, false, own, sizeof own);
    EXPECT_EQ(cIO_read(c, v, 7), 7);
    EXPECT_EQ(spy.asked, 3u);
    EXPECT_EQ(v[6], 6);
    EXPECT_EQ(cIO_close(c), 0);
}

TEST(WindowStream, ClampsIntoItsRange) {
    cIO* m = counting(104);
    cIO* w = cIO_scoped_ctor(m, 28, 100);
    EXPECT_EQ(cIO_tell(w), 0);
    struct {
        int64_t off;
        int32_t origin, want;
    } seeks[] = {{0, 2, 72},         {500, 0, 72},      {-5, 0, 0}, {0, 3, -1},
                 {INT64_MAX, 1, 72}, {INT64_MIN, 1, 0}, {70, 0, 70}};
    for (auto& s : seeks)
        EXPECT_EQ(cIO_seek(w, s.off, s.origin), s.want) << s.off;
    uint8_t v[200];
    EXPECT_EQ(cIO_read(w, v, 200), 2);
    EXPECT_EQ(v[0], 98);
    EXPECT_EQ(cIO_read(w, v, 200), 0);
    cIO_seek(w, 71, cIO_SEEK_SET);
    EXPECT_EQ(cIO_write(w, "xyz", 3), 1); // cut at the end like a read
    EXPECT_EQ(cIO_memoryAlloc_size(m), 104u);
    cIO_seek(m, 101, cIO_SEEK_SET);
    EXPECT_EQ(cIO_tell(w), -1);
    cIO_seek(m, 2, cIO_SEEK_SET); // before the window: nothing leaks out
    EXPECT_EQ(cIO_read(w, v, 4), 0);
    EXPECT_EQ(cIO_close(w), 0);
    EXPECT_EQ(cIO_scoped_ctor(nullptr, 0, 0), nullptr);

    for (int64_t end : {0, -1}) { // no end: runs to the inner size
        cIO* open = cIO_scoped_ctor(m, 28, end);
        EXPECT_EQ(cIO_seek(open, 0, cIO_SEEK_END), 76);
        EXPECT_EQ(cIO_seek(open, 500, cIO_SEEK_SET), -1); // the memory stream refuses
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
