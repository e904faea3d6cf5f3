// The pipeline of one log file, in the four phases of the job pool:
//   prepare  open the input, unwrap its containers, open the MDF file and read its header;
//   decide   repeat detection and the continuation flag against the file before (in order);
//   convert  newFile, the messages and endFile on a converter of its own, then close;
//   commit   (in order) the trace name taken, the input deleted on request, the report.
// With one job the pool runs the four phases back to back as each file is visited, which is
// the plain one-file-after-the-other conversion.

#include <cassert>
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/cInputDeletion.h"
#include "app/cLogReaderCLI.h"
#include "app/cLogReaderInput.h"
#include "app/cLogReaderState.h"
#include "app/cLogReaderUpdate.h"
#include "app/cTraceSource.h"
#include "io/cGenericFile.h"
#include "io/cIO_input.h"
#include "mdf/cMdf.h"
#include "mdf/cMdfParallelIter.h"
#include "support/log.h"

namespace {

struct FileJob {
    cJobTask task; // first member: the pool hands this pointer back
    cLogReader* reader;
    std::string input; // relative to the input root
    std::string base;  // output path without extension, relative to the output root
    uint64_t size;
    std::shared_ptr<cLogReaderNameTurn> sameNameBefore; // the last earlier file with this name
    std::shared_ptr<cLogReaderNameTurn> turn;           // this file's, for the later ones
    cRunReport_file report;

    uint32_t code = cExitStatus_CONVERSION_FAILED; // until the file is known to have converted
    bool done = false;                             // failed or finished before its header
    cFS_identity identity{};                       // of the input before it was opened
    bool identified = false;
    cIO* stream = nullptr;
    cMdf* mdf = nullptr;
    cLogReaderFileInfo info{};
    bool headerRead = false;
    bool repeated = false;
    bool upToDate = false; // skipped in update mode: its trace is at least as new
    bool continuation = false;
    bool converted = false;
    bool summarised = false; // held is what the converter said of its output
    cBusLayerFileSummary held{};
};

bool isContinuation(const cLogReaderFileInfo& prev, const cLogReaderFileInfo& cur) {
    if (prev.serialNumber.empty() || prev.serialNumber != cur.serialNumber) return false;
    if (cur.session == prev.session) return cur.split == prev.split + 1;
    // A session rolls over to the next one after a split count that is a multiple of 256.
    if (cur.session == prev.session + 1)
        return cur.split == prev.split + 1 && (prev.split & 0xFFu) == 0;
    return false;
}

// Every failed file ends with this line after the message of the step that failed. The record
// keeps that step's reason; a step whose message names no file leaves this line as it.
void failFile(FileJob* job, uint32_t code) {
    cRunReport_error(&job->report, "Error during conversion of %s", job->input.c_str());
    job->code = code;
    job->done = true;
}

// Reads serial number, session and split; false when one of them is missing.
bool readFileHeader(FileJob* job, cMdf* mdf, cLogReaderFileInfo* info) {
    const char* in = job->input.c_str();
    switch (cLogReaderHeader_read(mdf, info)) {
    case cLogReaderHeader::COMPLETE:
        return true;
    case cLogReaderHeader::NO_ID:
        cRunReport_error(&job->report, "Could not read ID block of %s", in);
        return false;
    case cLogReaderHeader::NO_HD:
        cRunReport_error(&job->report, "Could not read HD block of %s", in);
        return false;
    case cLogReaderHeader::INCOMPLETE:
        return false;
    }
    return false;
}

// Closes the input after its last message. It must still be whole: a mapped file that shrank
// while it was read gave zeros for the bytes it lost (its close says so), and a file now
// shorter than when it was opened was cut under us. False then, or when closing failed.
bool closeInput(FileJob* job) {
    cMdf_close(job->mdf);
    job->mdf = nullptr;
    const bool closed = cIO_close(job->stream) == 0;
    job->stream = nullptr;
    const int n = static_cast<int>(job->input.size());
    if (!closed) {
        cRunReport_error(&job->report, "Could not close input file after conversion: %.*s", n,
                         job->input.data());
        return false;
    }
    cFS_identity now{};
    if (job->identified && cFS_identify(job->reader->inputFs, job->input, true, &now) &&
        cFS_identity_sameFile(job->identity, now) && now.size < job->identity.size) {
        cRunReport_error(&job->report,
                         "Input file %.*s was cut to %" PRIu64 " of its %" PRIu64
                         " bytes while it was converted",
                         n, job->input.data(), now.size, job->identity.size);
        return false;
    }
    return true;
}

// Runs newFile, the messages and endFile, and closes the input; true when all of them
// succeeded. The input is closed and checked before endFile gives the trace its name: the
// name may hold an earlier run's good trace, which a trace of a cut input must not replace.
bool pumpMessages(cBusLayer* conv, FileJob* job) {
    cMdf* mdf = job->mdf;
    const cLogReaderFileInfo* info = &job->info;
    const char* in = job->input.c_str();
    bool ok = conv->vt->newFile(conv, info, job->continuation);
    if (!ok) {
        cRunReport_error(&job->report, "Error on new file %s", in);
    } else {
        cMdfParallelIter* it = cMdf_getIter(mdf);
        while (it && it->current) {
            if (!conv->vt->newMsg(conv, it->current)) {
                cRunReport_error(&job->report, "Error during handle record callback of %s", in);
                ok = false;
                break;
            }
            cMdfParallelIter_next(it);
        }
        if (!it) ok = false;
        // A finalised file whose records stop short of or run past their data is damaged; an
        // unfinalised one may end in a record the logger never finished.
        if (ok && cMdfParallelIter_isDamaged(it) && !mdf->unfinalised) {
            cRunReport_error(&job->report,
                             "Records do not end where their data ends: damaged file %s", in);
            ok = false;
        }
        cMdfParallelIter_dtor(it);
    }
    if (!closeInput(job)) ok = false;
    // A conversion already known to have failed is dropped before endFile could give its
    // output the final name, which may hold the trace of an earlier run.
    if (!ok && conv->vt->dropFile) conv->vt->dropFile(conv, info);
    if (!conv->vt->endFile(conv, info)) {
        cRunReport_error(&job->report, "Error during end file callback of %s", in);
        ok = false;
    }
    return ok;
}

// One trace name per run: the first input converted to it keeps it.
bool traceNameTaken(cLogReader* reader, const std::string& input, const std::string& base) {
    std::string owner;
    {
        std::lock_guard<std::mutex> guard(reader->lock);
        auto found = reader->traceOwners.find(base);
        if (found == reader->traceOwners.end() || found->second == input) return false;
        owner = found->second;
    }
    ZF_LOGE("Not converted: %.*s would write the trace of %s (both map to %s)", (int)input.size(),
            input.data(), owner.c_str(), base.c_str());
    return true;
}

// Nothing is written through a link in the output tree, nor above its root.
bool outputFolderSafe(cLogReader* reader, std::string_view folder) {
    std::string unsafe;
    if (cFS_isFolderPathSafe(reader->outputFs, folder, &unsafe)) return true;
    ZF_LOGE("Output folder %s is a link or leads out of the output folder: nothing is written "
            "there",
            unsafe.c_str());
    return false;
}

// A file only named like a log: its first bytes are neither an MDF file's nor a container's.
// A start that cannot be read is left to the input's own checks.
bool namedLikeALogOnly(cIO* file) {
    uint8_t start[cGenericFile_LOG_START_SIZE];
    if (cIO_seek(file, 0, cIO_SEEK_SET) != 0) return false;
    errno = 0;
    const int64_t got = cIO_readFully(file, start, sizeof start);
    if (got < 0 || (errno != 0 && static_cast<uint64_t>(got) < sizeof start)) return false;
    return !cGenericFile_isLogStart(start, static_cast<uint64_t>(got));
}

FileJob* jobOf(cJobTask* task) {
    return reinterpret_cast<FileJob*>(task);
}

void prepare(cJobTask* task) {
    FileJob* job = jobOf(task);
    cLogReader* reader = job->reader;
    cRunReport_fileStart(&job->report, job->input, true, job->size);
    if (job->sameNameBefore) {
        // Whether that file keeps the name is known only once it is committed.
        std::unique_lock<std::mutex> guard(reader->lock);
        reader->changed.wait(guard, [job] { return job->sameNameBefore->committed; });
    }
    if (traceNameTaken(reader, job->input, job->base)) {
        cRunReport_reason(&job->report, "another input of the run writes the same trace");
        return failFile(job, job->code);
    }
    std::string trace;
    if (cLogReaderUpdate_upToDate(reader, job->input, job->base, &trace)) {
        ZF_LOGV("Up to date: %s", job->input.c_str());
        cRunReport_fileUpToDate(&job->report, trace);
        job->upToDate = true;
        job->code = cExitStatus_OK;
        job->done = true;
        return;
    }
    // Looked at before the folders are made: mkdirs would make them through a link.
    const std::string_view folder = cFS_getParentFolder(job->base);
    if (!outputFolderSafe(reader, folder)) {
        cRunReport_reason(&job->report, "its output folder is a link or leads out of the output "
                                        "folder");
        return failFile(job, job->code);
    }
    if (reader->createDirs && !cFS_mkdirs(reader->outputFs, folder)) {
        // The system's reason (a read-only output, no permission), not the later "missing".
        cRunReport_error(&job->report, "Could not create output folder %.*s: %s",
                         (int)folder.size(), folder.data(), std::strerror(errno));
        return failFile(job, job->code);
    }

    job->info = cLogReaderFileInfo{job->input, job->base, std::string(), 0, 0};
    // What the file is before it is read: deleting it later needs it to be still that file.
    job->identified = cFS_identify(reader->inputFs, job->input, true, &job->identity);
    cIO* stream = cFS_open(reader->inputFs, job->input, cFS_ACCESS_READ | cFS_ACCESS_FLAG4);
    if (!stream) {
        cRunReport_error(&job->report, "Could not open input file %s: %s", job->input.c_str(),
                         std::strerror(errno));
        return failFile(job, job->code);
    }
    if (namedLikeALogOnly(stream)) {
        cRunReport_fileNotALog(&job->report);
        cRunReport_error(
            &job->report,
            "Not a log file although named like one: %s is neither an MDF 4 file nor a "
            "log container",
            job->input.c_str());
        (void)cIO_close(stream); // read only, and the file has failed already
        return failFile(job, job->code);
    }
    stream = cIO_input_open(stream, reader->options->bufferSize);
    if (!stream) return failFile(job, job->code);
    const uint32_t unwrapped =
        cLogReaderInput_unwrap(&job->reader->options->passwords, job->input, &stream, &job->report);
    if (unwrapped != cExitStatus_OK) return failFile(job, unwrapped);
    job->mdf = cMdf_open(stream);
    if (!job->mdf) {
        cRunReport_error(&job->report, "Could not open MDF of %s", job->input.c_str());
        (void)cIO_close(stream); // read only, and the file has failed already
        return failFile(job, job->code);
    }
    job->stream = stream;
    job->headerRead = readFileHeader(job, job->mdf, &job->info);
    if (job->headerRead)
        cRunReport_fileHeader(&job->report, job->info.serialNumber, job->info.session,
                              job->info.split);
    else
        cRunReport_error(&job->report, "Could not parse file header of %s", job->input.c_str());
}

void decide(cJobTask* task) {
    FileJob* job = jobOf(task);
    cLogReaderFileInfo& prev = job->reader->previous;
    if (job->upToDate) return cLogReaderUpdate_skipped(&prev, job->input);
    if (!job->headerRead) return;
    cLogReaderUpdate_resolve(job->reader, &prev);
    job->repeated = !prev.serialNumber.empty() && prev.serialNumber == job->info.serialNumber &&
                    prev.session == job->info.session && prev.split == job->info.split;
    job->continuation = isContinuation(prev, job->info);
    prev = job->info;
    if (job->repeated) {
        cRunReport_warning(&job->report, "Repeated input file (%s, %08u, %08u): %s",
                           job->info.serialNumber.c_str(), job->info.session, job->info.split,
                           job->input.c_str());
        cRunReport_fileRepeated(&job->report);
    }
}

// The input as the system names it, the same from whichever folder a run starts.
std::string fullInput(const FileJob* job) {
    std::string full = job->reader->inputFs->root;
    if (!full.empty() && full.back() != '/') full += '/';
    return full + job->input;
}

// The trace's name, when the converter tells what it appends to the output base path.
bool traceNameOf(const cBusLayer* conv, const FileJob* job, std::string* trace) {
    if (!conv->vt->outputSuffix) return false;
    *trace = job->info.outputPath + conv->vt->outputSuffix(conv);
    return true;
}

// A trace that another log made keeps its name unless the user said to replace it: loggers
// reuse file names, and that trace may be the only copy of its log's frames.
bool mayTakeTraceName(const cBusLayer* conv, const FileJob* job) {
    std::string trace, other;
    if (job->reader->options->overwrite || !traceNameOf(conv, job, &trace)) return true;
    if (cTraceSource_check(job->reader->outputFs, trace, job->info, &other) !=
        cTraceSource_state::OTHER_LOG)
        return true;
    const std::string self = cTraceSource_describe(cTraceSource_record(job->info, fullInput(job)));
    ZF_LOGE("Not converted: %.*s (%s) would replace %s, the trace of another log (%s); "
            "--overwrite replaces it",
            (int)job->input.size(), job->input.data(), self.c_str(), trace.c_str(),
            cTraceSource_describe(other).c_str());
    return false;
}

cBusLayer* takeConverter(cLogReader* reader) {
    std::lock_guard<std::mutex> guard(reader->lock);
    // The pool has no more files converting at once than there are converters.
    assert(!reader->freeConverters.empty());
    cBusLayer* conv = reader->freeConverters.back();
    reader->freeConverters.pop_back();
    return conv;
}

void giveConverter(cLogReader* reader, cBusLayer* conv) {
    std::lock_guard<std::mutex> guard(reader->lock);
    reader->freeConverters.push_back(conv);
}

void convert(cJobTask* task) {
    FileJob* job = jobOf(task);
    if (job->done) return;
    cLogReader* reader = job->reader;
    cBusLayer* conv = nullptr;
    if (job->headerRead && !job->repeated) {
        conv = takeConverter(reader);
        if (mayTakeTraceName(conv, job)) {
            job->converted = pumpMessages(conv, job);
        } else {
            closeInput(job);
        }
    } else {
        closeInput(job);
    }
    if (job->repeated) {
        job->code = cExitStatus_OK;
    } else if (!job->converted) {
        // pumpMessages dropped what the converter wrote before it could take the trace's
        // name; a trace in place is never removed.
        failFile(job, cExitStatus_CONVERSION_FAILED);
    } else {
        job->code = cExitStatus_OK;
        job->summarised = conv->vt->summary && conv->vt->summary(conv, &job->held);
        if (job->summarised && !job->held.outputPath.empty())
            (void)cTraceSource_mark(reader->outputFs, job->held.outputPath, job->info,
                                    fullInput(job));
    }
    if (conv) giveConverter(reader, conv);
}

void commit(cJobTask* task) {
    FileJob* job = jobOf(task);
    cLogReader* reader = job->reader;
    // An up-to-date file is passed over as a repeated one is: nothing written, nothing
    // deleted. Its trace stays its own: a later input of the run with the same trace name
    // may not replace it.
    std::string_view outputPath;
    uint64_t framesWritten = 0;
    bool deleted = false;
    if (job->upToDate) {
        std::lock_guard<std::mutex> guard(reader->lock);
        reader->traceOwners.emplace(job->base, job->input);
    }
    if (job->code == cExitStatus_OK && !job->repeated && !job->upToDate) {
        {
            std::lock_guard<std::mutex> guard(reader->lock);
            reader->traceOwners.emplace(job->base, job->input);
        }
        uint64_t leftOut = 0;
        if (job->summarised) {
            framesWritten = job->held.framesWritten;
            outputPath = job->held.outputPath;
            if (job->held.framesReceived > framesWritten)
                leftOut = job->held.framesReceived - framesWritten;
        }
        if (leftOut > 0) {
            cRunReport_warning(&job->report,
                               "%s: %" PRIu64 " of its %" PRIu64
                               " CAN frames left out, the output format cannot hold them (CAN "
                               "FD frames do not fit trace version 1.1)",
                               job->input.c_str(), leftOut, job->held.framesReceived);
        }
        // Only a file whose conversion fully succeeded is ever deleted. A kept input is no
        // failure of the file: the deletion's own message says why it stays.
        if (reader->options->deleteConverted) {
            const cInputDeletion deletion{reader->inputFs, reader->outputFs,
                                          job->summarised ? &job->held : nullptr};
            const cInputDeletion_result result = cInputDeletion_run(
                &deletion, job->input, job->identified ? &job->identity : nullptr);
            deleted = result == cInputDeletion_result::DELETED;
            // Asked to go and still there: the run did not do what it was told.
            if (result == cInputDeletion_result::FAILED) {
                job->code = cExitStatus_CONVERSION_FAILED;
                cRunReport_fileNotDeleted(&job->report);
            }
        }
        cRunReport_fileTrace(&job->report, outputPath, framesWritten, leftOut, deleted);
    }
    cRunReport_fileEnd(&job->report, job->code);
    std::lock_guard<std::mutex> guard(reader->lock);
    reader->filesCode |= job->code;
    job->turn->committed = true;
    reader->changed.notify_all();
}

void release(cJobTask* task) {
    FileJob* job = jobOf(task);
    assert(!job->mdf && !job->stream);
    delete job;
}

const cJobTaskOps fileOps = {prepare, decide, convert, commit, release};

// The lines the walk logged between two files: written out in their place.
struct LinesJob {
    cJobTask task;
    std::string lines;
};

void writeLines(cJobTask* task) {
    zf_log_output_block(reinterpret_cast<LinesJob*>(task)->lines);
}

void releaseLines(cJobTask* task) {
    delete reinterpret_cast<LinesJob*>(task);
}

const cJobTaskOps linesOps = {nullptr, nullptr, nullptr, writeLines, releaseLines};

} // namespace

bool cLogReader_isLogExtension(std::string_view ext) {
    if (ext.size() != 3) return false;
    char lower[3];
    for (int i = 0; i < 3; ++i)
        lower[i] = static_cast<char>(std::tolower((unsigned char)ext[i]));
    std::string_view l(lower, 3);
    return l == "mf4" || l == "mfc" || l == "mfe" || l == "mfm";
}

void cLogReader_submitLines(cLogReader* reader) {
    if (!reader->capturing || reader->walkLines.empty()) return;
    LinesJob* job = new LinesJob{{&linesOps}, std::move(reader->walkLines)};
    reader->walkLines.clear();
    zf_log_capture_end(); // the pool may wait for the window: no line of ours may be lost
    cJobPool_submit(reader->pool, &job->task);
    zf_log_capture_begin(&reader->walkLines);
}

void cLogReader_submitFile(cLogReader* reader, const std::string& input, const std::string& base,
                           uint64_t size) {
    cLogReader_submitLines(reader);
    FileJob* job = new FileJob{{&fileOps}, reader, input, base, size, {}, {}, {}};
    job->turn = std::make_shared<cLogReaderNameTurn>();
    std::shared_ptr<cLogReaderNameTurn>& last = reader->nameTurns[base];
    job->sameNameBefore = last;
    last = job->turn;
    if (reader->capturing) zf_log_capture_end();
    cJobPool_submit(reader->pool, &job->task);
    if (reader->capturing) zf_log_capture_begin(&reader->walkLines);
}
