#include "mdf/cMdfParallelIter.h"

#include <new>
#include <utility>

#include "mdf/cMdfBlock_DG.h"
#include "mdf/cMdfBlock_HD.h"
#include "mdf/cMdfBlock_ID.h"

namespace {

// The order of cMdfBusMsgContainer_iter_cmp for the entries of the heap, which all hold a
// message (NaN times compare equal), then the file order of the data groups.
inline bool before(const cMdfParallelIter_entry& a, const cMdfParallelIter_entry& b) {
    double x = a.it.msg->Timestamp, y = b.it.msg->Timestamp;
    if (x < y) return true;
    if (y < x) return false;
    return a.order < b.order;
}

void siftDown(std::vector<cMdfParallelIter_entry>* heap, size_t i) {
    auto& h = *heap;
    size_t n = h.size();
    for (;;) {
        size_t l = 2 * i + 1;
        if (l >= n) return;
        size_t m = (l + 1 < n && before(h[l + 1], h[l])) ? l + 1 : l;
        if (!before(h[m], h[i])) return;
        std::swap(h[m], h[i]);
        i = m;
    }
}

void makeHeap(std::vector<cMdfParallelIter_entry>* heap) {
    for (size_t i = heap->size() / 2; i-- > 0;)
        siftDown(heap, i);
}

void takeFront(cMdfParallelIter* iter) {
    iter->current = nullptr;
    if (iter->pending.empty() || !iter->pending.front().it.msg) return;
    iter->current = iter->pending.front().it.msg;
    iter->current->Timestamp += iter->startTime;
}

} // namespace

cMdfParallelIter* cMdfParallelIter_ctor(const cMdfBlock_ID_obj_t* id) {
    if (!id) return nullptr;
    const cMdfBlock_HD_obj_t* hd = carc_cMdfBlock_to_cMdfBlock_HD_obj_t(id->hd);
    if (!hd) return nullptr;
    auto* iter = new (std::nothrow) cMdfParallelIter{};
    if (!iter) return nullptr;
    iter->startTime = static_cast<double>(hd->startTimeNs) * 1e-9 +
                      60.0 * (static_cast<double>(hd->timeZoneOffset) + hd->dstOffset);
    uint32_t order = 0;
    for (const carc_cMdfBlock& block : hd->dataGroups) {
        cMdfBlock_DG_obj_t* dg = carc_cMdfBlock_to_cMdfBlock_DG_obj_t_mut(block);
        if (!dg) continue;
        cMdfBusMsgContainer* c = cMdfBusMsgContainer_ctor(dg);
        if (!c) break;
        cMdfBusMsgContainer_iter it = cMdfBusMsgContainer_begin(c);
        if (!it.msg) {
            iter->damaged = iter->damaged || c->endedEarly;
            cMdfBusMsgContainer_dtor(c);
            continue;
        }
        iter->containers.push_back(c);
        iter->pending.push_back({it, order++});
    }
    makeHeap(&iter->pending);
    takeFront(iter);
    return iter;
}

void cMdfParallelIter_next(cMdfParallelIter* iter) {
    if (!iter) return;
    iter->current = nullptr;
    if (iter->pending.empty()) return;
    cMdfBusMsgContainer_next(&iter->pending.front().it);
    if (!iter->pending.front().it.msg) {
        iter->pending.front() = iter->pending.back();
        iter->pending.pop_back();
    }
    if (!iter->pending.empty()) siftDown(&iter->pending, 0);
    takeFront(iter);
}

bool cMdfParallelIter_isDamaged(const cMdfParallelIter* iter) {
    if (!iter) return false;
    if (iter->damaged) return true;
    for (const cMdfBusMsgContainer* c : iter->containers)
        if (c->endedEarly) return true;
    return false;
}

void cMdfParallelIter_dtor(cMdfParallelIter* iter) {
    if (!iter) return;
    for (cMdfBusMsgContainer* c : iter->containers)
        cMdfBusMsgContainer_dtor(c);
    delete iter;
}
