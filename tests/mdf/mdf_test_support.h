#pragma once
// What the MDF tests share: hand-made MDF 4 byte images (an identification block at 0 and
// blocks appended at 8-byte aligned offsets, with links that can be patched afterwards) and
// the capture of log lines.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "io/cIO.h"
#include "io/cIO_memoryAlloc.h"
#include "support/log.h"

// Collects the log lines written while it lives.
struct LogCapture {
    static inline std::string text;
    LogCapture() {
        text.clear();
        zf_log_set_output_callback([](const char* line, int length) { text.append(line, length); });
    }
    ~LogCapture() { zf_log_set_output_callback(nullptr); }
    static bool has(const std::string& part) { return text.find(part) != std::string::npos; }
};

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
    TestBytes& f64(double x) { return raw(&x, 8); }
    TestBytes& str(const std::string& s) { return raw(s.data(), s.size()); }
    TestBytes& zeros(size_t n) {
        v.insert(v.end(), n, 0);
        return *this;
    }
};

struct TestMdf {
    std::vector<uint8_t> data;

    explicit TestMdf(const char* ident = "MDF     ", uint16_t unfinFlags = 0) {
        TestBytes id;
        id.raw(ident, 8).str("4.11    ").str("kvtest  ").zeros(4).u16(411).zeros(30);
        id.u16(unfinFlags).u16(0);
        data = id.v;
    }
    // Appends a block; length 0 means header + links + data. Returns its offset.
    uint64_t block(const char* id, const std::vector<uint64_t>& links, const TestBytes& payload,
                   uint64_t length = 0) {
        while (data.size() % 8)
            data.push_back(0);
        uint64_t at = data.size();
        TestBytes b;
        b.raw(id, 4).u32(0);
        b.u64(length ? length : 24 + 8 * links.size() + payload.v.size()).u64(links.size());
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
        if (!bytes.empty()) cIO_write(io, bytes.data(), bytes.size());
        cIO_seek(io, 0, cIO_SEEK_SET);
        return io;
    }

    // Blocks of the common kinds.
    uint64_t tx(const std::string& text, const char* id = "##TX") {
        TestBytes t;
        t.str(text).u8(0);
        while (t.v.size() % 8)
            t.u8(0);
        return block(id, {}, t);
    }
    uint64_t md(const std::string& xml) { return tx(xml, "##MD"); }
    // HD at 64 must be the first block appended.
    uint64_t hd(uint64_t firstDG, uint64_t firstFH, uint64_t comment = 0, uint64_t startNs = 0) {
        TestBytes d;
        d.u64(startNs).u16(0).u16(0).u8(0).u8(0).u8(0).u8(0).f64(0).f64(0);
        return block("##HD", {firstDG, firstFH, 0, 0, 0, comment}, d);
    }
    uint64_t fh(uint64_t next, uint64_t comment) {
        TestBytes d;
        d.u64(0).u16(0).u16(0).u8(0).zeros(3);
        return block("##FH", {next, comment}, d);
    }
    uint64_t dg(uint64_t next, uint64_t firstCG, uint64_t data, uint8_t recordIdSize = 0) {
        TestBytes d;
        d.u8(recordIdSize).zeros(7);
        return block("##DG", {next, firstCG, data, 0}, d);
    }
    uint64_t cg(uint64_t next, uint64_t firstCN, uint64_t name, uint64_t recordId, uint32_t bytes,
                uint16_t flags = 0, uint32_t invalidation = 0, uint64_t source = 0) {
        TestBytes d;
        d.u64(recordId).u64(0).u16(flags).u16(0).zeros(4).u32(bytes).u32(invalidation);
        return block("##CG", {next, firstCN, name, source, 0, 0}, d);
    }
    // A data group with one channel group of 8-byte records over the given channels, linked
    // as the header's first data group. Returns the channel group's offset.
    uint64_t group(uint64_t firstCN, uint64_t data = 0) {
        uint64_t at = cg(0, firstCN, 0, 0, 8);
        setLink(64, 0, dg(0, at, data));
        return at;
    }
    uint64_t cn(uint64_t next, uint64_t name, uint8_t channelType, uint8_t dataType,
                uint32_t byteOffset, uint32_t bits, uint64_t conversion = 0, uint64_t data = 0,
                uint64_t composition = 0) {
        TestBytes d;
        d.u8(channelType).u8(0).u8(dataType).u8(0).u32(byteOffset).u32(bits).u32(0).u32(0);
        d.u8(0).u8(0).u16(0).zeros(48);
        return block("##CN", {next, composition, name, 0, conversion, data, 0, 0}, d);
    }
    uint64_t cc(uint8_t type, const std::vector<double>& values, uint64_t inverse = 0) {
        TestBytes d;
        d.u8(type).u8(0).u16(0).u16(0).u16(static_cast<uint16_t>(values.size())).f64(0).f64(0);
        for (double v : values)
            d.f64(v);
        return block("##CC", {0, 0, 0, inverse}, d);
    }
};
