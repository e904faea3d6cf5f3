#pragma once
// A data group: one data block holding the records of its channel groups.
//
// On disk ("##DG", 64 bytes, 4 links):
//   24 link 0 next data group, 32 link 1 first channel group, 40 link 2 data block (DT),
//   48 link 3 comment (TX or MD), 56 1 record id size in bytes, 57 7 reserved
//
// cMdfBlock_DG_obj_t, after the generic part:
//   channelGroups - the channel groups, chain order
//   data          - the data block (a DT block in a readable file), may be empty
//   comment       - TX or MD block, may be empty
//   recordIdSize  - bytes of record id before each record (0, 1, 2, 4 or 8)
//   recordMap     - record id -> record length, rules and decoder of its channel group;
//                   built at the end of the load (cMdfBlock_DG_updateRecordMap), which
//                   fails the load when a channel lies outside its record

#include <cstdint>
#include <unordered_map>

#include "mdf/cMdfBlock.h"
#include "mdf/cMdfRecordReader.h"

struct cMdfBlock_DG_obj_t : cMdfBlock_obj_t {
    cdeq_cMdfBlock channelGroups;
    carc_cMdfBlock data;
    carc_cMdfBlock comment;
    uint8_t recordIdSize;
    std::unordered_map<uint64_t, cMdfRecordInfo> recordMap;
};

CMDF_BLOCK_DECLARE_CASTS(DG)

carc_cMdfBlock cMdfBlock_DG_ctor();
bool cMdfBlock_DG_load(cMdfBlock_obj_t* block, cIO* stream, cMdfBlock_cache* cache,
                       const cMdfBlockHeader* header, cdeq_cMdfBlock* list);
void cMdfBlock_DG_getLinks(const cMdfBlock_obj_t* block, cMdfBlock_set* set);
void cMdfBlock_DG_dtor(cMdfBlock_obj_t* block);
