#include "mdf/cMdfBlock_ID.h"

#include <cstdio>
#include <new>

#include "io/cSerializer.h"
#include "mdf/cMdfBlock_HD.h"

namespace {

constexpr uint64_t kLength = 64;
const char kFinalised[] = "MDF     ";
const char kUnfinalised[] = "UnFinMF ";

const cMdfBlock_vtable kOps = {cMdfBlock_ID_load, cMdfBlock_ID_save, cMdfBlock_ID_getLinks,
                               cMdfBlock_ID_dtor};

} // namespace

CMDF_BLOCK_DEFINE_CASTS(ID)

carc_cMdfBlock cMdfBlock_ID_ctor() {
    cMdfBlock_ID_obj_t* id = new (std::nothrow) cMdfBlock_ID_obj_t();
    if (!id) return {};
    cMdfBlock_init(id);
    id->header = cMdfBlockHeader{MDF_BLOCK_ID, kLength, 0};
    id->ops = &kOps;
    id->position = 0;
    return cMdfBlock_share(id);
}

bool cMdfBlock_ID_load(cMdfBlock_obj_t* block, cIO* stream, cMdfBlock_cache*,
                       const cMdfBlockHeader* header, cdeq_cMdfBlock*) {
    cMdfBlock_ID_obj_t* id = cMdfBlock_obj_t_to_cMdfBlock_ID_obj_t_mut(block);
    if (!id || !header) return false;
    id->header = *header;
    cSerializer ser = cSerializer_ctor(stream);
    std::string ident;
    if (!cSerializer_readCstr(&ser, &ident, 8)) return false;
    if (ident != kFinalised && ident != kUnfinalised) return false;
    id->version.clear();
    id->program.clear();
    return cSerializer_readCstr(&ser, &id->version, 8) &&
           cSerializer_readCstr(&ser, &id->program, 8) && cSerializer_skip(&ser, 4) &&
           cSerializer_readU16(&ser, &id->versionNumber) && cSerializer_skip(&ser, 30) &&
           cSerializer_readU16(&ser, &id->finalizationFlags) &&
           cSerializer_readU16(&ser, &id->customFinalizationFlags);
}

bool cMdfBlock_ID_save(cMdfBlock_obj_t* block, cMdfBlock_saveContext* ctx, cMdfBlock_obj_t*) {
    cMdfBlock_ID_obj_t* id = cMdfBlock_obj_t_to_cMdfBlock_ID_obj_t_mut(block);
    if (!id || !ctx) return false;
    cMdfBlock_reserve(id, ctx);
    bool unfinished = id->finalizationFlags != 0 || id->customFinalizationFlags != 0;
    // The texts are written at their fixed widths, cut or zero-padded.
    std::string version = id->version, program = id->program;
    version.resize(8, '\0');
    program.resize(8, '\0');
    uint8_t reserved[30] = {};
    cSerializer ser = cSerializer_ctor(ctx->stream);
    bool ok = cSerializer_writeCsview(&ser, unfinished ? kUnfinalised : kFinalised, 8) &&
              cSerializer_writeCsview(&ser, version.data(), 8) &&
              cSerializer_writeCsview(&ser, program.data(), 8) &&
              cSerializer_writeCsview(&ser, reserved, 4) &&
              cSerializer_writeU16(&ser, &id->versionNumber) &&
              cSerializer_writeCsview(&ser, reserved, 30) &&
              cSerializer_writeU16(&ser, &id->finalizationFlags) &&
              cSerializer_writeU16(&ser, &id->customFinalizationFlags);
    return ok && cMdfBlock_save(id->hd.get(), ctx, nullptr);
}

void cMdfBlock_ID_getLinks(const cMdfBlock_obj_t* block, cMdfBlock_set* set) {
    const cMdfBlock_ID_obj_t* id = cMdfBlock_obj_t_to_cMdfBlock_ID_obj_t(block);
    if (id) cMdfBlock_getLinks(id->hd.get(), set);
}

void cMdfBlock_ID_dtor(cMdfBlock_obj_t* block) {
    delete cMdfBlock_obj_t_to_cMdfBlock_ID_obj_t_mut(block);
}

uint16_t cMdfBlock_ID_getFinalizationFlags(const cMdfBlock_ID_obj_t* id) {
    return id ? id->finalizationFlags : 0;
}

void cMdfBlock_ID_setFinalizationFlags(cMdfBlock_ID_obj_t* id, uint16_t flags) {
    if (id) id->finalizationFlags = flags;
}

uint16_t cMdfBlock_ID_getFinalizationFlagsCustom(const cMdfBlock_ID_obj_t* id) {
    return id ? id->customFinalizationFlags : 0;
}

void cMdfBlock_ID_setCustomFinalizationFlags(cMdfBlock_ID_obj_t* id, uint16_t flags) {
    if (id) id->customFinalizationFlags = flags;
}

bool cMdfBlock_ID_setVersion(cMdfBlock_ID_obj_t* id, uint32_t major, uint32_t minor) {
    if (!id || major >= 100 || minor >= 100) return false;
    char text[16];
    snprintf(text, sizeof text, "%u.%u", major, minor);
    id->version = text;
    id->version.resize(8, ' ');
    id->versionNumber = static_cast<uint16_t>(major * 100 + minor);
    return true;
}

bool cMdfBlock_ID_setProgram(cMdfBlock_ID_obj_t* id, const char* text, uint64_t length) {
    if (!id || length > 7 || (length && !text)) return false;
    id->program.assign(text ? text : "", length);
    id->program.resize(7, ' ');
    id->program.push_back('\0');
    return true;
}
