#include "mdf/cMdfBlock_DT.h"

#include "support/log.h"

#include <new>

namespace {

const cMdfBlock_vtable kOps = {cMdfBlock_DT_load, cMdfBlock_DT_save, cMdfBlock_DT_getLinks,
                               cMdfBlock_DT_dtor};
const cIO_vtable kStreamOps = {cIO_cMdfBlock_DT_read, nullptr, cIO_cMdfBlock_DT_obj_tell,
                               cIO_cMdfBlock_DT_seek, nullptr};

cMdfBlock_DT_obj_t* fromView(cIO* io) {
    if (!io || io->vt != &kStreamOps) return nullptr;
    return cMdfBlock_obj_t_to_cMdfBlock_DT_obj_t_mut(
        reinterpret_cast<cMdfBlock_streamView*>(io)->block);
}

} // namespace

CMDF_BLOCK_DEFINE_CASTS(DT)

carc_cMdfBlock cMdfBlock_DT_ctor() {
    cMdfBlock_DT_obj_t* dt = new (std::nothrow) cMdfBlock_DT_obj_t();
    if (!dt) return {};
    cMdfBlock_init(dt);
    dt->header = cMdfBlockHeader{MDF_BLOCK_DT, cMdfBlockHeader_SIZE, 0};
    dt->ops = &kOps;
    dt->view.io.vt = &kStreamOps;
    dt->view.block = dt;
    return cMdfBlock_share(dt);
}

carc_cMdfBlock cMdfBlock_DT_ctor_fromIO(cIO* stream) {
    int64_t size = cIO_getSize(stream);
    if (size < 0 || cIO_seek(stream, 0, cIO_SEEK_SET) != 0) return {};
    carc_cMdfBlock block = cMdfBlock_DT_ctor();
    cMdfBlock_DT_obj_t* dt = carc_cMdfBlock_to_cMdfBlock_DT_obj_t_mut(block);
    if (!dt) return {};
    dt->header.length = cMdfBlockHeader_SIZE + static_cast<uint64_t>(size);
    dt->source = stream;
    dt->ownsSource = true;
    return block;
}

bool cMdfBlock_DT_load(cMdfBlock_obj_t* block, cIO* stream, cMdfBlock_cache*,
                       const cMdfBlockHeader* header, cdeq_cMdfBlock*) {
    cMdfBlock_DT_obj_t* dt = cMdfBlock_obj_t_to_cMdfBlock_DT_obj_t_mut(block);
    if (!dt || !header) return false;
    // A data block has no links; a link count read from one is damage, and taking it would
    // silently drop the records it covers.
    if (header->linkCount != 0) {
        ZF_LOGE("Data block at offset %lu claims %lu links", (unsigned long)dt->position,
                (unsigned long)header->linkCount);
        return false;
    }
    dt->header = *header;
    dt->dataOffset = dt->position + cMdfBlockHeader_SIZE + 8 * header->linkCount;
    dt->source = stream;
    dt->ownsSource = false;
    dt->view.position = 0;
    return true;
}

bool cMdfBlock_DT_save(cMdfBlock_obj_t* block, cMdfBlock_saveContext* ctx, cMdfBlock_obj_t*) {
    cMdfBlock_DT_obj_t* dt = cMdfBlock_obj_t_to_cMdfBlock_DT_obj_t_mut(block);
    if (!dt || !ctx) return false;
    uint64_t dataSize = cMdfBlockHeader_getDataSize(&dt->header);
    if (dt->ownsSource) {
        int64_t size = cIO_getSize(dt->source);
        if (size < 0) return false;
        dataSize = static_cast<uint64_t>(size);
    }
    dt->header.length = cMdfBlockHeader_SIZE + dataSize;
    dt->header.linkCount = 0;
    dt->dataOffset = dt->ownsSource ? 0 : dt->dataOffset;
    cMdfBlock_reserve(dt, ctx);
    if (!cMdfBlock_saveHeaderAndLinks(dt, ctx->stream, nullptr, 0)) return false;
    if (cIO_seek(&dt->view.io, 0, cIO_SEEK_SET) != 0) return false;
    return cIO_cat(&dt->view.io, ctx->stream) >= 0;
}

void cMdfBlock_DT_getLinks(const cMdfBlock_obj_t*, cMdfBlock_set*) {}

void cMdfBlock_DT_dtor(cMdfBlock_obj_t* block) {
    cMdfBlock_DT_obj_t* dt = cMdfBlock_obj_t_to_cMdfBlock_DT_obj_t_mut(block);
    if (!dt) return;
    if (dt->ownsSource) (void)cIO_close(dt->source);
    delete dt;
}

uint64_t cMdfBlock_DT_getDataOffset(const cMdfBlock_DT_obj_t* dt) {
    return dt ? dt->dataOffset : 0;
}

const uint8_t* cMdfBlock_DT_peek(const cMdfBlock_DT_obj_t* dt, uint64_t offset, uint64_t n) {
    if (!dt || !dt->source) return nullptr;
    const uint64_t dataSize = cMdfBlockHeader_getDataSize(&dt->header);
    if (offset > dataSize || n > dataSize - offset) return nullptr;
    if (dt->dataOffset > static_cast<uint64_t>(INT64_MAX) - dataSize) return nullptr;
    return cIO_fetch(dt->source, static_cast<int64_t>(dt->dataOffset + offset), n);
}

cIO* cMdfBlock_DT_getIOInterface(cMdfBlock_DT_obj_t* dt) {
    return dt ? &dt->view.io : nullptr;
}

void cMdfBlock_DT_setData(cMdfBlock_DT_obj_t* dt, cIO* stream) {
    if (!dt) return;
    if (dt->ownsSource && dt->source != stream) (void)cIO_close(dt->source);
    int64_t size = cIO_getSize(stream);
    dt->header.length = cMdfBlockHeader_SIZE + (size > 0 ? static_cast<uint64_t>(size) : 0);
    dt->header.linkCount = 0;
    dt->source = stream;
    dt->ownsSource = stream != nullptr;
    dt->dataOffset = 0;
    dt->view.position = 0;
}

int64_t cIO_cMdfBlock_DT_read(cIO* io, void* dst, uint64_t n) {
    cMdfBlock_DT_obj_t* dt = fromView(io);
    if (!dt) return -1;
    return cMdfBlock_dataRead(&dt->view, dt->source, dt->dataOffset,
                              cMdfBlockHeader_getDataSize(&dt->header), dst, n, true);
}

int64_t cIO_cMdfBlock_DT_obj_tell(cIO* io) {
    cMdfBlock_DT_obj_t* dt = fromView(io);
    return dt ? static_cast<int64_t>(dt->view.position) : -1;
}

int64_t cIO_cMdfBlock_DT_seek(cIO* io, int64_t offset, int32_t origin) {
    cMdfBlock_DT_obj_t* dt = fromView(io);
    if (!dt) return -1;
    return cMdfBlock_dataSeek(&dt->view, dt->source, dt->dataOffset,
                              cMdfBlockHeader_getDataSize(&dt->header), offset, origin);
}

int64_t cMdfBlock_dataRead(cMdfBlock_streamView* view, cIO* source, uint64_t dataOffset,
                           uint64_t dataSize, void* dst, uint64_t n, bool advanceByAsked) {
    if (!view || !source || (n && !dst)) return -1;
    uint64_t left = dataSize > view->position ? dataSize - view->position : 0;
    uint64_t count = n < left ? n : left;
    if (count == 0) return 0;
    // Every DT and SD block reads from the one file stream: position it each time.
    int64_t at = static_cast<int64_t>(dataOffset + view->position);
    if (cIO_seek(source, at, cIO_SEEK_SET) != at) return -1;
    const int64_t got = cIO_readFully(source, dst, count);
    if (got < 0) return got;
    view->position += advanceByAsked ? count : static_cast<uint64_t>(got);
    return got;
}

int64_t cMdfBlock_dataSeek(cMdfBlock_streamView* view, cIO* source, uint64_t dataOffset,
                           uint64_t dataSize, int64_t offset, int32_t origin) {
    if (!view || !source) return -1;
    int64_t target;
    switch (origin) {
    case cIO_SEEK_SET:
        target = offset;
        break;
    case cIO_SEEK_CUR:
        target = static_cast<int64_t>(view->position) + offset;
        break;
    case cIO_SEEK_END:
        target = static_cast<int64_t>(dataSize);
        break;
    default:
        return -1;
    }
    if (target < 0) return -1;
    if (static_cast<uint64_t>(target) > dataSize) target = static_cast<int64_t>(dataSize);
    int64_t at = static_cast<int64_t>(dataOffset) + target;
    if (cIO_seek(source, at, cIO_SEEK_SET) != at) return -1;
    view->position = static_cast<uint64_t>(target);
    return target;
}
