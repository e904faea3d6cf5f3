#include "tools/cMdfWriterBlocks.h"

#include <cstring>

namespace {

constexpr uint64_t HEADER_BYTES = 24;

uint64_t align8(uint64_t v) {
    return (v + 7) & ~uint64_t(7);
}

void storeLE(uint8_t* dst, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        dst[i] = (uint8_t)(v >> (8 * i));
}

void store(cMdfWriterBlocks* blocks, int block, size_t at, uint64_t v, int bytes) {
    if (block < 0 || (size_t)block >= blocks->drafts.size()) return;
    std::vector<uint8_t>& data = blocks->drafts[block].data;
    if (at + bytes > data.size()) return;
    storeLE(data.data() + at, v, bytes);
}

} // namespace

void cMdfWriter_storeU64(uint8_t* dst, uint64_t v) {
    storeLE(dst, v, 8);
}

void cMdfWriterBlocks_init(cMdfWriterBlocks* blocks, uint64_t start, bool shareTexts) {
    blocks->drafts.clear();
    blocks->texts.clear();
    blocks->shareTexts = shareTexts;
    blocks->start = start;
    blocks->end = start;
}

int cMdfWriterBlocks_add(cMdfWriterBlocks* blocks, const char* id, uint32_t linkCount,
                         size_t dataBytes, const std::string& label) {
    cMdfWriterBlockDraft d;
    memcpy(d.id, id, 4);
    d.id[4] = 0;
    d.links.assign(linkCount, MDFW_NO_BLOCK);
    d.data.assign(dataBytes, 0);
    d.label = label;
    d.offset = 0;
    blocks->drafts.push_back(std::move(d));
    return (int)blocks->drafts.size() - 1;
}

int cMdfWriterBlocks_text(cMdfWriterBlocks* blocks, const char* id, const std::string& text) {
    std::string key = std::string(id, 4) + text;
    if (blocks->shareTexts)
        for (const auto& kv : blocks->texts)
            if (kv.first == key) return kv.second;
    int b = cMdfWriterBlocks_add(blocks, id, 0, align8(text.size() + 1), text);
    memcpy(blocks->drafts[b].data.data(), text.data(), text.size());
    blocks->texts.emplace_back(key, b);
    return b;
}

void cMdfWriterBlocks_link(cMdfWriterBlocks* blocks, int block, uint32_t link, int target) {
    if (block < 0 || (size_t)block >= blocks->drafts.size()) return;
    auto& links = blocks->drafts[block].links;
    if (link < links.size()) links[link] = target;
}

void cMdfWriterBlocks_u8(cMdfWriterBlocks* b, int block, size_t at, uint8_t v) {
    store(b, block, at, v, 1);
}
void cMdfWriterBlocks_u16(cMdfWriterBlocks* b, int block, size_t at, uint16_t v) {
    store(b, block, at, v, 2);
}
void cMdfWriterBlocks_u32(cMdfWriterBlocks* b, int block, size_t at, uint32_t v) {
    store(b, block, at, v, 4);
}
void cMdfWriterBlocks_u64(cMdfWriterBlocks* b, int block, size_t at, uint64_t v) {
    store(b, block, at, v, 8);
}
void cMdfWriterBlocks_f64(cMdfWriterBlocks* b, int block, size_t at, double v) {
    uint64_t bits;
    memcpy(&bits, &v, sizeof bits);
    store(b, block, at, bits, 8);
}

uint64_t cMdfWriterBlocks_length(const cMdfWriterBlocks* blocks, int block) {
    const cMdfWriterBlockDraft& d = blocks->drafts[block];
    return HEADER_BYTES + 8 * d.links.size() + d.data.size();
}

void cMdfWriterBlocks_place(cMdfWriterBlocks* blocks) {
    uint64_t at = align8(blocks->start);
    for (size_t i = 0; i < blocks->drafts.size(); ++i) {
        blocks->drafts[i].offset = at;
        at = align8(at + cMdfWriterBlocks_length(blocks, (int)i));
    }
    blocks->end = at;
}

void cMdfWriterBlocks_serialize(const cMdfWriterBlocks* blocks, std::vector<uint8_t>* out) {
    out->assign(blocks->end - blocks->start, 0);
    for (size_t i = 0; i < blocks->drafts.size(); ++i) {
        const cMdfWriterBlockDraft& d = blocks->drafts[i];
        uint8_t* p = out->data() + (d.offset - blocks->start);
        memcpy(p, d.id, 4);
        storeLE(p + 8, cMdfWriterBlocks_length(blocks, (int)i), 8);
        storeLE(p + 16, d.links.size(), 8);
        p += HEADER_BYTES;
        for (int target : d.links) {
            uint64_t off = target >= 0 ? blocks->drafts[target].offset : 0;
            storeLE(p, off, 8);
            p += 8;
        }
        if (!d.data.empty()) memcpy(p, d.data.data(), d.data.size());
    }
}

uint64_t cMdfWriterBlocks_linkOffset(const cMdfWriterBlocks* blocks, int block, uint32_t link) {
    return blocks->drafts[block].offset + HEADER_BYTES + 8 * (uint64_t)link;
}

uint64_t cMdfWriterBlocks_dataOffset(const cMdfWriterBlocks* blocks, int block, size_t at) {
    const cMdfWriterBlockDraft& d = blocks->drafts[block];
    return d.offset + HEADER_BYTES + 8 * d.links.size() + at;
}
