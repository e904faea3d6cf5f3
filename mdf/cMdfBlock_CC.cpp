#include "mdf/cMdfBlock_CC.h"

#include <new>

#include "io/cSerializer.h"
#include "support/log.h"

namespace {

constexpr uint64_t kLength = 80;
constexpr uint64_t kLinks = 4;
constexpr uint64_t kDataSize = 24; // fields before the parameters
enum { kName, kUnit, kComment, kInverse };

const cMdfBlock_vtable kOps = {cMdfBlock_CC_load, cMdfBlock_CC_getLinks, cMdfBlock_CC_dtor};

} // namespace

CMDF_BLOCK_DEFINE_CASTS(CC)

carc_cMdfBlock cMdfBlock_CC_ctor() {
    cMdfBlock_CC_obj_t* cc = new (std::nothrow) cMdfBlock_CC_obj_t();
    if (!cc) return {};
    cMdfBlock_init(cc);
    cc->header = cMdfBlockHeader{MDF_BLOCK_CC, kLength, kLinks};
    cc->ops = &kOps;
    return cMdfBlock_share(cc);
}

bool cMdfBlock_CC_load(cMdfBlock_obj_t* block, cIO* stream, cMdfBlock_cache* cache,
                       const cMdfBlockHeader* header, cdeq_cMdfBlock*) {
    cMdfBlock_CC_obj_t* cc = cMdfBlock_obj_t_to_cMdfBlock_CC_obj_t_mut(block);
    std::vector<uint64_t> links;
    if (!cc || !cMdfBlock_loadBegin(cc, stream, header, kLinks, kDataSize, &links)) return false;
    if (!cMdfBlock_loadLink(stream, links[kName], cache, &cc->name) ||
        !cMdfBlock_loadLink(stream, links[kUnit], cache, &cc->unit) ||
        !cMdfBlock_loadLink(stream, links[kComment], cache, &cc->comment) ||
        !cMdfBlock_loadLink(stream, links[kInverse], cache, &cc->inverse) ||
        !cMdfBlock_seekData(cc, stream)) {
        return false;
    }
    cSerializer ser = cSerializer_ctor(stream);
    uint8_t type;
    if (!cSerializer_readU8(&ser, &type) || !cSerializer_readU8(&ser, &cc->precision) ||
        !cSerializer_readU16(&ser, &cc->flags) || !cSerializer_readU16(&ser, &cc->refCount) ||
        !cSerializer_readU16(&ser, &cc->valueCount) || !cSerializer_readF64(&ser, &cc->rangeMin) ||
        !cSerializer_readF64(&ser, &cc->rangeMax)) {
        return false;
    }
    cc->conversionType = static_cast<cMdfConversionType>(type);
    // The parameters must lie inside the block, not in whatever follows it.
    if (uint64_t{cc->valueCount} * 8 > cMdfBlockHeader_getDataSize(header) - kDataSize) {
        ZF_LOGE("Conversion block at offset %lu is too short for its %u values", cc->position,
                unsigned{cc->valueCount});
        return false;
    }
    cc->values.assign(cc->valueCount, 0.0);
    for (double& value : cc->values) {
        if (!cSerializer_readF64(&ser, &value)) return false;
    }
    return true;
}

void cMdfBlock_CC_getLinks(const cMdfBlock_obj_t* block, cMdfBlock_set* set) {
    const cMdfBlock_CC_obj_t* cc = cMdfBlock_obj_t_to_cMdfBlock_CC_obj_t(block);
    if (!cc) return;
    cMdfBlock_getLinks(cc->comment.get(), set);
    cMdfBlock_getLinks(cc->name.get(), set);
    cMdfBlock_getLinks(cc->inverse.get(), set);
    cMdfBlock_getLinks(cc->unit.get(), set);
}

void cMdfBlock_CC_dtor(cMdfBlock_obj_t* block) {
    delete cMdfBlock_obj_t_to_cMdfBlock_CC_obj_t_mut(block);
}
