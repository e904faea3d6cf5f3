#pragma once
// What the MDF tests share: hand-made MDF 4 byte images (an identification block at 0 and
// blocks appended at 8-byte aligned offsets, with links that can be patched afterwards) and
// the capture of log lines; a writer file opened by the reader.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "app/logCapture.h"
#include "io/cIO.h"
#include "io/cIO_memoryAlloc.h"
#include "mdf/cMdf.h"
#include "mdf/cMdfBlock.h"
#include "mdf/cMdfBlock_CG.h"
#include "mdf/cMdfBlock_CN.h"
#include "mdf/cMdfBlock_DG.h"
#include "mdf/cMdfBlock_HD.h"
#include "mdf/cMdfBlock_ID.h"
#include "mdf/cMdfBlock_TX.h"
#include "mdf/cMdfBlock_data.h"
#include "mdf/cMdfDecoders.h"
#include "mdf/cMdfParallelIter.h"
#include "support/log.h"
#include "tools/cMdfWriter.h"

// Little-endian field writer for block data sections.
struct TestBytes {
    std::vector<uint8_t> v;
    TestBytes& raw(const void* p, size_t n) {
        const uint8_t* b = static_cast<const uint8_t*>(p);
        v.insert(v.end(), b, b + n);
        return *this;
    }
    TestBytes& u8(uint8_t x) { return raw(&x, 1); }
    TestBytes& u16(uint16_t x) { return raw(&x, 2); }
    TestBytes& u32(uint32_t x) { return raw(&x, 4); }
    TestBytes& u64(uint64_t x) { return raw(&x, 8); }
    TestBytes& str(const std::string& s) { return raw(s.data(), s.size()); }
    TestBytes& zeros(size_t n) {
        v.insert(v.end(), n, 0);
        return *this;
    }
};

struct TestMdf {
    std::vector<uint8_t> data;

    TestMdf() { data = TestBytes().str("MDF     4.11    kvtest  ").zeros(4).u16(411).zeros(34).v; }
    // Appends a block (header + links + data) at the next 8-byte boundary; returns its offset.
    uint64_t block(const char* id, const std::vector<uint64_t>& links, const TestBytes& payload) {
        data.resize((data.size() + 7) / 8 * 8, 0);
        uint64_t at = data.size();
        TestBytes b;
        b.raw(id, 4).u32(0).u64(24 + 8 * links.size() + payload.v.size()).u64(links.size());
        for (uint64_t l : links)
            b.u64(l);
        b.raw(payload.v.data(), payload.v.size());
        data.insert(data.end(), b.v.begin(), b.v.end());
        return at;
    }
    void setLink(uint64_t blockAt, int index, uint64_t target) {
        memcpy(&data[blockAt + 24 + 8 * index], &target, 8);
    }
    void setU64(uint64_t at, uint64_t value) { memcpy(&data[at], &value, 8); }
    // A memory stream holding the image, positioned at 0. The caller closes it.
    cIO* stream() const { return memStream(data); }
    static cIO* memStream(const std::vector<uint8_t>& bytes) {
        cIO* io = cIO_memoryAlloc_ctor();
        if (!bytes.empty()) (void)cIO_write(io, bytes.data(), bytes.size());
        (void)cIO_seek(io, 0, cIO_SEEK_SET);
        return io;
    }
    uint64_t tx(const std::string& text, const char* id = "##TX") {
        return block(id, {}, TestBytes().str(text).zeros(8 - text.size() % 8));
    }
    uint64_t md(const std::string& xml) { return tx(xml, "##MD"); }
    // HD at 64 must be the first block appended.
    uint64_t hd(uint64_t firstDG, uint64_t firstFH) {
        return block("##HD", {firstDG, firstFH, 0, 0, 0, 0}, TestBytes().zeros(32));
    }
    uint64_t fh(uint64_t next, uint64_t comment) {
        return block("##FH", {next, comment}, TestBytes().zeros(16));
    }
    uint64_t dg(uint64_t next, uint64_t firstCG, uint64_t data) {
        return block("##DG", {next, firstCG, data, 0}, TestBytes().zeros(8));
    }
    // A data group with one channel group of 8-byte records over the given channels, linked
    // as the header's first data group. Returns the channel group's offset.
    uint64_t group(uint64_t firstCN, uint64_t data = 0) {
        uint64_t at = block("##CG", {0, firstCN, 0, 0, 0, 0}, TestBytes().zeros(24).u32(8).u32(0));
        setLink(64, 0, dg(0, at, data));
        return at;
    }
    uint64_t cn(uint64_t next, uint64_t name, uint8_t channelType, uint8_t dataType,
                uint32_t byteOffset, uint32_t bits, uint64_t conversion = 0, uint64_t data = 0,
                uint64_t composition = 0) {
        TestBytes d;
        d.u8(channelType).u8(0).u8(dataType).u8(0).u32(byteOffset).u32(bits).zeros(60);
        return block("##CN", {next, composition, name, 0, conversion, data, 0, 0}, d);
    }
    uint64_t cc(uint64_t inverse = 0) {
        return block("##CC", {0, 0, 0, inverse}, TestBytes().zeros(24));
    }
};

// A stream over a memory stream that hands out no bytes in place (no fetch slot), as a file
// read piece by piece does: readers must copy what they use. Closing it closes the inner one.
struct CopyingStream {
    cIO base;
    cIO* inner;
    static cIO* make(cIO* inner) {
        static const cIO_vtable ops = {
            [](cIO* io, void* dst, uint64_t n) { return cIO_read(of(io), dst, n); }, nullptr,
            [](cIO* io) { return cIO_tell(of(io)); },
            [](cIO* io, int64_t offset, int32_t origin) {
                return cIO_seek(of(io), offset, origin);
            },
            [](cIO* io) {
                int32_t r = cIO_close(of(io));
                delete reinterpret_cast<CopyingStream*>(io);
                return r;
            }};
        return &(new CopyingStream{{&ops}, inner})->base;
    }
    static cIO* of(cIO* io) { return reinterpret_cast<CopyingStream*>(io)->inner; }
};

// A DT block whose data section is the whole of stream, as if loaded from a file whose data
// starts at offset 0. The stream stays the caller's and must outlive the block.
inline carc_cMdfBlock testDataBlock(cIO* stream) {
    carc_cMdfBlock block = cMdfBlock_data_ctor(MDF_BLOCK_DT);
    auto* dt = carc_cMdfBlock_to_cMdfBlock_DT_obj_t_mut(block);
    dt->header.length = cMdfBlockHeader_SIZE + static_cast<uint64_t>(cIO_getSize(stream));
    dt->dataOffset = 0;
    dt->source = stream;
    return block;
}

// A file in memory together with its stream and the opened reader.
struct Opened {
    std::vector<uint8_t> bytes;
    cIO* io = nullptr;
    cMdf* mdf = nullptr;
    Opened(const cMdfWriterOptions& o, const std::vector<cMdfWriterGroup>& groups)
        : Opened(cMdfWriter_writeMemory(&o, &groups)) {}
    // copying: read through a CopyingStream, so that no record is used in place.
    explicit Opened(std::vector<uint8_t> b, bool copying = false)
        : bytes(std::move(b)), io(TestMdf::memStream(bytes)) {
        if (copying) io = CopyingStream::make(io);
        mdf = cMdf_open(io);
    }
    ~Opened() {
        cMdf_close(mdf);
        (void)cIO_close(io);
    }
    const cMdfBlock_ID_obj_t* id() const {
        return mdf ? carc_cMdfBlock_to_cMdfBlock_ID_obj_t(mdf->root) : nullptr;
    }
    const cMdfBlock_HD_obj_t* hd() const {
        return id() ? carc_cMdfBlock_to_cMdfBlock_HD_obj_t(id()->hd) : nullptr;
    }
};
