#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "io/cIO_memoryAlloc.h"
#include "io/cMemoryBudget.h"
#include "io_test_support.h"

namespace {

constexpr uint64_t kMiB = uint64_t{1} << 20;

} // namespace

// Streams in one budget share it: what one holds, another cannot have, until it is given back.
// A large block given back is kept and counted; the next stream takes it over and shows only
// what it wrote itself (a gap reads as zeros, not as the old bytes).
TEST(MemoryBudget, StreamsShareItAndAKeptBlockShowsOnlyNewBytes) {
    cMemoryBudget* budget = cMemoryBudget_ctor(100 * kMiB);
    cIO* first = cIO_memoryAlloc_ctorIn(budget);
    uint8_t* block = cIO_memoryAlloc_spare(first, 60 * kMiB);
    ASSERT_NE(block, nullptr);
    std::memset(block, 'x', 60 * kMiB);
    cIO_memoryAlloc_commit(first, 60 * kMiB);
    EXPECT_EQ(cMemoryBudget_held(budget), 60 * kMiB);

    cIO* second = cIO_memoryAlloc_ctorIn(budget);
    std::string log = logOf([&] { EXPECT_EQ(cIO_memoryAlloc_spare(second, 41 * kMiB), nullptr); });
    EXPECT_NE(log.find("would pass the memory budget of 104857600 bytes"), std::string::npos)
        << log;
    EXPECT_EQ(cIO_write(second, "y", 1), 1); // what is left can still be had
    EXPECT_EQ(cIO_close(second), 0);
    EXPECT_EQ(cIO_close(first), 0);
    EXPECT_EQ(cMemoryBudget_held(budget), 60 * kMiB); // kept, still counted

    cIO* next = cIO_memoryAlloc_ctorIn(budget);
    uint8_t* room = cIO_memoryAlloc_spare(next, 40 * kMiB);
    ASSERT_NE(room, nullptr);
    EXPECT_EQ(cMemoryBudget_held(budget), 40 * kMiB); // taken over, cut to what was asked for
    std::memcpy(room, "new", 3);
    cIO_memoryAlloc_commit(next, 3);
    EXPECT_EQ(cIO_seek(next, 5, cIO_SEEK_END), 8);
    const uint8_t* shown = cIO_fetch(next, 0, 8);
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(shown), 8),
              std::string("new\0\0\0\0\0", 8));
    EXPECT_EQ(cIO_fetch(next, 0, 9), nullptr);
    cIO_memoryAlloc_fit(next);
    EXPECT_EQ(cMemoryBudget_held(budget), 8u);
    EXPECT_EQ(cIO_close(next), 0);
    EXPECT_EQ(cMemoryBudget_held(budget), 0u);
    cMemoryBudget_dtor(budget);
}

// Kept blocks give way: a take that needs their room frees them rather than fail, and a
// stream that grows past what the budget can double to gets what is left, then fails cleanly.
TEST(MemoryBudget, KeptBlocksGiveWayAndGrowthStopsAtTheLimit) {
    cMemoryBudget* budget = cMemoryBudget_ctor(100 * kMiB);
    cIO* a = cIO_memoryAlloc_ctorIn(budget);
    cIO* b = cIO_memoryAlloc_ctorIn(budget);
    ASSERT_NE(cIO_memoryAlloc_spare(a, 50 * kMiB), nullptr);
    ASSERT_NE(cIO_memoryAlloc_spare(b, 45 * kMiB), nullptr);
    EXPECT_EQ(cIO_close(a), 0);
    EXPECT_EQ(cIO_close(b), 0);
    EXPECT_EQ(cMemoryBudget_held(budget), 95 * kMiB); // both kept
    cIO* big = cIO_memoryAlloc_ctorIn(budget);
    ASSERT_NE(cIO_memoryAlloc_spare(big, 90 * kMiB), nullptr);
    EXPECT_EQ(cMemoryBudget_held(budget), 90 * kMiB);

    // Growing writes: the block doubles as far as the budget goes, then the write fails and
    // leaves the stream as it was.
    const Bytes piece(3 * kMiB, 7);
    cIO_memoryAlloc_commit(big, 90 * kMiB);
    EXPECT_EQ(cIO_write(big, piece.data(), piece.size()), int64_t(piece.size()));
    EXPECT_EQ(cIO_memoryAlloc_capacity(big), 100 * kMiB);
    EXPECT_EQ(cIO_write(big, piece.data(), piece.size()), int64_t(piece.size()));
    EXPECT_EQ(cIO_write(big, piece.data(), piece.size()), int64_t(piece.size()));
    const std::string log =
        logOf([&] { EXPECT_EQ(cIO_write(big, piece.data(), piece.size()), -1); });
    EXPECT_NE(log.find("memory budget"), std::string::npos) << log;
    EXPECT_EQ(cIO_memoryAlloc_size(big), 99 * kMiB);
    EXPECT_EQ(cIO_memoryAlloc_data(big)[99 * kMiB - 1], 7);
    EXPECT_EQ(cIO_close(big), 0);
    cMemoryBudget_releaseKept(budget);
    EXPECT_EQ(cMemoryBudget_held(budget), 0u);
    cMemoryBudget_dtor(budget);
}

// The run's limit follows what the process may really use: under an address-space limit it
// stays below that limit less what the process already maps, with room for the rest.
TEST(MemoryBudget, SystemLimitFollowsTheAddressSpaceLimit) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer reserves more address space than the limit";
#endif
    const char* source = nullptr;
    const uint64_t unlimited = cMemoryBudget_systemLimit(&source);
    ASSERT_NE(source, nullptr);
    EXPECT_GT(unlimited, 0u);

    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Far below what the machine has, above what the test process maps.
        struct rlimit rl;
        getrlimit(RLIMIT_AS, &rl);
        rl.rlim_cur = 8ull << 30;
        const uint64_t limit =
            setrlimit(RLIMIT_AS, &rl) == 0 ? cMemoryBudget_systemLimit(&source) : 0;
        char line[128];
        const int n =
            std::snprintf(line, sizeof line, "%llu %s", (unsigned long long)limit, source);
        (void)!write(pipeFds[1], line, size_t(n));
        _exit(0);
    }
    close(pipeFds[1]);
    char line[128] = {};
    (void)!read(pipeFds[0], line, sizeof line - 1);
    close(pipeFds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    unsigned long long limit = 0;
    char name[100] = {};
    ASSERT_EQ(std::sscanf(line, "%llu %99[^\n]", &limit, name), 2) << line;
    if (unlimited > (7ull << 30)) {
        EXPECT_EQ(std::string(name), "address-space limit");
    }
    EXPECT_GT(limit, 0u);
    EXPECT_LE(limit, (8ull << 30) - (8ull << 30) / 8);
}
