#include "io/cIO_input.h"

#include <cassert>
#include <cerrno>
#include <cstring>

#include <sys/types.h>

#include "io/cGenericFile.h"
#include "io/cIO_mapped.h"
#include "io/cIO_readBuffer.h"
#include "support/log.h"

namespace {

// Reads the first bytes of the file and tells whether a log file can start so; logs why not.
bool startsAsLogFile(cIO* file) {
    uint8_t start[cGenericFile_LOG_START_SIZE];
    uint64_t got = 0;
    errno = 0;
    if (cIO_seek(file, 0, cIO_SEEK_SET) == 0) {
        const int64_t r = cIO_readFully(file, start, sizeof start);
        got = r > 0 ? uint64_t(r) : 0;
    }
    if (errno != 0 && got < sizeof start) {
        ZF_LOGE("Could not read the start of the input file: %s", std::strerror(errno));
        return false;
    }
    if (!cGenericFile_isLogStart(start, got)) {
        ZF_LOGE("The input file is not an MDF 4 file or log container");
        return false;
    }
    return cIO_seek(file, 0, cIO_SEEK_SET) == 0;
}

} // namespace

cIO* cIO_input_open(cIO* file, int64_t bufferSize) {
    assert(file != nullptr);
    if (!startsAsLogFile(file)) {
        (void)cIO_close(file); // read only, and refused
        return nullptr;
    }
    if (bufferSize < 0) {
        if (cIO* mapped = cIO_mapped_open(file)) return mapped;
        ZF_LOGD("The input file cannot be mapped: it is read into a buffer of its size");
        bufferSize = cIO_getSize(file);
        if (bufferSize < 0) {
            ZF_LOGE("Could not take the size of the input file");
            (void)cIO_close(file); // read only, and refused
            return nullptr;
        }
    }
    if (bufferSize == 0) return file;
    cIO* buffered = cIO_bufferAlloc_ctor(file, true, static_cast<size_t>(bufferSize));
    if (!buffered) {
        ZF_LOGE("Could not allocate buffer of size %zd", static_cast<ssize_t>(bufferSize));
        (void)cIO_close(file); // read only, and refused
    }
    return buffered;
}
