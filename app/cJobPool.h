#pragma once
// Ordered pipeline for converting several files at once with the result of a one-by-one run.
//
// The caller submits tasks in visiting order. Each task passes four phases:
//
//   prepare  may start as soon as a worker is free, beside other tasks (open the file,
//            unwrap its containers, read its metadata);
//   decide   runs after the previous task's decide has finished, one task at a time (repeat
//            detection and the continuation flag compare a file with its predecessor; state
//            that only decide touches needs no lock, the pool orders every access);
//   convert  runs after its own decide, beside other tasks (write the trace);
//   commit   runs after the previous task's commit and its own convert, one task at a time
//            (deletion of the input, counters, the result code).
//
// Then the pool calls the task's `dtor`. Every slot may be empty; a task that only needs its
// place in the order (a warning about a missing path between two files) sets only commit.
// Failures are the task's own business: the pool calls every phase whatever the earlier ones
// did, so a task records its failure and lets later phases pass.
//
// The log lines that a task's phases emit are captured per task and written out, in one
// block, right after its commit: each file's lines stay together and come out in visiting
// order. Whatever the caller logs itself between submissions would jump ahead of lines still
// held, so it goes through a commit-only task.
//
// Memory: at most `workers` tasks are between the start of prepare and the end of convert
// (each holds what one file holds), and at most `window` tasks are submitted and not yet
// committed (a converted task waits for its predecessors holding only its log lines and
// results); submit blocks while the window is full. So what a file needs while it is read
// and converted (a converter object, read-ahead memory) can be kept in `workers` sets: a task
// that takes one at the start of prepare and gives it back at the end of convert always finds
// one free.
//
// A pool of one worker starts no thread: submit runs the four phases at once on the caller's
// thread and the log lines go out as they are written, exactly as without a pool.

struct cJobTask;

struct cJobTaskOps {
    void (*prepare)(cJobTask* task);
    void (*decide)(cJobTask* task);
    void (*convert)(cJobTask* task);
    void (*commit)(cJobTask* task);
    void (*dtor)(cJobTask* task); // releases the task after its commit
};

// The first member of every task; the task's own data follows in the embedding structure.
struct cJobTask {
    const cJobTaskOps* ops;
};

struct cJobPool;

// Number of workers for a "jobs" value: 0 means one per online processor.
unsigned cJobPool_workersFor(unsigned jobs);

// workers >= 1, window >= workers. Null when the worker threads cannot be started (logged).
[[nodiscard]] cJobPool* cJobPool_ctor(unsigned workers, unsigned window);
// Waits for every submitted task to be committed, stops the workers and frees the pool.
void cJobPool_dtor(cJobPool* pool);

// Hands over a task (owned by the pool from now on); blocks while the window is full.
void cJobPool_submit(cJobPool* pool, cJobTask* task);
// Waits until every task submitted so far is committed and released.
void cJobPool_wait(cJobPool* pool);
