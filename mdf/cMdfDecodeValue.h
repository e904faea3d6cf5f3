#pragma once
// What the group decoders share when they read a record rule by rule: a rule's value in the
// record, how message fields take it, and the copy of DataBytes arrays.

#include <cstdint>
#include <string>

#include "bus/cBusLayer.h"
#include "mdf/cMdfDecodeRule.h"
#include "mdf/cMdfDecoders.h"

// A rule's value in a record. A channel read as an unsigned integer without conversion (the
// common case) keeps its integer, which gives the same field values as the round trip
// through double would.
//   plain - raw is the value
//   raw   - the field's bits
//   value - the physical value (converted); set when !plain
struct cMdfDecodeValue {
    bool plain;
    uint64_t raw;
    double value;
};

cMdfDecodeValue cMdfDecodeValue_of(const cMdfDecodeRule& rule, const cMdfRecord* rec);

// The value as a double (the timestamp takes it so).
inline double cMdfDecodeValue_real(const cMdfDecodeValue& n) {
    return n.plain ? static_cast<double>(n.raw) : n.value;
}
// Integer fields: truncation toward zero, saturating; negative values and NaN give 0.
uint32_t cMdfDecodeValue_u32(const cMdfDecodeValue& n);
inline uint8_t cMdfDecodeValue_u8(const cMdfDecodeValue& n) {
    return static_cast<uint8_t>(cMdfDecodeValue_u32(n));
}
// A CAN flag is set when the value truncates to a nonzero integer.
inline uint8_t cMdfDecodeValue_canFlag(const cMdfDecodeValue& n) {
    return n.plain ? n.raw != 0 : n.value >= 1.0;
}
// The LIN direction is set by any value other than 0.0 (NaN included).
inline uint8_t cMdfDecodeValue_linDir(const cMdfDecodeValue& n) {
    return n.plain ? n.raw != 0 : n.value != 0.0;
}

// Sets the field that CAN data and remote frames share (timestamp, bus channel, id, IDE,
// Dir, DLC); false for any other field.
bool cMdfDecodeValue_canFrameField(cMdfDecodeField field, const cMdfDecodeValue& n, cBusMsg* msg);

// Appends a DataBytes array's bytes, as many as there are: a byte-aligned array of the
// record, or one held as variable-length data beside it. An array off the byte boundaries
// cannot be read: it is logged and appends nothing.
void cMdfDecodeValue_appendBytes(const cMdfDecodeRule& rule, const cMdfRecord* rec,
                                 std::string* out);

// Zeroes the message's variant fields (CAN, CAN error, LIN).
void cMdfDecodeValue_clearVariant(cBusMsg* msg);
// Empties the message's payload; true when there is nothing to decode (no message or no
// rules), for the decoder to fail at once.
bool cMdfDecodeValue_begin(const cMdfGroupDecoder* d, const cMdfRecord* rec, cBusMsg* msg);
// Cuts DataBytes to length bytes when it holds more.
inline void cMdfDecodeValue_cut(cBusMsg* msg, uint64_t length) {
    if (msg->DataBytes.size() > length) msg->DataBytes.resize(length);
}
