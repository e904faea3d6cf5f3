#pragma once
// The bus event decoders: one function per kind of channel group, each filling one bus
// message from one record, and the choice of decoder from a group's channel names.
//
// cMdfRecord, the view of one record that the record reader hands to a decoder:
//   data, dataLength         - the record's data bytes, without the record id
//   vlsdData, vlsdLength     - its variable-length data: a 32-bit little-endian length n and
//                              n bytes, or nothing (length 0) when it has no VLSD channel
//   rules                    - the channel group's rule vector (not owned)
//   canPlan                  - for a CAN data frame group, its rules compiled into steps
//                              (owned by the record map entry); the CAN data frame decoder
//                              needs it, the others walk the rules
//   dataStays                - data stays valid until this reader's next read whatever else
//                              reads the file (bytes that never move, or the reader's own
//                              copy), so a message may point at it; false: it may move at any
//                              read of the file's stream (a shared read-ahead buffer)
// Both data pointers belong to the reader and are valid until its next read, data possibly
// shorter (see dataStays).

#include <cstdint>
#include <vector>

#include "bus/cBusLayer.h"
#include "mdf/cMdfCanPlan.h"
#include "mdf/cMdfDecodeRule.h"

struct cMdfRecord {
    const uint8_t* data;
    uint64_t dataLength;
    const uint8_t* vlsdData;
    uint64_t vlsdLength;
    const std::vector<cMdfDecodeRule>* rules;
    const cMdfCanPlan* canPlan = nullptr;
    bool dataStays = false;
};

// True when every rule's field was accepted; the message then holds the event.
using cMdfDecoderFn = bool (*)(const cMdfRecord*, cBusMsg*);

// Stores the decoder for the one name prefix (text before the first '.') the rules share;
// false, storing nothing, when they share no prefix or more than one.
bool getOptimalDecoder(const std::vector<cMdfDecodeRule>* rules, cMdfDecoderFn* decoder);

bool cMdfDecoders_decodeCanDataFrame(const cMdfRecord* record, cBusMsg* msg);
bool cMdfDecoders_decodeCanRemoteFrame(const cMdfRecord* record, cBusMsg* msg);
bool cMdfDecoders_decodeCanErrorFrame(const cMdfRecord* record, cBusMsg* msg);
bool cMdfDecoders_decodeLinFrame(const cMdfRecord* record, cBusMsg* msg);
bool cMdfDecoders_decodeLinChecksumError(const cMdfRecord* record, cBusMsg* msg);
bool cMdfDecoders_decodeLinReceiveError(const cMdfRecord* record, cBusMsg* msg);
bool cMdfDecoders_decodeLinSyncError(const cMdfRecord* record, cBusMsg* msg);
bool cMdfDecoders_decodeLinTransmissionError(const cMdfRecord* record, cBusMsg* msg);
// For groups of an unknown prefix: Type BUS_MSG_NONE, always false.
bool cMdfDecoders_decodeGeneric(const cMdfRecord* record, cBusMsg* msg);
