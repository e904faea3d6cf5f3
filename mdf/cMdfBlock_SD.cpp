#include "mdf/cMdfBlock_SD.h"

#include "support/log.h"

#include <new>

namespace {

const cMdfBlock_vtable kOps = {cMdfBlock_SD_load, cMdfBlock_SD_save, cMdfBlock_SD_getLinks,
                               cMdfBlock_SD_dtor};
const cIO_vtable kStreamOps = {cIO_cMdfBlock_SD_read, nullptr, cIO_cMdfBlock_SD_obj_tell,
                               cIO_cMdfBlock_SD_seek, nullptr};

cMdfBlock_SD_obj_t* fromView(cIO* io) {
    if (!io || io->vt != &kStreamOps) return nullptr;
    return cMdfBlock_obj_t_to_cMdfBlock_SD_obj_t_mut(
        reinterpret_cast<cMdfBlock_streamView*>(io)->block);
}

} // namespace

CMDF_BLOCK_DEFINE_CASTS(SD)

carc_cMdfBlock cMdfBlock_SD_ctor() {
    cMdfBlock_SD_obj_t* sd = new (std::nothrow) cMdfBlock_SD_obj_t();
    if (!sd) return {};
    cMdfBlock_init(sd);
    sd->header = cMdfBlockHeader{MDF_BLOCK_SD, cMdfBlockHeader_SIZE, 0};
    sd->ops = &kOps;
    sd->view.io.vt = &kStreamOps;
    sd->view.block = sd;
    return cMdfBlock_share(sd);
}

carc_cMdfBlock cMdfBlock_SD_ctor_fromIO(cIO* stream) {
    int64_t size = cIO_getSize(stream);
    if (size < 0 || cIO_seek(stream, 0, cIO_SEEK_SET) != 0) return {};
    carc_cMdfBlock block = cMdfBlock_SD_ctor();
    cMdfBlock_SD_obj_t* sd = carc_cMdfBlock_to_cMdfBlock_SD_obj_t_mut(block);
    if (!sd) return {};
    sd->header.length = cMdfBlockHeader_SIZE + static_cast<uint64_t>(size);
    sd->source = stream;
    sd->ownsSource = true;
    return block;
}

bool cMdfBlock_SD_load(cMdfBlock_obj_t* block, cIO* stream, cMdfBlock_cache*,
                       const cMdfBlockHeader* header, cdeq_cMdfBlock*) {
    cMdfBlock_SD_obj_t* sd = cMdfBlock_obj_t_to_cMdfBlock_SD_obj_t_mut(block);
    if (!sd || !header) return false;
    // A data block has no links; a link count read from one is damage, and taking it would
    // silently drop the records it covers.
    if (header->linkCount != 0) {
        ZF_LOGE("Data block at offset %lu claims %lu links", (unsigned long)sd->position,
                (unsigned long)header->linkCount);
        return false;
    }
    sd->header = *header;
    sd->dataOffset = sd->position + cMdfBlockHeader_SIZE + 8 * header->linkCount;
    sd->source = stream;
    sd->ownsSource = false;
    sd->view.position = 0;
    return true;
}

bool cMdfBlock_SD_save(cMdfBlock_obj_t* block, cMdfBlock_saveContext* ctx, cMdfBlock_obj_t*) {
    cMdfBlock_SD_obj_t* sd = cMdfBlock_obj_t_to_cMdfBlock_SD_obj_t_mut(block);
    if (!sd || !ctx) return false;
    uint64_t dataSize = cMdfBlockHeader_getDataSize(&sd->header);
    if (sd->ownsSource) {
        int64_t size = cIO_getSize(sd->source);
        if (size < 0) return false;
        dataSize = static_cast<uint64_t>(size);
    }
    sd->header.length = cMdfBlockHeader_SIZE + dataSize;
    sd->header.linkCount = 0;
    sd->dataOffset = sd->ownsSource ? 0 : sd->dataOffset;
    cMdfBlock_reserve(sd, ctx);
    if (!cMdfBlock_saveHeaderAndLinks(sd, ctx->stream, nullptr, 0)) return false;
    if (cIO_seek(&sd->view.io, 0, cIO_SEEK_SET) != 0) return false;
    return cIO_cat(&sd->view.io, ctx->stream) >= 0;
}

void cMdfBlock_SD_getLinks(const cMdfBlock_obj_t*, cMdfBlock_set*) {}

void cMdfBlock_SD_dtor(cMdfBlock_obj_t* block) {
    cMdfBlock_SD_obj_t* sd = cMdfBlock_obj_t_to_cMdfBlock_SD_obj_t_mut(block);
    if (!sd) return;
    if (sd->ownsSource) (void)cIO_close(sd->source);
    delete sd;
}

uint64_t cMdfBlock_SD_getDataOffset(const cMdfBlock_SD_obj_t* sd) {
    return sd ? sd->dataOffset : 0;
}

cIO* cMdfBlock_SD_getIOInterface(cMdfBlock_SD_obj_t* sd) {
    return sd ? &sd->view.io : nullptr;
}

void cMdfBlock_SD_setData(cMdfBlock_SD_obj_t* sd, cIO* stream) {
    if (!sd) return;
    if (sd->ownsSource && sd->source != stream) (void)cIO_close(sd->source);
    int64_t size = cIO_getSize(stream);
    sd->header.length = cMdfBlockHeader_SIZE + (size > 0 ? static_cast<uint64_t>(size) : 0);
    sd->header.linkCount = 0;
    sd->source = stream;
    sd->ownsSource = stream != nullptr;
    sd->dataOffset = 0;
    sd->view.position = 0;
}

int64_t cIO_cMdfBlock_SD_read(cIO* io, void* dst, uint64_t n) {
    cMdfBlock_SD_obj_t* sd = fromView(io);
    if (!sd) return -1;
    return cMdfBlock_dataRead(&sd->view, sd->source, sd->dataOffset,
                              cMdfBlockHeader_getDataSize(&sd->header), dst, n, false);
}

int64_t cIO_cMdfBlock_SD_obj_tell(cIO* io) {
    cMdfBlock_SD_obj_t* sd = fromView(io);
    return sd ? static_cast<int64_t>(sd->view.position) : -1;
}

int64_t cIO_cMdfBlock_SD_seek(cIO* io, int64_t offset, int32_t origin) {
    cMdfBlock_SD_obj_t* sd = fromView(io);
    if (!sd) return -1;
    return cMdfBlock_dataSeek(&sd->view, sd->source, sd->dataOffset,
                              cMdfBlockHeader_getDataSize(&sd->header), offset, origin);
}
