#pragma once
// The metadata blocks of a file under construction: built in memory with links as block
// numbers, then given file offsets in creation order and serialised in one piece.
// Block header on disk: id (4 chars) | 4 zero bytes | length u64 | link count u64, then the
// links (u64 absolute offsets, 0 for none), then the data section.

#include <cstdint>
#include <string>
#include <vector>

constexpr int MDFW_NO_BLOCK = -1;

// One block in the making.
struct cMdfWriterBlockDraft {
    char id[5];                // "##HD", ...
    std::vector<int> links;    // block numbers, MDFW_NO_BLOCK for none
    std::vector<uint8_t> data; // data section as written (length is 24 + 8*links + data)
    std::string label;         // for the layout report
    uint64_t offset;           // assigned by cMdfWriterBlocks_place
};

// All drafts of a file, plus the cache that lets identical texts share one block.
struct cMdfWriterBlocks {
    std::vector<cMdfWriterBlockDraft> drafts;       // in file order
    std::vector<std::pair<std::string, int>> texts; // "##TX"+text -> block number
    bool shareTexts;
    uint64_t start; // file offset of the first draft
    uint64_t end;   // first offset behind the last draft, 8-byte aligned
};

void cMdfWriterBlocks_init(cMdfWriterBlocks* blocks, uint64_t start, bool shareTexts);

// Adds a block with linkCount empty links and a zeroed data section; returns its number.
int cMdfWriterBlocks_add(cMdfWriterBlocks* blocks, const char* id, uint32_t linkCount,
                         size_t dataBytes, const std::string& label);
// Adds (or with sharing, finds) a TX or MD block holding text, NUL-terminated and padded
// with zeros to a multiple of 8 bytes.
int cMdfWriterBlocks_text(cMdfWriterBlocks* blocks, const char* id, const std::string& text);

void cMdfWriterBlocks_link(cMdfWriterBlocks* blocks, int block, uint32_t link, int target);

// Little-endian stores into a draft's data section at a byte offset of the data section.
void cMdfWriterBlocks_u8(cMdfWriterBlocks* blocks, int block, size_t at, uint8_t v);
void cMdfWriterBlocks_u16(cMdfWriterBlocks* blocks, int block, size_t at, uint16_t v);
void cMdfWriterBlocks_u32(cMdfWriterBlocks* blocks, int block, size_t at, uint32_t v);
void cMdfWriterBlocks_u64(cMdfWriterBlocks* blocks, int block, size_t at, uint64_t v);
void cMdfWriterBlocks_f64(cMdfWriterBlocks* blocks, int block, size_t at, double v);

// Gives every draft its file offset (8-byte aligned, creation order, from start on).
void cMdfWriterBlocks_place(cMdfWriterBlocks* blocks);
// Serialises all placed drafts into out (bytes start..end of the file, padding zeroed).
void cMdfWriterBlocks_serialize(const cMdfWriterBlocks* blocks, std::vector<uint8_t>* out);
// Length field of a draft: 24 + 8 * links + data section.
uint64_t cMdfWriterBlocks_length(const cMdfWriterBlocks* blocks, int block);
// Absolute file offset of link number `link` of a placed draft.
uint64_t cMdfWriterBlocks_linkOffset(const cMdfWriterBlocks* blocks, int block, uint32_t link);
// Absolute file offset of byte `at` of a placed draft's data section.
uint64_t cMdfWriterBlocks_dataOffset(const cMdfWriterBlocks* blocks, int block, size_t at);

// Little-endian encoding into a byte buffer.
void cMdfWriter_storeU64(uint8_t* dst, uint64_t v);
