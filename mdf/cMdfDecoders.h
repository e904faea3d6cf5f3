#pragma once
// The group decoders: one per channel group of a data group, each filling one bus message
// from one record of its group. A group's decoder is chosen by the name prefix its channels
// share, one per bus event kind; each kind lives in a file of its own (cMdfDecodeCanData.cpp,
// cMdfDecodeCanRemote.cpp, cMdfDecodeCanError.cpp, cMdfDecodeLin.cpp).
//
// cMdfRecord, the view of one record that the record reader hands to a decoder:
//   data, dataLength     - the record's data bytes, without the record id
//   vlsdData, vlsdLength - its variable-length data: a 32-bit little-endian length n and
//                          n bytes, or nothing (length 0) when it has no VLSD channel
//   dataStays            - data stays valid until this reader's next read whatever else
//                          reads the file (bytes that never move, or the reader's own copy),
//                          so a message may point at it; false: it may move at any read of
//                          the file's stream (a shared read-ahead buffer)
// Both data pointers belong to the reader and are valid until its next read.
//
// cMdfGroupDecoder, what decoding the records of one channel group takes:
//   fn     - the decoder of the group's bus event kind; null when the group has none
//   rules  - the group's rule vector (owned by the channel group)
//   canData - for a CAN data frame group, the plan of its fast route

#include <cstdint>
#include <vector>

#include "bus/cBusLayer.h"
#include "mdf/cMdfDecodeCanData.h"
#include "mdf/cMdfDecodeRule.h"

struct cMdfRecord {
    const uint8_t* data;
    uint64_t dataLength;
    const uint8_t* vlsdData;
    uint64_t vlsdLength;
    bool dataStays;
};

struct cMdfGroupDecoder;

// True when every rule's field was accepted; the message then holds the event.
using cMdfDecoderFn = bool (*)(const cMdfGroupDecoder*, const cMdfRecord*, cBusMsg*);

struct cMdfGroupDecoder {
    cMdfDecoderFn fn;
    const std::vector<cMdfDecodeRule>* rules;
    cMdfCanDataPlan canData;
};

// Makes the decoder of a channel group from its rules: by the one name prefix (text before
// the first '.') the rules share, with what that kind needs prepared. False, leaving fn null,
// when they share no prefix or more than one; an unknown prefix gets cMdfDecoders_decodeGeneric.
bool cMdfGroupDecoder_make(const std::vector<cMdfDecodeRule>* rules, cMdfGroupDecoder* decoder);

// Runs the decoder (which must have one). Nearly every record is a CAN data frame: a direct
// call for it, which the compiler can inline.
inline bool cMdfGroupDecoder_run(const cMdfGroupDecoder* d, const cMdfRecord* rec, cBusMsg* msg) {
    return d->fn == cMdfDecoders_decodeCanDataFrame ? cMdfDecoders_decodeCanDataFrame(d, rec, msg)
                                                    : d->fn(d, rec, msg);
}

bool cMdfDecoders_decodeCanRemoteFrame(const cMdfGroupDecoder* d, const cMdfRecord* rec,
                                       cBusMsg* msg);
bool cMdfDecoders_decodeCanErrorFrame(const cMdfGroupDecoder* d, const cMdfRecord* rec,
                                      cBusMsg* msg);
bool cMdfDecoders_decodeLinFrame(const cMdfGroupDecoder* d, const cMdfRecord* rec, cBusMsg* msg);
bool cMdfDecoders_decodeLinChecksumError(const cMdfGroupDecoder* d, const cMdfRecord* rec,
                                         cBusMsg* msg);
bool cMdfDecoders_decodeLinReceiveError(const cMdfGroupDecoder* d, const cMdfRecord* rec,
                                        cBusMsg* msg);
bool cMdfDecoders_decodeLinSyncError(const cMdfGroupDecoder* d, const cMdfRecord* rec,
                                     cBusMsg* msg);
bool cMdfDecoders_decodeLinTransmissionError(const cMdfGroupDecoder* d, const cMdfRecord* rec,
                                             cBusMsg* msg);
// For groups of an unknown prefix: Type BUS_MSG_NONE, always false.
bool cMdfDecoders_decodeGeneric(const cMdfGroupDecoder* d, const cMdfRecord* rec, cBusMsg* msg);
