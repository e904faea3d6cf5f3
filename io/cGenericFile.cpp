#include "io/cGenericFile.h"

#include <atomic>
#include <cassert>
#include <cstring>

#include <unistd.h>

#include "io/cSerializer.h"
#include "support/log.h"

namespace {

// 0 until first use or set: the default then depends on the machine.
// Read by every file being unwrapped, on as many threads as files are converted at once.
std::atomic<uint64_t> outputLimit{0};

uint64_t defaultOutputLimit() {
    long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return cGenericFile_DEFAULT_OUTPUT_LIMIT;
    // The memory stream grows by doubling, so half the memory is what it can surely hold.
    uint64_t half = uint64_t(pages) * uint64_t(pageSize) / 2;
    return half < cGenericFile_DEFAULT_OUTPUT_LIMIT ? half : cGenericFile_DEFAULT_OUTPUT_LIMIT;
}

} // namespace

bool cGenericFile_readHeader(cIO* io, cGenericFile* header) {
    if (io == nullptr || header == nullptr) return false;
    if (cIO_seek(io, 0, cIO_SEEK_SET) != 0) return false;
    cSerializer ser = cSerializer_ctor(io);
    // Field order as stored: flags, then type, then version.
    bool ok =
        cSerializer_readRaw(&ser, header->magic, sizeof header->magic) &&
        cSerializer_readU8(&ser, &header->flag) && cSerializer_readU8(&ser, &header->footerFlag) &&
        cSerializer_readU8(&ser, &header->type) && cSerializer_readU8(&ser, &header->version) &&
        cSerializer_readU32_BE(&ser, &header->serialNumber);
    return ok && std::memcmp(header->magic, cGenericFile_MAGIC, sizeof cGenericFile_MAGIC) == 0;
}

uint64_t cGenericFile_getOutputLimit() {
    uint64_t limit = outputLimit.load();
    if (limit == 0) {
        limit = defaultOutputLimit();
        outputLimit.store(limit);
    }
    return limit;
}

uint64_t cGenericFile_setOutputLimit(uint64_t limit) {
    uint64_t previous = cGenericFile_getOutputLimit();
    outputLimit.store(limit);
    return previous;
}

cGenericFile_budget cGenericFile_budget_make() {
    return cGenericFile_budget{cGenericFile_getOutputLimit()};
}

bool cGenericFile_budget_take(cGenericFile_budget* budget, uint64_t n) {
    assert(budget != nullptr);
    if (n > budget->left) {
        ZF_LOGE("Unwrapped data exceeds the limit of %llu bytes",
                static_cast<unsigned long long>(cGenericFile_getOutputLimit()));
        budget->left = 0;
        return false;
    }
    budget->left -= n;
    return true;
}

bool cGenericFile_isLogStart(const uint8_t* bytes, uint64_t n) {
    static constexpr char kFinalised[] = "MDF     ";
    static constexpr char kUnfinalised[] = "UnFinMF ";
    if (bytes == nullptr || n < 8) return false;
    if (std::memcmp(bytes, kFinalised, 8) == 0 || std::memcmp(bytes, kUnfinalised, 8) == 0)
        return true;
    return n >= sizeof cGenericFile_MAGIC &&
           std::memcmp(bytes, cGenericFile_MAGIC, sizeof cGenericFile_MAGIC) == 0;
}
