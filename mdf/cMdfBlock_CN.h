#pragma once
// A channel: where one signal lies in a record, its bit count and data type.
//
// On disk ("##CN", 160 bytes, 8 links):
//   24 link 0 next channel, 32 link 1 composition (first CN of a structure), 40 link 2 name
//   (TX), 48 link 3 source (SI), 56 link 4 conversion (CC), 64 link 5 signal data (SD or a
//   VLSD CG), 72 link 6 unit, 80 link 7 comment
//   88 1 channel type, 89 1 sync type, 90 1 data type, 91 1 bit offset, 92 4 byte offset
//   (behind the record id), 96 4 bit count, 100 4 flags, 104 4 invalidation bit position,
//   108 1 precision, 109 1 reserved, 110 2 attachment count, 112..159 six doubles:
//   value range min/max, limit min/max, extended limit min/max
//
// cMdfBlock_CN_obj_t, after the generic part:
//   composition                      - channels composed under this one, chain order
//   name, source, conversion, signalData, unit, comment - shared references, may be empty
//   channelType, syncType, dataType  - as stored (see the getters for the numbering used)
//   bitOffset                        - 0..7
//   byteOffset                       - in the record, behind the record id
//   bitCount                         - bits of the value
//   flags, invalidationBitPos, precision, attachmentCount - as stored
//   rangeMin, rangeMax, limitMin, limitMax, limitExtMin, limitExtMax - as stored

#include <cstdint>

#include "mdf/cMdfBlock.h"

struct cMdfBlock_CN_obj_t : cMdfBlock_obj_t {
    cdeq_cMdfBlock composition;
    carc_cMdfBlock name;
    carc_cMdfBlock source;
    carc_cMdfBlock conversion;
    carc_cMdfBlock signalData;
    carc_cMdfBlock unit;
    carc_cMdfBlock comment;
    uint8_t channelType;
    uint8_t syncType;
    uint8_t dataType;
    uint8_t bitOffset;
    uint32_t byteOffset;
    uint32_t bitCount;
    uint32_t flags;
    uint32_t invalidationBitPos;
    uint8_t precision;
    uint16_t attachmentCount;
    double rangeMin;
    double rangeMax;
    double limitMin;
    double limitMax;
    double limitExtMin;
    double limitExtMax;
};

CMDF_BLOCK_DECLARE_CASTS(CN)

carc_cMdfBlock cMdfBlock_CN_ctor();
bool cMdfBlock_CN_load(cMdfBlock_obj_t* block, cIO* stream, cMdfBlock_cache* cache,
                       const cMdfBlockHeader* header, cdeq_cMdfBlock* list);
bool cMdfBlock_CN_save(cMdfBlock_obj_t* block, cMdfBlock_saveContext* ctx, cMdfBlock_obj_t* next);
void cMdfBlock_CN_getLinks(const cMdfBlock_obj_t* block, cMdfBlock_set* set);
void cMdfBlock_CN_dtor(cMdfBlock_obj_t* block);

// Stored channel type 0..6 (0 fixed, 1 VLSD, 2 master, 3 virtual master, 4 sync, 5 maximum
// length, 6 virtual data), 7 for anything else and for null.
uint8_t cMdfBlock_CN_getChannelType(const cMdfBlock_CN_obj_t* cn);
// 1, 2 and 6 are stored as given, anything else as 0.
void cMdfBlock_CN_setChannelType(cMdfBlock_CN_obj_t* cn, uint8_t type);
// Stored data type + 1 for stored 0..10 (1 unsigned LE, 2 unsigned BE, 3 signed LE, 4 signed
// BE, 5 float LE, 6 float BE, 7..10 strings, 11 byte array); 0 for anything else and null.
uint8_t cMdfBlock_CN_getDataType(const cMdfBlock_CN_obj_t* cn);
// 5 stores 4, 11 stores 10, anything else stores 0.
void cMdfBlock_CN_setDataType(cMdfBlock_CN_obj_t* cn, uint8_t type);
// Stored sync type 0..4, 5 for anything else and null.
uint8_t cMdfBlock_CN_getSyncType(const cMdfBlock_CN_obj_t* cn);
// 1..4 stored as given, anything else as 0.
void cMdfBlock_CN_setSyncType(cMdfBlock_CN_obj_t* cn, uint8_t type);
uint8_t cMdfBlock_CN_getBitOffset(const cMdfBlock_CN_obj_t* cn);
void cMdfBlock_CN_setBitOffset(cMdfBlock_CN_obj_t* cn, uint8_t offset);
uint32_t cMdfBlock_CN_getByteOffset(const cMdfBlock_CN_obj_t* cn);
void cMdfBlock_CN_setByteOffset(cMdfBlock_CN_obj_t* cn, uint32_t offset);
uint32_t cMdfBlock_CN_getBitLength(const cMdfBlock_CN_obj_t* cn);
void cMdfBlock_CN_setBitLength(cMdfBlock_CN_obj_t* cn, uint32_t bits);
uint32_t cMdfBlock_CN_getChannelFlags(const cMdfBlock_CN_obj_t* cn);
void cMdfBlock_CN_setChannelFlags(cMdfBlock_CN_obj_t* cn, uint32_t flags);
