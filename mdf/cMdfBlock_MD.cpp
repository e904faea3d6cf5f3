#include "mdf/cMdfBlock_MD.h"

#include <new>

#include "mdf/cMdfBlock_TX.h"

namespace {

const cMdfBlock_vtable kOps = {cMdfBlock_MD_load, cMdfBlock_MD_getLinks, cMdfBlock_MD_dtor};

} // namespace

CMDF_BLOCK_DEFINE_CASTS(MD)

carc_cMdfBlock cMdfBlock_MD_ctor() {
    cMdfBlock_MD_obj_t* md = new (std::nothrow) cMdfBlock_MD_obj_t();
    if (!md) return {};
    cMdfBlock_init(md);
    md->header = cMdfBlockHeader{MDF_BLOCK_MD, cMdfBlockHeader_SIZE, 0};
    md->ops = &kOps;
    return cMdfBlock_share(md);
}

bool cMdfBlock_MD_load(cMdfBlock_obj_t* block, cIO* stream, cMdfBlock_cache*,
                       const cMdfBlockHeader* header, cdeq_cMdfBlock*) {
    cMdfBlock_MD_obj_t* md = cMdfBlock_obj_t_to_cMdfBlock_MD_obj_t_mut(block);
    std::vector<uint64_t> links;
    if (!md || !cMdfBlock_loadBegin(md, stream, header, 0, 0, &links)) return false;
    return cMdfBlock_textLoad(stream, header, &md->text);
}

void cMdfBlock_MD_getLinks(const cMdfBlock_obj_t*, cMdfBlock_set*) {}

void cMdfBlock_MD_dtor(cMdfBlock_obj_t* block) {
    delete cMdfBlock_obj_t_to_cMdfBlock_MD_obj_t_mut(block);
}

std::string_view cMdfBlock_MD_getData(const cMdfBlock_MD_obj_t* block) {
    return block ? std::string_view(block->text) : std::string_view();
}
