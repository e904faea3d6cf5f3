#include "mdf/cMdfDecoders.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cmath>
#include <cstring>
#include <string_view>

#include "mdf/cDecode.h"
#include "support/copy_short.h"
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

// Appends the bytes of a DataBytes array, never more than the record holds nor more than
// `room` bytes: a byte-aligned array of the record (count bytes from byte on), or one held
// as variable-length data; an array off the byte boundaries cannot be read.
void appendBytes(cMdfCanOp op, uint64_t byte, uint64_t count, const cMdfRecord* rec, uint64_t room,
                 std::string* out) {
    const uint8_t* from = nullptr;
    uint64_t n = 0;
    switch (op) {
    case CAN_OP_BYTES: {
        const uint64_t length = rec->dataLength;
        n = std::min(count, length > byte ? length - byte : 0);
        from = rec->data + byte;
        break;
    }
    case CAN_OP_VLSD_BYTES: {
        const uint64_t len = cDecode_getRawBits(rec->vlsdData, rec->vlsdLength, 0, 32, true);
        n = std::min(len, rec->vlsdLength > 4 ? rec->vlsdLength - 4 : 0);
        from = rec->vlsdData + 4;
        break;
    }
    default:
        ZF_LOGE("Could not read data");
        return;
    }
    n = std::min(n, room);
    if (n) out->append(reinterpret_cast<const char*>(from), n);
}

// Appends a DataBytes channel's bytes, as many as there are.
void copyDataBytes(const cMdfDecodeRule& rule, const cMdfRecord* rec, std::string* out) {
    const cMdfCanOp op = rule.vlsdBlock                                   ? CAN_OP_VLSD_BYTES
                         : (rule.bitPosition & 7) || (rule.bitLength & 7) ? CAN_OP_UNALIGNED_BYTES
                                                                          : CAN_OP_BYTES;
    appendBytes(op, rule.bitPosition / 8, rule.bitLength / 8, rec, UINT64_MAX, out);
}

void clearVariant(cBusMsg* msg) {
    constexpr size_t n =
        std::max({sizeof(cBusMsg_CAN), sizeof(cBusMsg_CANError), sizeof(cBusMsg_LIN)});
    std::memset(static_cast<void*>(&msg->CAN), 0, n);
}

bool noRules(const cMdfRecord* rec, cBusMsg* msg) {
    if (!msg) return true;
    msg->DataBytes.clear();
    msg->DataView = nullptr;
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

// The slot value of a step that is not a plain load within the record: a load the record is
// too short for, read bit by bit, or a value converted through its rule.
__attribute__((noinline)) uint64_t slowValue(const cMdfCanStep& s, cMdfCanSlot slot,
                                             const cMdfRecord* rec) {
    const cMdfDecodeRule& r = (*rec->rules)[s.rule];
    if (s.op == CAN_OP_LOAD)
        return cDecode_getRawBitsSlow(rec->data, rec->dataLength, r.bitPosition, r.bitLength, true);
    const Num n = numOf(r, rec);
    if (slot == CAN_SLOT_TIMESTAMP) return std::bit_cast<uint64_t>(real(n));
    if (slot <= CAN_SLOT_ID || slot == CAN_SLOT_DLC || slot == CAN_SLOT_DATA_LENGTH) return u32(n);
    return canFlag(n);
}

// A slot value as an integer field takes it: saturated at 32 bits.
inline uint32_t saturated(uint64_t v) {
    return static_cast<uint32_t>(std::min<uint64_t>(v, UINT32_MAX));
}

// Sets the message fields from the plan's value steps and returns the frame's data length.
// Checked: each step sees whether its load fits in the record; unchecked, the caller knows
// that all do. kUsual: the plan's usual group, where a rule feeds every slot and no integer
// value is wider than 32 bits, so that no slot needs a look at the present bits and no value
// needs saturating.
template <bool kChecked, bool kUsual>
inline uint64_t setCanFields(const cMdfCanPlan& plan, const cMdfRecord* rec, cBusMsg* msg) {
    const uint8_t* data = rec->data;
    const uint64_t length = rec->dataLength;
    // The last byte an 8-byte load may start at, plus one; 0 when no load fits.
    const uint64_t loadEnd = data && length >= 8 ? length - 7 : 0;
    const uint32_t present = plan.present;
    auto has = [present](cMdfCanSlot slot) { return kUsual || (present >> slot & 1) != 0; };
    auto integer = [](uint64_t v) { return kUsual ? static_cast<uint32_t>(v) : saturated(v); };
    auto value = [&](cMdfCanSlot slot) {
        const cMdfCanStep& s = plan.values[slot];
        if (kChecked && s.byte >= loadEnd) return slowValue(s, slot, rec);
        uint64_t v;
        std::memcpy(&v, data + s.byte, 8);
        return (v >> s.shift) & s.mask;
    };
    if (has(CAN_SLOT_TIMESTAMP)) {
        const uint64_t v = value(CAN_SLOT_TIMESTAMP);
        msg->Timestamp =
            present & CAN_PLAN_DOUBLE_TIME ? std::bit_cast<double>(v) : static_cast<double>(v);
    }
    if (has(CAN_SLOT_BUS_CHANNEL))
        msg->BusChannel = static_cast<uint8_t>(integer(value(CAN_SLOT_BUS_CHANNEL)));
    if (has(CAN_SLOT_ID)) msg->ID = integer(value(CAN_SLOT_ID));
    cBusMsg_CAN& can = msg->CAN;
    if (has(CAN_SLOT_IDE)) can.IDE = value(CAN_SLOT_IDE) != 0;
    if (has(CAN_SLOT_DIR)) can.Dir = value(CAN_SLOT_DIR) != 0;
    if (has(CAN_SLOT_EDL)) can.EDL = value(CAN_SLOT_EDL) != 0;
    if (has(CAN_SLOT_ESI)) can.ESI = value(CAN_SLOT_ESI) != 0;
    if (has(CAN_SLOT_BRS)) can.BRS = value(CAN_SLOT_BRS) != 0;
    if (has(CAN_SLOT_DLC)) can.DLC = static_cast<uint8_t>(integer(value(CAN_SLOT_DLC)));
    return has(CAN_SLOT_DATA_LENGTH) ? static_cast<uint8_t>(integer(value(CAN_SLOT_DATA_LENGTH)))
                                     : 0;
}

} // namespace

bool cMdfDecoders_decodeCanDataFrame(const cMdfRecord* rec, cBusMsg* msg) {
    // DataBytes is set below, not cleared first: the usual frame overwrites the last one's,
    // or leaves it as it is when it points at the record.
    if (!msg) return false;
    msg->DataView = nullptr;
    if (!rec || !rec->rules) {
        msg->DataBytes.clear();
        return false;
    }
    assert(rec->canPlan && "a CAN data frame group is read through its compiled steps");
    clearVariant(msg);
    const cMdfCanPlan& plan = *rec->canPlan;
    const uint64_t length = rec->dataLength;
    std::string& out = msg->DataBytes;
    if (plan.usual && rec->data && length >= plan.loadsIn) {
        // The usual group and record: every value a load that fits, one array of the record.
        const uint64_t dataLength = setCanFields<false, true>(plan, rec, msg);
        const cMdfCanStep& run = plan.bytes.front();
        const uint64_t n =
            length >= plan.runEnd
                ? std::min(run.mask, dataLength)
                : std::min(std::min(run.mask, length > run.byte ? length - run.byte : 0),
                           dataLength);
        // Bytes that stay where they are are pointed at, not copied. Others, as many as the
        // last frame's or fewer, are copied over them (cutting the string is inline,
        // appending to it is not).
        if (rec->dataStays) {
            msg->DataView = rec->data + run.byte;
            msg->DataViewLength = static_cast<uint32_t>(n);
        } else if (n <= out.size()) {
            out.erase(n);
            copy_short(out.data(), rec->data + run.byte, n);
        } else {
            out.clear();
            out.append(reinterpret_cast<const char*>(rec->data + run.byte), n);
        }
        msg->Type = BUS_MSG_CAN_DATA_FRAME;
        return true;
    }
    const uint64_t dataLength = rec->data && length >= plan.loadsIn
                                    ? setCanFields<false, false>(plan, rec, msg)
                                    : setCanFields<true, false>(plan, rec, msg);
    // The data length cuts the bytes the byte steps append.
    out.clear();
    for (const cMdfCanStep& s : plan.bytes)
        appendBytes(s.op, s.byte, s.mask, rec, dataLength - out.size(), &out);
    if (plan.refuses) {
        out.clear();
        return false;
    }
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
    if (msg) {
        msg->Type = BUS_MSG_NONE;
        msg->DataView = nullptr;
    }
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
