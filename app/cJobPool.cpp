#include "app/cJobPool.h"

#include <cassert>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

#include "support/log.h"

namespace {

// One submitted task until its commit. Tasks get consecutive sequence numbers in submission
// order; the pool keeps the uncommitted ones in `pending`, the oldest first.
struct Entry {
    cJobTask* task;
    std::string log; // lines of all four phases, written out after the commit
    bool converted = false;
};

void runPhase(void (*phase)(cJobTask*), cJobTask* task, std::string* log) {
    if (!phase) return;
    if (log) zf_log_capture_begin(log);
    phase(task);
    if (log) zf_log_capture_end();
}

void runInline(cJobTask* task) {
    const cJobTaskOps* ops = task->ops;
    runPhase(ops->prepare, task, nullptr);
    runPhase(ops->decide, task, nullptr);
    runPhase(ops->convert, task, nullptr);
    runPhase(ops->commit, task, nullptr);
    if (ops->dtor) ops->dtor(task);
}

} // namespace

struct cJobPool {
    unsigned window = 1;
    std::mutex mutex;
    // One condition for every wait: few threads, and each change may free several waiters.
    std::condition_variable changed;
    std::deque<std::unique_ptr<Entry>> pending; // sequence numbers [firstPending, submitted)
    uint64_t firstPending = 0;
    uint64_t submitted = 0;
    uint64_t started = 0;    // next sequence number a worker takes
    uint64_t decided = 0;    // tasks whose decide has finished
    uint64_t committed = 0;  // tasks committed and released
    bool committing = false; // one thread runs commits at a time, in order
    bool stopping = false;
    std::vector<std::thread> workers;
};

namespace {

Entry* entryOf(cJobPool* pool, uint64_t seq) {
    return pool->pending[static_cast<size_t>(seq - pool->firstPending)].get();
}

// Commits the oldest tasks while they are converted. Called with the lock held; whoever finds
// no commit running becomes the committer, so a task converted while another thread commits
// is picked up by that thread before it lets go.
void commitReady(cJobPool* pool, std::unique_lock<std::mutex>& lock) {
    if (pool->committing) return;
    pool->committing = true;
    while (!pool->pending.empty() && pool->pending.front()->converted) {
        std::unique_ptr<Entry> e = std::move(pool->pending.front());
        pool->pending.pop_front();
        ++pool->firstPending;
        lock.unlock();
        runPhase(e->task->ops->commit, e->task, &e->log);
        zf_log_output_block(e->log);
        if (e->task->ops->dtor) e->task->ops->dtor(e->task);
        e.reset();
        lock.lock();
        ++pool->committed;
        pool->changed.notify_all();
    }
    pool->committing = false;
}

void workerLoop(cJobPool* pool) {
    std::unique_lock<std::mutex> lock(pool->mutex);
    for (;;) {
        pool->changed.wait(lock,
                           [pool] { return pool->stopping || pool->started < pool->submitted; });
        if (pool->started == pool->submitted) return; // stopping and nothing left
        uint64_t seq = pool->started++;
        Entry* e = entryOf(pool, seq);
        cJobTask* task = e->task;
        lock.unlock();
        runPhase(task->ops->prepare, task, &e->log);
        lock.lock();
        // The predecessor was taken earlier by another worker and waits on nothing later than
        // itself, so this wait always ends.
        pool->changed.wait(lock, [pool, seq] { return pool->decided == seq; });
        lock.unlock();
        runPhase(task->ops->decide, task, &e->log);
        lock.lock();
        ++pool->decided;
        pool->changed.notify_all();
        lock.unlock();
        runPhase(task->ops->convert, task, &e->log);
        lock.lock();
        e->converted = true;
        commitReady(pool, lock);
    }
}

} // namespace

unsigned cJobPool_workersFor(unsigned jobs) {
    if (jobs > 0) return jobs;
    long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<unsigned>(online) : 1;
}

cJobPool* cJobPool_ctor(unsigned workers, unsigned window) {
    assert(workers >= 1 && window >= workers);
    auto pool = std::make_unique<cJobPool>();
    pool->window = window;
    if (workers == 1) return pool.release();
    try {
        pool->workers.reserve(workers);
        for (unsigned i = 0; i < workers; ++i)
            pool->workers.emplace_back(workerLoop, pool.get());
    } catch (const std::system_error& e) {
        ZF_LOGE("Could not start %u worker threads: %s", workers, e.what());
        cJobPool_dtor(pool.release());
        return nullptr;
    }
    return pool.release();
}

void cJobPool_dtor(cJobPool* pool) {
    if (!pool) return;
    cJobPool_wait(pool);
    {
        std::lock_guard<std::mutex> lock(pool->mutex);
        pool->stopping = true;
    }
    pool->changed.notify_all();
    for (std::thread& t : pool->workers)
        t.join();
    delete pool;
}

void cJobPool_submit(cJobPool* pool, cJobTask* task) {
    assert(pool && task && task->ops);
    if (pool->workers.empty()) {
        runInline(task);
        return;
    }
    std::unique_lock<std::mutex> lock(pool->mutex);
    pool->changed.wait(lock, [pool] { return pool->submitted - pool->committed < pool->window; });
    pool->pending.push_back(std::make_unique<Entry>(Entry{task, {}, false}));
    ++pool->submitted;
    pool->changed.notify_all();
}

void cJobPool_wait(cJobPool* pool) {
    assert(pool);
    std::unique_lock<std::mutex> lock(pool->mutex);
    pool->changed.wait(lock, [pool] { return pool->committed == pool->submitted; });
}
