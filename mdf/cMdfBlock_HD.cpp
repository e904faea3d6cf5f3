#include "mdf/cMdfBlock_HD.h"

#include <new>

#include "io/cSerializer.h"
#include "support/log.h"

namespace {

constexpr uint64_t kLength = 104;
constexpr uint64_t kLinks = 6;
constexpr uint64_t kDataSize = 32;
enum { kFirstDG, kFirstFH, kChannelHierarchy, kAttachment, kEvent, kComment };

const cMdfBlock_vtable kOps = {cMdfBlock_HD_load, cMdfBlock_HD_getLinks, cMdfBlock_HD_dtor};

} // namespace

CMDF_BLOCK_DEFINE_CASTS(HD)

carc_cMdfBlock cMdfBlock_HD_ctor() {
    cMdfBlock_HD_obj_t* hd = new (std::nothrow) cMdfBlock_HD_obj_t();
    if (!hd) return {};
    cMdfBlock_init(hd);
    hd->header = cMdfBlockHeader{MDF_BLOCK_HD, kLength, kLinks};
    hd->ops = &kOps;
    hd->position = 64;
    return cMdfBlock_share(hd);
}

bool cMdfBlock_HD_load(cMdfBlock_obj_t* block, cIO* stream, cMdfBlock_cache* cache,
                       const cMdfBlockHeader* header, cdeq_cMdfBlock*) {
    cMdfBlock_HD_obj_t* hd = cMdfBlock_obj_t_to_cMdfBlock_HD_obj_t_mut(block);
    std::vector<uint64_t> links;
    if (!hd || !cMdfBlock_loadBegin(hd, stream, header, kLinks, kDataSize, &links)) return false;
    if (!cMdfBlock_loadAt(stream, links[kFirstFH], cache, &hd->fileHistories) ||
        !cMdfBlock_loadAt(stream, links[kFirstDG], cache, &hd->dataGroups)) {
        return false;
    }
    if (links[kChannelHierarchy] != cMdfBlock_NIL || links[kAttachment] != cMdfBlock_NIL ||
        links[kEvent] != cMdfBlock_NIL) {
        ZF_LOGE("Unsupported parameter present in file");
        return false;
    }
    if (!cMdfBlock_loadLink(stream, links[kComment], cache, &hd->comment)) return false;
    if (!cMdfBlock_seekData(hd, stream)) return false;
    cSerializer ser = cSerializer_ctor(stream);
    return cSerializer_readU64(&ser, &hd->startTimeNs) &&
           cSerializer_readI16(&ser, &hd->timeZoneOffset) &&
           cSerializer_readI16(&ser, &hd->dstOffset) && cSerializer_readU8(&ser, &hd->timeFlags) &&
           cSerializer_readU8(&ser, &hd->timeQuality) && cSerializer_readU8(&ser, &hd->flags) &&
           cSerializer_skip(&ser, 1) && cSerializer_readF64(&ser, &hd->startAngle) &&
           cSerializer_readF64(&ser, &hd->startDistance);
}

void cMdfBlock_HD_getLinks(const cMdfBlock_obj_t* block, cMdfBlock_set* set) {
    const cMdfBlock_HD_obj_t* hd = cMdfBlock_obj_t_to_cMdfBlock_HD_obj_t(block);
    if (!hd) return;
    cMdfBlock_getLinks(hd->comment.get(), set);
    for (const carc_cMdfBlock& dg : hd->dataGroups)
        cMdfBlock_getLinks(dg.get(), set);
    for (const carc_cMdfBlock& fh : hd->fileHistories)
        cMdfBlock_getLinks(fh.get(), set);
}

void cMdfBlock_HD_dtor(cMdfBlock_obj_t* block) {
    delete cMdfBlock_obj_t_to_cMdfBlock_HD_obj_t_mut(block);
}
