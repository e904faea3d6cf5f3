#pragma once
// A source information block: where a channel group's data comes from (a CAN or LIN bus).
//
// On disk ("##SI", 56 bytes, 3 links):
//   24 link 0 name (TX), 32 link 1 path (TX), 40 link 2 comment (TX or MD)
//   48 1 source type (cMdfSourceType)
//   49 1 bus type (cMdfBusType)
//   50 1 flags, 51 5 reserved
//
// cMdfBlock_SI_obj_t, after the generic part:
//   name, path, comment - shared references, each may be empty
//   sourceType, busType, flags - as stored (a code the enums do not name is kept as it is)

#include <cstdint>

#include "mdf/cMdfBlock.h"

// Source types as the file numbers them.
enum cMdfSourceType : uint8_t {
    MDF_SOURCE_OTHER = 0,
    MDF_SOURCE_ECU = 1,
    MDF_SOURCE_BUS = 2,
    MDF_SOURCE_IO = 3,
    MDF_SOURCE_TOOL = 4,
    MDF_SOURCE_USER = 5,
};

// Bus types as the file numbers them.
enum cMdfBusType : uint8_t {
    MDF_BUS_NONE = 0,
    MDF_BUS_OTHER = 1,
    MDF_BUS_CAN = 2,
    MDF_BUS_LIN = 3,
    MDF_BUS_MOST = 4,
    MDF_BUS_FLEXRAY = 5,
    MDF_BUS_K_LINE = 6,
    MDF_BUS_ETHERNET = 7,
    MDF_BUS_USB = 8,
};

struct cMdfBlock_SI_obj_t : cMdfBlock_obj_t {
    carc_cMdfBlock name;
    carc_cMdfBlock path;
    carc_cMdfBlock comment;
    cMdfSourceType sourceType;
    cMdfBusType busType;
    uint8_t flags;
};

CMDF_BLOCK_DECLARE_CASTS(SI)

carc_cMdfBlock cMdfBlock_SI_ctor();
bool cMdfBlock_SI_load(cMdfBlock_obj_t* block, cIO* stream, cMdfBlock_cache* cache,
                       const cMdfBlockHeader* header, cdeq_cMdfBlock* list);
void cMdfBlock_SI_getLinks(const cMdfBlock_obj_t* block, cMdfBlock_set* set);
void cMdfBlock_SI_dtor(cMdfBlock_obj_t* block);

// 2 (bus) when the stored source type is 2, else 6 (0 for null).
