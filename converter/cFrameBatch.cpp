#include "converter/cFrameBatch.h"

#include <cassert>
#include <limits>
#include <new>

#include "support/copy_short.h"

bool cFrameBatch_init(cFrameBatch* batch) {
    try {
        batch->frames.resize(cFrameBatch_FRAMES);
        batch->data.resize(cFrameBatch_FRAMES * 24); // grows for longer payloads
    } catch (const std::bad_alloc&) {
        return false;
    }
    cFrameBatch_clear(batch);
    return true;
}

void cFrameBatch_clear(cFrameBatch* batch) {
    batch->frameCount = 0;
    batch->dataLength = 0;
    batch->textLength = 0;
    batch->firstNumber = 1;
    batch->extra = 0;
}

namespace {

__attribute__((noinline)) bool growData(cFrameBatch* batch, size_t length) {
    if (length > std::numeric_limits<uint32_t>::max() - batch->dataLength) return false;
    try {
        batch->data.resize(2 * batch->data.size() + length);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

} // namespace

bool cFrameBatch_add(cFrameBatch* batch, const cBusMsg* msg) {
    assert(!cFrameBatch_full(batch));
    const std::string_view payload = cBusMsg_data(msg);
    const size_t length = payload.size();
    if (batch->data.size() - batch->dataLength < length && !growData(batch, length)) return false;
    cFrame& f = batch->frames[batch->frameCount++];
    f.timestamp = msg->Timestamp;
    f.id = msg->ID;
    f.dataOffset = static_cast<uint32_t>(batch->dataLength);
    f.dataLength = static_cast<uint32_t>(length);
    f.busChannel = msg->BusChannel;
    f.can = msg->CAN;
    copy_short(batch->data.data() + batch->dataLength, payload.data(), length);
    batch->dataLength += length;
    return true;
}

bool cFrameBatch_textRoom(cFrameBatch* batch, size_t used, size_t room) {
    if (batch->text.size() - used >= room) return true;
    try {
        batch->text.resize(2 * batch->text.size() + room);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}
