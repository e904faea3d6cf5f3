#pragma once
// Finding and reading the records of one data group, one after the other: the record map of
// the data group, the framing of its records (record ids, fixed-length records, VLSD data in
// SD blocks and in VLSD channel groups) and the read position carried from record to record.
// The record bytes come through a cMdfRecordWindow.
//
// cMdfRecordInfo, one per channel group, kept in the data group's record map:
//   recordID     - the channel group's record id (0 in a group without record ids)
//   recordLength - bytes behind the record id: data bytes + invalidation bytes of the group;
//                  cMdfRecordInfo_VLSD marks a VLSD channel group (length-prefixed records)
//   rules        - the group's rule vector, owned by the channel group; null for VLSD
//   decoder      - the group's decoder (cMdfGroupDecoder_make); fn null when none fits
//
// cMdfBlock_DG_iteratorState, the read position carried from record to record:
//   position     - offset of the next record from the start of the DT data section
//   view         - the record view handed out by the last successful read
//   window       - the bytes records are read from
//   vlsd         - the last record's VLSD data (reused)
//   recordCopy   - the last record's bytes, when they were copied out of a window in place
//                  before its VLSD data was read through the file stream (which may move them)
//   decoder      - the decoder of the last record's channel group; null when it has none
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
#include "mdf/cMdfRecordWindow.h"

struct cMdfBlock_DG_obj_t;

constexpr uint32_t cMdfRecordInfo_VLSD = 0xFFFFFFFFu;
// Longest VLSD entry whose bytes are read; a longer one is logged and keeps only its length.
constexpr uint32_t cMdfRecordInfo_VLSD_MAX = 128;

struct cMdfRecordInfo {
    uint64_t recordID;
    uint32_t recordLength;
    std::vector<cMdfDecodeRule>* rules;
    cMdfGroupDecoder decoder;
};

struct cMdfBlock_DG_iteratorState {
    uint64_t position;
    cMdfRecord view;
    cMdfRecordWindow window;
    std::string vlsd;
    std::string recordCopy;
    const cMdfGroupDecoder* decoder;
    uint64_t lastID;
    const cMdfRecordInfo* lastInfo;
    uint64_t lastExtent;
};

bool cMdfBlock_DG_iteratorState_init(cMdfBlock_DG_iteratorState* state);
void cMdfBlock_DG_iteratorState_drop(cMdfBlock_DG_iteratorState* state);

// Rebuilds the record map from the channel groups. A group the reader cannot hold (record
// id size above 8, records of 4 GiB) is logged and left out, so it yields no record. False
// for a null data group, and when a channel that feeds a message field lies outside its
// record (logged): decoding it would give zeros in silence.
bool cMdfBlock_DG_updateRecordMap(cMdfBlock_DG_obj_t* dg);
// Reads the record at the state's position, advances past it and sets the state's decoder.
// Without record ids every record is one of the first channel group; with them each record
// is read by its id, a parent record together with the VLSD record right behind it, and a
// VLSD record met on its own is stepped over. Null at the end of the records, at an unknown
// record id and at a record that does not fit in the data section (the position then stays
// at that record's start). A VLSD record cut short by the end of the data gives the bytes
// that are there, and the position ends past the data. A state reads one data group only.
const cMdfRecord* cMdfBlock_DG_at(cMdfBlock_DG_obj_t* dg, cMdfBlock_DG_iteratorState* state);
