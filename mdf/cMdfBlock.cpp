#include "mdf/cMdfBlock.h"

#include <algorithm>
#include <new>

#include "io/cSerializer.h"
#include "mdf/cMdfBlock_CC.h"
#include "mdf/cMdfBlock_CG.h"
#include "mdf/cMdfBlock_CN.h"
#include "mdf/cMdfBlock_DG.h"
#include "mdf/cMdfBlock_FH.h"
#include "mdf/cMdfBlock_HD.h"
#include "mdf/cMdfBlock_ID.h"
#include "mdf/cMdfBlock_MD.h"
#include "mdf/cMdfBlock_SI.h"
#include "mdf/cMdfBlock_TX.h"
#include "mdf/cMdfBlock_data.h"
#include "support/log.h"

namespace {

// Offsets of the identification and the header block; the header block is always at 64.
constexpr uint64_t kIdOffset = 0;
constexpr uint64_t kHdOffset = 64;

// Reads the block at offset, or takes it from the cache. *next receives the next link the
// block's load handed over, also for a cached block: a block first met through a link that
// is no chain (loaded alone) still has the rest of its chain behind it.
carc_cMdfBlock loadOne(cIO* stream, uint64_t offset, cMdfBlock_cache* cache, cdeq_cMdfBlock* list,
                       uint64_t* next) {
    *next = cMdfBlock_NIL;
    if (offset == cMdfBlock_NIL || !cache) return {};
    auto cached = cache->blocks.find(offset);
    if (cached != cache->blocks.end()) {
        auto chained = cache->nextOf.find(offset);
        if (chained != cache->nextOf.end()) *next = chained->second;
        if (list) list->push_front(cached->second);
        return cached->second;
    }
    if (cache->loading.count(offset)) {
        ZF_LOGE("Cyclic block reference at offset %lu", offset);
        return {};
    }
    if (cache->depth >= cMdfBlock_MAX_DEPTH) {
        ZF_LOGE("Blocks nested too deeply at offset %lu", offset);
        return {};
    }
    if (offset > cache->fileSize || cache->fileSize - offset < cMdfBlockHeader_SIZE) {
        ZF_LOGE("Block at offset %lu lies outside the file", offset);
        return {};
    }
    if (cIO_seek(stream, static_cast<int64_t>(offset), cIO_SEEK_SET) !=
        static_cast<int64_t>(offset)) {
        return {};
    }
    cMdfBlockHeader header;
    if (!cMdfBlockHeader_load(stream, &header)) return {};
    if (cache->clampData && (header.type == MDF_BLOCK_DT || header.type == MDF_BLOCK_SD)) {
        // The last data block of an unfinalised file may carry a length that was never
        // written; read it as empty here, the file open repairs it. In a finalised file
        // such a length is damage: reading the block as empty would drop its records.
        uint64_t fixed = cMdfBlockHeader_SIZE;
        if (header.linkCount <= (cache->fileSize / 8)) fixed += 8 * header.linkCount;
        if (header.length < fixed) header.length = fixed;
        if (header.length > cache->fileSize - offset && fixed <= cache->fileSize - offset) {
            header.length = cache->fileSize - offset;
        }
    }
    if (header.length < cMdfBlockHeader_SIZE ||
        header.linkCount > (header.length - cMdfBlockHeader_SIZE) / 8 ||
        header.length > cache->fileSize - offset) {
        ZF_LOGE("Block at offset %lu does not fit in the file", offset);
        return {};
    }
    if (header.length > cache->budget) {
        ZF_LOGE("Block at offset %lu overlaps other blocks", offset);
        return {};
    }
    cache->budget -= header.length;
    carc_cMdfBlock block = cMdfBlock_ctorOfType(header.type);
    if (!block) {
        ZF_LOGE("Could not parse block at offset %lu", offset);
        return {};
    }
    block->position = offset;
    uint64_t outerNext = cache->next;
    cache->next = cMdfBlock_NIL;
    cache->loading.insert(offset);
    ++cache->depth;
    bool ok = block->ops->load(block.get(), stream, cache, &header, list);
    --cache->depth;
    cache->loading.erase(offset);
    *next = cache->next;
    cache->next = outerNext;
    if (!ok) return {};
    cache->blocks.emplace(offset, block);
    if (*next != cMdfBlock_NIL) cache->nextOf.emplace(offset, *next);
    if (list) list->push_front(block);
    return block;
}

} // namespace

bool cMdfBlock_init(cMdfBlock_obj_t* block) {
    if (!block) return false;
    block->header = cMdfBlockHeader{MDF_BLOCK_NONE, 0, 0};
    block->ops = nullptr;
    block->position = cMdfBlock_NIL;
    return true;
}

carc_cMdfBlock cMdfBlock_share(cMdfBlock_obj_t* block) {
    if (!block) return {};
    return carc_cMdfBlock(block, cMdfBlock_dtor);
}

carc_cMdfBlock cMdfBlock_ctorOfType(cMdfBlockType type) {
    switch (type) {
    case MDF_BLOCK_ID:
        return cMdfBlock_ID_ctor();
    case MDF_BLOCK_CC:
        return cMdfBlock_CC_ctor();
    case MDF_BLOCK_CG:
        return cMdfBlock_CG_ctor();
    case MDF_BLOCK_CN:
        return cMdfBlock_CN_ctor();
    case MDF_BLOCK_DG:
        return cMdfBlock_DG_ctor();
    case MDF_BLOCK_DT:
        return cMdfBlock_data_ctor(MDF_BLOCK_DT);
    case MDF_BLOCK_FH:
        return cMdfBlock_FH_ctor();
    case MDF_BLOCK_HD:
        return cMdfBlock_HD_ctor();
    case MDF_BLOCK_MD:
        return cMdfBlock_MD_ctor();
    case MDF_BLOCK_SD:
        return cMdfBlock_data_ctor(MDF_BLOCK_SD);
    case MDF_BLOCK_SI:
        return cMdfBlock_SI_ctor();
    case MDF_BLOCK_TX:
        return cMdfBlock_TX_ctor();
    case MDF_BLOCK_NONE:
        break;
    }
    return {};
}

void cMdfBlock_dtor(cMdfBlock_obj_t* block) {
    if (!block) return;
    if (block->ops && block->ops->dtor) {
        block->ops->dtor(block);
    } else {
        delete block;
    }
}

void cMdfBlock_cache_init(cMdfBlock_cache* cache, cIO* stream) {
    if (!cache) return;
    cache->blocks.clear();
    cache->nextOf.clear();
    cache->loading.clear();
    cache->depth = 0;
    cache->next = cMdfBlock_NIL;
    int64_t size = cIO_getSize(stream);
    cache->fileSize = size > 0 ? static_cast<uint64_t>(size) : 0;
    cache->clampData = false;
    cache->budget = cache->fileSize;
}

bool cMdfBlock_loadLinks(cIO* stream, const cMdfBlockHeader* header, std::vector<uint64_t>* links) {
    if (!stream || !header || !links) return false;
    cSerializer ser = cSerializer_ctor(stream);
    // The count comes from the file: reserve only what a sound block could hold.
    links->reserve(links->size() + std::min<uint64_t>(header->linkCount, 4096));
    for (uint64_t i = 0; i < header->linkCount; ++i) {
        uint64_t link;
        if (!cSerializer_readU64(&ser, &link)) return false;
        links->push_back(link == 0 ? cMdfBlock_NIL : link);
    }
    return true;
}

bool cMdfBlock_loadBegin(cMdfBlock_obj_t* block, cIO* stream, const cMdfBlockHeader* header,
                         uint64_t linkCount, uint64_t minDataSize, std::vector<uint64_t>* links) {
    if (!block || !header || header->linkCount != linkCount) return false;
    if (cMdfBlockHeader_getDataSize(header) < minDataSize) return false;
    block->header = *header;
    return cMdfBlock_loadLinks(stream, header, links);
}

bool cMdfBlock_seekData(const cMdfBlock_obj_t* block, cIO* stream) {
    if (!block) return false;
    int64_t start =
        static_cast<int64_t>(block->position + cMdfBlockHeader_SIZE + 8 * block->header.linkCount);
    return cIO_seek(stream, start, cIO_SEEK_SET) == start;
}

carc_cMdfBlock cMdfBlock_loadAtCommon(cIO* stream, uint64_t offset, cMdfBlock_cache* cache,
                                      cdeq_cMdfBlock* list) {
    uint64_t next;
    return loadOne(stream, offset, cache, list, &next);
}

carc_cMdfBlock cMdfBlock_loadAtSingle(cIO* stream, uint64_t offset, cMdfBlock_cache* cache) {
    return cMdfBlock_loadAtCommon(stream, offset, cache, nullptr);
}

bool cMdfBlock_loadAt(cIO* stream, uint64_t offset, cMdfBlock_cache* cache, cdeq_cMdfBlock* list) {
    if (offset == cMdfBlock_NIL) return true;
    // The chain is walked here, one member after the other, rather than by each member
    // loading its successor: a file may hold millions of data groups or records blocks.
    cdeq_cMdfBlock chain;
    std::unordered_set<uint64_t> seen;
    for (uint64_t at = offset; at != cMdfBlock_NIL;) {
        if (!seen.insert(at).second) {
            ZF_LOGE("Cyclic block chain at offset %lu", at);
            return false;
        }
        uint64_t next;
        carc_cMdfBlock block = loadOne(stream, at, cache, nullptr, &next);
        if (!block) return false;
        chain.push_back(std::move(block));
        at = next;
    }
    if (list) list->insert(list->begin(), chain.begin(), chain.end());
    return true;
}

bool cMdfBlock_loadLink(cIO* stream, uint64_t offset, cMdfBlock_cache* cache, carc_cMdfBlock* out) {
    if (offset == cMdfBlock_NIL) return true;
    carc_cMdfBlock block = cMdfBlock_loadAtSingle(stream, offset, cache);
    if (!block) return false;
    if (out) *out = std::move(block);
    return true;
}

void cMdfBlock_setNext(cMdfBlock_cache* cache, uint64_t offset) {
    if (cache) cache->next = offset;
}

carc_cMdfBlock cMdfBlock_loadTree(cIO* stream) {
    if (!stream) return {};
    cMdfBlock_cache cache;
    cMdfBlock_cache_init(&cache, stream);
    carc_cMdfBlock id = cMdfBlock_loadAtSingle(stream, kIdOffset, &cache);
    cMdfBlock_ID_obj_t* idObj = carc_cMdfBlock_to_cMdfBlock_ID_obj_t_mut(id);
    if (!idObj) return {};
    cache.clampData = (idObj->finalizationFlags & MDF_UNFIN_DT_LENGTH) != 0;
    carc_cMdfBlock hd = cMdfBlock_loadAtSingle(stream, kHdOffset, &cache);
    if (!hd) return {};
    idObj->hd = std::move(hd);
    return id;
}

void cMdfBlock_getLinks(const cMdfBlock_obj_t* block, cMdfBlock_set* set) {
    if (!block || !set) return;
    // Walking a block once is enough: the set is the same, and shared sub-trees would
    // otherwise be walked once per path, which grows exponentially in a crafted file.
    if (!set->insert(block).second) return;
    if (block->ops && block->ops->getLinks) block->ops->getLinks(block, set);
}
