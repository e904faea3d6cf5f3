#pragma once
// A file history block: one entry of the list of tools that wrote or changed the file.
//
// On disk ("##FH", 56 bytes, 2 links):
//   24 link 0 next file history, 32 link 1 comment (MD with the tool's XML)
//   40 8 time of the change ns, 48 2 time zone offset min, 50 2 daylight saving offset min,
//   52 1 time flags, 53 3 reserved
//
// cMdfBlock_FH_obj_t, after the generic part:
//   comment        - MD (or TX) block, may be empty
//   timeNs         - time of the change, ns since 1970
//   timeZoneOffset - minutes
//   dstOffset      - minutes
//   timeFlags      - as stored

#include <cstdint>

#include "mdf/cMdfBlock.h"

struct cMdfBlock_FH_obj_t : cMdfBlock_obj_t {
    carc_cMdfBlock comment;
    uint64_t timeNs;
    int16_t timeZoneOffset;
    int16_t dstOffset;
    uint8_t timeFlags;
};

CMDF_BLOCK_DECLARE_CASTS(FH)

carc_cMdfBlock cMdfBlock_FH_ctor();
bool cMdfBlock_FH_load(cMdfBlock_obj_t* block, cIO* stream, cMdfBlock_cache* cache,
                       const cMdfBlockHeader* header, cdeq_cMdfBlock* list);
void cMdfBlock_FH_getLinks(const cMdfBlock_obj_t* block, cMdfBlock_set* set);
void cMdfBlock_FH_dtor(cMdfBlock_obj_t* block);
