// The LIN decoders: frames (and checksum errors, which carry a whole frame), and the receive,
// sync and transmission errors, which carry the bus channel and (not for sync errors) the id.
#include "mdf/cMdfDecodeValue.h"
#include "mdf/cMdfDecoders.h"

namespace {

bool decodeFrame(const cMdfGroupDecoder* d, const cMdfRecord* rec, cBusMsg* msg, cBusMsgType type) {
    if (cMdfDecodeValue_begin(d, rec, msg)) return false;
    cMdfDecodeValue_clearVariant(msg);
    bool ok = true;
    uint64_t dataLength = 0;
    for (const cMdfDecodeRule& r : *d->rules) {
        if (r.valueKind == VALUE_BYTE_ARRAY) {
            if (r.field == FIELD_LIN_DATA_BYTES) {
                cMdfDecodeValue_appendBytes(r, rec, &msg->DataBytes);
            } else {
                ok = false;
            }
            continue;
        }
        const cMdfDecodeValue n = cMdfDecodeValue_of(r, rec);
        switch (r.field) {
        case FIELD_TIMESTAMP:
            msg->Timestamp = cMdfDecodeValue_real(n);
            break;
        case FIELD_LIN_BUS_CHANNEL:
            msg->BusChannel = cMdfDecodeValue_u8(n);
            break;
        case FIELD_LIN_ID:
            msg->ID = cMdfDecodeValue_u32(n);
            break;
        case FIELD_LIN_DIR:
            msg->LIN.Dir = cMdfDecodeValue_linDir(n);
            break;
        case FIELD_LIN_RECEIVED_DATA_BYTE_COUNT:
            msg->LIN.ReceivedDataByteCount = cMdfDecodeValue_u8(n);
            break;
        case FIELD_LIN_DATA_LENGTH:
            dataLength = cMdfDecodeValue_u8(n);
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
    cMdfDecodeValue_cut(msg, dataLength);
    msg->Type = type;
    return true;
}

bool decodeError(const cMdfGroupDecoder* d, const cMdfRecord* rec, cBusMsg* msg, cBusMsgType type,
                 bool withId) {
    if (cMdfDecodeValue_begin(d, rec, msg)) return false;
    bool ok = true;
    for (const cMdfDecodeRule& r : *d->rules) {
        const cMdfDecodeValue n = cMdfDecodeValue_of(r, rec);
        if (r.field == FIELD_TIMESTAMP) {
            msg->Timestamp = cMdfDecodeValue_real(n);
        } else if (r.field == FIELD_LIN_BUS_CHANNEL) {
            msg->BusChannel = cMdfDecodeValue_u8(n);
        } else if (withId && r.field == FIELD_LIN_ID) {
            msg->ID = cMdfDecodeValue_u32(n);
        } else {
            ok = false;
        }
    }
    if (!ok) return false;
    msg->Type = type;
    return true;
}

} // namespace

bool cMdfDecoders_decodeLinFrame(const cMdfGroupDecoder* d, const cMdfRecord* rec, cBusMsg* msg) {
    return decodeFrame(d, rec, msg, BUS_MSG_LIN_FRAME);
}

bool cMdfDecoders_decodeLinChecksumError(const cMdfGroupDecoder* d, const cMdfRecord* rec,
                                         cBusMsg* msg) {
    return decodeFrame(d, rec, msg, BUS_MSG_LIN_CHECKSUM_ERROR);
}

bool cMdfDecoders_decodeLinReceiveError(const cMdfGroupDecoder* d, const cMdfRecord* rec,
                                        cBusMsg* msg) {
    return decodeError(d, rec, msg, BUS_MSG_LIN_RECEIVE_ERROR, true);
}

bool cMdfDecoders_decodeLinSyncError(const cMdfGroupDecoder* d, const cMdfRecord* rec,
                                     cBusMsg* msg) {
    return decodeError(d, rec, msg, BUS_MSG_LIN_SYNC_ERROR, false);
}

bool cMdfDecoders_decodeLinTransmissionError(const cMdfGroupDecoder* d, const cMdfRecord* rec,
                                             cBusMsg* msg) {
    return decodeError(d, rec, msg, BUS_MSG_LIN_TRANSMISSION_ERROR, true);
}
