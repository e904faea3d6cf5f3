#include "converter/cFramePipeline.h"

#include <cassert>
#include <cerrno>
#include <new>
#include <system_error>

namespace {

using Lock = std::unique_lock<std::mutex>;

cFramePipeline::Slot& slotOf(cFramePipeline* p, uint64_t sequence) {
    return p->ring[sequence % cFramePipeline::kDepth];
}

cFrameBatch& batchOf(cFramePipeline* p, uint64_t sequence) {
    return p->batches[sequence % p->batches.size()];
}

bool idle(const cFramePipeline* p) {
    return p->written == p->submitted && !p->writing;
}

// Writes the formatted batches at the head of the ring, in order, while no other thread
// does. The lock is let go for each write: the other thread formats meanwhile.
void writeReady(cFramePipeline* p, Lock& held) {
    while (!p->writing && p->written < p->claimed && slotOf(p, p->written).formatted) {
        cFramePipeline::Slot& slot = slotOf(p, p->written);
        const cFrameBatch& batch = batchOf(p, p->written);
        const bool pass = p->failed || p->abandoned || slot.result != 0;
        p->writing = true;
        held.unlock();
        int result = slot.result;
        if (pass) {
            if (result == 0) result = cFramePipeline_PASSED;
        } else {
            errno = 0;
            const int64_t put = cIO_write(p->output, batch.text.data(), batch.textLength);
            if (put != static_cast<int64_t>(batch.textLength))
                result = errno != 0 ? errno : cFramePipeline_NO_REASON;
        }
        held.lock();
        slot.result = result;
        if (result != 0 && result != cFramePipeline_PASSED) p->failed = true;
        if (result == 0) p->extraWritten += batch.extra;
        ++p->written;
        p->writing = false;
        p->progress.notify_all();
    }
}

// Formats the oldest batch nobody took yet and writes what is ready. False when there was
// no batch to take.
bool formatNext(cFramePipeline* p, Lock& held) {
    if (p->claimed == p->submitted) return false;
    cFramePipeline::Slot& slot = slotOf(p, p->claimed);
    cFrameBatch& batch = batchOf(p, p->claimed++);
    const bool pass = p->failed || p->abandoned;
    held.unlock();
    int result = cFramePipeline_PASSED;
    if (!pass) result = p->format->format(p->startTime, &batch) ? 0 : cFramePipeline_NO_MEMORY;
    held.lock();
    slot.result = result;
    slot.formatted = true;
    writeReady(p, held);
    return true;
}

// The converter's thread waits for done(), formatting whatever is waiting meanwhile: with
// the helper the two threads share the formatting, without it this does all of it.
template <typename Done> void helpUntil(cFramePipeline* p, Lock& held, Done done) {
    while (!done()) {
        if (formatNext(p, held)) continue;
        p->progress.wait(held);
    }
}

void helperLoop(cFramePipeline* p) {
    Lock held(p->lock);
    for (;;) {
        p->work.wait(held, [p] { return p->stopping || p->claimed < p->submitted; });
        if (formatNext(p, held)) continue;
        if (p->stopping) return;
    }
}

void handOn(cFramePipeline* p) {
    cFramePipeline::Slot& slot = slotOf(p, p->submitted);
    slot.formatted = false;
    slot.result = 0;
    ++p->submitted;
    if (p->helper.joinable()) p->work.notify_one();
}

// The result of the oldest batch not looked at yet.
int checkNext(cFramePipeline* p) {
    assert(p->checked < p->written);
    return slotOf(p, p->checked++).result;
}

} // namespace

cFramePipeline* cFramePipeline_ctor(const cFrameFormat* format) {
    cFramePipeline* p = new (std::nothrow) cFramePipeline{};
    if (!p) return nullptr;
    p->format = format;
    try {
        p->batches.resize(1);
    } catch (const std::bad_alloc&) {
        delete p;
        return nullptr;
    }
    if (!cFrameBatch_init(&p->batches[0])) {
        delete p;
        return nullptr;
    }
    return p;
}

void cFramePipeline_dtor(cFramePipeline* pipeline) {
    if (!pipeline) return;
    assert(idle(pipeline));
    if (pipeline->helper.joinable()) {
        {
            std::lock_guard<std::mutex> guard(pipeline->lock);
            pipeline->stopping = true;
        }
        pipeline->work.notify_all();
        pipeline->helper.join();
    }
    delete pipeline;
}

bool cFramePipeline_startHelper(cFramePipeline* pipeline) {
    assert(idle(pipeline) && !pipeline->output);
    if (pipeline->helper.joinable()) return true;
    // Alone, a batch is written before the next is filled: one is all it needs.
    try {
        pipeline->batches.resize(cFramePipeline::kDepth);
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (cFrameBatch& batch : pipeline->batches) {
        if (batch.frames.empty() && !cFrameBatch_init(&batch)) {
            pipeline->batches.resize(1);
            return false;
        }
    }
    try {
        pipeline->helper = std::thread(helperLoop, pipeline);
    } catch (const std::system_error&) {
        pipeline->batches.resize(1);
        return false;
    }
    return true;
}

void cFramePipeline_begin(cFramePipeline* pipeline, cIO* output, double startTime) {
    std::lock_guard<std::mutex> guard(pipeline->lock);
    assert(idle(pipeline) && !pipeline->output);
    pipeline->output = output;
    pipeline->startTime = startTime;
    pipeline->extraWritten = 0;
    pipeline->submitted = pipeline->claimed = pipeline->written = pipeline->checked = 0;
    pipeline->failed = pipeline->abandoned = false;
    pipeline->filling = &pipeline->batches[0];
    cFrameBatch_clear(pipeline->filling);
}

cFrameBatch* cFramePipeline_batch(cFramePipeline* pipeline) {
    return pipeline->filling;
}

int cFramePipeline_submit(cFramePipeline* pipeline) {
    cFramePipeline* p = pipeline;
    Lock held(p->lock);
    assert(p->output);
    handOn(p);
    const uint64_t next = p->submitted;
    // Alone, the batch is formatted and written now; it is looked at all the same only when
    // its place is taken again, as with the helper.
    if (!p->helper.joinable()) helpUntil(p, held, [p] { return p->written == p->submitted; });
    int result = 0;
    if (next >= cFramePipeline::kDepth) {
        helpUntil(p, held, [p, next] { return p->written > next - cFramePipeline::kDepth; });
        result = checkNext(p);
    }
    p->filling = &batchOf(p, next);
    cFrameBatch_clear(p->filling);
    return result;
}

int cFramePipeline_finish(cFramePipeline* pipeline) {
    cFramePipeline* p = pipeline;
    Lock held(p->lock);
    assert(p->output);
    if (p->filling->frameCount > 0) handOn(p);
    helpUntil(p, held, [p] { return idle(p); });
    int result = 0;
    while (p->checked < p->written && result == 0)
        result = checkNext(p);
    p->output = nullptr;
    return result;
}

void cFramePipeline_abandon(cFramePipeline* pipeline) {
    cFramePipeline* p = pipeline;
    Lock held(p->lock);
    p->abandoned = true;
    helpUntil(p, held, [p] { return idle(p); });
    p->output = nullptr;
}
