#pragma once
// A CAN data frame group's rules compiled into steps, once per channel group when its data
// group's record map is built. The CAN data frame decoder reads every record through these
// steps and nothing else.
//
// Value steps run in rule order and each stores its value into the slot of its message
// field, so that the last rule for a field wins; the message fields are set from the slots
// at the end. Byte steps follow, also in rule order, and append DataBytes up to the frame's
// data length.
//
// cMdfCanStep:
//   op    - what the step does (below)
//   slot  - the value steps' slot (cMdfCanSlot)
//   shift - CAN_OP_LOAD: bits to shift the 8-byte load right
//   set   - slot bits (1 << slot, and CAN_PLAN_DOUBLE_TIME) the step sets in the present mask
//   keep  - present bits the step keeps: a timestamp step decides whether the slot holds
//           the bits of a double or an integer
//   byte  - CAN_OP_LOAD: the byte the 8-byte load starts at; CAN_OP_BYTES: the first byte
//   mask  - CAN_OP_LOAD: the value's mask after the shift; CAN_OP_BYTES: the byte count
//   rule  - index of the step's rule in the group's rule vector
//
// cMdfCanPlan:
//   steps      - value steps, then byte steps
//   firstBytes - index of the first byte step (steps.size() when there is none)

#include <cstdint>
#include <vector>

#include "mdf/cMdfDecodeRule.h"

enum cMdfCanSlot : uint8_t {
    CAN_SLOT_TIMESTAMP,
    CAN_SLOT_BUS_CHANNEL,
    CAN_SLOT_ID,
    CAN_SLOT_IDE,
    CAN_SLOT_DIR,
    CAN_SLOT_EDL,
    CAN_SLOT_ESI,
    CAN_SLOT_BRS,
    CAN_SLOT_DLC,
    CAN_SLOT_DATA_LENGTH,
    CAN_SLOT_COUNT,
};

// Present bit: the timestamp slot holds the bits of a double (else an unsigned integer).
constexpr uint16_t CAN_PLAN_DOUBLE_TIME = 1u << CAN_SLOT_COUNT;

enum cMdfCanOp : uint8_t {
    // A little-endian unsigned value without conversion that one 8-byte load holds, or the
    // byte-aligned 64-bit float timestamp (its bits); a record too short for the load reads
    // it bit by bit.
    CAN_OP_LOAD,
    // Any other value of a known field: extracted and converted through its rule. An integer
    // slot receives the saturated integer, the timestamp slot the double's bits.
    CAN_OP_CONVERT,
    // A value channel the decoder does not know: the record is refused.
    CAN_OP_REFUSE,
    // A byte-aligned DataBytes array of the record.
    CAN_OP_BYTES,
    // DataBytes held as variable-length data beside the record.
    CAN_OP_VLSD_BYTES,
    // A DataBytes array off the byte boundaries: it cannot be read.
    CAN_OP_UNALIGNED_BYTES,
};

struct cMdfCanStep {
    cMdfCanOp op;
    uint8_t slot;
    uint8_t shift;
    uint16_t set;
    uint16_t keep;
    uint32_t rule;
    uint64_t byte;
    uint64_t mask;
};

struct cMdfCanPlan {
    std::vector<cMdfCanStep> steps;
    size_t firstBytes = 0;
};

// Compiles the rules into *plan (empty for null rules). False, with an error line and an
// empty plan, when memory runs out.
[[nodiscard]] bool cMdfCanPlan_build(const std::vector<cMdfDecodeRule>* rules, cMdfCanPlan* plan);
