#pragma once
// The bus messages of all data groups of a file in one stream, earliest first, with
// absolute timestamps (record time + the file's start time).
//
// cMdfParallelIter:
//   current    - the message to hand out now (a container's own message), null at the end;
//                valid until the next _next or _dtor
//   startTime  - seconds since 1970: the header's start time plus its time zone and
//                daylight saving offsets
//   containers - one per data group that produced a first message; owned
//   damaged    - a data group left out of the merge stopped before the end of its data
//   pending    - positions of the containers that still have a message, as a binary
//                min-heap by (Timestamp, data group order): the root is current. Advancing
//                re-places only the one advanced entry, O(log k) for k data groups.
//
// cMdfParallelIter_entry, one heap element:
//   it    - the container position
//   order - the data group's place in the file, which breaks ties of equal Timestamps

#include <cstdint>
#include <vector>

#include "converter/cBusLayer.h"
#include "mdf/cMdfBusMsgContainer.h"

struct cMdfBlock_ID_obj_t;

struct cMdfParallelIter_entry {
    cMdfBusMsgContainer_iter it;
    uint32_t order;
};

struct cMdfParallelIter {
    cBusMsg* current;
    double startTime;
    std::vector<cMdfBusMsgContainer*> containers;
    std::vector<cMdfParallelIter_entry> pending;
    bool damaged;
};

// Null for a null identification block, one without header block, or no memory.
cMdfParallelIter* cMdfParallelIter_ctor(const cMdfBlock_ID_obj_t* id);
// True when the records of any data group stopped before the end of its data block: the
// messages handed out are not all the file holds. Final once current is null.
bool cMdfParallelIter_isDamaged(const cMdfParallelIter* iter);
// Moves to the next message; current is null at the end and stays null.
void cMdfParallelIter_next(cMdfParallelIter* iter);
// Releases everything; null is accepted.
void cMdfParallelIter_dtor(cMdfParallelIter* iter);
