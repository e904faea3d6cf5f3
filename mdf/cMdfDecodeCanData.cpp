#include "mdf/cMdfDecodeCanData.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "mdf/cMdfDecodeValue.h"
#include "mdf/cMdfDecoders.h"
#include "support/copy_short.h"

namespace {

// The field of a value channel; CAN_DATA_FIELD_COUNT for one the decoder refuses.
cMdfCanDataField fieldOf(cMdfDecodeField field) {
    switch (field) {
    case FIELD_TIMESTAMP:
        return CAN_DATA_TIMESTAMP;
    case FIELD_BUS_CHANNEL:
        return CAN_DATA_BUS_CHANNEL;
    case FIELD_ID:
        return CAN_DATA_ID;
    case FIELD_IDE:
        return CAN_DATA_IDE;
    case FIELD_DIR:
        return CAN_DATA_DIR;
    case FIELD_EDL:
        return CAN_DATA_EDL;
    case FIELD_ESI:
        return CAN_DATA_ESI;
    case FIELD_BRS:
        return CAN_DATA_BRS;
    case FIELD_DLC:
        return CAN_DATA_DLC;
    case FIELD_DATA_LENGTH:
        return CAN_DATA_DATA_LENGTH;
    default:
        return CAN_DATA_FIELD_COUNT;
    }
}

// The fast route: every field a load that fits in the record, the payload one array of it.
inline bool decodeFast(const cMdfCanDataPlan& plan, const cMdfRecord* rec, cBusMsg* msg) {
    const uint8_t* data = rec->data;
    auto value = [&](cMdfCanDataField field) {
        const cMdfCanDataLoad& l = plan.loads[field];
        uint64_t v;
        std::memcpy(&v, data + l.byte, 8);
        return (v >> l.shift) & l.mask;
    };
    // The integer fields are 32 bits wide at most (the plan checked), so none saturates.
    const uint64_t time = value(CAN_DATA_TIMESTAMP);
    msg->Timestamp = plan.doubleTime ? std::bit_cast<double>(time) : static_cast<double>(time);
    msg->BusChannel = static_cast<uint8_t>(value(CAN_DATA_BUS_CHANNEL));
    msg->ID = static_cast<uint32_t>(value(CAN_DATA_ID));
    cBusMsg_CAN& can = msg->CAN;
    can.IDE = value(CAN_DATA_IDE) != 0;
    can.Dir = value(CAN_DATA_DIR) != 0;
    can.EDL = value(CAN_DATA_EDL) != 0;
    can.ESI = value(CAN_DATA_ESI) != 0;
    can.BRS = value(CAN_DATA_BRS) != 0;
    can.DLC = static_cast<uint8_t>(value(CAN_DATA_DLC));
    const uint64_t dataLength = static_cast<uint8_t>(value(CAN_DATA_DATA_LENGTH));
    std::string& out = msg->DataBytes;
    if (plan.bytesInVlsd) {
        // The payload held beside the record: a 32-bit length, then the bytes.
        const uint64_t have = rec->vlsdLength > 4 ? rec->vlsdLength - 4 : 0;
        uint32_t len = 0;
        if (rec->vlsdLength >= 4) std::memcpy(&len, rec->vlsdData, 4);
        const uint64_t n = std::min(std::min<uint64_t>(len, have), dataLength);
        out.assign(reinterpret_cast<const char*>(rec->vlsdData + 4), n);
        msg->Type = BUS_MSG_CAN_DATA_FRAME;
        return true;
    }
    const uint64_t length = rec->dataLength;
    const uint64_t n =
        std::min(length >= plan.bytesEnd
                     ? plan.bytesCount
                     : std::min(plan.bytesCount, length > plan.bytesAt ? length - plan.bytesAt : 0),
                 dataLength);
    // Bytes that stay where they are are pointed at, not copied. Others, as many as the last
    // frame's or fewer, are copied over them (cutting the string is inline, appending to it
    // is not).
    if (rec->dataStays) {
        msg->DataView = data + plan.bytesAt;
        msg->DataViewLength = static_cast<uint32_t>(n);
    } else if (n <= out.size()) {
        out.erase(n);
        copy_short(out.data(), data + plan.bytesAt, n);
    } else {
        out.clear();
        out.append(reinterpret_cast<const char*>(data + plan.bytesAt), n);
    }
    msg->Type = BUS_MSG_CAN_DATA_FRAME;
    return true;
}

// The plain route: the rules one by one; for a field named twice the later rule wins.
bool decodePlain(const cMdfGroupDecoder* d, const cMdfRecord* rec, cBusMsg* msg) {
    std::string& out = msg->DataBytes;
    out.clear();
    bool ok = true;
    uint64_t dataLength = 0;
    for (const cMdfDecodeRule& r : *d->rules) {
        if (r.valueKind == VALUE_BYTE_ARRAY) {
            // Other byte arrays of the group are not ours to judge.
            if (r.field == FIELD_DATA_BYTES) cMdfDecodeValue_appendBytes(r, rec, &out);
            continue;
        }
        const cMdfDecodeValue n = cMdfDecodeValue_of(r, rec);
        if (cMdfDecodeValue_canFrameField(r.field, n, msg)) continue;
        switch (r.field) {
        case FIELD_EDL:
            msg->CAN.EDL = cMdfDecodeValue_canFlag(n);
            break;
        case FIELD_ESI:
            msg->CAN.ESI = cMdfDecodeValue_canFlag(n);
            break;
        case FIELD_BRS:
            msg->CAN.BRS = cMdfDecodeValue_canFlag(n);
            break;
        case FIELD_DATA_LENGTH:
            dataLength = cMdfDecodeValue_u8(n);
            break;
        default:
            ok = false;
            break;
        }
    }
    if (!ok) {
        out.clear();
        return false;
    }
    // A group without a DataLength channel has no payload.
    cMdfDecodeValue_cut(msg, dataLength);
    msg->Type = BUS_MSG_CAN_DATA_FRAME;
    return true;
}

} // namespace

cMdfCanDataPlan cMdfCanDataPlan_build(const std::vector<cMdfDecodeRule>* rules) {
    cMdfCanDataPlan plan{};
    if (!rules) return plan;
    // Per field: named at all, and whether its last rule is a load.
    bool named[CAN_DATA_FIELD_COUNT] = {}, loadable[CAN_DATA_FIELD_COUNT] = {};
    size_t arrays = 0;
    bool arrayInRecord = false;
    for (const cMdfDecodeRule& r : *rules) {
        if (r.valueKind == VALUE_BYTE_ARRAY) {
            if (r.field != FIELD_DATA_BYTES) continue;
            ++arrays;
            plan.bytesInVlsd = r.vlsdBlock != nullptr;
            arrayInRecord = !r.vlsdBlock && !(r.bitPosition & 7) && !(r.bitLength & 7);
            plan.bytesAt = r.bitPosition / 8;
            plan.bytesCount = r.bitLength / 8;
            continue;
        }
        const cMdfCanDataField field = fieldOf(r.field);
        if (field == CAN_DATA_FIELD_COUNT) return cMdfCanDataPlan{}; // every record fails
        const uint64_t shift = r.bitPosition & 7;
        const bool identity = !r.conversion.vt || !r.conversion.vt->convert;
        const bool doubleTime =
            field == CAN_DATA_TIMESTAMP && r.valueKind == VALUE_FLOAT && r.bitLength == 64;
        // The load takes 8 bytes as a host integer: little-endian hosts only.
        bool load = std::endian::native == std::endian::little && identity && r.littleEndian &&
                    r.bitLength != 0 && shift + r.bitLength <= 64 &&
                    (r.valueKind == VALUE_UNSIGNED || doubleTime);
        // An integer field takes 32 bits at most, so that the fast route need not saturate.
        const bool integer = field == CAN_DATA_BUS_CHANNEL || field == CAN_DATA_ID ||
                             field == CAN_DATA_DLC || field == CAN_DATA_DATA_LENGTH;
        if (integer) load = load && r.bitLength <= 32;
        named[field] = true;
        loadable[field] = load;
        if (!load) continue;
        plan.loads[field] = {r.bitPosition >> 3, static_cast<uint8_t>(shift),
                             ~uint64_t{0} >> (64 - r.bitLength)};
        if (field == CAN_DATA_TIMESTAMP) plan.doubleTime = doubleTime;
    }
    plan.fast = arrays == 1 && (arrayInRecord || plan.bytesInVlsd);
    for (unsigned f = 0; f < CAN_DATA_FIELD_COUNT; ++f) {
        plan.fast = plan.fast && named[f] && loadable[f];
        plan.loadsIn = std::max(plan.loadsIn, plan.loads[f].byte + 8);
    }
    plan.bytesEnd =
        plan.bytesCount > UINT64_MAX - plan.bytesAt ? UINT64_MAX : plan.bytesAt + plan.bytesCount;
    if (!plan.fast) plan = cMdfCanDataPlan{};
    return plan;
}

bool cMdfDecoders_decodeCanDataFrame(const cMdfGroupDecoder* d, const cMdfRecord* rec,
                                     cBusMsg* msg) {
    // DataBytes is set by the route, not cleared first: the fast route overwrites the last
    // frame's, or leaves it as it is when it points at the record.
    if (!msg) return false;
    msg->DataView = nullptr;
    if (!d || !d->rules || !rec) {
        msg->DataBytes.clear();
        return false;
    }
    cMdfDecodeValue_clearVariant(msg);
    const cMdfCanDataPlan& plan = d->canData;
    if (plan.fast && rec->data && rec->dataLength >= plan.loadsIn)
        return decodeFast(plan, rec, msg);
    return decodePlain(d, rec, msg);
}
