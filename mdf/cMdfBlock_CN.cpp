#include "mdf/cMdfBlock_CN.h"

#include <new>

#include "io/cSerializer.h"
#include "support/log.h"

namespace {

constexpr uint64_t kLength = 160;
constexpr uint64_t kLinks = 8;
constexpr uint64_t kDataSize = 72;
enum { kNext, kComposition, kName, kSource, kConversion, kSignalData, kUnit, kComment };

const cMdfBlock_vtable kOps = {cMdfBlock_CN_load, cMdfBlock_CN_getLinks, cMdfBlock_CN_dtor};

// Reads a one-byte code of the format into its enum.
template <typename Code> bool readCode(cSerializer* ser, Code* code) {
    uint8_t raw;
    if (!cSerializer_readU8(ser, &raw)) return false;
    *code = static_cast<Code>(raw);
    return true;
}

} // namespace

CMDF_BLOCK_DEFINE_CASTS(CN)

carc_cMdfBlock cMdfBlock_CN_ctor() {
    cMdfBlock_CN_obj_t* cn = new (std::nothrow) cMdfBlock_CN_obj_t();
    if (!cn) return {};
    cMdfBlock_init(cn);
    cn->header = cMdfBlockHeader{MDF_BLOCK_CN, kLength, kLinks};
    cn->ops = &kOps;
    return cMdfBlock_share(cn);
}

bool cMdfBlock_CN_load(cMdfBlock_obj_t* block, cIO* stream, cMdfBlock_cache* cache,
                       const cMdfBlockHeader* header, cdeq_cMdfBlock*) {
    cMdfBlock_CN_obj_t* cn = cMdfBlock_obj_t_to_cMdfBlock_CN_obj_t_mut(block);
    std::vector<uint64_t> links;
    if (!cn || !cMdfBlock_loadBegin(cn, stream, header, kLinks, kDataSize, &links)) return false;
    cMdfBlock_setNext(cache, links[kNext]);
    if (!cMdfBlock_loadAt(stream, links[kComposition], cache, &cn->composition) ||
        !cMdfBlock_loadLink(stream, links[kName], cache, &cn->name) ||
        !cMdfBlock_loadLink(stream, links[kSource], cache, &cn->source) ||
        !cMdfBlock_loadLink(stream, links[kConversion], cache, &cn->conversion) ||
        !cMdfBlock_loadLink(stream, links[kSignalData], cache, &cn->signalData) ||
        !cMdfBlock_loadLink(stream, links[kUnit], cache, &cn->unit) ||
        !cMdfBlock_loadLink(stream, links[kComment], cache, &cn->comment) ||
        !cMdfBlock_seekData(cn, stream)) {
        return false;
    }
    cSerializer ser = cSerializer_ctor(stream);
    return readCode(&ser, &cn->channelType) && readCode(&ser, &cn->syncType) &&
           readCode(&ser, &cn->dataType) && cSerializer_readU8(&ser, &cn->bitOffset) &&
           cSerializer_readU32(&ser, &cn->byteOffset) && cSerializer_readU32(&ser, &cn->bitCount) &&
           cSerializer_readU32(&ser, &cn->flags) &&
           cSerializer_readU32(&ser, &cn->invalidationBitPos) &&
           cSerializer_readU8(&ser, &cn->precision) && cSerializer_skip(&ser, 1) &&
           cSerializer_readU16(&ser, &cn->attachmentCount) &&
           cSerializer_readF64(&ser, &cn->rangeMin) && cSerializer_readF64(&ser, &cn->rangeMax) &&
           cSerializer_readF64(&ser, &cn->limitMin) && cSerializer_readF64(&ser, &cn->limitMax) &&
           cSerializer_readF64(&ser, &cn->limitExtMin) &&
           cSerializer_readF64(&ser, &cn->limitExtMax);
}

void cMdfBlock_CN_getLinks(const cMdfBlock_obj_t* block, cMdfBlock_set* set) {
    const cMdfBlock_CN_obj_t* cn = cMdfBlock_obj_t_to_cMdfBlock_CN_obj_t(block);
    if (!cn) return;
    cMdfBlock_getLinks(cn->comment.get(), set);
    cMdfBlock_getLinks(cn->name.get(), set);
    cMdfBlock_getLinks(cn->signalData.get(), set);
    cMdfBlock_getLinks(cn->conversion.get(), set);
    cMdfBlock_getLinks(cn->source.get(), set);
    cMdfBlock_getLinks(cn->unit.get(), set);
    for (const carc_cMdfBlock& member : cn->composition)
        cMdfBlock_getLinks(member.get(), set);
}

void cMdfBlock_CN_dtor(cMdfBlock_obj_t* block) {
    delete cMdfBlock_obj_t_to_cMdfBlock_CN_obj_t_mut(block);
}
