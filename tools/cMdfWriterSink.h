#pragma once
// Output of the MDF writer: an append-only byte sink that can also overwrite bytes it has
// already taken (the writer patches lengths and counts once a data block is complete).
// Two kinds: a buffered file and a growable memory vector.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

struct cMdfWriterSink;

struct cMdfWriterSink_vtable {
    // Appends n bytes; false on an output error.
    bool (*write)(cMdfWriterSink* sink, const void* src, size_t n);
    // Overwrites n bytes at offset; the range must lie within what was written.
    bool (*patch)(cMdfWriterSink* sink, uint64_t offset, const void* src, size_t n);
    // Flushes what is buffered; false on an output error.
    bool (*flush)(cMdfWriterSink* sink);
};

struct cMdfWriterSink {
    const cMdfWriterSink_vtable* vt;
    uint64_t size; // bytes appended so far: the offset of the next byte
};

// File kind: appends go through an owned buffer flushed in large fwrite calls.
struct cMdfWriterSink_file {
    cMdfWriterSink base;
    FILE* file;                  // owned; closed by cMdfWriterSink_file_close
    std::vector<uint8_t> buffer; // pending bytes, capacity fixed at open
    uint64_t flushed;            // bytes already handed to fwrite
};

// Memory kind: appends grow the borrowed vector.
struct cMdfWriterSink_memory {
    cMdfWriterSink base;
    std::vector<uint8_t>* out; // borrowed
};

bool cMdfWriterSink_write(cMdfWriterSink* sink, const void* src, size_t n);
bool cMdfWriterSink_patch(cMdfWriterSink* sink, uint64_t offset, const void* src, size_t n);
bool cMdfWriterSink_flush(cMdfWriterSink* sink);
// Appends n zero bytes.
bool cMdfWriterSink_zeros(cMdfWriterSink* sink, size_t n);

// Creates or truncates path; false when it cannot be opened.
bool cMdfWriterSink_file_open(cMdfWriterSink_file* sink, const char* path);
// Flushes and closes; false when any write or the close failed.
bool cMdfWriterSink_file_close(cMdfWriterSink_file* sink);

void cMdfWriterSink_memory_init(cMdfWriterSink_memory* sink, std::vector<uint8_t>* out);
