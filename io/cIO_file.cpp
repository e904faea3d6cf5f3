#include "io/cIO_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <unistd.h>

namespace {

// The C library wants a positioning call between a write and a following read (and the
// other way round) on an update stream; lastOp remembers which direction went last.
enum : uint8_t { kOpNone = 0, kOpRead = 1, kOpWrite = 2 };

struct cIO_file {
    cIO base;
    FILE* handle;
    int64_t position;
    uint8_t lastOp;
    char* writeBuffer;
    size_t pending;
};

// Writers hand over short pieces (a trace header, a line) as well as large ones (a batch of
// trace lines): a large buffer turns the short ones into few system calls, and a large
// piece goes on at once, as copying it into the buffer would only add a pass over its
// bytes. Reading needs no buffer, as readers ask for large blocks, which the C library
// passes straight on.
constexpr size_t kWriteBufferSize = size_t{1} << 20;
constexpr size_t kWriteDirect = size_t{64} << 10;

// A write-only stream gathers the writes in writeBuffer itself, which costs a copy per
// line instead of a library call, and hands them on in whole blocks. False when the
// library took fewer bytes (the stream has failed; the bytes are dropped).
bool cIO_file_flush(cIO_file* f) {
    if (f->pending == 0) return true;
    const size_t n = f->pending;
    f->pending = 0;
    return fwrite(f->writeBuffer, 1, n, f->handle) == n;
}

int64_t cIO_file_writeGathered(cIO* io, const void* src, uint64_t n) {
    cIO_file* f = (cIO_file*)io;
    if (n < kWriteDirect && n <= kWriteBufferSize - f->pending) {
        std::memcpy(f->writeBuffer + f->pending, src, (size_t)n);
        f->pending += (size_t)n;
        f->position += (int64_t)n;
        return (int64_t)n;
    }
    if (!cIO_file_flush(f)) return 0;
    if (n >= kWriteDirect) {
        size_t put = fwrite(src, 1, (size_t)n, f->handle);
        f->position += (int64_t)put;
        return (int64_t)put;
    }
    std::memcpy(f->writeBuffer, src, (size_t)n);
    f->pending = (size_t)n;
    f->position += (int64_t)n;
    return (int64_t)n;
}

// A direction change on an update stream needs an fseek even to the same place.
void cIO_file_turn(cIO_file* f, uint8_t op) {
    if (f->lastOp != kOpNone && f->lastOp != op) fseeko(f->handle, 0, SEEK_CUR);
    f->lastOp = op;
}

int64_t cIO_file_read(cIO* io, void* dst, uint64_t n) {
    cIO_file* f = (cIO_file*)io;
    cIO_file_turn(f, kOpRead);
    size_t got = fread(dst, 1, (size_t)n, f->handle);
    if (got > 0) f->position += (int64_t)got;
    return (int64_t)got;
}

int64_t cIO_file_write(cIO* io, const void* src, uint64_t n) {
    cIO_file* f = (cIO_file*)io;
    cIO_file_turn(f, kOpWrite);
    size_t put = fwrite(src, 1, (size_t)n, f->handle);
    if (put > 0) f->position += (int64_t)put;
    return (int64_t)put;
}

int64_t cIO_file_tell(cIO* io) {
    cIO_file* f = (cIO_file*)io;
    if (!cIO_file_flush(f)) return -1;
    return (int64_t)ftello(f->handle);
}

int64_t cIO_file_seek(cIO* io, int64_t offset, int32_t origin) {
    cIO_file* f = (cIO_file*)io;
    if (origin < 0 || origin > 2) return -1;
    if (origin == cIO_SEEK_SET && offset == f->position) return offset;
    if (!cIO_file_flush(f)) return -1;
    int rc = fseeko(f->handle, (off_t)offset, origin);
    if (rc != 0) return (int64_t)rc;
    f->lastOp = kOpNone;
    f->position = (int64_t)ftello(f->handle);
    return f->position;
}

// fclose releases the handle even when it reports a failure (a lost buffered write), so
// the object goes too: keeping it would invite a second fclose of a dead handle.
int32_t cIO_file_close(cIO* io) {
    cIO_file* f = (cIO_file*)io;
    const bool flushed = cIO_file_flush(f);
    int rc = fclose(f->handle);
    if (!flushed && rc == 0) rc = EOF;
    delete[] f->writeBuffer;
    delete f;
    return rc;
}

const cIO_vtable kReadTable = {cIO_file_read, nullptr, cIO_file_tell, cIO_file_seek,
                               cIO_file_close};
const cIO_vtable kWriteTable = {nullptr, cIO_file_write, cIO_file_tell, cIO_file_seek,
                                cIO_file_close};
const cIO_vtable kGatheringTable = {nullptr, cIO_file_writeGathered, cIO_file_tell, cIO_file_seek,
                                    cIO_file_close};
const cIO_vtable kUpdateTable = {cIO_file_read, cIO_file_write, cIO_file_tell, cIO_file_seek,
                                 cIO_file_close};

// Takes over an open handle; the mode chooses the table and the write buffer.
cIO* cIO_file_adopt(FILE* handle, cIO_fileMode mode, const cIO_vtable* vt) {
    cIO_file* f = new (std::nothrow) cIO_file;
    if (!f) {
        fclose(handle);
        return nullptr;
    }
    f->handle = handle;
    f->base.vt = vt;
    f->position = 0;
    f->lastOp = kOpNone;
    f->writeBuffer = nullptr;
    f->pending = 0;
    if (mode != cIO_FILE_READ) {
        // Without the buffer the stream still works, with the library's own small one.
        f->writeBuffer = new (std::nothrow) char[kWriteBufferSize];
        if (mode == cIO_FILE_WRITE && f->writeBuffer) {
            f->base.vt = &kGatheringTable;
        } else if (f->writeBuffer &&
                   setvbuf(f->handle, f->writeBuffer, _IOFBF, kWriteBufferSize) != 0) {
            delete[] f->writeBuffer;
            f->writeBuffer = nullptr;
        }
    }
    return &f->base;
}

} // namespace

int cIO_file_descriptor(cIO* io) {
    if (!io || (io->vt != &kReadTable && io->vt != &kUpdateTable)) return -1;
    return fileno(((cIO_file*)io)->handle);
}

cIO* cIO_file_open(const char* path, cIO_fileMode mode) {
    if (!path) return nullptr;
    const char* fmode;
    const cIO_vtable* vt;
    switch (mode) {
    case cIO_FILE_READ:
        fmode = "rb";
        vt = &kReadTable;
        break;
    case cIO_FILE_WRITE:
        fmode = "wb";
        vt = &kWriteTable;
        break;
    case cIO_FILE_UPDATE:
        fmode = "r+b";
        vt = &kUpdateTable;
        break;
    default:
        return nullptr;
    }
    FILE* handle = fopen(path, fmode);
    if (!handle) return nullptr;
    return cIO_file_adopt(handle, mode, vt);
}

cIO* cIO_file_writeTo(int fd) {
    FILE* handle = fdopen(fd, "wb");
    if (!handle) {
        const int reason = errno;
        close(fd);
        errno = reason;
        return nullptr;
    }
    return cIO_file_adopt(handle, cIO_FILE_WRITE, &kWriteTable);
}
