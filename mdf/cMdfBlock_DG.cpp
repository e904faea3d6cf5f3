#include "mdf/cMdfBlock_DG.h"

#include <cassert>
#include <new>
#include <string>

#include "io/cSerializer.h"
#include "mdf/cMdfBlock_CG.h"
#include "mdf/cMdfBlock_TX.h"
#include "support/log.h"

namespace {

constexpr uint64_t kLength = 64;
constexpr uint64_t kLinks = 4;
constexpr uint64_t kDataSize = 1; // the 7 reserved bytes at the end are not read
enum { kNext, kFirstCG, kData, kComment };

const cMdfBlock_vtable kOps = {cMdfBlock_DG_load, cMdfBlock_DG_getLinks, cMdfBlock_DG_dtor};

bool isDataBytes(const cMdfDecodeRule& rule) {
    return rule.field == FIELD_DATA_BYTES || rule.field == FIELD_LIN_DATA_BYTES;
}

// Whether the bits a rule reads from a record of recordBytes bytes are there.
bool liesInside(const cMdfDecodeRule& rule, uint64_t recordBytes) {
    if (rule.field == FIELD_NONE) return true; // feeds nothing
    if (rule.vlsdBlock) {
        // The bytes come from elsewhere; only an SD entry is found through the record.
        if (rule.vlsdBlock->header.type != MDF_BLOCK_SD) return true;
    } else if (isDataBytes(rule) && rule.valueKind == VALUE_BYTE_ARRAY) {
        return rule.bitPosition / 8 < recordBytes;
    }
    return rule.bitPosition <= 8 * recordBytes &&
           rule.bitLength <= 8 * recordBytes - rule.bitPosition;
}

std::string groupName(const cMdfBlock_CG_obj_t* cg) {
    const cMdfBlock_TX_obj_t* name = carc_cMdfBlock_to_cMdfBlock_TX_obj_t(cg->acquisitionName);
    if (name) return std::string(cMdfBlock_TX_getData(name));
    return "with record id " + std::to_string(cg->recordId);
}

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
    cMdfBlock_DG_updateRecordMap(dg);
    return cMdfBlock_DG_checkRecordLayout(dg);
}

bool cMdfBlock_DG_checkRecordLayout(const cMdfBlock_DG_obj_t* dg) {
    assert(dg);
    for (const carc_cMdfBlock& block : dg->channelGroups) {
        const cMdfBlock_CG_obj_t* cg = carc_cMdfBlock_to_cMdfBlock_CG_obj_t(block);
        if (!cg || cMdfBlock_CG_isVLSD(cg)) continue;
        for (const cMdfDecodeRule& rule : cg->rules) {
            if (liesInside(rule, cg->dataBytes)) continue;
            ZF_LOGE("Channel %s of channel group %s lies outside its record of %u bytes",
                    rule.name.c_str(), groupName(cg).c_str(), cg->dataBytes);
            return false;
        }
    }
    return true;
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
