#pragma once
// The generic MDF block object, shared block references, the loader that turns the file's
// graph of blocks (absolute offsets) into a tree of shared objects. The tree is read only:
// nothing here writes a file.
//
// cMdfBlock_obj_t, the first part of every typed block object (cMdfBlock_HD_obj_t, ...):
//   header   - type, length and link count; always first, so any block's type can be read
//   ops      - the type's table of operations
//   position - absolute file offset of the block; cMdfBlock_NIL while it has no place
//
// cMdfBlock_vtable, slot by slot:
//   load     - fills the block from the stream, which stands just behind the 24-byte header
//              (for the identification block: at its file identifier). A chained type
//              does not load its successor itself: it hands the next link to
//              cMdfBlock_setNext and the chain is walked by cMdfBlock_loadAt, in a loop.
//   getLinks - adds every block the block refers to (recursively) to the set
//   dtor     - releases what the type owns and frees the object; may be empty, then only
//              the generic part is freed
//
// cMdfBlock_cache, one per tree load:
//   blocks    - offset -> shared reference of every block loaded so far; a block that
//               several links point to is read once and shared
//   nextOf    - offset -> the next link of every chained block loaded so far: a chain
//               that reaches a block read before through another link (a channel's data
//               link to a VLSD channel group, say) goes on from there to its end
//   loading   - offsets whose load has begun and not finished: a link back to one of them
//               is a cycle and fails the load
//   depth     - nesting of loads in progress (links of links); bounded by
//               cMdfBlock_MAX_DEPTH so that a deep chain of nested links cannot exhaust
//               the stack (next links are walked in a loop and do not count)
//   next      - the next link the block being loaded handed to cMdfBlock_setNext
//   fileSize  - size of the stream, taken when the cache is made; no block may reach past it
//   clampData - the file is unfinalised with its last data block's length unwritten: a
//               DT or SD block whose length reaches past the end is cut at the end instead of
//               failing (the file open then lets the last one run to the end)
//   budget    - block bytes still allowed in this load. Blocks of a sound file do not
//               overlap, so their lengths add up to at most the file size; a damaged file
//               whose links point into the middle of other blocks would otherwise make the
//               load allocate far more than the file holds

#include <cstdint>
#include <deque>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "io/cIO.h"
#include "mdf/cMdfBlockHeader.h"

// The in-memory value of a link to no block (0 on disk).
constexpr uint64_t cMdfBlock_NIL = 0xFFFFFFFFFFFFFFFFull;
// Deepest nesting of link loads accepted (a logger file needs about ten).
constexpr uint32_t cMdfBlock_MAX_DEPTH = 64;

struct cMdfBlock_obj_t;
using carc_cMdfBlock = std::shared_ptr<cMdfBlock_obj_t>;
using cdeq_cMdfBlock = std::deque<carc_cMdfBlock>;
using cMdfBlock_set = std::unordered_set<const cMdfBlock_obj_t*>;

struct cMdfBlock_cache {
    std::unordered_map<uint64_t, carc_cMdfBlock> blocks;
    std::unordered_map<uint64_t, uint64_t> nextOf;
    std::unordered_set<uint64_t> loading;
    uint32_t depth;
    uint64_t next;
    uint64_t fileSize;
    bool clampData;
    uint64_t budget;
};

struct cMdfBlock_vtable {
    bool (*load)(cMdfBlock_obj_t* block, cIO* stream, cMdfBlock_cache* cache,
                 const cMdfBlockHeader* header, cdeq_cMdfBlock* list);
    void (*getLinks)(const cMdfBlock_obj_t* block, cMdfBlock_set* set);
    void (*dtor)(cMdfBlock_obj_t* block);
};

struct cMdfBlock_obj_t {
    cMdfBlockHeader header;
    const cMdfBlock_vtable* ops;
    uint64_t position;
};

// Clears the generic part and sets the position to nil. False for null.
bool cMdfBlock_init(cMdfBlock_obj_t* block);
// Wraps a newly constructed block into a shared reference whose last release runs
// cMdfBlock_dtor. Empty for null.
carc_cMdfBlock cMdfBlock_share(cMdfBlock_obj_t* block);
// A new block of the given type with its defaults; empty for MDF_BLOCK_NONE.
carc_cMdfBlock cMdfBlock_ctorOfType(cMdfBlockType type);
// Runs the type's dtor (which frees the object), or frees the generic part.
void cMdfBlock_dtor(cMdfBlock_obj_t* block);

// An empty cache for loading from stream (takes the stream's size).
void cMdfBlock_cache_init(cMdfBlock_cache* cache, cIO* stream);

// Reads exactly header->linkCount links into *links (0 stored as nil). False on a short read.
bool cMdfBlock_loadLinks(cIO* stream, const cMdfBlockHeader* header, std::vector<uint64_t>* links);
// Loads the block at offset (through the cache). Empty for a nil offset (not a failure:
// callers check the offset) and on failure. With a list, the block is put at its front.
carc_cMdfBlock cMdfBlock_loadAtCommon(cIO* stream, uint64_t offset, cMdfBlock_cache* cache,
                                      cdeq_cMdfBlock* list);
// The first steps of every type's load: the link count must be linkCount, the data section
// must hold at least minDataSize bytes (both silent failures), the header is copied into the
// block and the links are read into *links.
bool cMdfBlock_loadBegin(cMdfBlock_obj_t* block, cIO* stream, const cMdfBlockHeader* header,
                         uint64_t linkCount, uint64_t minDataSize, std::vector<uint64_t>* links);
// Seeks to the block's data section (behind header and links). False when the stream does
// not get there.
bool cMdfBlock_seekData(const cMdfBlock_obj_t* block, cIO* stream);
// Loads one block at offset without a list: cMdfBlock_loadAtCommon(stream, offset, cache, null).
carc_cMdfBlock cMdfBlock_loadAtSingle(cIO* stream, uint64_t offset, cMdfBlock_cache* cache);
// Loads the whole chain that starts at offset (following each member's next link) and puts
// its members at the front of list in chain order. True for a nil offset. A chain that
// comes back to one of its own members fails.
bool cMdfBlock_loadAt(cIO* stream, uint64_t offset, cMdfBlock_cache* cache, cdeq_cMdfBlock* list);
// Loads a link that must be nil or a block: true when nil or loaded, *out holds the block.
bool cMdfBlock_loadLink(cIO* stream, uint64_t offset, cMdfBlock_cache* cache, carc_cMdfBlock* out);
// For a chained type's load: the offset of the block that follows in its chain.
void cMdfBlock_setNext(cMdfBlock_cache* cache, uint64_t offset);
// Loads the identification block at 0 and the header block at 64 with everything reachable
// from it. Empty on any failure (nothing partial is kept).
carc_cMdfBlock cMdfBlock_loadTree(cIO* stream);

// Adds block and every block reachable from it to set; null adds nothing. A block already
// in the set is not walked again.
void cMdfBlock_getLinks(const cMdfBlock_obj_t* block, cMdfBlock_set* set);

// The casts of one type T: typed views of a generic block (null for another type or null),
// on plain pointers and on shared references, and the generic view of a typed object.
#define CMDF_BLOCK_DECLARE_CASTS(T)                                                                \
    struct cMdfBlock_##T##_obj_t;                                                                  \
    const cMdfBlock_##T##_obj_t* cMdfBlock_obj_t_to_cMdfBlock_##T##_obj_t(                         \
        const cMdfBlock_obj_t* block);                                                             \
    cMdfBlock_##T##_obj_t* cMdfBlock_obj_t_to_cMdfBlock_##T##_obj_t_mut(cMdfBlock_obj_t* block);   \
    const cMdfBlock_##T##_obj_t* carc_cMdfBlock_to_cMdfBlock_##T##_obj_t(                          \
        const carc_cMdfBlock& block);                                                              \
    cMdfBlock_##T##_obj_t* carc_cMdfBlock_to_cMdfBlock_##T##_obj_t_mut(                            \
        const carc_cMdfBlock& block);                                                              \
    const cMdfBlock_obj_t* cMdfBlock_##T##_obj_t_to_cMdfBlock_obj_t(                               \
        const cMdfBlock_##T##_obj_t* block);                                                       \
    cMdfBlock_obj_t* cMdfBlock_##T##_obj_t_to_cMdfBlock_obj_t_mut(cMdfBlock_##T##_obj_t* block);

// Defines them (in the type's .cpp, where the type is complete).
#define CMDF_BLOCK_DEFINE_CASTS(T)                                                                 \
    const cMdfBlock_##T##_obj_t* cMdfBlock_obj_t_to_cMdfBlock_##T##_obj_t(                         \
        const cMdfBlock_obj_t* block) {                                                            \
        if (!block || block->header.type != MDF_BLOCK_##T) return nullptr;                         \
        return static_cast<const cMdfBlock_##T##_obj_t*>(block);                                   \
    }                                                                                              \
    cMdfBlock_##T##_obj_t* cMdfBlock_obj_t_to_cMdfBlock_##T##_obj_t_mut(cMdfBlock_obj_t* block) {  \
        if (!block || block->header.type != MDF_BLOCK_##T) return nullptr;                         \
        return static_cast<cMdfBlock_##T##_obj_t*>(block);                                         \
    }                                                                                              \
    const cMdfBlock_##T##_obj_t* carc_cMdfBlock_to_cMdfBlock_##T##_obj_t(                          \
        const carc_cMdfBlock& block) {                                                             \
        return cMdfBlock_obj_t_to_cMdfBlock_##T##_obj_t(block.get());                              \
    }                                                                                              \
    cMdfBlock_##T##_obj_t* carc_cMdfBlock_to_cMdfBlock_##T##_obj_t_mut(                            \
        const carc_cMdfBlock& block) {                                                             \
        return cMdfBlock_obj_t_to_cMdfBlock_##T##_obj_t_mut(block.get());                          \
    }                                                                                              \
    const cMdfBlock_obj_t* cMdfBlock_##T##_obj_t_to_cMdfBlock_obj_t(                               \
        const cMdfBlock_##T##_obj_t* block) {                                                      \
        return block;                                                                              \
    }                                                                                              \
    cMdfBlock_obj_t* cMdfBlock_##T##_obj_t_to_cMdfBlock_obj_t_mut(cMdfBlock_##T##_obj_t* block) {  \
        return block;                                                                              \
    }
