#include "mdf/cMdfCanPlan.h"

#include <bit>
#include <cassert>
#include <new>

#include "support/log.h"

namespace {

// The slot of a value channel's field; CAN_SLOT_COUNT for a field the decoder refuses.
cMdfCanSlot slotOf(cMdfDecodeField field) {
    switch (field) {
    case FIELD_TIMESTAMP:
        return CAN_SLOT_TIMESTAMP;
    case FIELD_BUS_CHANNEL:
        return CAN_SLOT_BUS_CHANNEL;
    case FIELD_ID:
        return CAN_SLOT_ID;
    case FIELD_IDE:
        return CAN_SLOT_IDE;
    case FIELD_DIR:
        return CAN_SLOT_DIR;
    case FIELD_EDL:
        return CAN_SLOT_EDL;
    case FIELD_ESI:
        return CAN_SLOT_ESI;
    case FIELD_BRS:
        return CAN_SLOT_BRS;
    case FIELD_DLC:
        return CAN_SLOT_DLC;
    case FIELD_DATA_LENGTH:
        return CAN_SLOT_DATA_LENGTH;
    default:
        return CAN_SLOT_COUNT;
    }
}

// The step of a value rule for a known field.
cMdfCanStep valueStep(const cMdfDecodeRule& r, uint32_t index) {
    cMdfCanStep s{};
    s.rule = index;
    s.byte = UINT64_MAX;
    s.op = CAN_OP_CONVERT;
    const bool identity = !r.conversion.vt || !r.conversion.vt->convert;
    const uint64_t shift = r.bitPosition & 7;
    // The load takes 8 bytes as a host integer: little-endian hosts only.
    const bool loadable = std::endian::native == std::endian::little && identity &&
                          r.littleEndian && r.bitLength != 0 && shift + r.bitLength <= 64;
    const bool doubleTime =
        r.field == FIELD_TIMESTAMP && r.valueKind == VALUE_FLOAT && r.bitLength == 64;
    if (loadable && (r.valueKind == VALUE_UNSIGNED || doubleTime)) {
        s.op = CAN_OP_LOAD;
        s.shift = static_cast<uint8_t>(shift);
        s.byte = r.bitPosition >> 3;
        s.mask = ~uint64_t{0} >> (64 - r.bitLength);
    }
    return s;
}

// The byte step of a DataBytes array.
cMdfCanStep byteStep(const cMdfDecodeRule& r, uint32_t index) {
    cMdfCanStep s{};
    s.rule = index;
    if (r.vlsdBlock) {
        s.op = CAN_OP_VLSD_BYTES;
    } else if ((r.bitPosition & 7) || (r.bitLength & 7)) {
        s.op = CAN_OP_UNALIGNED_BYTES;
    } else {
        s.op = CAN_OP_BYTES;
        s.byte = r.bitPosition / 8;
        s.mask = r.bitLength / 8;
    }
    return s;
}

} // namespace

bool cMdfCanPlan_build(const std::vector<cMdfDecodeRule>* rules, cMdfCanPlan* plan) {
    assert(plan);
    *plan = cMdfCanPlan{};
    if (!rules) return true;
    try {
        for (size_t i = 0; i < rules->size(); ++i) {
            const cMdfDecodeRule& r = (*rules)[i];
            const uint32_t index = static_cast<uint32_t>(i);
            if (r.valueKind == VALUE_BYTE_ARRAY) {
                // Other byte arrays of the group are not ours to judge.
                if (r.field == FIELD_DATA_BYTES) plan->bytes.push_back(byteStep(r, index));
                continue;
            }
            const cMdfCanSlot slot = slotOf(r.field);
            if (slot == CAN_SLOT_COUNT) {
                plan->refuses = true;
                continue;
            }
            const cMdfCanStep s = valueStep(r, index);
            plan->values[slot] = s;
            plan->present |= static_cast<uint16_t>(1u << slot);
            if (slot == CAN_SLOT_TIMESTAMP) {
                // Only an unsigned integer loaded as it is stays an integer; a converted
                // value and the bits of a 64-bit float are doubles.
                if (s.op == CAN_OP_LOAD && r.valueKind == VALUE_UNSIGNED)
                    plan->present &= static_cast<uint16_t>(~CAN_PLAN_DOUBLE_TIME);
                else
                    plan->present |= CAN_PLAN_DOUBLE_TIME;
            }
        }
        for (unsigned slot = 0; slot < CAN_SLOT_COUNT; ++slot) {
            const cMdfCanStep& s = plan->values[slot];
            if (!(plan->present >> slot & 1)) continue;
            const uint64_t end = s.op == CAN_OP_LOAD ? s.byte + 8 : UINT64_MAX;
            if (end > plan->loadsIn) plan->loadsIn = end;
        }
        constexpr uint32_t allSlots = (1u << CAN_SLOT_COUNT) - 1;
        bool narrow = true;
        for (cMdfCanSlot slot :
             {CAN_SLOT_BUS_CHANNEL, CAN_SLOT_ID, CAN_SLOT_DLC, CAN_SLOT_DATA_LENGTH})
            narrow = narrow && plan->values[slot].mask <= UINT32_MAX;
        plan->usual = (plan->present & allSlots) == allSlots && plan->loadsIn != UINT64_MAX &&
                      narrow && plan->bytes.size() == 1 && plan->bytes[0].op == CAN_OP_BYTES &&
                      !plan->refuses;
        if (plan->usual) {
            const cMdfCanStep& run = plan->bytes[0];
            plan->runEnd = run.mask > UINT64_MAX - run.byte ? UINT64_MAX : run.byte + run.mask;
        }
    } catch (const std::bad_alloc&) {
        ZF_LOGE("Out of memory compiling the decoding of a channel group");
        *plan = cMdfCanPlan{};
        return false;
    }
    return true;
}
