#include "mdf/cMdfBlock_ID.h"

#include <cstdio>
#include <new>

#include "io/cSerializer.h"
#include "mdf/cMdfBlock_HD.h"

namespace {

constexpr uint64_t kLength = 64;
const char kFinalised[] = "MDF     ";
const char kUnfinalised[] = "UnFinMF ";

const cMdfBlock_vtable kOps = {cMdfBlock_ID_load, cMdfBlock_ID_getLinks, cMdfBlock_ID_dtor};

} // namespace

CMDF_BLOCK_DEFINE_CASTS(ID)

carc_cMdfBlock cMdfBlock_ID_ctor() {
    cMdfBlock_ID_obj_t* id = new (std::nothrow) cMdfBlock_ID_obj_t();
    if (!id) return {};
    cMdfBlock_init(id);
    id->header = cMdfBlockHeader{MDF_BLOCK_ID, kLength, 0};
    id->ops = &kOps;
    id->position = 0;
    return cMdfBlock_share(id);
}

bool cMdfBlock_ID_load(cMdfBlock_obj_t* block, cIO* stream, cMdfBlock_cache*,
                       const cMdfBlockHeader* header, cdeq_cMdfBlock*) {
    cMdfBlock_ID_obj_t* id = cMdfBlock_obj_t_to_cMdfBlock_ID_obj_t_mut(block);
    if (!id || !header) return false;
    id->header = *header;
    cSerializer ser = cSerializer_ctor(stream);
    std::string ident;
    if (!cSerializer_readCstr(&ser, &ident, 8)) return false;
    if (ident != kFinalised && ident != kUnfinalised) return false;
    id->version.clear();
    id->program.clear();
    return cSerializer_readCstr(&ser, &id->version, 8) &&
           cSerializer_readCstr(&ser, &id->program, 8) && cSerializer_skip(&ser, 4) &&
           cSerializer_readU16(&ser, &id->versionNumber) && cSerializer_skip(&ser, 30) &&
           cSerializer_readU16(&ser, &id->finalizationFlags) &&
           cSerializer_readU16(&ser, &id->customFinalizationFlags);
}

void cMdfBlock_ID_getLinks(const cMdfBlock_obj_t* block, cMdfBlock_set* set) {
    const cMdfBlock_ID_obj_t* id = cMdfBlock_obj_t_to_cMdfBlock_ID_obj_t(block);
    if (id) cMdfBlock_getLinks(id->hd.get(), set);
}

void cMdfBlock_ID_dtor(cMdfBlock_obj_t* block) {
    delete cMdfBlock_obj_t_to_cMdfBlock_ID_obj_t_mut(block);
}
