#include "mdf/cMdfBlock_data.h"

#include <cassert>
#include <new>

#include "support/log.h"

namespace {

int64_t streamRead(cIO* io, void* dst, uint64_t n);
int64_t streamTell(cIO* io);
int64_t streamSeek(cIO* io, int64_t offset, int32_t origin);

const cMdfBlock_vtable kOps = {cMdfBlock_data_load, cMdfBlock_data_getLinks, cMdfBlock_data_dtor};
const cIO_vtable kStreamOps = {streamRead, nullptr, streamTell, streamSeek, nullptr};

bool isData(const cMdfBlock_obj_t* block, cMdfBlockType type) {
    return block && block->header.type == type && block->ops == &kOps;
}

cMdfBlock_dataStream* fromStream(cIO* io) {
    if (!io || io->vt != &kStreamOps) return nullptr;
    return reinterpret_cast<cMdfBlock_dataStream*>(io);
}

// Every data block reads from the one file stream: the read positions it each time. A read
// at or past the data size gives 0; the position advances by the bytes delivered.
int64_t streamRead(cIO* io, void* dst, uint64_t n) {
    cMdfBlock_dataStream* face = fromStream(io);
    if (!face || !face->block->source || (n && !dst)) return -1;
    const cMdfBlock_data_obj_t* block = face->block;
    const uint64_t size = cMdfBlock_data_getSize(block);
    const uint64_t left = size > face->readAt ? size - face->readAt : 0;
    const uint64_t count = n < left ? n : left;
    if (count == 0) return 0;
    const int64_t at = static_cast<int64_t>(block->dataOffset + face->readAt);
    if (cIO_seek(block->source, at, cIO_SEEK_SET) != at) return -1;
    const int64_t got = cIO_readFully(block->source, dst, count);
    if (got < 0) return got;
    face->readAt += static_cast<uint64_t>(got);
    return got;
}

int64_t streamTell(cIO* io) {
    const cMdfBlock_dataStream* face = fromStream(io);
    return face ? static_cast<int64_t>(face->readAt) : -1;
}

// A target beyond the data size lands on the data size; the end origin ignores the offset.
int64_t streamSeek(cIO* io, int64_t offset, int32_t origin) {
    cMdfBlock_dataStream* face = fromStream(io);
    if (!face || !face->block->source) return -1;
    const cMdfBlock_data_obj_t* block = face->block;
    const uint64_t size = cMdfBlock_data_getSize(block);
    int64_t target = cIO_seekTarget(static_cast<int64_t>(face->readAt), static_cast<int64_t>(size),
                                    origin == cIO_SEEK_END ? 0 : offset, origin);
    if (target < 0) return -1;
    if (static_cast<uint64_t>(target) > size) target = static_cast<int64_t>(size);
    const int64_t at = static_cast<int64_t>(block->dataOffset) + target;
    if (cIO_seek(block->source, at, cIO_SEEK_SET) != at) return -1;
    face->readAt = static_cast<uint64_t>(target);
    return target;
}

} // namespace

const cMdfBlock_data_obj_t* carc_cMdfBlock_to_cMdfBlock_DT_obj_t(const carc_cMdfBlock& block) {
    return isData(block.get(), MDF_BLOCK_DT) ? static_cast<cMdfBlock_data_obj_t*>(block.get())
                                             : nullptr;
}

cMdfBlock_data_obj_t* carc_cMdfBlock_to_cMdfBlock_DT_obj_t_mut(const carc_cMdfBlock& block) {
    return isData(block.get(), MDF_BLOCK_DT) ? static_cast<cMdfBlock_data_obj_t*>(block.get())
                                             : nullptr;
}

cMdfBlock_data_obj_t* cMdfBlock_obj_t_to_cMdfBlock_SD_obj_t_mut(cMdfBlock_obj_t* block) {
    return isData(block, MDF_BLOCK_SD) ? static_cast<cMdfBlock_data_obj_t*>(block) : nullptr;
}

carc_cMdfBlock cMdfBlock_data_ctor(cMdfBlockType type) {
    assert(type == MDF_BLOCK_DT || type == MDF_BLOCK_SD);
    cMdfBlock_data_obj_t* block = new (std::nothrow) cMdfBlock_data_obj_t();
    if (!block) return {};
    cMdfBlock_init(block);
    block->header = cMdfBlockHeader{type, cMdfBlockHeader_SIZE, 0};
    block->ops = &kOps;
    block->stream.io.vt = &kStreamOps;
    block->stream.block = block;
    return cMdfBlock_share(block);
}

bool cMdfBlock_data_load(cMdfBlock_obj_t* generic, cIO* stream, cMdfBlock_cache*,
                         const cMdfBlockHeader* header, cdeq_cMdfBlock*) {
    if (!generic || generic->ops != &kOps || !header) return false;
    cMdfBlock_data_obj_t* block = static_cast<cMdfBlock_data_obj_t*>(generic);
    // Taking a link count would silently drop the bytes it covers.
    if (header->linkCount != 0) {
        ZF_LOGE("Data block at offset %lu claims %lu links", (unsigned long)block->position,
                (unsigned long)header->linkCount);
        return false;
    }
    block->header = *header;
    block->dataOffset = block->position + cMdfBlockHeader_SIZE;
    block->source = stream;
    block->stream.readAt = 0;
    return true;
}

void cMdfBlock_data_getLinks(const cMdfBlock_obj_t*, cMdfBlock_set*) {}

void cMdfBlock_data_dtor(cMdfBlock_obj_t* block) {
    if (block && block->ops == &kOps) delete static_cast<cMdfBlock_data_obj_t*>(block);
}

uint64_t cMdfBlock_data_getSize(const cMdfBlock_data_obj_t* block) {
    return block ? cMdfBlockHeader_getDataSize(&block->header) : 0;
}

cIO* cMdfBlock_data_getIOInterface(cMdfBlock_data_obj_t* block) {
    return block ? &block->stream.io : nullptr;
}

const uint8_t* cMdfBlock_data_peek(const cMdfBlock_data_obj_t* block, uint64_t offset, uint64_t n) {
    if (!block || !block->source) return nullptr;
    const uint64_t size = cMdfBlock_data_getSize(block);
    if (offset > size || n > size - offset) return nullptr;
    if (block->dataOffset > static_cast<uint64_t>(INT64_MAX) - size) return nullptr;
    return cIO_fetch(block->source, static_cast<int64_t>(block->dataOffset + offset), n);
}
