#include "mdf/cMdfBlock_CG.h"

#include <new>

#include "io/cSerializer.h"
#include "mdf/cMdfBlock_CN.h"
#include "support/log.h"

namespace {

constexpr uint64_t kLength = 104;
constexpr uint64_t kLinks = 6;
constexpr uint64_t kDataSize = 32;
enum { kNext, kFirstCN, kAcqName, kAcqSource, kSampleReduction, kComment };

const cMdfBlock_vtable kOps = {cMdfBlock_CG_load, cMdfBlock_CG_getLinks, cMdfBlock_CG_dtor};

} // namespace

CMDF_BLOCK_DEFINE_CASTS(CG)

carc_cMdfBlock cMdfBlock_CG_ctor() {
    cMdfBlock_CG_obj_t* cg = new (std::nothrow) cMdfBlock_CG_obj_t();
    if (!cg) return {};
    cMdfBlock_init(cg);
    cg->header = cMdfBlockHeader{MDF_BLOCK_CG, kLength, kLinks};
    cg->ops = &kOps;
    return cMdfBlock_share(cg);
}

bool cMdfBlock_CG_load(cMdfBlock_obj_t* block, cIO* stream, cMdfBlock_cache* cache,
                       const cMdfBlockHeader* header, cdeq_cMdfBlock*) {
    cMdfBlock_CG_obj_t* cg = cMdfBlock_obj_t_to_cMdfBlock_CG_obj_t_mut(block);
    std::vector<uint64_t> links;
    if (!cg || !cMdfBlock_loadBegin(cg, stream, header, kLinks, kDataSize, &links)) return false;
    cMdfBlock_setNext(cache, links[kNext]);
    if (!cMdfBlock_loadAt(stream, links[kFirstCN], cache, &cg->channels) ||
        !cMdfBlock_loadLink(stream, links[kAcqName], cache, &cg->acquisitionName) ||
        !cMdfBlock_loadLink(stream, links[kAcqSource], cache, &cg->acquisitionSource)) {
        return false;
    }
    if (links[kSampleReduction] != cMdfBlock_NIL) {
        ZF_LOGE("Unsupported parameter present in file");
        return false;
    }
    if (!cMdfBlock_loadLink(stream, links[kComment], cache, &cg->comment) ||
        !cMdfBlock_seekData(cg, stream)) {
        return false;
    }
    cSerializer ser = cSerializer_ctor(stream);
    if (!cSerializer_readU64(&ser, &cg->recordId) || !cSerializer_readU64(&ser, &cg->cycleCount) ||
        !cSerializer_readU16(&ser, &cg->flags) || !cSerializer_readU16(&ser, &cg->pathSeparator) ||
        !cSerializer_skip(&ser, 4) || !cSerializer_readU32(&ser, &cg->dataBytes) ||
        !cSerializer_readU32(&ser, &cg->invalidationBytes)) {
        return false;
    }
    for (const carc_cMdfBlock& channel : cg->channels) {
        const cMdfBlock_CN_obj_t* cn = carc_cMdfBlock_to_cMdfBlock_CN_obj_t(channel);
        if (cn) createDecodingRulesInner(cn, &cg->rules);
    }
    return true;
}

void cMdfBlock_CG_getLinks(const cMdfBlock_obj_t* block, cMdfBlock_set* set) {
    const cMdfBlock_CG_obj_t* cg = cMdfBlock_obj_t_to_cMdfBlock_CG_obj_t(block);
    if (!cg) return;
    cMdfBlock_getLinks(cg->comment.get(), set);
    cMdfBlock_getLinks(cg->acquisitionSource.get(), set);
    cMdfBlock_getLinks(cg->acquisitionName.get(), set);
    for (const carc_cMdfBlock& cn : cg->channels)
        cMdfBlock_getLinks(cn.get(), set);
}

void cMdfBlock_CG_dtor(cMdfBlock_obj_t* block) {
    cMdfBlock_CG_obj_t* cg = cMdfBlock_obj_t_to_cMdfBlock_CG_obj_t_mut(block);
    if (!cg) return;
    cMdfDecodeRule_dropAll(&cg->rules);
    delete cg;
}

bool cMdfBlock_CG_isVLSD(const cMdfBlock_CG_obj_t* cg) {
    return cg && (cg->flags & MDF_CG_FLAG_VLSD) != 0;
}

uint64_t cMdfBlock_CG_getRecordID(const cMdfBlock_CG_obj_t* cg) {
    return cg ? cg->recordId : 0;
}
