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
//   canStep      - what the CAN data frame decoder does with the rule, worked out once by
//                  cMdfDecodeRule_plan when the group's rules are built; CAN_STEP_GENERIC
//                  (the full per-rule path) for a rule set up any other way
//   stepByte     - for the CAN_STEP_U_* and CAN_STEP_DOUBLE_TIMESTAMP steps: the byte the value's
//                  8-byte load starts at; for CAN_STEP_BYTES: the first data byte
//   stepShift    - for the CAN_STEP_U_* steps: bits to shift the load right
//   stepMask     - for the CAN_STEP_U_* steps: the value's mask after the shift; for
//                  CAN_STEP_BYTES: the byte count

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

// The CAN data frame decoder's step for one rule. The U_* steps take a little-endian unsigned
// value without conversion that one 8-byte load holds, DOUBLE a byte-aligned little-endian
// 64-bit float without conversion, BYTES a byte-aligned DataBytes array of the record;
// SKIP is a byte array the decoder leaves alone. Every step from DOUBLE_TIMESTAMP on loads
// its value first: keep them last.
enum cMdfCanStep : uint8_t {
    CAN_STEP_GENERIC = 0,
    CAN_STEP_SKIP,
    CAN_STEP_BYTES,
    CAN_STEP_DOUBLE_TIMESTAMP,
    CAN_STEP_U_TIMESTAMP,
    CAN_STEP_U_BUS_CHANNEL,
    CAN_STEP_U_ID,
    CAN_STEP_U_IDE,
    CAN_STEP_U_DIR,
    CAN_STEP_U_EDL,
    CAN_STEP_U_ESI,
    CAN_STEP_U_BRS,
    CAN_STEP_U_DLC,
    CAN_STEP_U_DATA_LENGTH,
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
    cMdfCanStep canStep;
    uint8_t stepShift;
    uint64_t stepByte;
    uint64_t stepMask;
};

// Most rules one channel group may produce; a channel tree that would give more (only a
// crafted file can) is cut there with an error line.
constexpr size_t cMdfDecodeRule_MAX_PER_GROUP = 65536;

// All fields zero: unsigned, big-endian, FIELD_NONE, no name, no VLSD block, identity
// conversion. False for null.
bool cMdfDecodeRule_init(cMdfDecodeRule* rule);
// Sets field from name (exact, case-sensitive); FIELD_NONE for any name not known.
void cMdfDecodeRule_mapName(cMdfDecodeRule* rule);
// Works out canStep and its operands from the other fields; to be called again after any of
// them changes.
void cMdfDecodeRule_plan(cMdfDecodeRule* rule);
// Releases the name and the conversion.
void cMdfDecodeRule_drop(cMdfDecodeRule* rule);
// Deep copy: name copied, conversion cloned, the rest (VLSD block pointer too) as it is.
cMdfDecodeRule cMdfDecodeRule_clone(const cMdfDecodeRule* rule);
// Drops every rule of the vector, last to first, and empties it. For the CG's dtor.
void cMdfDecodeRule_dropAll(std::vector<cMdfDecodeRule>* rules);

// Appends the rules of a channel, or of the leaves composed under it (depth first, list
// order). False only for a null argument.
bool createDecodingRulesInner(const cMdfBlock_CN_obj_t* cn, std::vector<cMdfDecodeRule>* rules);
// Rebuilds the group's rule vector from its channels and returns it; null for null.
std::vector<cMdfDecodeRule>* cMdfBlock_CG_getDecodingRules(cMdfBlock_CG_obj_t* cg);
