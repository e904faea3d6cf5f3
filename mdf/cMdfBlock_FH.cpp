#include "mdf/cMdfBlock_FH.h"

#include <new>

#include "io/cSerializer.h"

namespace {

constexpr uint64_t kLength = 56;
constexpr uint64_t kLinks = 2;
constexpr uint64_t kDataSize = 13; // the 3 reserved bytes at the end are not read
enum { kNext, kComment };

const cMdfBlock_vtable kOps = {cMdfBlock_FH_load, cMdfBlock_FH_getLinks, cMdfBlock_FH_dtor};

} // namespace

CMDF_BLOCK_DEFINE_CASTS(FH)

carc_cMdfBlock cMdfBlock_FH_ctor() {
    cMdfBlock_FH_obj_t* fh = new (std::nothrow) cMdfBlock_FH_obj_t();
    if (!fh) return {};
    cMdfBlock_init(fh);
    fh->header = cMdfBlockHeader{MDF_BLOCK_FH, kLength, kLinks};
    fh->ops = &kOps;
    return cMdfBlock_share(fh);
}

bool cMdfBlock_FH_load(cMdfBlock_obj_t* block, cIO* stream, cMdfBlock_cache* cache,
                       const cMdfBlockHeader* header, cdeq_cMdfBlock*) {
    cMdfBlock_FH_obj_t* fh = cMdfBlock_obj_t_to_cMdfBlock_FH_obj_t_mut(block);
    std::vector<uint64_t> links;
    if (!fh || !cMdfBlock_loadBegin(fh, stream, header, kLinks, kDataSize, &links)) return false;
    cMdfBlock_setNext(cache, links[kNext]);
    if (!cMdfBlock_loadLink(stream, links[kComment], cache, &fh->comment)) return false;
    if (!cMdfBlock_seekData(fh, stream)) return false;
    cSerializer ser = cSerializer_ctor(stream);
    return cSerializer_readU64(&ser, &fh->timeNs) &&
           cSerializer_readI16(&ser, &fh->timeZoneOffset) &&
           cSerializer_readI16(&ser, &fh->dstOffset) && cSerializer_readU8(&ser, &fh->timeFlags);
}

void cMdfBlock_FH_getLinks(const cMdfBlock_obj_t* block, cMdfBlock_set* set) {
    const cMdfBlock_FH_obj_t* fh = cMdfBlock_obj_t_to_cMdfBlock_FH_obj_t(block);
    if (fh) cMdfBlock_getLinks(fh->comment.get(), set);
}

void cMdfBlock_FH_dtor(cMdfBlock_obj_t* block) {
    delete cMdfBlock_obj_t_to_cMdfBlock_FH_obj_t_mut(block);
}
