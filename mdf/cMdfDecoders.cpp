#include "mdf/cMdfDecoders.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <string_view>

#include "mdf/cDecode.h"
#include "support/log.h"

namespace {

// IEEE 754 half precision, for the rare 16-bit float channel.
double halfToDouble(uint16_t h) {
    int exp = (h >> 10) & 0x1F;
    double mant = h & 0x3FF;
    double v;
    if (exp == 0) {
        v = std::ldexp(mant, -24);
    } else if (exp == 31) {
        v = mant == 0 ? INFINITY : NAN;
    } else {
        v = std::ldexp(mant + 1024.0, exp - 25);
    }
    return (h & 0x8000) ? -v : v;
}

// The floating-point value of raw bits read as the rule's kind, before conversion.
double rawToDouble(const cMdfDecodeRule& rule, uint64_t raw) {
    if (rule.valueKind == VALUE_FLOAT) {
        if (rule.bitLength == 32) return std::bit_cast<float>(static_cast<uint32_t>(raw));
        if (rule.bitLength == 64) return std::bit_cast<double>(raw);
        if (rule.bitLength == 16) return halfToDouble(static_cast<uint16_t>(raw));
    }
    return static_cast<double>(raw);
}

// A rule's value in a record. A channel read as an unsigned integer without conversion (the
// common case) keeps its integer, which gives the same field values as the round trip
// through double would.
struct Num {
    bool plain;
    uint64_t raw;
    double value; // physical value; set when !plain
};

inline Num numOf(const cMdfDecodeRule& r, const cMdfRecord* rec) {
    Num n;
    n.raw = cDecode_getRawBits(rec->data, rec->dataLength, r.bitPosition, r.bitLength,
                               r.littleEndian != 0);
    n.plain = r.valueKind != VALUE_FLOAT && (!r.conversion.vt || !r.conversion.vt->convert);
    n.value = n.plain ? 0.0 : cMdfConversionRule_convert(&r.conversion, rawToDouble(r, n.raw));
    return n;
}

inline double real(const Num& n) {
    return n.plain ? static_cast<double>(n.raw) : n.value;
}

// Integer fields: truncation toward zero, saturating; negative values and NaN give 0.
inline uint32_t u32(const Num& n) {
    if (n.plain) return static_cast<uint32_t>(std::min<uint64_t>(n.raw, UINT32_MAX));
    if (!(n.value > 0.0)) return 0;
    if (n.value >= 4294967296.0) return UINT32_MAX;
    return static_cast<uint32_t>(n.value);
}

inline uint8_t u8(const Num& n) {
    return static_cast<uint8_t>(u32(n));
}

// A CAN flag is set when the value truncates to a nonzero integer.
inline uint8_t canFlag(const Num& n) {
    return n.plain ? n.raw != 0 : n.value >= 1.0;
}

// The LIN direction is set by any value other than 0.0 (NaN included).
inline uint8_t linDir(const Num& n) {
    return n.plain ? n.raw != 0 : n.value != 0.0;
}

// Appends a DataBytes channel's bytes, never more than the record holds.
void copyDataBytes(const cMdfDecodeRule& rule, const cMdfRecord* rec, std::string* out) {
    if (rule.vlsdBlock) {
        uint64_t len = cDecode_getRawBits(rec->vlsdData, rec->vlsdLength, 0, 32, true);
        uint64_t avail = rec->vlsdLength > 4 ? rec->vlsdLength - 4 : 0;
        uint64_t n = std::min(len, avail);
        if (n) out->append(reinterpret_cast<const char*>(rec->vlsdData + 4), n);
        return;
    }
    if ((rule.bitPosition & 7) || (rule.bitLength & 7)) {
        ZF_LOGE("Could not read data");
        return;
    }
    uint64_t off = rule.bitPosition / 8;
    uint64_t avail = rec->dataLength > off ? rec->dataLength - off : 0;
    uint64_t n = std::min(rule.bitLength / 8, avail);
    if (n) out->append(reinterpret_cast<const char*>(rec->data + off), n);
}

void clearVariant(cBusMsg* msg) {
    constexpr size_t n =
        std::max({sizeof(cBusMsg_CAN), sizeof(cBusMsg_CANError), sizeof(cBusMsg_LIN)});
    std::memset(static_cast<void*>(&msg->CAN), 0, n);
}

bool noRules(const cMdfRecord* rec, cBusMsg* msg) {
    if (!msg) return true;
    msg->DataBytes.clear();
    return !rec || !rec->rules;
}

void cutData(cBusMsg* msg, uint64_t length) {
    if (msg->DataBytes.size() > length) msg->DataBytes.resize(length);
}

// The LIN frame decoder's rule visit; shared with the checksum error group.
bool decodeLinCommon(const cMdfRecord* rec, cBusMsg* msg, cBusMsgType type) {
    if (noRules(rec, msg)) return false;
    clearVariant(msg);
    bool ok = true;
    uint64_t dataLength = 0;
    for (const cMdfDecodeRule& r : *rec->rules) {
        if (r.valueKind == VALUE_BYTE_ARRAY) {
            if (r.field == FIELD_LIN_DATA_BYTES) {
                copyDataBytes(r, rec, &msg->DataBytes);
            } else {
                ok = false;
            }
            continue;
        }
        Num n = numOf(r, rec);
        switch (r.field) {
        case FIELD_TIMESTAMP:
            msg->Timestamp = real(n);
            break;
        case FIELD_LIN_BUS_CHANNEL:
            msg->BusChannel = u8(n);
            break;
        case FIELD_LIN_ID:
            msg->ID = u32(n);
            break;
        case FIELD_LIN_DIR:
            msg->LIN.Dir = linDir(n);
            break;
        case FIELD_LIN_RECEIVED_DATA_BYTE_COUNT:
            msg->LIN.ReceivedDataByteCount = u8(n);
            break;
        case FIELD_LIN_DATA_LENGTH:
            dataLength = u8(n);
            break;
        default:
            ok = false;
            break;
        }
    }
    if (!ok) {
        msg->DataBytes.clear();
        return false;
    }
    cutData(msg, dataLength);
    msg->Type = type;
    return true;
}

// The LIN error groups carry a timestamp, the bus channel and (not for sync errors) the id.
bool decodeLinError(const cMdfRecord* rec, cBusMsg* msg, cBusMsgType type, bool withId) {
    if (noRules(rec, msg)) return false;
    bool ok = true;
    for (const cMdfDecodeRule& r : *rec->rules) {
        Num n = numOf(r, rec);
        if (r.field == FIELD_TIMESTAMP) {
            msg->Timestamp = real(n);
        } else if (r.field == FIELD_LIN_BUS_CHANNEL) {
            msg->BusChannel = u8(n);
        } else if (withId && r.field == FIELD_LIN_ID) {
            msg->ID = u32(n);
        } else {
            ok = false;
        }
    }
    if (!ok) return false;
    msg->Type = type;
    return true;
}

// One rule of a CAN data frame record, taken the long way: for a rule without a planned
// step. False for a field the decoder does not know.
// The fields that data and remote frames share; false for any other field.
bool canFrameField(cMdfDecodeField field, const Num& n, cBusMsg* msg) {
    switch (field) {
    case FIELD_TIMESTAMP:
        msg->Timestamp = real(n);
        break;
    case FIELD_BUS_CHANNEL:
        msg->BusChannel = u8(n);
        break;
    case FIELD_ID:
        msg->ID = u32(n);
        break;
    case FIELD_IDE:
        msg->CAN.IDE = canFlag(n);
        break;
    case FIELD_DIR:
        msg->CAN.Dir = canFlag(n);
        break;
    case FIELD_DLC:
        msg->CAN.DLC = u8(n);
        break;
    default:
        return false;
    }
    return true;
}

bool canDataStep(const cMdfDecodeRule& r, const cMdfRecord* rec, cBusMsg* msg,
                 uint64_t* dataLength) {
    if (r.valueKind == VALUE_BYTE_ARRAY) {
        // Extra byte arrays of the group are not ours to judge.
        if (r.field == FIELD_DATA_BYTES) copyDataBytes(r, rec, &msg->DataBytes);
        return true;
    }
    Num n = numOf(r, rec);
    if (canFrameField(r.field, n, msg)) return true;
    switch (r.field) {
    case FIELD_EDL:
        msg->CAN.EDL = canFlag(n);
        break;
    case FIELD_ESI:
        msg->CAN.ESI = canFlag(n);
        break;
    case FIELD_BRS:
        msg->CAN.BRS = canFlag(n);
        break;
    case FIELD_DATA_LENGTH:
        *dataLength = u8(n);
        break;
    default:
        return false;
    }
    return true;
}

// The record through the group's plan: every field straight from its load, in no order,
// with the same conversions as the steps of the rule walk below.
bool decodeCanPlanned(const cMdfCanPlan& plan, const cMdfRecord* rec, cBusMsg* msg) {
    const uint8_t* data = rec->data;
    auto has = [&plan](cMdfCanPlanField f) { return (plan.present >> f & 1) != 0; };
    auto value = [&plan, data](cMdfCanPlanField f) {
        const cMdfCanPlanLoad& l = plan.loads[f];
        uint64_t raw;
        std::memcpy(&raw, data + l.byte, 8);
        return (raw >> l.shift) & l.mask;
    };
    auto saturated = [](uint64_t raw) { return std::min<uint64_t>(raw, UINT32_MAX); };
    if (has(CAN_PLAN_TIMESTAMP)) {
        const uint64_t raw = value(CAN_PLAN_TIMESTAMP);
        msg->Timestamp =
            plan.doubleTimestamp ? std::bit_cast<double>(raw) : static_cast<double>(raw);
    }
    if (has(CAN_PLAN_BUS_CHANNEL))
        msg->BusChannel = static_cast<uint8_t>(saturated(value(CAN_PLAN_BUS_CHANNEL)));
    if (has(CAN_PLAN_ID)) msg->ID = static_cast<uint32_t>(saturated(value(CAN_PLAN_ID)));
    cBusMsg_CAN& can = msg->CAN;
    if (has(CAN_PLAN_IDE)) can.IDE = value(CAN_PLAN_IDE) != 0;
    if (has(CAN_PLAN_DIR)) can.Dir = value(CAN_PLAN_DIR) != 0;
    if (has(CAN_PLAN_EDL)) can.EDL = value(CAN_PLAN_EDL) != 0;
    if (has(CAN_PLAN_ESI)) can.ESI = value(CAN_PLAN_ESI) != 0;
    if (has(CAN_PLAN_BRS)) can.BRS = value(CAN_PLAN_BRS) != 0;
    if (has(CAN_PLAN_DLC)) can.DLC = static_cast<uint8_t>(saturated(value(CAN_PLAN_DLC)));
    uint64_t dataLength = 0;
    if (has(CAN_PLAN_DATA_LENGTH))
        dataLength = static_cast<uint8_t>(saturated(value(CAN_PLAN_DATA_LENGTH)));
    if (plan.hasBytes) {
        const uint64_t length = rec->dataLength;
        const uint64_t avail = length > plan.bytesAt ? length - plan.bytesAt : 0;
        // Only the bytes the length keeps are copied; the walk cuts them afterwards.
        const uint64_t n = std::min({plan.bytesCount, avail, dataLength});
        if (n) msg->DataBytes.append(reinterpret_cast<const char*>(data + plan.bytesAt), n);
    }
    msg->Type = BUS_MSG_CAN_DATA_FRAME;
    return true;
}

} // namespace

bool cMdfDecoders_decodeCanDataFrame(const cMdfRecord* rec, cBusMsg* msg) {
    if (noRules(rec, msg)) return false;
    clearVariant(msg);
    if (rec->canPlan && rec->data && rec->dataLength >= rec->canPlan->minLength)
        return decodeCanPlanned(*rec->canPlan, rec, msg);
    bool ok = true;
    uint64_t dataLength = 0;
    const uint8_t* data = rec->data;
    const uint64_t length = rec->dataLength;
    // The last byte an 8-byte load may start at, plus one; 0 when no load fits.
    const uint64_t loadEnd = data && length >= 8 ? length - 7 : 0;
    for (const cMdfDecodeRule& r : *rec->rules) {
        uint64_t raw = 0;
        if (r.canStep >= CAN_STEP_DOUBLE_TIMESTAMP) {
            if (r.stepByte < loadEnd) {
                std::memcpy(&raw, data + r.stepByte, 8);
                raw = (raw >> r.stepShift) & r.stepMask;
            } else {
                raw = cDecode_getRawBitsSlow(data, length, r.bitPosition, r.bitLength, true);
            }
        }
        switch (r.canStep) {
        case CAN_STEP_GENERIC:
            ok = canDataStep(r, rec, msg, &dataLength) && ok;
            break;
        case CAN_STEP_SKIP:
            break;
        case CAN_STEP_BYTES: {
            uint64_t avail = length > r.stepByte ? length - r.stepByte : 0;
            uint64_t n = std::min(r.stepMask, avail);
            if (n) msg->DataBytes.append(reinterpret_cast<const char*>(data + r.stepByte), n);
            break;
        }
        case CAN_STEP_DOUBLE_TIMESTAMP:
            msg->Timestamp = std::bit_cast<double>(raw);
            break;
        case CAN_STEP_U_TIMESTAMP:
            msg->Timestamp = static_cast<double>(raw);
            break;
        case CAN_STEP_U_BUS_CHANNEL:
            msg->BusChannel = static_cast<uint8_t>(std::min<uint64_t>(raw, UINT32_MAX));
            break;
        case CAN_STEP_U_ID:
            msg->ID = static_cast<uint32_t>(std::min<uint64_t>(raw, UINT32_MAX));
            break;
        case CAN_STEP_U_IDE:
            msg->CAN.IDE = raw != 0;
            break;
        case CAN_STEP_U_DIR:
            msg->CAN.Dir = raw != 0;
            break;
        case CAN_STEP_U_EDL:
            msg->CAN.EDL = raw != 0;
            break;
        case CAN_STEP_U_ESI:
            msg->CAN.ESI = raw != 0;
            break;
        case CAN_STEP_U_BRS:
            msg->CAN.BRS = raw != 0;
            break;
        case CAN_STEP_U_DLC:
            msg->CAN.DLC = static_cast<uint8_t>(std::min<uint64_t>(raw, UINT32_MAX));
            break;
        case CAN_STEP_U_DATA_LENGTH:
            dataLength = static_cast<uint8_t>(std::min<uint64_t>(raw, UINT32_MAX));
            break;
        }
    }
    if (!ok) {
        msg->DataBytes.clear();
        return false;
    }
    cutData(msg, dataLength);
    msg->Type = BUS_MSG_CAN_DATA_FRAME;
    return true;
}

bool cMdfDecoders_decodeCanRemoteFrame(const cMdfRecord* rec, cBusMsg* msg) {
    if (noRules(rec, msg)) return false;
    clearVariant(msg);
    msg->CAN.RTR = 1;
    bool ok = true;
    for (const cMdfDecodeRule& r : *rec->rules) {
        Num n = numOf(r, rec);
        if (canFrameField(r.field, n, msg)) continue;
        switch (r.field) {
        case FIELD_DATA_LENGTH: {
            // A remote frame carries no payload; the zero bytes stand for the requested
            // length, which a CAN frame cannot make longer than 64.
            double v = real(n);
            size_t n = v >= 64.0 ? 64 : (v >= 1.0 ? static_cast<size_t>(v) : 0);
            msg->DataBytes.assign(n, '\0');
            break;
        }
        default:
            ok = false;
            break;
        }
    }
    if (!ok) {
        msg->DataBytes.clear();
        return false;
    }
    msg->Type = BUS_MSG_CAN_REMOTE_FRAME;
    return true;
}

bool cMdfDecoders_decodeCanErrorFrame(const cMdfRecord* rec, cBusMsg* msg) {
    if (noRules(rec, msg)) return false;
    clearVariant(msg);
    bool ok = true;
    for (const cMdfDecodeRule& r : *rec->rules) {
        Num n = numOf(r, rec);
        switch (r.field) {
        case FIELD_TIMESTAMP:
            msg->Timestamp = real(n);
            break;
        case FIELD_BUS_CHANNEL:
            msg->CANError.BusChannel = u8(n);
            break;
        case FIELD_ERROR_TYPE: {
            uint8_t t = u8(n);
            msg->CANError.ErrorType = (t >= 1 && t <= 5) ? t : 0;
            break;
        }
        default:
            ok = false;
            break;
        }
    }
    if (!ok) return false;
    msg->Type = BUS_MSG_CAN_ERROR_FRAME;
    return true;
}

bool cMdfDecoders_decodeLinFrame(const cMdfRecord* rec, cBusMsg* msg) {
    return decodeLinCommon(rec, msg, BUS_MSG_LIN_FRAME);
}

bool cMdfDecoders_decodeLinChecksumError(const cMdfRecord* rec, cBusMsg* msg) {
    return decodeLinCommon(rec, msg, BUS_MSG_LIN_CHECKSUM_ERROR);
}

bool cMdfDecoders_decodeLinReceiveError(const cMdfRecord* rec, cBusMsg* msg) {
    return decodeLinError(rec, msg, BUS_MSG_LIN_RECEIVE_ERROR, true);
}

bool cMdfDecoders_decodeLinSyncError(const cMdfRecord* rec, cBusMsg* msg) {
    return decodeLinError(rec, msg, BUS_MSG_LIN_SYNC_ERROR, false);
}

bool cMdfDecoders_decodeLinTransmissionError(const cMdfRecord* rec, cBusMsg* msg) {
    return decodeLinError(rec, msg, BUS_MSG_LIN_TRANSMISSION_ERROR, true);
}

bool cMdfDecoders_decodeGeneric(const cMdfRecord*, cBusMsg* msg) {
    if (msg) msg->Type = BUS_MSG_NONE;
    return false;
}

bool getOptimalDecoder(const std::vector<cMdfDecodeRule>* rules, cMdfDecoderFn* decoder) {
    if (!rules || !decoder) return false;
    std::string_view prefix;
    bool found = false;
    for (const cMdfDecodeRule& r : *rules) {
        size_t dot = r.name.find('.');
        if (dot == std::string::npos) continue;
        std::string_view p(r.name.data(), dot);
        if (!found) {
            prefix = p;
            found = true;
        } else if (p != prefix) {
            return false;
        }
    }
    if (!found) return false;
    static const struct {
        std::string_view prefix;
        cMdfDecoderFn fn;
    } table[] = {
        {"CAN_DataFrame", cMdfDecoders_decodeCanDataFrame},
        {"CAN_RemoteFrame", cMdfDecoders_decodeCanRemoteFrame},
        {"CAN_ErrorFrame", cMdfDecoders_decodeCanErrorFrame},
        {"LIN_Frame", cMdfDecoders_decodeLinFrame},
        {"LIN_ChecksumError", cMdfDecoders_decodeLinChecksumError},
        {"LIN_ReceiveError", cMdfDecoders_decodeLinReceiveError},
        {"LIN_SyncError", cMdfDecoders_decodeLinSyncError},
        {"LIN_TransmissionError", cMdfDecoders_decodeLinTransmissionError},
    };
    *decoder = cMdfDecoders_decodeGeneric;
    for (const auto& e : table) {
        if (e.prefix == prefix) *decoder = e.fn;
    }
    return true;
}
