#pragma once
// A channel group: one kind of record of a data group, its record id, size and channels.
//
// On disk ("##CG", 104 bytes, 6 links):
//   24 link 0 next channel group, 32 link 1 first channel, 40 link 2 acquisition name (TX),
//   48 link 3 acquisition source (SI), 56 link 4 sample reduction (must be nil),
//   64 link 5 comment (TX or MD)
//   72 8 record id, 80 8 cycle count, 88 2 flags (bit 0: VLSD group), 90 2 path separator,
//   92 4 reserved, 96 4 data bytes per record, 100 4 invalidation bytes per record
//   (for a VLSD group 96..103 are one 64-bit count of variable-length bytes)
//
// cMdfBlock_CG_obj_t, after the generic part:
//   channels          - the channels, chain order
//   acquisitionName   - TX block, may be empty (the group's name, e.g. "CAN_DataFrame")
//   acquisitionSource - SI block, may be empty
//   comment           - TX or MD block, may be empty
//   recordId          - the record id of this group's records
//   cycleCount        - number of records
//   flags             - bit 0: VLSD channel group
//   pathSeparator     - as stored
//   dataBytes         - data bytes per record (low half of the VLSD byte count)
//   invalidationBytes - invalidation bytes per record (high half of the VLSD byte count)
//   rules             - decode rules of the channels, built at the end of the load

#include <cstdint>
#include <vector>

#include "mdf/cMdfBlock.h"
#include "mdf/cMdfDecodeRule.h"

struct cMdfBlock_CG_obj_t : cMdfBlock_obj_t {
    cdeq_cMdfBlock channels;
    carc_cMdfBlock acquisitionName;
    carc_cMdfBlock acquisitionSource;
    carc_cMdfBlock comment;
    uint64_t recordId;
    uint64_t cycleCount;
    uint16_t flags;
    uint16_t pathSeparator;
    uint32_t dataBytes;
    uint32_t invalidationBytes;
    std::vector<cMdfDecodeRule> rules;
};

CMDF_BLOCK_DECLARE_CASTS(CG)

// Channel group flags as the file numbers them.
enum cMdfChannelGroupFlag : uint16_t {
    MDF_CG_FLAG_VLSD = 1, // a VLSD channel group: length-prefixed records of signal data
    MDF_CG_FLAG_BUS_EVENT = 2,
    MDF_CG_FLAG_PLAIN_BUS_EVENT = 4,
};

carc_cMdfBlock cMdfBlock_CG_ctor();
bool cMdfBlock_CG_load(cMdfBlock_obj_t* block, cIO* stream, cMdfBlock_cache* cache,
                       const cMdfBlockHeader* header, cdeq_cMdfBlock* list);
void cMdfBlock_CG_getLinks(const cMdfBlock_obj_t* block, cMdfBlock_set* set);
void cMdfBlock_CG_dtor(cMdfBlock_obj_t* block);

bool cMdfBlock_CG_isVLSD(const cMdfBlock_CG_obj_t* cg);
uint64_t cMdfBlock_CG_getRecordID(const cMdfBlock_CG_obj_t* cg);
