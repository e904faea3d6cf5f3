#include "mdf/cMdfBusMsgContainer.h"

#include <new>

#include "mdf/cMdfBlock_DG.h"
#include "mdf/cMdfBlock_data.h"

bool cMdfBusMsgContainer_init(cMdfBusMsgContainer* container, cMdfBlock_DG_obj_t* dg) {
    if (!container || !dg) return false;
    container->dg = dg;
    container->msg = cBusMsg{};
    container->endedEarly = false;
    return cMdfBlock_DG_iteratorState_init(&container->state);
}

cMdfBusMsgContainer* cMdfBusMsgContainer_ctor(cMdfBlock_DG_obj_t* dg) {
    auto* container = new (std::nothrow) cMdfBusMsgContainer{};
    if (!container) return nullptr;
    if (!cMdfBusMsgContainer_init(container, dg)) {
        cMdfBusMsgContainer_dtor(container);
        return nullptr;
    }
    return container;
}

void cMdfBusMsgContainer_drop(cMdfBusMsgContainer* container) {
    if (!container) return;
    std::string().swap(container->msg.DataBytes);
    container->msg.DataView = nullptr;
    cMdfBlock_DG_iteratorState_drop(&container->state);
}

void cMdfBusMsgContainer_dtor(cMdfBusMsgContainer* container) {
    cMdfBusMsgContainer_drop(container);
    delete container;
}

cMdfBusMsgContainer_iter cMdfBusMsgContainer_begin(cMdfBusMsgContainer* container) {
    cMdfBusMsgContainer_iter it{nullptr, container};
    if (!container) return it;
    container->state.position = 0;
    cMdfBusMsgContainer_next(&it);
    return it;
}

void cMdfBusMsgContainer_next(cMdfBusMsgContainer_iter* it) {
    if (!it || !it->container) return;
    cMdfBusMsgContainer* c = it->container;
    // A record that gives no message is skipped rather than handed on as a copy of the
    // previous message; the data group goes on with its next record.
    for (;;) {
        const cMdfRecord* rec = cMdfBlock_DG_at(c->dg, &c->state);
        if (!rec) {
            // The normal end stands exactly at the end of the data. Before it, a record could
            // not be read; past it, the last record claimed more bytes than there are. Either
            // is damage that must not pass for a complete data group.
            const cMdfBlock_data_obj_t* dt = carc_cMdfBlock_to_cMdfBlock_DT_obj_t(c->dg->data);
            if (dt && c->state.position != cMdfBlock_data_getSize(dt)) c->endedEarly = true;
            *it = {nullptr, nullptr};
            return;
        }
        if (!c->state.decoder) continue;
        // A group without a Timestamp channel must not keep the absolute time the merge
        // added to the previous message. The payload (DataBytes or DataView) is every
        // decoder's own to set: one that succeeds sets it, one that fails leaves no message.
        c->msg.Timestamp = 0;
        if (cMdfGroupDecoder_run(c->state.decoder, rec, &c->msg)) {
            it->msg = &c->msg;
            return;
        }
    }
}

