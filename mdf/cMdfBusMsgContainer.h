#pragma once
// The bus messages of one data group, one after the other: each step reads the next record
// and decodes it into the container's one message.
//
// cMdfBusMsgContainer:
//   dg    - the data group (not owned; the file's block tree holds it)
//   state - read position, record view and buffers, decoder of the last record
//   msg   - the message every decode overwrites; zero after construction
//   endedEarly - the records did not end exactly at the end of the data block (an unknown
//           record id, a record cut short): the data group is damaged
//
// cMdfBusMsgContainer_iter, a position in a container:
//   msg       - the container's message once it holds a decoded record, else null
//   container - the container, or null once its data group has no more records
// Both null: the end.

#include <cstdint>

#include "bus/cBusLayer.h"
#include "mdf/cMdfRecordReader.h"

struct cMdfBlock_DG_obj_t;

struct cMdfBusMsgContainer {
    cMdfBlock_DG_obj_t* dg;
    cMdfBlock_DG_iteratorState state;
    cBusMsg msg;
    bool endedEarly;
};

struct cMdfBusMsgContainer_iter {
    cBusMsg* msg;
    cMdfBusMsgContainer* container;
};

// False for a null container or data group.
bool cMdfBusMsgContainer_init(cMdfBusMsgContainer* container, cMdfBlock_DG_obj_t* dg);
// Null when allocation or init fails. Freed with cMdfBusMsgContainer_dtor.
cMdfBusMsgContainer* cMdfBusMsgContainer_ctor(cMdfBlock_DG_obj_t* dg);
// Releases the message's bytes and the read buffers; the container itself stays.
void cMdfBusMsgContainer_drop(cMdfBusMsgContainer* container);
// Drops and frees; null is accepted.
void cMdfBusMsgContainer_dtor(cMdfBusMsgContainer* container);
// Rewinds to the first record and advances once.
cMdfBusMsgContainer_iter cMdfBusMsgContainer_begin(cMdfBusMsgContainer* container);
// Moves to the next record that decodes to a message. Records that do not (no decoder, or a
// decode failure) are stepped over. At the end of the records the position becomes {null,
// null}.
void cMdfBusMsgContainer_next(cMdfBusMsgContainer_iter* it);
