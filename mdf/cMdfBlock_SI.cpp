#include "mdf/cMdfBlock_SI.h"

#include <new>

#include "io/cSerializer.h"
#include "mdf/cMdfBlock_MD.h"
#include "mdf/cMdfBlock_TX.h"

namespace {

constexpr uint64_t kLength = 56;
constexpr uint64_t kLinks = 3;
constexpr uint64_t kDataSize = 3; // the 5 reserved bytes at the end are not read
enum { kName, kPath, kComment };

const cMdfBlock_vtable kOps = {cMdfBlock_SI_load, cMdfBlock_SI_save, cMdfBlock_SI_getLinks,
                               cMdfBlock_SI_dtor};

} // namespace

CMDF_BLOCK_DEFINE_CASTS(SI)

carc_cMdfBlock cMdfBlock_SI_ctor() {
    cMdfBlock_SI_obj_t* si = new (std::nothrow) cMdfBlock_SI_obj_t();
    if (!si) return {};
    cMdfBlock_init(si);
    si->header = cMdfBlockHeader{MDF_BLOCK_SI, kLength, kLinks};
    si->ops = &kOps;
    return cMdfBlock_share(si);
}

bool cMdfBlock_SI_load(cMdfBlock_obj_t* block, cIO* stream, cMdfBlock_cache* cache,
                       const cMdfBlockHeader* header, cdeq_cMdfBlock*) {
    cMdfBlock_SI_obj_t* si = cMdfBlock_obj_t_to_cMdfBlock_SI_obj_t_mut(block);
    std::vector<uint64_t> links;
    if (!si || !cMdfBlock_loadBegin(si, stream, header, kLinks, kDataSize, &links)) return false;
    if (!cMdfBlock_loadLink(stream, links[kName], cache, &si->name) ||
        !cMdfBlock_loadLink(stream, links[kPath], cache, &si->path) ||
        !cMdfBlock_loadLink(stream, links[kComment], cache, &si->comment) ||
        !cMdfBlock_seekData(si, stream)) {
        return false;
    }
    cSerializer ser = cSerializer_ctor(stream);
    return cSerializer_readU8(&ser, &si->sourceType) && cSerializer_readU8(&ser, &si->busType) &&
           cSerializer_readU8(&ser, &si->flags);
}

bool cMdfBlock_SI_save(cMdfBlock_obj_t* block, cMdfBlock_saveContext* ctx, cMdfBlock_obj_t*) {
    cMdfBlock_SI_obj_t* si = cMdfBlock_obj_t_to_cMdfBlock_SI_obj_t_mut(block);
    if (!si || !ctx) return false;
    cMdfBlock_reserve(si, ctx);
    if (!cMdfBlock_save(si->name.get(), ctx, nullptr) ||
        !cMdfBlock_save(si->path.get(), ctx, nullptr) ||
        !cMdfBlock_save(si->comment.get(), ctx, nullptr)) {
        return false;
    }
    si->header.linkCount = kLinks;
    uint64_t links[kLinks] = {cMdfBlock_linkOf(si->name.get()), cMdfBlock_linkOf(si->path.get()),
                              cMdfBlock_linkOf(si->comment.get())};
    if (!cMdfBlock_saveHeaderAndLinks(si, ctx->stream, links, kLinks)) return false;
    cSerializer ser = cSerializer_ctor(ctx->stream);
    return cSerializer_writeU8(&ser, &si->sourceType) && cSerializer_writeU8(&ser, &si->busType) &&
           cSerializer_writeU8(&ser, &si->flags);
}

void cMdfBlock_SI_getLinks(const cMdfBlock_obj_t* block, cMdfBlock_set* set) {
    const cMdfBlock_SI_obj_t* si = cMdfBlock_obj_t_to_cMdfBlock_SI_obj_t(block);
    if (!si) return;
    cMdfBlock_getLinks(si->comment.get(), set);
    cMdfBlock_getLinks(si->name.get(), set);
    cMdfBlock_getLinks(si->path.get(), set);
}

void cMdfBlock_SI_dtor(cMdfBlock_obj_t* block) {
    delete cMdfBlock_obj_t_to_cMdfBlock_SI_obj_t_mut(block);
}

std::string_view cMdfBlock_SI_getComment(const cMdfBlock_SI_obj_t* si) {
    if (!si) return {};
    if (const cMdfBlock_MD_obj_t* md = carc_cMdfBlock_to_cMdfBlock_MD_obj_t(si->comment)) {
        return cMdfBlock_MD_getData(md);
    }
    return cMdfBlock_TX_getData(carc_cMdfBlock_to_cMdfBlock_TX_obj_t(si->comment));
}

uint8_t cMdfBlock_SI_getType(const cMdfBlock_SI_obj_t* si) {
    if (!si) return 0;
    return si->sourceType == cMdfBlock_SI_SOURCE_BUS ? cMdfBlock_SI_SOURCE_BUS
                                                     : cMdfBlock_SI_SOURCE_OTHER;
}

void cMdfBlock_SI_setType(cMdfBlock_SI_obj_t* si, uint8_t type) {
    if (si) si->sourceType = (type >= 1 && type <= 5) ? type : 0;
}

uint8_t cMdfBlock_SI_getBusType(const cMdfBlock_SI_obj_t* si) {
    if (!si) return cMdfBlock_SI_BUS_NONE;
    switch (si->busType) {
    case 0:
        return cMdfBlock_SI_BUS_NONE;
    case 2:
        return cMdfBlock_SI_BUS_CAN;
    case 3:
        return cMdfBlock_SI_BUS_LIN;
    default:
        return cMdfBlock_SI_BUS_OTHER;
    }
}

void cMdfBlock_SI_setBusType(cMdfBlock_SI_obj_t* si, uint8_t type) {
    if (si) si->busType = (type >= 1 && type <= 3) ? type : 0;
}
