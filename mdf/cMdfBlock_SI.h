#pragma once
// A source information block: where a channel group's data comes from (a CAN or LIN bus).
//
// On disk ("##SI", 56 bytes, 3 links):
//   24 link 0 name (TX), 32 link 1 path (TX), 40 link 2 comment (TX or MD)
//   48 1 source type (0 other, 1 ECU, 2 bus, 3 I/O, 4 tool, 5 user)
//   49 1 bus type (0 none, 1 other, 2 CAN, 3 LIN, 4.. further kinds)
//   50 1 flags, 51 5 reserved
//
// cMdfBlock_SI_obj_t, after the generic part:
//   name, path, comment - shared references, each may be empty
//   sourceType, busType, flags - as stored

#include <cstdint>
#include <string_view>

#include "mdf/cMdfBlock.h"

struct cMdfBlock_SI_obj_t : cMdfBlock_obj_t {
    carc_cMdfBlock name;
    carc_cMdfBlock path;
    carc_cMdfBlock comment;
    uint8_t sourceType;
    uint8_t busType;
    uint8_t flags;
};

CMDF_BLOCK_DECLARE_CASTS(SI)

// Results of cMdfBlock_SI_getType and cMdfBlock_SI_getBusType.
constexpr uint8_t cMdfBlock_SI_SOURCE_BUS = 2;
constexpr uint8_t cMdfBlock_SI_SOURCE_OTHER = 6;
constexpr uint8_t cMdfBlock_SI_BUS_NONE = 0;
constexpr uint8_t cMdfBlock_SI_BUS_CAN = 2;
constexpr uint8_t cMdfBlock_SI_BUS_LIN = 3;
constexpr uint8_t cMdfBlock_SI_BUS_OTHER = 4;

carc_cMdfBlock cMdfBlock_SI_ctor();
bool cMdfBlock_SI_load(cMdfBlock_obj_t* block, cIO* stream, cMdfBlock_cache* cache,
                       const cMdfBlockHeader* header, cdeq_cMdfBlock* list);
bool cMdfBlock_SI_save(cMdfBlock_obj_t* block, cMdfBlock_saveContext* ctx, cMdfBlock_obj_t* next);
void cMdfBlock_SI_getLinks(const cMdfBlock_obj_t* block, cMdfBlock_set* set);
void cMdfBlock_SI_dtor(cMdfBlock_obj_t* block);

// The comment's text (MD or TX); empty when there is none.
std::string_view cMdfBlock_SI_getComment(const cMdfBlock_SI_obj_t* si);
// 2 (bus) when the stored source type is 2, else 6 (0 for null).
uint8_t cMdfBlock_SI_getType(const cMdfBlock_SI_obj_t* si);
// Stores 1..5 as is, anything else as 0.
void cMdfBlock_SI_setType(cMdfBlock_SI_obj_t* si, uint8_t type);
// 0 none, 2 CAN, 3 LIN, 4 other (stored 1 or above 3); 0 for null.
uint8_t cMdfBlock_SI_getBusType(const cMdfBlock_SI_obj_t* si);
// Stores 1..3 as is, anything else as 0.
void cMdfBlock_SI_setBusType(cMdfBlock_SI_obj_t* si, uint8_t type);
