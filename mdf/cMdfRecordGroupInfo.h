#pragma once
// Finding and reading the records of one data group, one after the other.
//
// cMdfRecordInfo, one per channel group, kept in the data group's record map:
//   recordID     - the channel group's record id (0 in a group without record ids)
//   recordLength - bytes behind the record id: data bytes + invalidation bytes of the group;
//                  cMdfRecordInfo_VLSD marks a VLSD channel group (length-prefixed records)
//   rules        - the group's rule vector, owned by the channel group; null for VLSD
//   decoder      - the decoder chosen for the group, or null when none fits
//   canPlan      - for the CAN data frame decoder, the rules compiled into its steps
//
// cMdfBlock_DG_iteratorState, the read position carried from record to record:
//   position     - offset of the next record from the start of the DT data section
//   view         - the record view handed out by the last successful read
//   recordBuffer - a window of the data section read ahead (up to cMdfRecordInfo_WINDOW
//                  bytes, never more than the section holds), so that records are not read
//                  one stream call at a time; holds the last record's data bytes
//   vlsdBuffer   - holds the last record's VLSD data (reused)
//   decoder      - the decoder of the last record's channel group (may be null)
//   bufferStart  - offset in the data section of the window's first byte
//   window       - the window's bytes: recordBuffer's, or the source's own memory (inPlace)
//   windowSize   - bytes in the window
//   inPlace      - the window points into the source (the whole rest of the data section
//                  held in memory), so nothing was copied; checked again before each use
//   source, fetch, sourceAt - for a window in place, the stream it points into, that
//                  stream's fetch operation and the window's absolute position there: the check
//                  before each use asks the stream for the same bytes again
//   lastID, lastInfo, lastExtent - the record id, record map entry and size in the data
//                  section (id included) of the last record read, when that record can be
//                  read again without the map (in place, of a fixed length above 0, with no
//                  VLSD data); lastInfo is null otherwise. The next record, when it has the
//                  same id and lies in the window, is read from them alone: the view keeps
//                  everything of the last record but its data pointer.
// A state is a plain value embedded in its user; _init before use, _drop after.

#include <cstdint>
#include <string>
#include <vector>

#include "mdf/cMdfDecodeRule.h"
#include "mdf/cMdfDecoders.h"

struct cIO;
struct cMdfBlock_DG_obj_t;
struct cMdfBlock_data_obj_t;

constexpr uint32_t cMdfRecordInfo_VLSD = 0xFFFFFFFFu;
// Bytes of a data section read ahead at a time.
constexpr uint64_t cMdfRecordInfo_WINDOW = 65536;
// Longest VLSD entry whose bytes are read; a longer one is logged and zero-filled.
constexpr uint32_t cMdfRecordInfo_VLSD_MAX = 128;

struct cMdfRecordInfo {
    uint64_t recordID;
    uint32_t recordLength;
    std::vector<cMdfDecodeRule>* rules;
    cMdfDecoderFn decoder;
    cMdfCanPlan canPlan;
};

bool cMdfRecordInfo_init(cMdfRecordInfo* info);

struct cMdfBlock_DG_iteratorState {
    uint64_t position;
    cMdfRecord view;
    std::string recordBuffer;
    std::string vlsdBuffer;
    cMdfDecoderFn decoder;
    uint64_t bufferStart;
    const uint8_t* window;
    uint64_t windowSize;
    bool inPlace;
    cIO* source;
    const uint8_t* (*fetch)(cIO* io, int64_t at, uint64_t n);
    int64_t sourceAt;
    bool stays;
    uint64_t lastID;
    const cMdfRecordInfo* lastInfo;
    uint64_t lastExtent;
};

bool cMdfBlock_DG_iteratorState_init(cMdfBlock_DG_iteratorState* state);
void cMdfBlock_DG_iteratorState_drop(cMdfBlock_DG_iteratorState* state);

// Rebuilds the record map from the channel groups. A group the reader cannot hold (record
// id size above 8) is logged and keeps an empty map, so it yields no record. False only for
// a null data group.
bool cMdfBlock_DG_updateRecordMap(cMdfBlock_DG_obj_t* dg);
// Reads the record at the state's position, advances past it and sets the state's decoder.
// Without record ids every record is one of the first channel group; with them each record
// is read by its id, a parent record together with the VLSD record right behind it, and a
// VLSD record met on its own is stepped over. Null at the end of the records, at an unknown
// record id and at a record that does not fit in the data section. A state reads one data
// group only.
const cMdfRecord* cMdfBlock_DG_at(cMdfBlock_DG_obj_t* dg, cMdfBlock_DG_iteratorState* state);
