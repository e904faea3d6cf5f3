// Byte streams: memory, file, read-ahead buffer, window and the dispatch helpers.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "io/cIO.h"
#include "io/cIO_file.h"
#include "io/cIO_memoryAlloc.h"
#include "io/cIO_readBuffer.h"
#include "io/cIO_scoped.h"

namespace {

// A stream over a memory stream that counts the calls it passes on and can be told to
// fail seeks or to accept only part of each write.
struct Spy {
    cIO base;
    cIO* inner;
    int reads = 0, seeks = 0, tells = 0, closes = 0;
    uint64_t lastReadAsked = 0;
    bool failSeek = false;
    int64_t writeLimit = -1;
};

int64_t spyRead(cIO* io, void* dst, uint64_t n) {
    Spy* s = (Spy*)io;
    s->reads++;
    s->lastReadAsked = n;
    return cIO_read(s->inner, dst, n);
}
int64_t spyWrite(cIO* io, const void* src, uint64_t n) {
    Spy* s = (Spy*)io;
    if (s->writeLimit >= 0 && n > (uint64_t)s->writeLimit) n = (uint64_t)s->writeLimit;
    return cIO_write(s->inner, src, n);
}
int64_t spyTell(cIO* io) {
    Spy* s = (Spy*)io;
    s->tells++;
    return cIO_tell(s->inner);
}
int64_t spySeek(cIO* io, int64_t off, int32_t origin) {
    Spy* s = (Spy*)io;
    s->seeks++;
    if (s->failSeek) return -1;
    return cIO_seek(s->inner, off, origin);
}
int32_t spyClose(cIO* io) {
    ((Spy*)io)->closes++;
    return 0;
}
const cIO_vtable kSpyTable = {spyRead, spyWrite, spyTell, spySeek, spyClose};

// A memory stream holding the bytes 0, 1, 2, ... n-1 (mod 256), positioned at 0.
cIO* counting(size_t n) {
    cIO* m = cIO_memoryAlloc_ctor();
    for (size_t i = 0; i < n; ++i) {
        uint8_t b = (uint8_t)i;
        cIO_write(m, &b, 1);
    }
    cIO_seek(m, 0, cIO_SEEK_SET);
    return m;
}

struct SpyFixture : ::testing::Test {
    cIO* mem = nullptr;
    Spy spy;
    void makeSpy(size_t n) {
        mem = counting(n);
        spy.base.vt = &kSpyTable;
        spy.inner = mem;
    }
    void TearDown() override { cIO_close(mem); }
};

std::string tempPath(const char* name) {
    return std::string(::testing::TempDir()) + "/kv_io_" + std::to_string(getpid()) + "_" + name;
}

} // namespace

// ---- memory stream ----

TEST(MemoryStream, GrowsByDoublingAndSeekFromEndExtendsWithZeros) {
    cIO* m = cIO_memoryAlloc_ctor();
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(cIO_memoryAlloc_capacity(m), 0u);
    EXPECT_EQ(cIO_memoryAlloc_data(m), nullptr);
    EXPECT_EQ(cIO_write(m, "abc", 3), 3);
    EXPECT_EQ(cIO_memoryAlloc_capacity(m), 4u);
    EXPECT_EQ(cIO_seek(m, 10, cIO_SEEK_END), 13);
    ASSERT_EQ(cIO_memoryAlloc_size(m), 13u);
    const uint8_t* d = cIO_memoryAlloc_data(m);
    EXPECT_EQ(std::memcmp(d, "abc", 3), 0);
    for (int i = 3; i < 13; ++i)
        EXPECT_EQ(d[i], 0) << i;
    EXPECT_EQ(cIO_memoryAlloc_capacity(m), 16u);
    EXPECT_EQ(cIO_close(m), 0);
}

TEST(MemoryStream, ReadsAtMostWhatIsLeft) {
    cIO* m = counting(5);
    uint8_t buf[8] = {};
    EXPECT_EQ(cIO_read(m, buf, 3), 3);
    EXPECT_EQ(cIO_read(m, buf, 8), 2);
    EXPECT_EQ(buf[0], 3);
    EXPECT_EQ(buf[1], 4);
    EXPECT_EQ(cIO_read(m, buf, 8), 0);
    EXPECT_EQ(cIO_tell(m), 5);
    cIO_close(m);
}

TEST(MemoryStream, SeekTargets) {
    cIO* m = counting(5); // capacity 8
    struct {
        int64_t off;
        int32_t origin;
        int64_t want;
    } cases[] = {
        {2, 0, 2}, {1, 1, 3},  {-1, 2, 4}, {-6, 2, -1},        {-10, 1, -1},
        {8, 0, 8}, {9, 0, -1}, {0, 3, -1}, {INT64_MAX, 1, -1},
    };
    for (auto& c : cases) {
        int64_t before = cIO_tell(m);
        int64_t got = cIO_seek(m, c.off, c.origin);
        EXPECT_EQ(got, c.want) << c.off << "," << c.origin;
        if (got < 0) {
            EXPECT_EQ(cIO_tell(m), before);
        }
    }
    cIO_close(m);
}

TEST(MemoryStream, WriteAfterSeekPastSizeFillsTheGapWithZeros) {
    cIO* m = cIO_memoryAlloc_ctor();
    cIO_write(m, "abcdefgh", 8);
    cIO_seek(m, 2, cIO_SEEK_SET);
    cIO_write(m, "X", 1); // size stays 8
    EXPECT_EQ(cIO_memoryAlloc_size(m), 8u);
    // Capacity is 8 now; grow to 16, shrink nothing, then seek into the spare room.
    cIO_seek(m, 0, cIO_SEEK_END);
    cIO_write(m, "i", 1);
    ASSERT_EQ(cIO_memoryAlloc_capacity(m), 16u);
    EXPECT_EQ(cIO_seek(m, 12, cIO_SEEK_SET), 12);
    EXPECT_EQ(cIO_write(m, "Z", 1), 1);
    ASSERT_EQ(cIO_memoryAlloc_size(m), 13u);
    EXPECT_EQ(std::memcmp(cIO_memoryAlloc_data(m), "abXdefghi\0\0\0Z", 13), 0);
    cIO_close(m);
}

TEST(MemoryStream, OversizedWriteFailsAndKeepsData) {
    cIO* m = cIO_memoryAlloc_ctor();
    cIO_write(m, "hello", 5);
    static const char src[1] = {'x'};
    EXPECT_EQ(cIO_write(m, src, UINT64_MAX - 2), -1);
    EXPECT_EQ(cIO_write(m, src, (uint64_t)INT64_MAX + 1), -1);
    EXPECT_EQ(cIO_seek(m, INT64_MAX, cIO_SEEK_END), -1);
    EXPECT_EQ(cIO_memoryAlloc_size(m), 5u);
    EXPECT_EQ(cIO_tell(m), 5);
    EXPECT_EQ(std::memcmp(cIO_memoryAlloc_data(m), "hello", 5), 0);
    EXPECT_EQ(cIO_write(m, "!", 1), 1);
    EXPECT_EQ(cIO_memoryAlloc_size(m), 6u);
    cIO_close(m);
}

TEST(MemoryStream, AccessorsRefuseOtherKinds) {
    std::string path = tempPath("acc");
    cIO* f = cIO_file_open(path.c_str(), 1);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(cIO_memoryAlloc_data(f), nullptr);
    EXPECT_EQ(cIO_memoryAlloc_size(f), 0u);
    EXPECT_EQ(cIO_memoryAlloc_size(nullptr), 0u);
    cIO_close(f);
    std::remove(path.c_str());
}

// ---- dispatch and helpers ----

TEST(Dispatch, EmptySlotsAndNullClose) {
    std::string path = tempPath("dispatch");
    cIO* w = cIO_file_open(path.c_str(), 1);
    ASSERT_NE(w, nullptr);
    char b[4];
    EXPECT_EQ(cIO_read(w, b, 4), cIO_UNSUPPORTED);
    EXPECT_EQ(cIO_close(w), 0);
    EXPECT_EQ(cIO_close(nullptr), 0);
    cIO* r = cIO_file_open(path.c_str(), 0);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(cIO_write(r, "x", 1), cIO_UNSUPPORTED);
    cIO_close(r);
    std::remove(path.c_str());
}

TEST(Dispatch, GetSizeRestoresPositionAndLocations) {
    cIO* m = counting(20);
    cIO_seek(m, 7, cIO_SEEK_SET);
    EXPECT_EQ(cIO_getSize(m), 20);
    EXPECT_EQ(cIO_tell(m), 7);
    EXPECT_EQ(cIO_getSize(nullptr), -1);

    int64_t slot = 0;
    EXPECT_TRUE(cIO_pushLocation(m, &slot));
    EXPECT_EQ(slot, 7);
    cIO_seek(m, 15, cIO_SEEK_SET);
    EXPECT_TRUE(cIO_popLocation(m, &slot));
    EXPECT_EQ(cIO_tell(m), 7);
    EXPECT_FALSE(cIO_pushLocation(m, nullptr));
    EXPECT_FALSE(cIO_pushLocation(nullptr, &slot));
    EXPECT_FALSE(cIO_popLocation(nullptr, &slot));
    slot = -2; // a failed tell must not be reported as reached
    EXPECT_FALSE(cIO_popLocation(m, &slot));
    cIO_close(m);
}

TEST_F(SpyFixture, CatCopiesEverythingAndStopsAtARefusedWrite) {
    makeSpy(0);
    cIO* src = counting(10000);
    cIO_cat(src, mem);
    ASSERT_EQ(cIO_memoryAlloc_size(mem), 10000u);
    EXPECT_EQ(cIO_memoryAlloc_data(mem)[9999], (uint8_t)9999);
    cIO_cat(nullptr, mem);

    cIO_seek(src, 0, cIO_SEEK_SET);
    cIO_seek(mem, 0, cIO_SEEK_SET);
    spy.writeLimit = 100;
    EXPECT_EQ(cIO_catChecked(src, &spy.base), -1);
    cIO_seek(src, 0, cIO_SEEK_SET);
    spy.writeLimit = -1;
    EXPECT_EQ(cIO_catChecked(src, &spy.base), 10000);
    EXPECT_EQ(cIO_catChecked(src, nullptr), -1);
    cIO_close(src);
}

// ---- file stream ----

TEST(FileStream, ModesAndFailures) {
    std::string path = tempPath("modes");
    std::remove(path.c_str());
    EXPECT_EQ(cIO_file_open(nullptr, 0), nullptr);
    EXPECT_EQ(cIO_file_open(path.c_str(), 0), nullptr); // missing
    EXPECT_EQ(cIO_file_open(path.c_str(), 2), nullptr); // read-write wants an existing file
    EXPECT_EQ(cIO_file_open(path.c_str(), 3), nullptr);
    EXPECT_EQ(cIO_file_open(path.c_str(), -1), nullptr);

    cIO* w = cIO_file_open(path.c_str(), 1);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(cIO_write(w, "0123456789", 10), 10);
    EXPECT_EQ(cIO_tell(w), 10);
    EXPECT_EQ(cIO_seek(w, 0, 7), -1);
    EXPECT_EQ(cIO_close(w), 0);

    cIO* r = cIO_file_open(path.c_str(), 0);
    ASSERT_NE(r, nullptr);
    char b[16] = {};
    EXPECT_EQ(cIO_seek(r, 4, cIO_SEEK_SET), 4);
    EXPECT_EQ(cIO_read(r, b, 16), 6);
    EXPECT_STREQ(b, "456789");
    EXPECT_EQ(cIO_seek(r, -3, cIO_SEEK_END), 7);
    EXPECT_EQ(cIO_seek(r, 7, cIO_SEEK_SET), 7); // the cached position
    EXPECT_EQ(cIO_read(r, b, 1), 1);
    EXPECT_EQ(b[0], '7');
    EXPECT_LT(cIO_seek(r, -100, cIO_SEEK_SET), 0);
    EXPECT_EQ(cIO_getSize(r), 10);
    EXPECT_EQ(cIO_tell(r), 8);
    cIO_close(r);

    // Writing 1 byte then reading on a read-write stream sees the file as it now is.
    cIO* rw = cIO_file_open(path.c_str(), 2);
    ASSERT_NE(rw, nullptr);
    EXPECT_EQ(cIO_write(rw, "A", 1), 1);
    EXPECT_EQ(cIO_read(rw, b, 2), 2);
    EXPECT_EQ(std::memcmp(b, "12", 2), 0);
    EXPECT_EQ(cIO_write(rw, "B", 1), 1);
    EXPECT_EQ(cIO_seek(rw, 0, cIO_SEEK_SET), 0);
    EXPECT_EQ(cIO_read(rw, b, 10), 10);
    EXPECT_EQ(std::memcmp(b, "A12B456789", 10), 0);
    cIO_close(rw);
    std::remove(path.c_str());
}

// ---- read-ahead buffer ----

TEST(BufferStream, RefillsAcrossAFileAndEndsAtItsEnd) {
    std::string path = tempPath("buf10");
    cIO* w = cIO_file_open(path.c_str(), 1);
    cIO_write(w, "abcdefghij", 10);
    cIO_close(w);
    cIO* b = cIO_bufferAlloc_ctor(cIO_file_open(path.c_str(), 0), true, 8);
    ASSERT_NE(b, nullptr);
    char out[16] = {};
    EXPECT_EQ(cIO_read(b, out, 10), 10);
    EXPECT_STREQ(out, "abcdefghij");
    EXPECT_EQ(cIO_read(b, out, 4), 0);
    EXPECT_EQ(cIO_tell(b), 10);
    EXPECT_EQ(cIO_seek(b, 0, cIO_SEEK_END), 10);
    EXPECT_EQ(cIO_seek(b, -4, cIO_SEEK_CUR), 6);
    EXPECT_EQ(cIO_read(b, out, 4), 4);
    EXPECT_EQ(std::memcmp(out, "ghij", 4), 0);
    EXPECT_EQ(cIO_close(b), 0); // closes the file it owns
    std::remove(path.c_str());
}

TEST_F(SpyFixture, BufferServesInRangeSeeksAndReadsWithoutInnerCalls) {
    makeSpy(100);
    cIO* b = cIO_bufferAlloc_ctor(&spy.base, false, 16);
    ASSERT_NE(b, nullptr);
    uint8_t v[4];
    ASSERT_EQ(cIO_read(b, v, 4), 4);
    EXPECT_EQ(spy.lastReadAsked, 16u);
    int reads = spy.reads, seeks = spy.seeks, tells = spy.tells;
    EXPECT_EQ(cIO_seek(b, 16, cIO_SEEK_SET), 16); // exactly the end of the buffered range
    EXPECT_EQ(cIO_seek(b, -10, cIO_SEEK_CUR), 6);
    EXPECT_EQ(cIO_read(b, v, 4), 4);
    EXPECT_EQ(v[0], 6);
    EXPECT_EQ(cIO_tell(b), 10);
    EXPECT_EQ(cIO_seek(b, 0, cIO_SEEK_SET), 0);
    EXPECT_EQ(spy.reads, reads);
    EXPECT_EQ(spy.seeks, seeks);
    EXPECT_EQ(spy.tells, tells);
    // A jump far out refills once: one seek and one read.
    EXPECT_EQ(cIO_seek(b, 50, cIO_SEEK_SET), 50);
    EXPECT_EQ(spy.reads, reads + 1);
    EXPECT_EQ(spy.seeks, seeks + 1);
    EXPECT_EQ(cIO_read(b, v, 1), 1);
    EXPECT_EQ(v[0], 50);
    EXPECT_EQ(cIO_close(b), 0);
    EXPECT_EQ(spy.closes, 0); // not owned
}

TEST_F(SpyFixture, BufferSeekPastTheDataKeepsThePosition) {
    makeSpy(10);
    cIO* b = cIO_bufferAlloc_ctor(&spy.base, true, 8);
    uint8_t v[3];
    cIO_read(b, v, 3);
    EXPECT_EQ(cIO_seek(b, 40, cIO_SEEK_SET), 3);
    int64_t slot = 40;
    EXPECT_FALSE(cIO_popLocation(b, &slot));
    EXPECT_EQ(cIO_tell(b), 3);
    EXPECT_EQ(cIO_read(b, v, 3), 3);
    EXPECT_EQ(v[0], 3);
    EXPECT_EQ(cIO_seek(b, -1, cIO_SEEK_SET), -1);
    EXPECT_EQ(cIO_seek(b, INT64_MAX, cIO_SEEK_CUR), -1);
    EXPECT_EQ(cIO_seek(b, 0, 5), -1);
    EXPECT_EQ(cIO_close(b), 0);
    EXPECT_EQ(spy.closes, 1); // owned
}

TEST_F(SpyFixture, BufferCapacityRoundingAndZeroSize) {
    makeSpy(30);
    cIO* b = cIO_bufferAlloc_ctor(&spy.base, false, 5);
    uint8_t v[2];
    cIO_read(b, v, 1);
    EXPECT_EQ(spy.lastReadAsked, 8u);
    cIO_close(b);

    cIO* z = cIO_bufferAlloc_ctor(&spy.base, false, 0);
    ASSERT_NE(z, nullptr);
    EXPECT_EQ(cIO_read(z, v, 2), 0);
    EXPECT_EQ(cIO_read(z, v, 0), 0);
    EXPECT_EQ(cIO_seek(z, 5, cIO_SEEK_SET), 0);
    cIO_close(z);

    uint8_t own[3];
    cIO* c = cIO_buffer_ctor(&spy.base, false, own, sizeof own);
    ASSERT_NE(c, nullptr);
    uint8_t big[7];
    EXPECT_EQ(cIO_read(c, big, 7), 7);
    EXPECT_EQ(spy.lastReadAsked, 3u);
    EXPECT_EQ(big[6], 6);
    EXPECT_EQ(cIO_close(c), 0);
}

TEST_F(SpyFixture, BufferRefillWhoseSeekFailsEndsTheReadShort) {
    makeSpy(20);
    cIO* b = cIO_bufferAlloc_ctor(&spy.base, false, 8);
    uint8_t v[20];
    EXPECT_EQ(cIO_read(b, v, 5), 5);
    spy.failSeek = true; // the inner stream must not be read from wherever it sits
    EXPECT_EQ(cIO_read(b, v, 10), 3);
    EXPECT_EQ(cIO_tell(b), 8);
    spy.failSeek = false;
    EXPECT_EQ(cIO_read(b, v, 4), 4);
    EXPECT_EQ(v[0], 8);
    cIO_close(b);
}

// ---- window ----

TEST(WindowStream, ClampsIntoItsRange) {
    cIO* m = counting(104);
    cIO* w = cIO_scoped_ctor(m, 28, 100);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(cIO_tell(w), 0);
    EXPECT_EQ(cIO_seek(w, 0, cIO_SEEK_END), 72);
    EXPECT_EQ(cIO_seek(w, 500, cIO_SEEK_SET), 72);
    EXPECT_EQ(cIO_seek(w, -5, cIO_SEEK_SET), 0);
    EXPECT_EQ(cIO_seek(w, 70, cIO_SEEK_SET), 70);
    uint8_t v[200];
    EXPECT_EQ(cIO_read(w, v, 200), 2);
    EXPECT_EQ(v[0], 98);
    EXPECT_EQ(cIO_read(w, v, 200), 0);
    EXPECT_EQ(cIO_seek(w, -2, cIO_SEEK_CUR), 70);
    EXPECT_EQ(cIO_seek(w, INT64_MAX, cIO_SEEK_CUR), 72);
    EXPECT_EQ(cIO_seek(w, INT64_MIN, cIO_SEEK_CUR), 0);
    EXPECT_EQ(cIO_seek(w, 0, 3), -1);
    EXPECT_EQ(cIO_write(w, "xyz", 3), 3);
    cIO_seek(w, 71, cIO_SEEK_SET);
    EXPECT_EQ(cIO_write(w, "xyz", 3), 1); // cut at the end like a read
    EXPECT_EQ(cIO_memoryAlloc_size(m), 104u);
    EXPECT_EQ(cIO_close(w), 0);
    EXPECT_EQ(cIO_tell(m), 100); // the inner stream lives on
    cIO_close(m);
    EXPECT_EQ(cIO_scoped_ctor(nullptr, 0, 0), nullptr);
}

TEST(WindowStream, NoEndRunsToTheInnerSize) {
    for (int64_t end : {0, -1}) {
        cIO* m = counting(104);
        cIO* w = cIO_scoped_ctor(m, 28, end);
        EXPECT_EQ(cIO_seek(w, 0, cIO_SEEK_END), 76) << end;
        EXPECT_EQ(cIO_seek(w, 500, cIO_SEEK_SET), -1) << end; // the memory stream refuses
        cIO_seek(w, 74, cIO_SEEK_SET);
        uint8_t v[8];
        EXPECT_EQ(cIO_read(w, v, 8), 2);
        cIO_close(w);
        cIO_close(m);
    }
}

TEST(WindowStream, TellBeyondTheEndFailsAndNothingLeaksFromBeforeTheStart) {
    cIO* m = counting(50);
    cIO* w = cIO_scoped_ctor(m, 10, 20);
    cIO_seek(m, 30, cIO_SEEK_SET);
    EXPECT_EQ(cIO_tell(w), -1);
    uint8_t v[4];
    EXPECT_EQ(cIO_read(w, v, 4), 0);
    cIO_seek(m, 2, cIO_SEEK_SET);
    EXPECT_EQ(cIO_read(w, v, 4), 0);
    cIO_close(w);

    // A window starting past the data of a buffer stream: the inner seek falls short.
    cIO* b = cIO_bufferAlloc_ctor(m, false, 16);
    cIO* far = cIO_scoped_ctor(b, 80, 0);
    ASSERT_NE(far, nullptr);
    EXPECT_EQ(cIO_read(far, v, 4), 0);
    cIO_close(far);
    cIO_close(b);
    cIO_close(m);
}
