#include "mdf/cMdfDecodeValue.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

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

} // namespace

cMdfDecodeValue cMdfDecodeValue_of(const cMdfDecodeRule& r, const cMdfRecord* rec) {
    cMdfDecodeValue n;
    n.raw = cDecode_getRawBits(rec->data, rec->dataLength, r.bitPosition, r.bitLength,
                               r.littleEndian != 0);
    n.plain = r.valueKind != VALUE_FLOAT && (!r.conversion.vt || !r.conversion.vt->convert);
    n.value = n.plain ? 0.0 : cMdfConversionRule_convert(&r.conversion, rawToDouble(r, n.raw));
    return n;
}

uint32_t cMdfDecodeValue_u32(const cMdfDecodeValue& n) {
    if (n.plain) return static_cast<uint32_t>(std::min<uint64_t>(n.raw, UINT32_MAX));
    if (!(n.value > 0.0)) return 0;
    if (n.value >= 4294967296.0) return UINT32_MAX;
    return static_cast<uint32_t>(n.value);
}

bool cMdfDecodeValue_canFrameField(cMdfDecodeField field, const cMdfDecodeValue& n, cBusMsg* msg) {
    switch (field) {
    case FIELD_TIMESTAMP:
        msg->Timestamp = cMdfDecodeValue_real(n);
        break;
    case FIELD_BUS_CHANNEL:
        msg->BusChannel = cMdfDecodeValue_u8(n);
        break;
    case FIELD_ID:
        msg->ID = cMdfDecodeValue_u32(n);
        break;
    case FIELD_IDE:
        msg->CAN.IDE = cMdfDecodeValue_canFlag(n);
        break;
    case FIELD_DIR:
        msg->CAN.Dir = cMdfDecodeValue_canFlag(n);
        break;
    case FIELD_DLC:
        msg->CAN.DLC = cMdfDecodeValue_u8(n);
        break;
    default:
        return false;
    }
    return true;
}

void cMdfDecodeValue_appendBytes(const cMdfDecodeRule& rule, const cMdfRecord* rec,
                                 std::string* out) {
    const uint8_t* from;
    uint64_t n;
    if (rule.vlsdBlock) {
        const uint64_t len = cDecode_getRawBits(rec->vlsdData, rec->vlsdLength, 0, 32, true);
        n = std::min(len, rec->vlsdLength > 4 ? rec->vlsdLength - 4 : 0);
        from = rec->vlsdData + 4;
    } else if ((rule.bitPosition & 7) || (rule.bitLength & 7)) {
        ZF_LOGE("Could not read data");
        return;
    } else {
        const uint64_t byte = rule.bitPosition / 8, length = rec->dataLength;
        n = std::min(rule.bitLength / 8, length > byte ? length - byte : 0);
        from = rec->data + byte;
    }
    if (n) out->append(reinterpret_cast<const char*>(from), n);
}

void cMdfDecodeValue_clearVariant(cBusMsg* msg) {
    constexpr size_t n =
        std::max({sizeof(cBusMsg_CAN), sizeof(cBusMsg_CANError), sizeof(cBusMsg_LIN)});
    std::memset(static_cast<void*>(&msg->CAN), 0, n);
}

bool cMdfDecodeValue_begin(const cMdfGroupDecoder* d, const cMdfRecord* rec, cBusMsg* msg) {
    if (!msg) return true;
    msg->DataBytes.clear();
    msg->DataView = nullptr;
    return !d || !d->rules || !rec;
}
