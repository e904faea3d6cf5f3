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

// The rule's physical value: raw bits, as float or unsigned integer, then converted.
inline double ruleValue(const cMdfDecodeRule& rule, const cMdfRecord* rec) {
    uint64_t raw = cDecode_getRawBits(rec->data, rec->dataLength, rule.bitPosition, rule.bitLength,
                                      rule.littleEndian != 0);
    double v;
    if (rule.valueKind == VALUE_FLOAT) {
        if (rule.bitLength == 32) {
            v = std::bit_cast<float>(static_cast<uint32_t>(raw));
        } else if (rule.bitLength == 64) {
            v = std::bit_cast<double>(raw);
        } else if (rule.bitLength == 16) {
            v = halfToDouble(static_cast<uint16_t>(raw));
        } else {
            v = static_cast<double>(raw);
        }
    } else {
        v = static_cast<double>(raw);
    }
    // Most channels carry no conversion: spare them the call.
    if (!rule.conversion.vt || !rule.conversion.vt->convert) return v;
    return cMdfConversionRule_convert(&rule.conversion, v);
}

// Truncation toward zero, saturating; NaN gives 0.
uint32_t toU32(double v) {
    if (!(v > 0.0)) return 0;
    if (v >= 4294967296.0) return UINT32_MAX;
    return static_cast<uint32_t>(v);
}

uint8_t toU8(double v) {
    return static_cast<uint8_t>(toU32(v));
}

// A CAN flag is set when the value truncates to a nonzero integer.
uint8_t toCanFlag(double v) {
    return v >= 1.0 ? 1 : 0;
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
        double v = ruleValue(r, rec);
        switch (r.field) {
        case FIELD_TIMESTAMP:
            msg->Timestamp = v;
            break;
        case FIELD_LIN_BUS_CHANNEL:
            msg->BusChannel = toU8(v);
            break;
        case FIELD_LIN_ID:
            msg->ID = toU32(v);
            break;
        case FIELD_LIN_DIR:
            msg->LIN.Dir = v != 0.0 ? 1 : 0;
            break;
        case FIELD_LIN_RECEIVED_DATA_BYTE_COUNT:
            msg->LIN.ReceivedDataByteCount = toU8(v);
            break;
        case FIELD_LIN_DATA_LENGTH:
            dataLength = toU8(v);
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
        double v = ruleValue(r, rec);
        if (r.field == FIELD_TIMESTAMP) {
            msg->Timestamp = v;
        } else if (r.field == FIELD_LIN_BUS_CHANNEL) {
            msg->BusChannel = toU8(v);
        } else if (withId && r.field == FIELD_LIN_ID) {
            msg->ID = toU32(v);
        } else {
            ok = false;
        }
    }
    if (!ok) return false;
    msg->Type = type;
    return true;
}

} // namespace

bool cMdfDecoders_decodeCanDataFrame(const cMdfRecord* rec, cBusMsg* msg) {
    if (noRules(rec, msg)) return false;
    clearVariant(msg);
    bool ok = true;
    uint64_t dataLength = 0;
    for (const cMdfDecodeRule& r : *rec->rules) {
        if (r.valueKind == VALUE_BYTE_ARRAY) {
            // Extra byte arrays of the group are not ours to judge.
            if (r.field == FIELD_DATA_BYTES) copyDataBytes(r, rec, &msg->DataBytes);
            continue;
        }
        double v = ruleValue(r, rec);
        switch (r.field) {
        case FIELD_TIMESTAMP:
            msg->Timestamp = v;
            break;
        case FIELD_BUS_CHANNEL:
            msg->BusChannel = toU8(v);
            break;
        case FIELD_ID:
            msg->ID = toU32(v);
            break;
        case FIELD_IDE:
            msg->CAN.IDE = toCanFlag(v);
            break;
        case FIELD_DIR:
            msg->CAN.Dir = toCanFlag(v);
            break;
        case FIELD_EDL:
            msg->CAN.EDL = toCanFlag(v);
            break;
        case FIELD_ESI:
            msg->CAN.ESI = toCanFlag(v);
            break;
        case FIELD_BRS:
            msg->CAN.BRS = toCanFlag(v);
            break;
        case FIELD_DLC:
            msg->CAN.DLC = toU8(v);
            break;
        case FIELD_DATA_LENGTH:
            dataLength = toU8(v);
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
    msg->Type = BUS_MSG_CAN_DATA_FRAME;
    return true;
}

bool cMdfDecoders_decodeCanRemoteFrame(const cMdfRecord* rec, cBusMsg* msg) {
    if (noRules(rec, msg)) return false;
    clearVariant(msg);
    msg->CAN.RTR = 1;
    bool ok = true;
    for (const cMdfDecodeRule& r : *rec->rules) {
        double v = ruleValue(r, rec);
        switch (r.field) {
        case FIELD_TIMESTAMP:
            msg->Timestamp = v;
            break;
        case FIELD_BUS_CHANNEL:
            msg->BusChannel = toU8(v);
            break;
        case FIELD_ID:
            msg->ID = toU32(v);
            break;
        case FIELD_IDE:
            msg->CAN.IDE = toCanFlag(v);
            break;
        case FIELD_DIR:
            msg->CAN.Dir = toCanFlag(v);
            break;
        case FIELD_DLC:
            msg->CAN.DLC = toU8(v);
            break;
        case FIELD_DATA_LENGTH: {
            // A remote frame carries no payload; the zero bytes stand for the requested
            // length, which a CAN frame cannot make longer than 64.
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
        double v = ruleValue(r, rec);
        switch (r.field) {
        case FIELD_TIMESTAMP:
            msg->Timestamp = v;
            break;
        case FIELD_BUS_CHANNEL:
            msg->CANError.BusChannel = toU8(v);
            break;
        case FIELD_ERROR_TYPE: {
            uint8_t t = toU8(v);
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
