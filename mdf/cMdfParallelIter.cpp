#include "mdf/cMdfParallelIter.h"

#include <bit>
#include <new>

#include "mdf/cMdfBlock_DG.h"
#include "mdf/cMdfBlock_HD.h"
#include "mdf/cMdfBlock_ID.h"

namespace {

using Key = unsigned __int128;

// Doubles ordered as unsigned integers: positive ones with the sign bit set, negative ones
// with all bits flipped. -0.0 becomes +0.0 first, so that the two zeros stay equal.
inline uint64_t timeOrder(double t) {
    const uint64_t bits = std::bit_cast<uint64_t>(t + 0.0);
    return bits >> 63 ? ~bits : bits | uint64_t{1} << 63;
}

inline Key keyOf(const cMdfBusMsgContainer_iter& it, uint32_t leaf) {
    if (!it.msg) return Key{1} << 96 | leaf;
    return Key{timeOrder(it.msg->Timestamp)} << 32 | leaf;
}

// The matches on the path from a leaf to the root, after the leaf's key changed to key.
// Returns the new overall winner, also stored as losers[0].
inline uint32_t replay(cMdfParallelIter* iter, uint32_t leaf, Key key) {
    const Key* keys = iter->keys.data();
    uint32_t* losers = iter->losers.data();
    uint32_t winner = leaf;
    for (uint32_t node = (leaf + iter->leaves) >> 1; node >= 1; node >>= 1) {
        const uint32_t other = losers[node];
        const Key otherKey = keys[other];
        // Which side wins is a coin toss for interleaved groups: a mask instead of a
        // branch that would be mispredicted half the time.
        const bool otherWins = otherKey < key;
        const uint32_t swap = (other ^ winner) & -static_cast<uint32_t>(otherWins);
        losers[node] = other ^ swap;
        winner ^= swap;
        key = otherWins ? otherKey : key;
    }
    losers[0] = winner;
    return winner;
}

// Plays every match once, from the lowest inner nodes up.
void build(cMdfParallelIter* iter) {
    const uint32_t n = iter->leaves;
    std::vector<uint32_t> winners(2 * size_t{n});
    for (uint32_t i = 0; i < n; ++i)
        winners[n + i] = i;
    for (uint32_t node = n - 1; node >= 1; --node) {
        const uint32_t a = winners[2 * node], b = winners[2 * node + 1];
        const bool bWins = iter->keys[b] < iter->keys[a];
        winners[node] = bWins ? b : a;
        iter->losers[node] = bWins ? a : b;
    }
    iter->losers[0] = n > 1 ? winners[1] : 0;
}

void takeFront(cMdfParallelIter* iter) {
    iter->current = nullptr;
    if (iter->leaves == 0) return;
    cBusMsg* msg = iter->pending[iter->losers[0]].msg;
    if (!msg) return;
    iter->current = msg;
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
        iter->pending.push_back(it);
    }
    const size_t count = iter->pending.size();
    if (count > 0) {
        iter->leaves = static_cast<uint32_t>(std::bit_ceil(count));
        iter->pending.resize(iter->leaves, cMdfBusMsgContainer_iter{nullptr, nullptr});
        iter->keys.resize(iter->leaves);
        for (uint32_t i = 0; i < iter->leaves; ++i)
            iter->keys[i] = keyOf(iter->pending[i], i);
        iter->losers.resize(iter->leaves);
        build(iter);
    }
    takeFront(iter);
    return iter;
}

// Runs once per message: the container's step, the fast path of the record read and the CAN
// data frame decoder are inlined into it (flatten, across files in the LTO build), which saves
// their calls and the repeated argument checks at each call.
__attribute__((flatten)) void cMdfParallelIter_next(cMdfParallelIter* iter) {
    if (!iter || !iter->current) return;
    // A current message means a leaf holds it: losers[0].
    const uint32_t leaf = iter->losers[0];
    cMdfBusMsgContainer_iter* pending = iter->pending.data();
    cMdfBusMsgContainer_next(&pending[leaf]);
    const Key key = keyOf(pending[leaf], leaf);
    iter->keys[leaf] = key;
    cBusMsg* msg = pending[replay(iter, leaf, key)].msg;
    iter->current = msg;
    if (msg) msg->Timestamp += iter->startTime;
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
