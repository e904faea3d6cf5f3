#include "io/cMemoryBudget.h"

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

#include "support/log.h"

struct cMemoryBudget {
    std::mutex lock;
    uint64_t limit;
    uint64_t held = 0;       // taken and kept
    const char* source = ""; // what the limit was taken from, for the message
    struct Block {
        uint8_t* data;
        uint64_t size;
    };
    std::vector<Block> kept; // given back, still counted in held
};

namespace {

// Blocks smaller than this come cheaply from the allocator's own free lists.
constexpr uint64_t kKeptAtLeast = uint64_t{32} << 20;
// More than a few are never in use at once by the files being converted.
constexpr size_t kKeptAtMost = 8;

// Frees kept blocks, the largest first, until `more` bytes fit beside what is held, or none is
// left. True when they fit. Called with the lock held.
bool makeRoom(cMemoryBudget* b, uint64_t more) {
    std::sort(b->kept.begin(), b->kept.end(),
              [](const cMemoryBudget::Block& x, const cMemoryBudget::Block& y) {
                  return x.size < y.size;
              });
    while (more > b->limit - std::min(b->held, b->limit) && !b->kept.empty()) {
        free(b->kept.back().data);
        b->held -= b->kept.back().size;
        b->kept.pop_back();
    }
    return more <= b->limit - std::min(b->held, b->limit);
}

void logSpent(const cMemoryBudget* b, uint64_t more) {
    ZF_LOGE("Unwrapped data would pass the memory budget of %llu bytes%s%s: %llu bytes held by "
            "files being converted, %llu more asked for",
            (unsigned long long)b->limit, *b->source ? ", from the " : "", b->source,
            (unsigned long long)b->held, (unsigned long long)more);
}

// A number from the first line of a file, or UINT64_MAX when there is none ("max").
uint64_t readNumber(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f) return UINT64_MAX;
    unsigned long long value = 0;
    const bool read = std::fscanf(f, "%llu", &value) == 1;
    std::fclose(f);
    return read ? uint64_t(value) : UINT64_MAX;
}

// The value of a "Name: <n> kB" line of a /proc file, in bytes; UINT64_MAX when missing.
uint64_t readProcKiB(const char* path, const char* name) {
    FILE* f = std::fopen(path, "r");
    if (!f) return UINT64_MAX;
    char line[256];
    uint64_t value = UINT64_MAX;
    const size_t n = std::strlen(name);
    while (std::fgets(line, sizeof line, f)) {
        unsigned long long kib = 0;
        if (std::strncmp(line, name, n) == 0 && std::sscanf(line + n, ": %llu", &kib) == 1) {
            value = uint64_t(kib) * 1024;
            break;
        }
    }
    std::fclose(f);
    return value;
}

// The smallest limit in file over the group at path below the hierarchy mounted at root
// and the groups above it: a group's limit holds for every group below. Where the process
// runs in a namespace of its own, its group may be the mount's root itself.
uint64_t groupLimit(const std::string& root, std::string path, const char* file) {
    uint64_t smallest = UINT64_MAX;
    for (;;) {
        smallest = std::min(smallest, readNumber(root + path + "/" + file));
        const size_t slash = path.find_last_of('/');
        if (path.empty() || slash == std::string::npos) break;
        path.resize(slash);
    }
    return smallest;
}

// Version 2: the line "0::<path>"; version 1: "<n>:<controllers>:<path>" naming memory.
uint64_t cgroupLimit() {
    FILE* f = std::fopen("/proc/self/cgroup", "r");
    if (!f) return UINT64_MAX;
    char line[4096];
    uint64_t smallest = UINT64_MAX;
    while (std::fgets(line, sizeof line, f)) {
        std::string entry(line);
        while (!entry.empty() && entry.back() == '\n')
            entry.pop_back();
        const size_t first = entry.find(':');
        const size_t second = first == std::string::npos ? first : entry.find(':', first + 1);
        if (second == std::string::npos) continue;
        const std::string controllers = entry.substr(first + 1, second - first - 1);
        const std::string path = entry.substr(second + 1);
        if (controllers.empty()) {
            const std::string root = access("/sys/fs/cgroup/cgroup.controllers", F_OK) == 0
                                         ? "/sys/fs/cgroup"
                                         : "/sys/fs/cgroup/unified";
            smallest = std::min(smallest, groupLimit(root, path, "memory.max"));
        } else if (("," + controllers + ",").find(",memory,") != std::string::npos) {
            uint64_t v1 = groupLimit("/sys/fs/cgroup/memory", path, "memory.limit_in_bytes");
            // Version 1 writes "no limit" as the largest page-aligned signed number.
            if (v1 >= (uint64_t{1} << 62)) v1 = UINT64_MAX;
            smallest = std::min(smallest, v1);
        }
    }
    std::fclose(f);
    return smallest;
}

// A resource limit less what the process already uses of it.
uint64_t resourceLeft(int resource, const char* usedLine) {
    struct rlimit rl;
    if (getrlimit(resource, &rl) != 0 || rl.rlim_cur == RLIM_INFINITY) return UINT64_MAX;
    const uint64_t used = readProcKiB("/proc/self/status", usedLine);
    const uint64_t limit = uint64_t(rl.rlim_cur);
    return used == UINT64_MAX ? limit : limit - std::min(limit, used);
}

} // namespace

uint64_t cMemoryBudget_systemLimit(const char** source) {
    struct Candidate {
        uint64_t bytes;
        const char* name;
    };
    const Candidate candidates[] = {
        {cgroupLimit(), "control group memory limit"},
        {resourceLeft(RLIMIT_AS, "VmSize"), "address-space limit"},
        {resourceLeft(RLIMIT_DATA, "VmData"), "data-size limit"},
        {readProcKiB("/proc/meminfo", "MemAvailable"), "available memory"},
    };
    Candidate smallest{UINT64_MAX, "physical memory"};
    for (const Candidate& c : candidates)
        if (c.bytes < smallest.bytes) smallest = c;
    if (smallest.bytes == UINT64_MAX) {
        const long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
        smallest.bytes = pages > 0 && pageSize > 0 ? uint64_t(pages) * uint64_t(pageSize) / 2
                                                   : uint64_t{1} << 30;
    }
    // The rest of the program: the block tree, the trace writers, the threads' stacks and
    // their allocators' arenas.
    constexpr uint64_t kRoomAtLeast = uint64_t{256} << 20;
    const uint64_t room = std::max(kRoomAtLeast, smallest.bytes / 8);
    if (source) *source = smallest.name;
    return smallest.bytes > room ? smallest.bytes - room : 0;
}

cMemoryBudget* cMemoryBudget_ctor(uint64_t limit) {
    cMemoryBudget* b = new (std::nothrow) cMemoryBudget;
    if (b) b->limit = limit;
    return b;
}

void cMemoryBudget_dtor(cMemoryBudget* budget) {
    if (!budget) return;
    cMemoryBudget_releaseKept(budget);
    assert(budget->held == 0);
    delete budget;
}

cMemoryBudget* cMemoryBudget_run() {
    static cMemoryBudget* const run = [] {
        const char* source = "";
        cMemoryBudget* budget = cMemoryBudget_ctor(cMemoryBudget_systemLimit(&source));
        if (budget) budget->source = source;
        return budget;
    }();
    return run;
}

uint64_t cMemoryBudget_held(const cMemoryBudget* budget) {
    std::lock_guard<std::mutex> guard(const_cast<cMemoryBudget*>(budget)->lock);
    return budget->held;
}

uint64_t cMemoryBudget_available(const cMemoryBudget* budget) {
    std::lock_guard<std::mutex> guard(const_cast<cMemoryBudget*>(budget)->lock);
    uint64_t taken = budget->held;
    for (const cMemoryBudget::Block& k : budget->kept)
        taken -= k.size;
    return budget->limit > taken ? budget->limit - taken : 0;
}

uint8_t* cMemoryBudget_take(cMemoryBudget* budget, uint64_t size) {
    assert(budget != nullptr && size > 0);
    std::lock_guard<std::mutex> guard(budget->lock);
    // The kept block that holds size with the least to spare, else the largest: its pages are
    // set up already, and resizing it moves no bytes.
    auto& kept = budget->kept;
    auto chosen = kept.end();
    for (auto k = kept.begin(); k != kept.end(); ++k) {
        const bool fits = k->size >= size;
        const bool chosenFits = chosen != kept.end() && chosen->size >= size;
        if (chosen == kept.end() ||
            (fits ? !chosenFits || k->size < chosen->size : !chosenFits && k->size > chosen->size))
            chosen = k;
    }
    cMemoryBudget::Block reused{nullptr, 0};
    if (chosen != kept.end()) {
        reused = *chosen;
        kept.erase(chosen);
        budget->held -= reused.size;
    }
    if (size > SIZE_MAX || !makeRoom(budget, size)) {
        if (reused.data) {
            kept.push_back(reused);
            budget->held += reused.size;
        }
        logSpent(budget, size);
        return nullptr;
    }
    uint8_t* block = (uint8_t*)(reused.data ? realloc(reused.data, size_t(size)) : malloc(size));
    if (!block) {
        if (reused.data) {
            kept.push_back(reused);
            budget->held += reused.size;
        }
        ZF_LOGE("Out of memory for %llu bytes of unwrapped data", (unsigned long long)size);
        return nullptr;
    }
    budget->held += size;
    return block;
}

uint8_t* cMemoryBudget_resize(cMemoryBudget* budget, uint8_t* block, uint64_t* size, uint64_t want,
                              uint64_t atLeast) {
    assert(budget != nullptr && block != nullptr && size != nullptr && atLeast <= want);
    std::lock_guard<std::mutex> guard(budget->lock);
    uint64_t target = want;
    if (want > *size) {
        const uint64_t more = want - *size;
        if (!makeRoom(budget, more)) {
            const uint64_t room = budget->limit - std::min(budget->held, budget->limit);
            if (atLeast > *size + room) {
                logSpent(budget, atLeast - *size);
                return nullptr;
            }
            target = *size + room;
        }
    }
    if (target > SIZE_MAX) return nullptr;
    uint8_t* moved = (uint8_t*)realloc(block, size_t(target));
    if (!moved) {
        ZF_LOGE("Out of memory for %llu bytes of unwrapped data", (unsigned long long)target);
        return nullptr;
    }
    budget->held = budget->held - *size + target;
    *size = target;
    return moved;
}

void cMemoryBudget_give(cMemoryBudget* budget, uint8_t* block, uint64_t size) {
    if (!block) return;
    assert(budget != nullptr);
    std::lock_guard<std::mutex> guard(budget->lock);
    if (size >= kKeptAtLeast && budget->kept.size() < kKeptAtMost) {
        budget->kept.push_back({block, size});
        return;
    }
    free(block);
    budget->held -= size;
}

void cMemoryBudget_releaseKept(cMemoryBudget* budget) {
    if (!budget) return;
    std::lock_guard<std::mutex> guard(budget->lock);
    for (const cMemoryBudget::Block& k : budget->kept) {
        free(k.data);
        budget->held -= k.size;
    }
    budget->kept.clear();
}
