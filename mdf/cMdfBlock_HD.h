#pragma once
// The header block at offset 64: root of the tree, start time of the measurement.
//
// On disk ("##HD", 104 bytes, 6 links):
//   24 link 0 first data group, 32 link 1 first file history, 40/48/56 links 2-4 channel
//   hierarchy, attachment, event (must be nil), 64 link 5 comment (TX or MD)
//   72 8 start time ns since 1970, 80 2 time zone offset min, 82 2 daylight saving offset
//   min, 84 1 time flags, 85 1 time quality class, 86 1 flags, 87 1 reserved,
//   88 8 start angle, 96 8 start distance
//
// cMdfBlock_HD_obj_t, after the generic part:
//   dataGroups      - the data groups, chain order
//   fileHistories   - the file history blocks, chain order
//   comment         - TX or MD block, may be empty
//   startTimeNs     - start time, ns since 1970-01-01
//   timeZoneOffset  - minutes
//   dstOffset       - daylight saving offset, minutes
//   timeFlags, timeQuality, flags - as stored
//   startAngle, startDistance     - as stored

#include <cstdint>
#include <string_view>

#include "mdf/cMdfBlock.h"

struct cMdfBlock_HD_obj_t : cMdfBlock_obj_t {
    cdeq_cMdfBlock dataGroups;
    cdeq_cMdfBlock fileHistories;
    carc_cMdfBlock comment;
    uint64_t startTimeNs;
    int16_t timeZoneOffset;
    int16_t dstOffset;
    uint8_t timeFlags;
    uint8_t timeQuality;
    uint8_t flags;
    double startAngle;
    double startDistance;
};

CMDF_BLOCK_DECLARE_CASTS(HD)

carc_cMdfBlock cMdfBlock_HD_ctor();
bool cMdfBlock_HD_load(cMdfBlock_obj_t* block, cIO* stream, cMdfBlock_cache* cache,
                       const cMdfBlockHeader* header, cdeq_cMdfBlock* list);
void cMdfBlock_HD_getLinks(const cMdfBlock_obj_t* block, cMdfBlock_set* set);
void cMdfBlock_HD_dtor(cMdfBlock_obj_t* block);

uint64_t cMdfBlock_HD_getStartTimeNs(const cMdfBlock_HD_obj_t* hd);
