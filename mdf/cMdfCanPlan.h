#pragma once
// A CAN data frame group's rules as straight-line work. When every rule of the group has a
// planned step (cMdfDecodeRule_plan) and each message field is fed by one rule at most, the
// order of the rules cannot matter, and a record is decoded field by field without walking
// the rule vector. Built once per channel group with its record map entry.
//
// cMdfCanPlan:
//   usable          - the conditions above hold; false: decode rule by rule
//   present         - bit (1 << cMdfCanPlanField) per field a rule feeds
//   doubleTimestamp - the timestamp rule is a 64-bit float (else an unsigned integer)
//   hasBytes        - a rule copies the DataBytes array: bytesAt its first byte, bytesCount
//                     its byte count (cut to what the record holds)
//   minLength       - the record data bytes every 8-byte load of the plan needs; a shorter
//                     record is decoded rule by rule
//   loads           - per field: the byte its 8-byte little-endian load starts at, the right
//                     shift and the mask that take the value out of it

#include <cstdint>
#include <vector>

#include "mdf/cMdfDecodeRule.h"

enum cMdfCanPlanField : uint8_t {
    CAN_PLAN_TIMESTAMP,
    CAN_PLAN_BUS_CHANNEL,
    CAN_PLAN_ID,
    CAN_PLAN_IDE,
    CAN_PLAN_DIR,
    CAN_PLAN_EDL,
    CAN_PLAN_ESI,
    CAN_PLAN_BRS,
    CAN_PLAN_DLC,
    CAN_PLAN_DATA_LENGTH,
    CAN_PLAN_FIELDS,
};

struct cMdfCanPlanLoad {
    uint64_t byte;
    uint64_t mask;
    uint8_t shift;
};

struct cMdfCanPlan {
    bool usable;
    uint16_t present;
    bool doubleTimestamp;
    bool hasBytes;
    uint64_t bytesAt;
    uint64_t bytesCount;
    uint64_t minLength;
    cMdfCanPlanLoad loads[CAN_PLAN_FIELDS];
};

// Fills *plan from the rules (all zero and not usable for null rules or a rule set the
// plan cannot follow). False only for a null plan.
bool cMdfCanPlan_build(const std::vector<cMdfDecodeRule>* rules, cMdfCanPlan* plan);
