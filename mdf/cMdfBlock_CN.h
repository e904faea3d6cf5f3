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
//   channelType, syncType, dataType  - as stored, in the format's own numbering (a value the
//                                      enums do not name is kept as it is)
//   bitOffset                        - 0..7
//   byteOffset                       - in the record, behind the record id
//   bitCount                         - bits of the value
//   flags, invalidationBitPos, precision, attachmentCount - as stored
//   rangeMin, rangeMax, limitMin, limitMax, limitExtMin, limitExtMax - as stored

#include <cstdint>

#include "mdf/cMdfBlock.h"

// Channel types as the file numbers them.
enum cMdfChannelType : uint8_t {
    MDF_CHANNEL_FIXED = 0,
    MDF_CHANNEL_VLSD = 1, // variable-length signal data: the record holds an offset
    MDF_CHANNEL_MASTER = 2,
    MDF_CHANNEL_VIRTUAL_MASTER = 3,
    MDF_CHANNEL_SYNC = 4,
    MDF_CHANNEL_MAX_LENGTH = 5,
    MDF_CHANNEL_VIRTUAL_DATA = 6,
};

// Synchronisation types as the file numbers them.
enum cMdfSyncType : uint8_t {
    MDF_SYNC_NONE = 0,
    MDF_SYNC_TIME = 1,
    MDF_SYNC_ANGLE = 2,
    MDF_SYNC_DISTANCE = 3,
    MDF_SYNC_INDEX = 4,
};

// Data types as the file numbers them.
enum cMdfDataType : uint8_t {
    MDF_DATA_UINT_LE = 0,
    MDF_DATA_UINT_BE = 1,
    MDF_DATA_INT_LE = 2,
    MDF_DATA_INT_BE = 3,
    MDF_DATA_FLOAT_LE = 4,
    MDF_DATA_FLOAT_BE = 5,
    MDF_DATA_STRING_LATIN1 = 6,
    MDF_DATA_STRING_UTF8 = 7,
    MDF_DATA_STRING_UTF16_LE = 8,
    MDF_DATA_STRING_UTF16_BE = 9,
    MDF_DATA_BYTE_ARRAY = 10,
};

struct cMdfBlock_CN_obj_t : cMdfBlock_obj_t {
    cdeq_cMdfBlock composition;
    carc_cMdfBlock name;
    carc_cMdfBlock source;
    carc_cMdfBlock conversion;
    carc_cMdfBlock signalData;
    carc_cMdfBlock unit;
    carc_cMdfBlock comment;
    cMdfChannelType channelType;
    cMdfSyncType syncType;
    cMdfDataType dataType;
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
void cMdfBlock_CN_getLinks(const cMdfBlock_obj_t* block, cMdfBlock_set* set);
void cMdfBlock_CN_dtor(cMdfBlock_obj_t* block);
