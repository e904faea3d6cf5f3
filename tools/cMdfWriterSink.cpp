#include "tools/cMdfWriterSink.h"

#include <cstring>

namespace {

// Large enough that a multi-GB file goes out in few system calls.
constexpr size_t FILE_BUFFER_BYTES = 8u << 20;

bool fileFlush(cMdfWriterSink* base) {
    auto* sink = reinterpret_cast<cMdfWriterSink_file*>(base);
    if (!sink->file) return false;
    if (sink->buffer.empty()) return true;
    size_t n = sink->buffer.size();
    if (fwrite(sink->buffer.data(), 1, n, sink->file) != n) return false;
    sink->flushed += n;
    sink->buffer.clear();
    return true;
}

bool fileWrite(cMdfWriterSink* base, const void* src, size_t n) {
    auto* sink = reinterpret_cast<cMdfWriterSink_file*>(base);
    if (!sink->file) return false;
    const auto* p = static_cast<const uint8_t*>(src);
    while (n > 0) {
        size_t room = sink->buffer.capacity() - sink->buffer.size();
        if (room == 0) {
            if (!fileFlush(base)) return false;
            continue;
        }
        // Big pieces bypass the buffer once it is empty.
        if (sink->buffer.empty() && n >= sink->buffer.capacity()) {
            if (fwrite(p, 1, n, sink->file) != n) return false;
            sink->flushed += n;
            base->size += n;
            return true;
        }
        size_t k = n < room ? n : room;
        sink->buffer.insert(sink->buffer.end(), p, p + k);
        p += k;
        n -= k;
        base->size += k;
    }
    return true;
}

bool filePatch(cMdfWriterSink* base, uint64_t offset, const void* src, size_t n) {
    auto* sink = reinterpret_cast<cMdfWriterSink_file*>(base);
    if (!sink->file || offset + n > base->size) return false;
    if (offset >= sink->flushed) {
        memcpy(sink->buffer.data() + (offset - sink->flushed), src, n);
        return true;
    }
    if (!fileFlush(base)) return false;
    if (fseeko(sink->file, (off_t)offset, SEEK_SET) != 0) return false;
    bool ok = fwrite(src, 1, n, sink->file) == n;
    if (fseeko(sink->file, 0, SEEK_END) != 0) return false;
    return ok;
}

const cMdfWriterSink_vtable fileVtable = {fileWrite, filePatch, fileFlush};

bool memoryWrite(cMdfWriterSink* base, const void* src, size_t n) {
    auto* sink = reinterpret_cast<cMdfWriterSink_memory*>(base);
    const auto* p = static_cast<const uint8_t*>(src);
    sink->out->insert(sink->out->end(), p, p + n);
    base->size += n;
    return true;
}

bool memoryPatch(cMdfWriterSink* base, uint64_t offset, const void* src, size_t n) {
    auto* sink = reinterpret_cast<cMdfWriterSink_memory*>(base);
    if (offset + n > sink->out->size()) return false;
    memcpy(sink->out->data() + offset, src, n);
    return true;
}

bool memoryFlush(cMdfWriterSink*) {
    return true;
}

const cMdfWriterSink_vtable memoryVtable = {memoryWrite, memoryPatch, memoryFlush};

} // namespace

bool cMdfWriterSink_write(cMdfWriterSink* sink, const void* src, size_t n) {
    if (!sink) return false;
    if (n == 0) return true;
    return sink->vt->write(sink, src, n);
}

bool cMdfWriterSink_patch(cMdfWriterSink* sink, uint64_t offset, const void* src, size_t n) {
    return sink && sink->vt->patch(sink, offset, src, n);
}

bool cMdfWriterSink_flush(cMdfWriterSink* sink) {
    return sink && sink->vt->flush(sink);
}

bool cMdfWriterSink_zeros(cMdfWriterSink* sink, size_t n) {
    static const uint8_t zeros[64] = {};
    while (n > 0) {
        size_t k = n < sizeof zeros ? n : sizeof zeros;
        if (!cMdfWriterSink_write(sink, zeros, k)) return false;
        n -= k;
    }
    return true;
}

bool cMdfWriterSink_file_open(cMdfWriterSink_file* sink, const char* path) {
    sink->base.vt = &fileVtable;
    sink->base.size = 0;
    sink->flushed = 0;
    sink->file = path ? fopen(path, "wb") : nullptr;
    if (!sink->file) return false;
    sink->buffer.clear();
    sink->buffer.reserve(FILE_BUFFER_BYTES);
    return true;
}

bool cMdfWriterSink_file_close(cMdfWriterSink_file* sink) {
    if (!sink->file) return false;
    bool ok = fileFlush(&sink->base);
    if (fclose(sink->file) != 0) ok = false;
    sink->file = nullptr;
    sink->buffer = std::vector<uint8_t>();
    return ok;
}

void cMdfWriterSink_memory_init(cMdfWriterSink_memory* sink, std::vector<uint8_t>* out) {
    sink->base.vt = &memoryVtable;
    sink->base.size = out->size();
    sink->out = out;
}
