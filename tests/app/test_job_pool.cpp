// The ordered pipeline with fake file tasks: random phase durations, failures, repeats and
// commit-only tasks must give the same results and the same log, in the same order, as a
// one-by-one run, within the promised bounds on tasks in flight.

#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/cJobPool.h"
#include "logCapture.h"

namespace {

// What the tasks of one run share. `previousKey`, `decideOrder`, `transcript` and `result` are
// touched only in decide or commit, which the pool orders: no lock.
struct FleetRun {
    // Tasks between prepare and the end of convert, and tasks accepted and not yet released.
    std::atomic<int> busy{0}, maxBusy{0}, alive{0}, maxAlive{0};
    int previousKey = -1;
    std::vector<int> decideOrder;
    std::string transcript;
    int result = 0;
};

void raiseMax(std::atomic<int>& max, int value) {
    for (int seen = max.load(); value > seen && !max.compare_exchange_weak(seen, value);) {
    }
}

struct FakeTask {
    cJobTask base;
    FleetRun* run;
    int seq;
    int key;          // the "device, session, split" of the file
    bool failOpen;    // fails in prepare, like a file that cannot be unwrapped
    bool failConvert; // fails in convert, like a converter error
    int sleepUs[3];   // prepare, decide, convert
    bool opened = false, repeated = false, converted = false;
};

FakeTask* fake(cJobTask* t) {
    return reinterpret_cast<FakeTask*>(t);
}
void nap(int us) {
    if (us > 0) std::this_thread::sleep_for(std::chrono::microseconds(us));
}

void fakePrepare(cJobTask* t) {
    FakeTask* f = fake(t);
    raiseMax(f->run->maxAlive, ++f->run->alive);
    raiseMax(f->run->maxBusy, ++f->run->busy);
    nap(f->sleepUs[0]);
    ZF_LOGI("file %d opened", f->seq);
    f->opened = !f->failOpen;
    if (!f->opened) ZF_LOGE("file %d cannot be opened", f->seq);
}

void fakeDecide(cJobTask* t) {
    FakeTask* f = fake(t);
    nap(f->sleepUs[1]);
    f->run->decideOrder.push_back(f->seq);
    if (!f->opened) return;
    f->repeated = f->key == f->run->previousKey;
    f->run->previousKey = f->key;
    if (f->repeated) ZF_LOGW("file %d repeats key %d", f->seq, f->key);
}

void fakeConvert(cJobTask* t) {
    FakeTask* f = fake(t);
    nap(f->sleepUs[2]);
    if (f->opened && !f->repeated) {
        f->converted = !f->failConvert;
        ZF_LOGI("file %d converted: %d", f->seq, f->converted);
    }
    --f->run->busy;
}

void fakeCommit(cJobTask* t) {
    FakeTask* f = fake(t);
    int code = !f->opened ? 8 : f->repeated ? 0 : f->converted ? 0 : 4;
    f->run->result |= code;
    f->run->transcript += std::to_string(f->seq) + ":" + std::to_string(code) + " ";
    if (code) ZF_LOGE("Error during conversion of file %d", f->seq);
}

void fakeDtor(cJobTask* t) {
    --fake(t)->run->alive;
    delete fake(t);
}

const cJobTaskOps fakeOps = {fakePrepare, fakeDecide, fakeConvert, fakeCommit, fakeDtor};

// A warning between two files, for a path that is missing: it only needs its place.
struct NoteTask {
    cJobTask base;
    FleetRun* run;
    int seq;
};

void noteCommit(cJobTask* t) {
    NoteTask* n = reinterpret_cast<NoteTask*>(t);
    n->run->result |= 1;
    n->run->transcript += std::to_string(n->seq) + ":missing ";
    ZF_LOGW("Could not find input file/folder %d", n->seq);
}

void noteDtor(cJobTask* t) {
    delete reinterpret_cast<NoteTask*>(t);
}

const cJobTaskOps noteOps = {nullptr, nullptr, nullptr, noteCommit, noteDtor};

struct Outcome {
    std::string transcript, log;
    int result;
    std::vector<int> decideOrder;
};

// Runs `count` tasks drawn from `seed` through a pool; durations are drawn from a separate
// stream so that only the timing, never the tasks, depends on `timingSeed`.
Outcome runFleet(unsigned workers, unsigned window, unsigned count, unsigned seed,
                 unsigned timingSeed, FleetRun* run) {
    LogCapture capture;
    std::mt19937 rng(seed), timing(timingSeed);
    cJobPool* pool = cJobPool_ctor(workers, window);
    EXPECT_NE(pool, nullptr);
    for (unsigned i = 0; i < count; ++i) {
        unsigned kind = rng() % 20;
        if (kind == 0) {
            cJobPool_submit(pool, &(new NoteTask{{&noteOps}, run, (int)i})->base);
            continue;
        }
        FakeTask* f =
            new FakeTask{{&fakeOps}, run, (int)i, (int)(rng() % 3), kind == 1, kind == 2, {}};
        for (int& us : f->sleepUs)
            us = timing() % 4 == 0 ? (int)(timing() % 400) : 0;
        cJobPool_submit(pool, &f->base);
    }
    cJobPool_dtor(pool);
    return {run->transcript, LogCapture::lines(), run->result, run->decideOrder};
}

TEST(JobPool, ManyWorkersGiveTheOneByOneResultUnderRandomTiming) {
    for (unsigned seed = 1; seed <= 3; ++seed) {
        FleetRun serialRun;
        Outcome serial = runFleet(1, 1, 150, seed, 0, &serialRun);
        EXPECT_EQ(serialRun.maxBusy, 1);
        ASSERT_NE(serial.result, 0); // the mix holds failures, repeats and missing paths
        ASSERT_NE(serial.log.find("repeats key"), std::string::npos);
        for (unsigned workers : {2u, 3u, 5u}) {
            for (unsigned window : {workers, 3 * workers}) {
                SCOPED_TRACE("seed " + std::to_string(seed) + ", " + std::to_string(workers) +
                             " workers, window " + std::to_string(window));
                FleetRun run;
                Outcome o = runFleet(workers, window, 150, seed, seed * 100 + workers, &run);
                EXPECT_EQ(o.transcript, serial.transcript);
                EXPECT_EQ(o.log, serial.log);
                EXPECT_TRUE(o.result == serial.result && o.decideOrder == serial.decideOrder);
                EXPECT_TRUE(run.maxBusy <= (int)workers && run.maxAlive <= (int)window)
                    << run.maxBusy;
                EXPECT_EQ(run.alive, 0);
            }
        }
    }
}

} // namespace
