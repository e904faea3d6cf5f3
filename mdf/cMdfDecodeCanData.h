#pragma once
// The CAN data frame decoder and the plan of its fast route.
//
// The logger's usual CAN data frame group has a channel for every field of the frame, each
// a little-endian unsigned integer without conversion (the timestamp may be a byte-aligned
// 64-bit float) that one 8-byte load from its first byte holds, the bus channel, id, DLC and
// data length 32 bits wide at most, and one DataBytes array: byte-aligned in the record, or
// held as variable-length data beside it. For such a group the plan holds each field's load, and a
// record long enough for all of them is decoded by the fast route: a load, shift and mask per
// field and one copy (or view) of the payload. Every other group, and a record too short for
// the loads, takes the plain route: the rules one by one, in order, as the other decoders
// read theirs. Both routes give the same message.
//
// cMdfCanDataLoad, one field's load: byte - the load's first byte; shift - bits to shift the
// 8 bytes loaded right; mask - the value's mask after the shift.
//
// cMdfCanDataPlan:
//   fast       - the group is a usual one: the fast route applies
//   doubleTime - the timestamp's bits are a 64-bit float (else an unsigned integer)
//   loads      - per field (cMdfCanDataField), the load of the last rule naming it
//   loadsIn    - the record length from which every load fits
//   bytesInVlsd - the DataBytes array is variable-length data beside the record
//   bytesAt, bytesCount - else the DataBytes array in the record: first byte and byte count
//   bytesEnd   - bytesAt + bytesCount: a record that long holds the array whole

#include <cstdint>
#include <vector>

#include "bus/cBusLayer.h"
#include "mdf/cMdfDecodeRule.h"

struct cMdfGroupDecoder;
struct cMdfRecord;

enum cMdfCanDataField : uint8_t {
    CAN_DATA_TIMESTAMP,
    CAN_DATA_BUS_CHANNEL,
    CAN_DATA_ID,
    CAN_DATA_IDE,
    CAN_DATA_DIR,
    CAN_DATA_EDL,
    CAN_DATA_ESI,
    CAN_DATA_BRS,
    CAN_DATA_DLC,
    CAN_DATA_DATA_LENGTH,
    CAN_DATA_FIELD_COUNT,
};

struct cMdfCanDataLoad {
    uint64_t byte;
    uint8_t shift;
    uint64_t mask;
};

struct cMdfCanDataPlan {
    bool fast;
    bool doubleTime;
    bool bytesInVlsd;
    cMdfCanDataLoad loads[CAN_DATA_FIELD_COUNT];
    uint64_t loadsIn;
    uint64_t bytesAt;
    uint64_t bytesCount;
    uint64_t bytesEnd;
};

// The plan of a group's rules; fast is false unless the group is a usual one.
cMdfCanDataPlan cMdfCanDataPlan_build(const std::vector<cMdfDecodeRule>* rules);

bool cMdfDecoders_decodeCanDataFrame(const cMdfGroupDecoder* d, const cMdfRecord* rec,
                                     cBusMsg* msg);
