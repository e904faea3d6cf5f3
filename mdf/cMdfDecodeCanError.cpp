// The CAN error frame decoder: the bus channel and the kind of error.
#include "mdf/cMdfDecodeValue.h"
#include "mdf/cMdfDecoders.h"

bool cMdfDecoders_decodeCanErrorFrame(const cMdfGroupDecoder* d, const cMdfRecord* rec,
                                      cBusMsg* msg) {
    if (cMdfDecodeValue_begin(d, rec, msg)) return false;
    cMdfDecodeValue_clearVariant(msg);
    bool ok = true;
    for (const cMdfDecodeRule& r : *d->rules) {
        const cMdfDecodeValue n = cMdfDecodeValue_of(r, rec);
        switch (r.field) {
        case FIELD_TIMESTAMP:
            msg->Timestamp = cMdfDecodeValue_real(n);
            break;
        case FIELD_BUS_CHANNEL:
            msg->CANError.BusChannel = cMdfDecodeValue_u8(n);
            break;
        case FIELD_ERROR_TYPE: {
            // 1 to 5: bit, form, bit stuffing, CRC and acknowledgement errors; else unknown.
            const uint8_t t = cMdfDecodeValue_u8(n);
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
