#pragma once
// How one leaf channel of a channel group is read out of a record and which bus message
// field it feeds. A channel group owns one vector of rules, built from its channels when it
// is loaded; the data group's record map and every record view only point at that vector.
//
// cMdfDecodeRule, field by field:
//   bitPosition  - first bit of the value in the record's data bytes (byte offset * 8 +
//                  bit offset of the channel)
//   bitLength    - the channel's bit count
//   valueKind    - how the raw bits are taken: unsigned integer, byte array or IEEE float
//   littleEndian - 1 little-endian (Intel) bit order, 0 big-endian (Motorola)
//   conversion   - raw to physical value; owned by the rule (released by cMdfDecodeRule_drop)
//   name         - the channel's name as the file spells it
//   field        - the message field the channel feeds, from the name
//   vlsdBlock    - for a variable-length channel: the block its signal data link names (an SD
//                  block or a VLSD channel group of the same data group); null otherwise.
//                  Not owned: the channel holds the reference.

#include <cstdint>
#include <string>
#include <vector>

#include "mdf/cMdfConversionRule.h"

struct cMdfBlock_obj_t;
struct cMdfBlock_CN_obj_t;
struct cMdfBlock_CG_obj_t;

enum cMdfValueKind : uint32_t {
    VALUE_UNSIGNED = 0,
    VALUE_BYTE_ARRAY = 1,
    VALUE_FLOAT = 2,
};

enum cMdfDecodeField : uint32_t {
    FIELD_NONE = 0,
    FIELD_BRS = 1,
    FIELD_BUS_CHANNEL = 2,
    FIELD_DATA_BYTES = 3,
    FIELD_DATA_LENGTH = 4,
    FIELD_DIR = 5,
    FIELD_DLC = 6,
    FIELD_EDL = 7,
    FIELD_ERROR_TYPE = 8,
    FIELD_ESI = 9,
    FIELD_ID = 10,
    FIELD_IDE = 11,
    FIELD_LIN_BUS_CHANNEL = 12,
    FIELD_LIN_DATA_BYTES = 13,
    FIELD_LIN_DATA_LENGTH = 14,
    FIELD_LIN_DIR = 15,
    FIELD_LIN_ID = 16,
    FIELD_LIN_RECEIVED_DATA_BYTE_COUNT = 17,
    FIELD_TIMESTAMP = 18,
};

struct cMdfDecodeRule {
    uint64_t bitPosition;
    uint64_t bitLength;
    cMdfValueKind valueKind;
    uint8_t littleEndian;
    cMdfConversionRule conversion;
    std::string name;
    cMdfDecodeField field;
    cMdfBlock_obj_t* vlsdBlock;
};

// Most rules one channel group may produce; a channel tree that would give more (only a
// crafted file can) is cut there with an error line.
constexpr size_t cMdfDecodeRule_MAX_PER_GROUP = 65536;

// All fields zero: unsigned, big-endian, FIELD_NONE, no name, no VLSD block, identity
// conversion. False for null.
bool cMdfDecodeRule_init(cMdfDecodeRule* rule);
// Sets field from name (exact, case-sensitive); FIELD_NONE for any name not known.
void cMdfDecodeRule_mapName(cMdfDecodeRule* rule);
// Releases the name and the conversion.
void cMdfDecodeRule_drop(cMdfDecodeRule* rule);
// Drops every rule of the vector, last to first, and empties it. For the CG's dtor.
void cMdfDecodeRule_dropAll(std::vector<cMdfDecodeRule>* rules);

// Appends the rules of a channel, or of the leaves composed under it (depth first, list
// order). False only for a null argument.
bool createDecodingRulesInner(const cMdfBlock_CN_obj_t* cn, std::vector<cMdfDecodeRule>* rules);
// Rebuilds the group's rule vector from its channels and returns it; null for null.
std::vector<cMdfDecodeRule>* cMdfBlock_CG_getDecodingRules(cMdfBlock_CG_obj_t* cg);
