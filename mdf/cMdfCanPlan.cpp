#include "mdf/cMdfCanPlan.h"

namespace {

// The plan field of a loading step; CAN_PLAN_FIELDS for the steps that load nothing.
cMdfCanPlanField fieldOf(cMdfCanStep step) {
    switch (step) {
    case CAN_STEP_DOUBLE_TIMESTAMP:
    case CAN_STEP_U_TIMESTAMP:
        return CAN_PLAN_TIMESTAMP;
    case CAN_STEP_U_BUS_CHANNEL:
        return CAN_PLAN_BUS_CHANNEL;
    case CAN_STEP_U_ID:
        return CAN_PLAN_ID;
    case CAN_STEP_U_IDE:
        return CAN_PLAN_IDE;
    case CAN_STEP_U_DIR:
        return CAN_PLAN_DIR;
    case CAN_STEP_U_EDL:
        return CAN_PLAN_EDL;
    case CAN_STEP_U_ESI:
        return CAN_PLAN_ESI;
    case CAN_STEP_U_BRS:
        return CAN_PLAN_BRS;
    case CAN_STEP_U_DLC:
        return CAN_PLAN_DLC;
    case CAN_STEP_U_DATA_LENGTH:
        return CAN_PLAN_DATA_LENGTH;
    default:
        return CAN_PLAN_FIELDS;
    }
}

} // namespace

bool cMdfCanPlan_build(const std::vector<cMdfDecodeRule>* rules, cMdfCanPlan* plan) {
    if (!plan) return false;
    *plan = cMdfCanPlan{};
    if (!rules) return true;
    cMdfCanPlan p{};
    for (const cMdfDecodeRule& r : *rules) {
        if (r.canStep == CAN_STEP_GENERIC) return true;
        if (r.canStep == CAN_STEP_SKIP) continue;
        if (r.canStep == CAN_STEP_BYTES) {
            if (p.hasBytes) return true; // two arrays append in rule order
            p.hasBytes = true;
            p.bytesAt = r.stepByte;
            p.bytesCount = r.stepMask;
            continue;
        }
        const cMdfCanPlanField f = fieldOf(r.canStep);
        if (f == CAN_PLAN_FIELDS || (p.present >> f & 1)) return true; // the last would win
        p.present |= uint16_t(1u << f);
        p.loads[f] = {r.stepByte, r.stepMask, r.stepShift};
        if (f == CAN_PLAN_TIMESTAMP) p.doubleTimestamp = r.canStep == CAN_STEP_DOUBLE_TIMESTAMP;
        if (r.stepByte > UINT64_MAX - 8) return true;
        if (r.stepByte + 8 > p.minLength) p.minLength = r.stepByte + 8;
    }
    p.usable = true;
    *plan = p;
    return true;
}
