#include "mdf/cMdfBlock_TX.h"

#include <cstring>
#include <new>

#include "io/cSerializer.h"

namespace {

const cMdfBlock_vtable kOps = {cMdfBlock_TX_load, cMdfBlock_TX_getLinks, cMdfBlock_TX_dtor};

} // namespace

CMDF_BLOCK_DEFINE_CASTS(TX)

carc_cMdfBlock cMdfBlock_TX_ctor() {
    cMdfBlock_TX_obj_t* tx = new (std::nothrow) cMdfBlock_TX_obj_t();
    if (!tx) return {};
    cMdfBlock_init(tx);
    tx->header = cMdfBlockHeader{MDF_BLOCK_TX, cMdfBlockHeader_SIZE, 0};
    tx->ops = &kOps;
    return cMdfBlock_share(tx);
}

bool cMdfBlock_TX_load(cMdfBlock_obj_t* block, cIO* stream, cMdfBlock_cache*,
                       const cMdfBlockHeader* header, cdeq_cMdfBlock*) {
    cMdfBlock_TX_obj_t* tx = cMdfBlock_obj_t_to_cMdfBlock_TX_obj_t_mut(block);
    std::vector<uint64_t> links;
    if (!tx || !cMdfBlock_loadBegin(tx, stream, header, 0, 0, &links)) return false;
    return cMdfBlock_textLoad(stream, header, &tx->text);
}

void cMdfBlock_TX_getLinks(const cMdfBlock_obj_t*, cMdfBlock_set*) {}

void cMdfBlock_TX_dtor(cMdfBlock_obj_t* block) {
    delete cMdfBlock_obj_t_to_cMdfBlock_TX_obj_t_mut(block);
}

std::string_view cMdfBlock_TX_getData(const cMdfBlock_TX_obj_t* block) {
    return block ? std::string_view(block->text) : std::string_view();
}

bool cMdfBlock_textLoad(cIO* stream, const cMdfBlockHeader* header, std::string* text) {
    text->clear();
    uint64_t size = cMdfBlockHeader_getDataSize(header);
    if (size == 0) return true;
    // The loader has checked that the block lies inside the file, so size is bounded.
    cSerializer ser = cSerializer_ctor(stream);
    if (!cSerializer_readCstr(&ser, text, size)) return false;
    // Cut at the terminator; a text without one, or starting with one, is kept whole.
    size_t end = text->find('\0');
    if (end != std::string::npos && end > 0) text->resize(end);
    return true;
}
