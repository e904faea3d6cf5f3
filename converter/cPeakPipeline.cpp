#include "converter/cPeakPipeline.h"

#include <cassert>
#include <cerrno>
#include <new>
#include <system_error>

namespace {

using Lock = std::unique_lock<std::mutex>;

cPeakPipeline::Slot& slotOf(cPeakPipeline* p, uint64_t sequence) {
    return p->ring[sequence % cPeakPipeline::kDepth];
}

cPeakBatch& batchOf(cPeakPipeline* p, uint64_t sequence) {
    return p->batches[sequence % p->batches.size()];
}

bool idle(const cPeakPipeline* p) {
    return p->written == p->submitted && !p->writing;
}

// Writes the formatted batches at the head of the ring, in order, while no other thread
// does. The lock is let go for each write: the other thread formats meanwhile.
void writeReady(cPeakPipeline* p, Lock& held) {
    while (!p->writing && p->written < p->claimed && slotOf(p, p->written).formatted) {
        cPeakPipeline::Slot& slot = slotOf(p, p->written);
        const cPeakBatch& batch = batchOf(p, p->written);
        const bool pass = p->failed || p->abandoned || slot.result != 0;
        p->writing = true;
        held.unlock();
        int result = slot.result;
        if (pass) {
            if (result == 0) result = cPeakPipeline_PASSED;
        } else {
            errno = 0;
            const int64_t put = cIO_write(p->output, batch.text.data(), batch.textLength);
            if (put != static_cast<int64_t>(batch.textLength))
                result = errno != 0 ? errno : cPeakPipeline_NO_REASON;
        }
        held.lock();
        slot.result = result;
        if (result != 0 && result != cPeakPipeline_PASSED) p->failed = true;
        ++p->written;
        p->writing = false;
        p->progress.notify_all();
    }
}

// Formats the oldest batch nobody took yet and writes what is ready. False when there was
// no batch to take.
bool formatNext(cPeakPipeline* p, Lock& held) {
    if (p->claimed == p->submitted) return false;
    cPeakPipeline::Slot& slot = slotOf(p, p->claimed);
    cPeakBatch& batch = batchOf(p, p->claimed++);
    const bool pass = p->failed || p->abandoned;
    held.unlock();
    int result = cPeakPipeline_PASSED;
    if (!pass)
        result = cPeakLines_format(p->version, p->startTime, &batch) ? 0 : cPeakPipeline_NO_MEMORY;
    held.lock();
    slot.result = result;
    slot.formatted = true;
    writeReady(p, held);
    return true;
}

// The converter's thread waits for done(), formatting whatever is waiting meanwhile: with
// the helper the two threads share the formatting, without it this does all of it.
template <typename Done> void helpUntil(cPeakPipeline* p, Lock& held, Done done) {
    while (!done()) {
        if (formatNext(p, held)) continue;
        p->progress.wait(held);
    }
}

void helperLoop(cPeakPipeline* p) {
    Lock held(p->lock);
    for (;;) {
        p->work.wait(held, [p] { return p->stopping || p->claimed < p->submitted; });
        if (formatNext(p, held)) continue;
        if (p->stopping) return;
    }
}

void handOn(cPeakPipeline* p) {
    cPeakPipeline::Slot& slot = slotOf(p, p->submitted);
    slot.formatted = false;
    slot.result = 0;
    ++p->submitted;
    if (p->helper.joinable()) p->work.notify_one();
}

// The result of the oldest batch not looked at yet.
int checkNext(cPeakPipeline* p) {
    assert(p->checked < p->written);
    return slotOf(p, p->checked++).result;
}

} // namespace

cPeakPipeline* cPeakPipeline_ctor(uint32_t version) {
    cPeakPipeline* p = new (std::nothrow) cPeakPipeline{};
    if (!p) return nullptr;
    p->version = version;
    try {
        p->batches.resize(1);
    } catch (const std::bad_alloc&) {
        delete p;
        return nullptr;
    }
    if (!cPeakBatch_init(&p->batches[0])) {
        delete p;
        return nullptr;
    }
    return p;
}

void cPeakPipeline_dtor(cPeakPipeline* pipeline) {
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

bool cPeakPipeline_startHelper(cPeakPipeline* pipeline) {
    assert(idle(pipeline) && !pipeline->output);
    if (pipeline->helper.joinable()) return true;
    // Alone, a batch is written before the next is filled: one is all it needs.
    try {
        pipeline->batches.resize(cPeakPipeline::kDepth);
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (cPeakBatch& batch : pipeline->batches) {
        if (batch.frames.empty() && !cPeakBatch_init(&batch)) {
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

void cPeakPipeline_begin(cPeakPipeline* pipeline, cIO* output, double startTime) {
    std::lock_guard<std::mutex> guard(pipeline->lock);
    assert(idle(pipeline) && !pipeline->output);
    pipeline->output = output;
    pipeline->startTime = startTime;
    pipeline->submitted = pipeline->claimed = pipeline->written = pipeline->checked = 0;
    pipeline->failed = pipeline->abandoned = false;
    pipeline->filling = &pipeline->batches[0];
    cPeakBatch_clear(pipeline->filling);
}

cPeakBatch* cPeakPipeline_batch(cPeakPipeline* pipeline) {
    return pipeline->filling;
}

int cPeakPipeline_submit(cPeakPipeline* pipeline) {
    cPeakPipeline* p = pipeline;
    Lock held(p->lock);
    assert(p->output);
    handOn(p);
    const uint64_t next = p->submitted;
    // Alone, the batch is formatted and written now; it is looked at all the same only when
    // its place is taken again, as with the helper.
    if (!p->helper.joinable()) helpUntil(p, held, [p] { return p->written == p->submitted; });
    int result = 0;
    if (next >= cPeakPipeline::kDepth) {
        helpUntil(p, held, [p, next] { return p->written > next - cPeakPipeline::kDepth; });
        result = checkNext(p);
    }
    p->filling = &batchOf(p, next);
    cPeakBatch_clear(p->filling);
    return result;
}

int cPeakPipeline_finish(cPeakPipeline* pipeline) {
    cPeakPipeline* p = pipeline;
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

void cPeakPipeline_abandon(cPeakPipeline* pipeline) {
    cPeakPipeline* p = pipeline;
    Lock held(p->lock);
    p->abandoned = true;
    helpUntil(p, held, [p] { return idle(p); });
    p->output = nullptr;
}
