#pragma once
// The identification block: 64 bytes at file offset 0, without a block header.
//
// On disk:
//   0  8  file identifier "MDF     " (finalised) or "UnFinMF " (unfinalised)
//   8  8  format version text, blank-padded
//   16 8  program identifier text, blank-padded
//   24 4  reserved
//   28 2  version number, major * 100 + minor
//   30 30 reserved
//   60 2  standard unfinalised flags (bit 2: length of the last DT block not written)
//   62 2  custom unfinalised flags
//
// cMdfBlock_ID_obj_t, after the generic part:
//   hd                      - the header block (offset 64); set by the tree load
//   version                 - format version text as stored (8 bytes)
//   program                 - program identifier as stored (8 bytes)
//   versionNumber           - major * 100 + minor
//   finalizationFlags       - standard unfinalised flags
//   customFinalizationFlags - custom unfinalised flags

#include <cstdint>
#include <string>

#include "mdf/cMdfBlock.h"

struct cMdfBlock_ID_obj_t : cMdfBlock_obj_t {
    carc_cMdfBlock hd;
    std::string version;
    std::string program;
    uint16_t versionNumber;
    uint16_t finalizationFlags;
    uint16_t customFinalizationFlags;
};

CMDF_BLOCK_DECLARE_CASTS(ID)

// Standard unfinalised flags as the file numbers them.
enum cMdfUnfinalisedFlag : uint16_t {
    MDF_UNFIN_CG_CYCLE_COUNT = 1,
    MDF_UNFIN_SR_CYCLE_COUNT = 2,
    MDF_UNFIN_DT_LENGTH = 4, // the last DT block's length was never written
    MDF_UNFIN_RD_LENGTH = 8,
    MDF_UNFIN_DL_LENGTH = 16,
    MDF_UNFIN_VLSD_CG_LENGTH = 32,
    MDF_UNFIN_VLSD_OFFSET = 64,
};

carc_cMdfBlock cMdfBlock_ID_ctor();
bool cMdfBlock_ID_load(cMdfBlock_obj_t* block, cIO* stream, cMdfBlock_cache* cache,
                       const cMdfBlockHeader* header, cdeq_cMdfBlock* list);
void cMdfBlock_ID_getLinks(const cMdfBlock_obj_t* block, cMdfBlock_set* set);
void cMdfBlock_ID_dtor(cMdfBlock_obj_t* block);
