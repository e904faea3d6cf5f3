// The CAN remote frame decoder: a request for a frame, whose DataBytes stand for the
// requested length.
#include "mdf/cMdfDecodeValue.h"
#include "mdf/cMdfDecoders.h"

bool cMdfDecoders_decodeCanRemoteFrame(const cMdfGroupDecoder* d, const cMdfRecord* rec,
                                       cBusMsg* msg) {
    if (cMdfDecodeValue_begin(d, rec, msg)) return false;
    cMdfDecodeValue_clearVariant(msg);
    msg->CAN.RTR = 1;
    bool ok = true;
    // All rules, byte arrays too, are read as numbers.
    for (const cMdfDecodeRule& r : *d->rules) {
        const cMdfDecodeValue n = cMdfDecodeValue_of(r, rec);
        if (cMdfDecodeValue_canFrameField(r.field, n, msg)) continue;
        if (r.field == FIELD_DATA_LENGTH) {
            // A remote frame carries no payload; the zero bytes stand for the requested
            // length, which a CAN frame cannot make longer than 64.
            const double v = cMdfDecodeValue_real(n);
            const size_t length = v >= 64.0 ? 64 : (v >= 1.0 ? static_cast<size_t>(v) : 0);
            msg->DataBytes.assign(length, '\0');
        } else {
            ok = false;
        }
    }
    if (!ok) {
        msg->DataBytes.clear();
        return false;
    }
    msg->Type = BUS_MSG_CAN_REMOTE_FRAME;
    return true;
}
