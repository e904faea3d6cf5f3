#include "io/cGenericFile.h"

#include <cstring>

#include "io/cSerializer.h"
#include "support/log.h"

namespace {
uint64_t outputLimit = cGenericFile_DEFAULT_OUTPUT_LIMIT;
}

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
    return outputLimit;
}

uint64_t cGenericFile_setOutputLimit(uint64_t limit) {
    uint64_t previous = outputLimit;
    outputLimit = limit;
    return previous;
}

bool cGenericFile_storeOutput(cIO* memory, const void* src, uint64_t n, uint64_t* stored) {
    if (memory == nullptr || stored == nullptr) return false;
    if (n == 0) return true;
    if (n > outputLimit || *stored > outputLimit - n) {
        ZF_LOGE("Unwrapped data exceeds the limit of %llu bytes",
                static_cast<unsigned long long>(outputLimit));
        return false;
    }
    int64_t written = cIO_write(memory, src, n);
    if (written < 0 || static_cast<uint64_t>(written) != n) {
        ZF_LOGE("Out of memory after %llu bytes of unwrapped data",
                static_cast<unsigned long long>(*stored));
        return false;
    }
    *stored += n;
    return true;
}
