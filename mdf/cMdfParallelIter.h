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
//   pending    - per leaf of the merge's tournament, the position of one container: leaf i
//                is the i-th container in file order; leaves past the last container (the
//                count is rounded up to a power of two) and containers at their end hold
//                null positions
//   keys       - per leaf, its sort key: finished flag, then Timestamp, then leaf number,
//                as one integer whose order is that of the messages (see below)
//   losers     - losers[0] is the leaf that holds current; losers[n], n >= 1, the leaf that
//                lost the match at inner node n (children 2n and 2n + 1; leaf i is node
//                leaves + i). Advancing re-plays only the matches on the advanced leaf's
//                path, log2 of the leaf count, without a data-dependent branch.
//   leaves     - the number of leaves, a power of two (0 without containers)
//
// The key of a message orders by Timestamp (a NaN goes last or first by its sign, as its
// bits say), then by file order of the data groups; a leaf without message is after all.

#include <cstdint>
#include <vector>

#include "bus/cBusLayer.h"
#include "mdf/cMdfBusMsgContainer.h"

struct cMdfBlock_ID_obj_t;

struct cMdfParallelIter {
    cBusMsg* current;
    double startTime;
    std::vector<cMdfBusMsgContainer*> containers;
    std::vector<cMdfBusMsgContainer_iter> pending;
    std::vector<unsigned __int128> keys;
    std::vector<uint32_t> losers;
    uint32_t leaves;
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
