#include "mdf/cMdfBlock_DG.h"

#include <new>

#include "io/cSerializer.h"
#include "mdf/cMdfBlock_CG.h"

namespace {

constexpr uint64_t kLength = 64;
constexpr uint64_t kLinks = 4;
constexpr uint64_t kDataSize = 1; // the 7 reserved bytes at the end are not read
enum { kNext, kFirstCG, kData, kComment };

const cMdfBlock_vtable kOps = {cMdfBlock_DG_load, cMdfBlock_DG_getLinks, cMdfBlock_DG_dtor};

} // namespace

CMDF_BLOCK_DEFINE_CASTS(DG)

carc_cMdfBlock cMdfBlock_DG_ctor() {
    cMdfBlock_DG_obj_t* dg = new (std::nothrow) cMdfBlock_DG_obj_t();
    if (!dg) return {};
    cMdfBlock_init(dg);
    dg->header = cMdfBlockHeader{MDF_BLOCK_DG, kLength, kLinks};
    dg->ops = &kOps;
    return cMdfBlock_share(dg);
}

bool cMdfBlock_DG_load(cMdfBlock_obj_t* block, cIO* stream, cMdfBlock_cache* cache,
                       const cMdfBlockHeader* header, cdeq_cMdfBlock*) {
    cMdfBlock_DG_obj_t* dg = cMdfBlock_obj_t_to_cMdfBlock_DG_obj_t_mut(block);
    std::vector<uint64_t> links;
    if (!dg || !cMdfBlock_loadBegin(dg, stream, header, kLinks, kDataSize, &links)) return false;
    cMdfBlock_setNext(cache, links[kNext]);
    if (!cMdfBlock_loadAt(stream, links[kFirstCG], cache, &dg->channelGroups) ||
        !cMdfBlock_loadLink(stream, links[kData], cache, &dg->data) ||
        !cMdfBlock_loadLink(stream, links[kComment], cache, &dg->comment) ||
        !cMdfBlock_seekData(dg, stream)) {
        return false;
    }
    cSerializer ser = cSerializer_ctor(stream);
    if (!cSerializer_readU8(&ser, &dg->recordIdSize)) return false;
    return cMdfBlock_DG_updateRecordMap(dg);
}

void cMdfBlock_DG_getLinks(const cMdfBlock_obj_t* block, cMdfBlock_set* set) {
    const cMdfBlock_DG_obj_t* dg = cMdfBlock_obj_t_to_cMdfBlock_DG_obj_t(block);
    if (!dg) return;
    cMdfBlock_getLinks(dg->comment.get(), set);
    cMdfBlock_getLinks(dg->data.get(), set);
    for (const carc_cMdfBlock& cg : dg->channelGroups)
        cMdfBlock_getLinks(cg.get(), set);
}

void cMdfBlock_DG_dtor(cMdfBlock_obj_t* block) {
    delete cMdfBlock_obj_t_to_cMdfBlock_DG_obj_t_mut(block);
}
