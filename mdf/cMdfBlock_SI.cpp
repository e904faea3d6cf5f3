#include "mdf/cMdfBlock_SI.h"

#include <new>

#include "io/cSerializer.h"

namespace {

constexpr uint64_t kLength = 56;
constexpr uint64_t kLinks = 3;
constexpr uint64_t kDataSize = 3; // the 5 reserved bytes at the end are not read
enum { kName, kPath, kComment };

const cMdfBlock_vtable kOps = {cMdfBlock_SI_load, cMdfBlock_SI_getLinks, cMdfBlock_SI_dtor};

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
    uint8_t sourceType, busType;
    if (!cSerializer_readU8(&ser, &sourceType) || !cSerializer_readU8(&ser, &busType) ||
        !cSerializer_readU8(&ser, &si->flags))
        return false;
    si->sourceType = static_cast<cMdfSourceType>(sourceType);
    si->busType = static_cast<cMdfBusType>(busType);
    return true;
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
