#pragma once
// The frames of one output file on their way out. Batches of frames are filled on the
// writer's thread, encoded in the file's format by whichever thread is free (the writer's
// own, or the one helper thread once started), and written to the file in order by one
// thread at a time. Without the helper the writer's thread does all of it when it hands a
// batch on.
//
// A failed write is told at fixed points, whichever thread wrote: a batch's result is looked
// at when its place in the ring is taken again (kDepth batches later) and at finish. A run
// with the helper and one without report the same failure at the same message, and a batch
// behind a failed one is never written: the file has no hole, only an end.
//
// cFramePipeline:
//   const cFrameFormat* format;  how the frames are encoded
//   cIO* output;              the file being written, borrowed; null between files
//   double startTime;         what the frames' times count from
//   uint64_t extraWritten;    the `extra` of the batches written so far
//   Slot ring[kDepth];        the state of batch s of the file is ring[s % kDepth]
//   std::vector<cFrameBatch> batches;  batch s is batches[s % batches.size()]: kDepth of them
//                             with the helper, one without
//   cFrameBatch* filling;      the batch the converter fills: batchOf(submitted), kept at hand
//   uint64_t submitted;       batches handed on; the converter fills ring[submitted % kDepth]
//   uint64_t claimed;         batches a thread took to format, in order
//   uint64_t written;         batches written (or passed over after a failure), in order
//   uint64_t checked;         batches whose result the converter has looked at
//   bool writing;             a thread is writing ring[written % kDepth]
//   bool failed;              a batch failed: later ones are formatted no more, nor written
//   bool abandoned;           the file is given up: nothing more is formatted or written
//   bool stopping;            the helper ends
//   std::mutex lock;          guards the counters and flags, and the slots' state
//   std::condition_variable work, progress;  the helper waits for work, the converter's
//                             thread for a batch formatted or written
//   std::thread helper;       joinable once started
//
// Slot: bool formatted; int result (0, an errno, or a cFramePipeline_result)

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "converter/cFrameBatch.h"
#include "converter/cFrameFormat.h"
#include "io/cIO.h"

// Results of a batch other than 0 (written) and an errno (its write failed for that reason).
enum cFramePipeline_result : int {
    cFramePipeline_NO_REASON = -1, // the write took less than all, and the system said nothing
    cFramePipeline_PASSED = -2,    // not written: an earlier batch failed, or the file was given up
    cFramePipeline_NO_MEMORY = -3, // the frames could not be encoded
};

struct cFramePipeline {
    static constexpr unsigned kDepth = 4;
    struct Slot {
        bool formatted;
        int result;
    };
    const cFrameFormat* format;
    cIO* output;
    double startTime;
    uint64_t extraWritten;
    Slot ring[kDepth];
    std::vector<cFrameBatch> batches;
    cFrameBatch* filling;
    uint64_t submitted, claimed, written, checked;
    bool writing, failed, abandoned, stopping;
    std::mutex lock;
    std::condition_variable work, progress;
    std::thread helper;
};

// Null without memory.
cFramePipeline* cFramePipeline_ctor(const cFrameFormat* format);
// Ends the helper; the pipeline must be idle (finished or abandoned). Null is accepted.
void cFramePipeline_dtor(cFramePipeline* pipeline);
// Starts the helper thread, before the first file; false when the system gives none or
// there is no memory for its batches (the pipeline works alone).
bool cFramePipeline_startHelper(cFramePipeline* pipeline);

// A new file, its header written: the frames go to output from now on.
void cFramePipeline_begin(cFramePipeline* pipeline, cIO* output, double startTime);
// The batch to fill. Never full: a call that fills it hands it on next.
cFrameBatch* cFramePipeline_batch(cFramePipeline* pipeline);
// Hands the filled batch on and readies the next. Not 0: a batch written earlier failed
// (its result); the file has failed and must be abandoned.
[[nodiscard]] int cFramePipeline_submit(cFramePipeline* pipeline);
// Hands on what the current batch holds and waits until every batch is written. 0, or the
// result of the first batch that failed. The pipeline is idle afterwards.
[[nodiscard]] int cFramePipeline_finish(cFramePipeline* pipeline);
// Gives the file up: batches not yet written never are. Waits for a write under way; the
// pipeline is idle afterwards. Idle pipelines are left as they are.
void cFramePipeline_abandon(cFramePipeline* pipeline);
