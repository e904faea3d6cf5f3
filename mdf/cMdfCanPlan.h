#pragma once
// A CAN data frame group's rules compiled into steps, once per channel group when its data
// group's record map is built. The CAN data frame decoder reads every record through these
// steps and nothing else.
//
// The rules are compiled in rule order. A value rule's step takes its field's slot, so that
// a later rule for the same field replaces the earlier one: the last rule for a field wins,
// and a record costs one step per field however many rules name it. Value steps read the
// record and nothing else, so the ones replaced need not run. A byte rule's step appends
// DataBytes (up to the frame's data length), all of them in rule order.
//
// cMdfCanStep:
//   op    - what the step does (below)
//   shift - CAN_OP_LOAD: bits to shift the 8-byte load right
//   rule  - index of the step's rule in the group's rule vector
//   byte  - CAN_OP_LOAD: the byte the 8-byte load starts at; CAN_OP_BYTES: the first byte;
//           UINT64_MAX for a converted value, so that one comparison with the record's
//           length tells a load that fits from everything else
//   mask  - CAN_OP_LOAD: the value's mask after the shift; CAN_OP_BYTES: the byte count
//
// cMdfCanPlan:
//   values  - per field slot, the step of the last rule for the field; valid where present
//   present - bit (1 << slot) per slot a rule feeds, and CAN_PLAN_DOUBLE_TIME when the last
//             timestamp rule gives a double
//   loadsIn - the record length from which every value step is a load that fits (0 for
//             none); a shorter record, or a group with a converted value (UINT64_MAX), has
//             each step check its record
//   refuses - a rule names a value channel the decoder does not know: every record fails
//   bytes   - the byte steps, in rule order
//   usual   - the logger's usual group: a rule feeds every slot, every value step is a load
//             (loadsIn is finite) and the integer ones give 32 bits at most, the one byte
//             step is a CAN_OP_BYTES array, and nothing is refused. A record of loadsIn bytes
//             or more then takes the decoder's short way.
//   runEnd  - for usual: the byte after the array (byte + count); a record that long holds
//             it whole

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
    // A byte-aligned DataBytes array of the record.
    CAN_OP_BYTES,
    // DataBytes held as variable-length data beside the record.
    CAN_OP_VLSD_BYTES,
    // A DataBytes array off the byte boundaries: it cannot be read.
    CAN_OP_UNALIGNED_BYTES,
};

struct cMdfCanStep {
    cMdfCanOp op;
    uint8_t shift;
    uint32_t rule;
    uint64_t byte;
    uint64_t mask;
};

struct cMdfCanPlan {
    cMdfCanStep values[CAN_SLOT_COUNT] = {};
    uint16_t present = 0;
    uint64_t loadsIn = 0;
    bool refuses = false;
    std::vector<cMdfCanStep> bytes;
    bool usual = false;
    uint64_t runEnd = 0;
};

// Compiles the rules into *plan (empty for null rules). False, with an error line and an
// empty plan, when memory runs out.
[[nodiscard]] bool cMdfCanPlan_build(const std::vector<cMdfDecodeRule>* rules, cMdfCanPlan* plan);
