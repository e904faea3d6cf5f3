#pragma once
// What a run tells its user about itself: one line per log file at verbosity 4 and 5, a
// progress line redrawn in place on a terminal, the summary line that ends the run, and on
// request the run report, one JSON line per log file (cRunRecord.h).
//
// There is one report per process. The driver feeds it with the start and end of every file
// it visits, each file through a cRunReport_file that the driver holds from fileStart to
// fileEnd; the counters are guarded by a lock, so several workers may feed it at once, and
// one file may be fed from several threads in turn.
//
// The progress line lives on standard error beside the log: the log hands each of its lines
// to the report (zf_log_set_line_wrapper), which wipes the progress line first, so a log
// line never starts in its middle. The report never logs while it holds its lock.

#include <cstdint>
#include <string>
#include <string_view>

// What the report keeps of one file between its start and its end.
struct cRunReport_file {
    bool active = false;     // between fileStart and fileEnd
    bool isLog = false;      // taken by its extension
    bool repeated = false;   // skipped as a repeat of the file before
    bool upToDate = false;   // skipped: its output is at least as new as it
    bool notALog = false;    // named like a log, its content is none
    bool traced = false;     // fileTrace came: trace and frames are known
    bool deleted = false;    // the input was deleted after its conversion
    bool notDeleted = false; // converted, but its deletion asked for failed
    bool headerKnown = false;
    std::string input;      // path as the driver names it
    std::string containers; // "compressed+encrypted": the kinds unwrapped, outermost first
    std::string trace;      // the trace in place, or empty (up to date: the one there)
    std::string reason;     // the first problem told about the file, or empty
    std::string device;     // from the header, when headerKnown
    uint32_t session = 0;
    uint32_t split = 0;
    uint64_t size = 0;    // bytes of the input
    uint64_t frames = 0;  // CAN frames in the trace
    uint64_t leftOut = 0; // CAN frames the output format cannot hold
    int64_t startNs = 0;  // steady clock at fileStart
};

// The counts of one run so far.
struct cRunReport_counts {
    uint64_t converted;     // log files converted (trace written, or none: no CAN frames)
    uint64_t failed;        // log files that gave a nonzero code (not-a-log ones too)
    uint64_t repeated;      // log files skipped as repeats of the one before
    uint64_t upToDate;      // log files skipped as their output is at least as new
    uint64_t withoutFrames; // converted log files without any CAN frame, so without a trace
    uint64_t others;        // files left alone: no log extension
    uint64_t frames;        // CAN frames written into traces
    uint64_t inputBytes;    // size of the log files done
    uint64_t notDeleted;    // converted log files whose deletion failed (counted as converted)
};

// Starts a run: counters to zero, the clock started. progress: draw the progress line
// (the caller decides: standard error a terminal and progress not turned off).
void cRunReport_begin(bool progress);

// Where the run report goes ("-": standard output); truncates the file. False, with the
// system's reason, when it cannot be written. Before cRunReport_begin.
[[nodiscard]] bool cRunReport_openRecords(const std::string& path, std::string* reason);
// The folders the driver's relative paths start from, for the report's absolute paths.
void cRunReport_setRoots(const std::string& inputRoot, const std::string& outputRoot);

// A regular file reached by the walk; isLog: taken by its extension.
void cRunReport_fileStart(cRunReport_file* file, const std::string& input, bool isLog,
                          uint64_t size);
// The file's container kind ("compressed", "encrypted") was unwrapped.
void cRunReport_container(cRunReport_file* file, const char* kind);
// The file is a repeat of the one before and is skipped.
void cRunReport_fileRepeated(cRunReport_file* file);
// The file is skipped: its output traceName (relative to the output root) is at least as new.
void cRunReport_fileUpToDate(cRunReport_file* file, std::string_view traceName);
// The file's content is no log although its name is one's (it still fails).
void cRunReport_fileNotALog(cRunReport_file* file);
// What the header said: device serial number, session and split.
void cRunReport_fileHeader(cRunReport_file* file, const std::string& device, uint32_t session,
                           uint32_t split);
// Why the file failed or what is wrong with it; the first reason given is kept.
void cRunReport_reason(cRunReport_file* file, std::string_view reason);
// Logs a problem of the file at error level and gives it as the file's reason.
__attribute__((format(printf, 2, 3))) void cRunReport_error(cRunReport_file* file,
                                                            const char* format, ...);
// The same at warning level: what is wrong with a file that still does not fail.
__attribute__((format(printf, 2, 3))) void cRunReport_warning(cRunReport_file* file,
                                                              const char* format, ...);
// What the conversion left: the trace's name relative to the output root (empty: none was
// kept), the CAN frames it holds and those it could not hold, and whether the input was
// deleted. A file ended without this call is counted as converted without figures.
void cRunReport_fileTrace(cRunReport_file* file, std::string_view traceName, uint64_t frames,
                          uint64_t leftOut, bool deleted);
// The file was converted, but deleting it as asked failed (its code is then nonzero).
void cRunReport_fileNotDeleted(cRunReport_file* file);
// The file ended with its result code; logs the per-file line at debug level.
void cRunReport_fileEnd(cRunReport_file* file, uint32_t code);

// Ends the run: clears the progress line, logs the summary at info level and closes the
// run report.
void cRunReport_end();

cRunReport_counts cRunReport_getCounts();
// The summary text, "N converted, F failed, ..." (no line feed).
std::string cRunReport_summary(const cRunReport_counts& counts, double seconds);
// The progress text fitted into width columns (width <= 0: not fitted).
std::string cRunReport_progressText(const cRunReport_counts& counts, double seconds,
                                    const std::string& current, int width);
