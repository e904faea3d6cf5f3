#include "mdf/cMdfBlock_CN.h"

#include <new>

#include "io/cSerializer.h"
#include "support/log.h"

namespace {

constexpr uint64_t kLength = 160;
constexpr uint64_t kLinks = 8;
constexpr uint64_t kDataSize = 72;
enum { kNext, kComposition, kName, kSource, kConversion, kSignalData, kUnit, kComment };

// Highest stored values the getters pass through; above them the value is unknown.
constexpr uint8_t kMaxChannelType = 6, kUnknownChannelType = 7;
constexpr uint8_t kMaxDataType = 10;
constexpr uint8_t kMaxSyncType = 4, kUnknownSyncType = 5;

const cMdfBlock_vtable kOps = {cMdfBlock_CN_load, cMdfBlock_CN_save, cMdfBlock_CN_getLinks,
                               cMdfBlock_CN_dtor};

// The data fields in file order; load and save walk the same list.
template <typename Ser, typename CN, typename U8, typename U16, typename U32, typename F64>
bool fields(Ser* ser, CN* cn, U8 u8, U16 u16, U32 u32, F64 f64, bool (*reserved)(Ser*)) {
    return u8(ser, &cn->channelType) && u8(ser, &cn->syncType) && u8(ser, &cn->dataType) &&
           u8(ser, &cn->bitOffset) && u32(ser, &cn->byteOffset) && u32(ser, &cn->bitCount) &&
           u32(ser, &cn->flags) && u32(ser, &cn->invalidationBitPos) && u8(ser, &cn->precision) &&
           reserved(ser) && u16(ser, &cn->attachmentCount) && f64(ser, &cn->rangeMin) &&
           f64(ser, &cn->rangeMax) && f64(ser, &cn->limitMin) && f64(ser, &cn->limitMax) &&
           f64(ser, &cn->limitExtMin) && f64(ser, &cn->limitExtMax);
}

bool skipReserved(cSerializer* ser) {
    return cSerializer_skip(ser, 1);
}
bool writeReserved(cSerializer* ser) {
    uint8_t zero = 0;
    return cSerializer_writeU8(ser, &zero);
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
    return fields(&ser, cn, cSerializer_readU8, cSerializer_readU16, cSerializer_readU32,
                  cSerializer_readF64, skipReserved);
}

bool cMdfBlock_CN_save(cMdfBlock_obj_t* block, cMdfBlock_saveContext* ctx, cMdfBlock_obj_t* next) {
    cMdfBlock_CN_obj_t* cn = cMdfBlock_obj_t_to_cMdfBlock_CN_obj_t_mut(block);
    if (!cn || !ctx) return false;
    cMdfBlock_reserve(cn, ctx);
    if (!cMdfBlock_saveChain(&cn->composition, ctx) ||
        !cMdfBlock_save(cn->name.get(), ctx, nullptr) ||
        !cMdfBlock_save(cn->source.get(), ctx, nullptr) ||
        !cMdfBlock_save(cn->conversion.get(), ctx, nullptr) ||
        !cMdfBlock_save(cn->signalData.get(), ctx, nullptr) ||
        !cMdfBlock_save(cn->unit.get(), ctx, nullptr) ||
        !cMdfBlock_save(cn->comment.get(), ctx, nullptr)) {
        return false;
    }
    cn->header.length = kLength;
    cn->header.linkCount = kLinks;
    uint64_t links[kLinks] = {
        cMdfBlock_linkOf(next),
        cn->composition.empty() ? 0 : cMdfBlock_linkOf(cn->composition.front().get()),
        cMdfBlock_linkOf(cn->name.get()),
        cMdfBlock_linkOf(cn->source.get()),
        cMdfBlock_linkOf(cn->conversion.get()),
        cMdfBlock_linkOf(cn->signalData.get()),
        cMdfBlock_linkOf(cn->unit.get()),
        cMdfBlock_linkOf(cn->comment.get())};
    if (!cMdfBlock_saveHeaderAndLinks(cn, ctx->stream, links, kLinks)) return false;
    cSerializer ser = cSerializer_ctor(ctx->stream);
    if (!fields(&ser, cn, cSerializer_writeU8, cSerializer_writeU16, cSerializer_writeU32,
                cSerializer_writeF64, writeReserved)) {
        return false;
    }
    int64_t at = cIO_tell(ctx->stream);
    if (at != static_cast<int64_t>(cn->position + cn->header.length)) {
        ZF_LOGE("Error during save. Expected to be at %zu but stream is at %zu",
                static_cast<size_t>(cn->position + cn->header.length), static_cast<size_t>(at));
        return false;
    }
    return true;
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

uint8_t cMdfBlock_CN_getChannelType(const cMdfBlock_CN_obj_t* cn) {
    if (!cn || cn->channelType > kMaxChannelType) return kUnknownChannelType;
    return cn->channelType;
}

void cMdfBlock_CN_setChannelType(cMdfBlock_CN_obj_t* cn, uint8_t type) {
    if (cn) cn->channelType = (type == 1 || type == 2 || type == 6) ? type : 0;
}

uint8_t cMdfBlock_CN_getDataType(const cMdfBlock_CN_obj_t* cn) {
    if (!cn || cn->dataType > kMaxDataType) return 0;
    return static_cast<uint8_t>(cn->dataType + 1);
}

void cMdfBlock_CN_setDataType(cMdfBlock_CN_obj_t* cn, uint8_t type) {
    if (!cn) return;
    cn->dataType = type == 5 ? 4 : type == 11 ? 10 : 0;
}

uint8_t cMdfBlock_CN_getSyncType(const cMdfBlock_CN_obj_t* cn) {
    if (!cn || cn->syncType > kMaxSyncType) return kUnknownSyncType;
    return cn->syncType;
}

void cMdfBlock_CN_setSyncType(cMdfBlock_CN_obj_t* cn, uint8_t type) {
    if (cn) cn->syncType = (type >= 1 && type <= 4) ? type : 0;
}

uint8_t cMdfBlock_CN_getBitOffset(const cMdfBlock_CN_obj_t* cn) {
    return cn ? cn->bitOffset : 0;
}

void cMdfBlock_CN_setBitOffset(cMdfBlock_CN_obj_t* cn, uint8_t offset) {
    if (cn) cn->bitOffset = offset;
}

uint32_t cMdfBlock_CN_getByteOffset(const cMdfBlock_CN_obj_t* cn) {
    return cn ? cn->byteOffset : 0;
}

void cMdfBlock_CN_setByteOffset(cMdfBlock_CN_obj_t* cn, uint32_t offset) {
    if (cn) cn->byteOffset = offset;
}

uint32_t cMdfBlock_CN_getBitLength(const cMdfBlock_CN_obj_t* cn) {
    return cn ? cn->bitCount : 0;
}

void cMdfBlock_CN_setBitLength(cMdfBlock_CN_obj_t* cn, uint32_t bits) {
    if (cn) cn->bitCount = bits;
}

uint32_t cMdfBlock_CN_getChannelFlags(const cMdfBlock_CN_obj_t* cn) {
    return cn ? cn->flags : 0;
}

void cMdfBlock_CN_setChannelFlags(cMdfBlock_CN_obj_t* cn, uint32_t flags) {
    if (cn) cn->flags = flags;
}
