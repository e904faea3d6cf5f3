#include "app/cRunReport.h"

#include <cassert>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <sys/ioctl.h>
#include <unistd.h>

#include "app/cRunRecord.h"
#include "support/log.h"

namespace {

using Clock = std::chrono::steady_clock;

// A terminal redrawn more often than this only flickers.
constexpr auto redrawInterval = std::chrono::milliseconds(200);
// Moves to the line start and erases to its end.
constexpr char clearSequence[] = "\r\x1b[K";

int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

struct Report {
    std::mutex lock;
    cRunReport_counts counts{};
    Clock::time_point start = Clock::now();
    bool progress = false;
    bool shown = false; // the progress line is on the terminal
    Clock::time_point lastDraw;
    bool drawnOnce = false;
    std::string current;
    std::FILE* records = nullptr; // the run report, or none
    bool recordsOwned = false;    // a file of ours, not standard output
    bool recordsFailed = false;   // a write failed: told once, no more records
    std::string recordsPath;
    std::string inputRoot, outputRoot;
};
Report g_report;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void writeAll(const char* text, size_t length) {
    while (length > 0) {
        const ssize_t n = write(2, text, length);
        if (n <= 0) return; // a terminal that went away takes no progress line
        text += n;
        length -= static_cast<size_t>(n);
    }
}

// Caller holds the lock.
void clearLocked() {
    if (!g_report.shown) return;
    writeAll(clearSequence, sizeof clearSequence - 1);
    g_report.shown = false;
}

int terminalWidth() {
    struct winsize size {};
    if (ioctl(2, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return 80;
    return size.ws_col;
}

// Caller holds the lock. force: draw even within the redraw interval.
void drawLocked(bool force) {
    if (!g_report.progress) return;
    const Clock::time_point now = Clock::now();
    if (!force && g_report.drawnOnce && now - g_report.lastDraw < redrawInterval) return;
    g_report.lastDraw = now;
    g_report.drawnOnce = true;
    // One column less than the terminal has: a line that fills it would wrap on some
    // terminals, and the carriage return would then redraw only its last part.
    const std::string line = "\r" +
                             cRunReport_progressText(g_report.counts, secondsSince(g_report.start),
                                                     g_report.current, terminalWidth() - 1) +
                             "\x1b[K";
    writeAll(line.data(), line.size());
    g_report.shown = true;
}

// Wipe and line under one lock: no redraw can come between them.
void wrapLogLine(const char* line, int length, zf_log_output_fn sink) {
    std::lock_guard<std::mutex> guard(g_report.lock);
    clearLocked();
    sink(line, length);
}

std::string plural(uint64_t n, const char* one, const char* many) {
    char text[32];
    std::snprintf(text, sizeof text, "%" PRIu64 " ", n);
    return text + std::string(n == 1 ? one : many);
}

std::string joined(const std::string& root, const std::string& relative) {
    if (root.empty() || relative.empty()) return relative;
    return root.back() == '/' ? root + relative : root + "/" + relative;
}

// The file's record; result as finishLocked decided it.
cRunRecord recordOf(const cRunReport_file& file, uint32_t code, cRunRecordResult result) {
    cRunRecord r;
    r.input = joined(g_report.inputRoot, file.input);
    if (result == cRunRecordResult::CONVERTED || result == cRunRecordResult::UP_TO_DATE)
        r.output = joined(g_report.outputRoot, file.trace);
    r.result = result;
    r.status = code;
    r.message = file.reason;
    r.frames = file.frames;
    r.leftOut = file.leftOut;
    for (size_t at = 0; at < file.containers.size();) {
        size_t plus = file.containers.find('+', at);
        if (plus == std::string::npos) plus = file.containers.size();
        r.containers.push_back(file.containers.substr(at, plus - at));
        at = plus + 1;
    }
    r.headerKnown = file.headerKnown;
    r.device = file.device;
    r.session = file.session;
    r.split = file.split;
    r.bytes = file.size;
    r.seconds = static_cast<double>(nowNs() - file.startNs) * 1e-9;
    r.deleted = file.deleted;
    return r;
}

// Caller holds the lock. False when the line could not be written (told by the caller).
bool writeRecordLocked(const cRunRecord& record) {
    if (!g_report.records || g_report.recordsFailed) return true;
    const std::string line = cRunRecord_json(record);
    if (std::fwrite(line.data(), 1, line.size(), g_report.records) == line.size() &&
        std::fflush(g_report.records) == 0)
        return true;
    g_report.recordsFailed = true;
    return false;
}

// The per-file line's text, the counters' update and the record; caller holds the lock.
std::string finishLocked(const cRunReport_file& file, uint32_t code, bool* recordLost) {
    cRunReport_counts& c = g_report.counts;
    if (!file.isLog) {
        ++c.others;
        return std::string();
    }
    c.inputBytes += file.size;
    const std::string& trace = file.trace;
    const uint64_t frames = file.frames;
    const bool known = (code == 0 || file.notDeleted) && !file.repeated && file.traced;
    std::string what;
    cRunRecordResult result = cRunRecordResult::CONVERTED;
    if (file.notDeleted) ++c.notDeleted;
    if (code != 0 && !file.notDeleted) {
        ++c.failed;
        result = file.notALog ? cRunRecordResult::NOT_A_LOG : cRunRecordResult::FAILED;
        what = std::string(file.notALog ? "no trace (not a log, " : "no trace (failed with ") +
               "code " + std::to_string(code) + ")";
    } else if (file.upToDate) {
        ++c.upToDate;
        result = cRunRecordResult::UP_TO_DATE;
        what = "up to date";
    } else if (file.repeated) {
        ++c.repeated;
        result = cRunRecordResult::REPEATED;
        what = "no trace (repeated file)";
    } else {
        ++c.converted;
        c.frames += frames;
        if (known && frames > 0) {
            what = trace + ", " + plural(frames, "frame", "frames");
        } else if (known) {
            ++c.withoutFrames;
            result = cRunRecordResult::NO_CAN_FRAMES;
            what = "no trace (no CAN frames)";
        } else {
            what = "converted";
        }
    }
    const cRunRecord record = recordOf(file, code, result);
    *recordLost = !writeRecordLocked(record);
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f s", record.seconds);
    return file.input + " -> " + what + ", " +
           (file.containers.empty() ? std::string("plain") : file.containers) + ", " + seconds;
}

} // namespace

bool cRunReport_openRecords(const std::string& path, std::string* reason) {
    std::lock_guard<std::mutex> guard(g_report.lock);
    if (g_report.recordsOwned) std::fclose(g_report.records);
    g_report.records = nullptr;
    g_report.recordsOwned = false;
    g_report.recordsFailed = false;
    g_report.recordsPath = path;
    if (path == "-") {
        g_report.records = stdout;
        return true;
    }
    g_report.records = std::fopen(path.c_str(), "w");
    if (!g_report.records) {
        if (reason) *reason = std::strerror(errno);
        return false;
    }
    g_report.recordsOwned = true;
    return true;
}

void cRunReport_setRoots(const std::string& inputRoot, const std::string& outputRoot) {
    std::lock_guard<std::mutex> guard(g_report.lock);
    g_report.inputRoot = inputRoot;
    g_report.outputRoot = outputRoot;
}

void cRunReport_begin(bool progress) {
    std::lock_guard<std::mutex> guard(g_report.lock);
    g_report.counts = cRunReport_counts{};
    g_report.start = Clock::now();
    g_report.progress = progress;
    g_report.shown = false;
    g_report.drawnOnce = false;
    g_report.current.clear();
    zf_log_set_line_wrapper(progress ? wrapLogLine : nullptr);
}

void cRunReport_fileStart(cRunReport_file* file, const std::string& input, bool isLog,
                          uint64_t size) {
    assert(file && !file->active && "fileStart twice without fileEnd");
    *file = cRunReport_file{};
    file->active = true;
    file->isLog = isLog;
    file->input = input;
    file->size = size;
    file->startNs = nowNs();
    if (!isLog) return;
    std::lock_guard<std::mutex> guard(g_report.lock);
    g_report.current = input;
    drawLocked(false);
}

void cRunReport_container(cRunReport_file* file, const char* kind) {
    assert(file && file->active && kind);
    if (!file->containers.empty()) file->containers += '+';
    file->containers += kind;
}

void cRunReport_fileRepeated(cRunReport_file* file) {
    assert(file && file->active);
    file->repeated = true;
}

void cRunReport_fileUpToDate(cRunReport_file* file, std::string_view traceName) {
    assert(file && file->active);
    file->upToDate = true;
    file->trace = traceName;
}

void cRunReport_fileNotALog(cRunReport_file* file) {
    assert(file && file->active);
    file->notALog = true;
}

void cRunReport_fileHeader(cRunReport_file* file, const std::string& device, uint32_t session,
                           uint32_t split) {
    assert(file && file->active);
    file->headerKnown = true;
    file->device = device;
    file->session = session;
    file->split = split;
}

void cRunReport_reason(cRunReport_file* file, std::string_view reason) {
    assert(file && file->active);
    if (file->reason.empty()) file->reason = reason;
}

namespace {

// Logs the text at error or warning level and gives it as the file's reason.
void tell(cRunReport_file* file, bool error, const char* format, va_list args) {
    char text[ZF_LOG_LINE_MAX + 1];
    std::vsnprintf(text, sizeof text, format, args);
    if (error)
        ZF_LOGE("%s", text);
    else
        ZF_LOGW("%s", text);
    cRunReport_reason(file, text);
}

} // namespace

void cRunReport_error(cRunReport_file* file, const char* format, ...) {
    va_list args;
    va_start(args, format);
    tell(file, true, format, args);
    va_end(args);
}

void cRunReport_warning(cRunReport_file* file, const char* format, ...) {
    va_list args;
    va_start(args, format);
    tell(file, false, format, args);
    va_end(args);
}

void cRunReport_fileTrace(cRunReport_file* file, std::string_view traceName, uint64_t frames,
                          uint64_t leftOut, bool deleted) {
    assert(file && file->active);
    file->traced = true;
    file->trace = traceName;
    file->frames = frames;
    file->leftOut = leftOut;
    file->deleted = deleted;
}

void cRunReport_fileNotDeleted(cRunReport_file* file) {
    assert(file && file->active);
    file->notDeleted = true;
}

void cRunReport_fileEnd(cRunReport_file* file, uint32_t code) {
    assert(file && file->active && "fileEnd without fileStart");
    file->active = false;
    std::string line;
    bool recordLost = false;
    std::string recordsPath;
    {
        std::lock_guard<std::mutex> guard(g_report.lock);
        line = finishLocked(*file, code, &recordLost);
        if (file->isLog) drawLocked(false);
        if (recordLost) recordsPath = g_report.recordsPath;
    }
    if (recordLost)
        ZF_LOGE("Could not write the run report %s: %s; it ends before %s", recordsPath.c_str(),
                std::strerror(errno), file->input.c_str());
    if (!line.empty()) ZF_LOGD("%s", line.c_str());
}

void cRunReport_end() {
    cRunReport_counts counts;
    double seconds;
    {
        std::lock_guard<std::mutex> guard(g_report.lock);
        clearLocked();
        g_report.progress = false;
        counts = g_report.counts;
        seconds = secondsSince(g_report.start);
    }
    zf_log_set_line_wrapper(nullptr);
    ZF_LOGI("%s", cRunReport_summary(counts, seconds).c_str());
    std::lock_guard<std::mutex> guard(g_report.lock);
    if (g_report.records && !g_report.recordsFailed && std::fflush(g_report.records) != 0)
        g_report.recordsFailed = true;
    if (g_report.recordsOwned) std::fclose(g_report.records);
    g_report.records = nullptr;
    g_report.recordsOwned = false;
}

cRunReport_counts cRunReport_getCounts() {
    std::lock_guard<std::mutex> guard(g_report.lock);
    return g_report.counts;
}

std::string cRunReport_summary(const cRunReport_counts& c, double seconds) {
    char time[32];
    std::snprintf(time, sizeof time, "%.1f s", seconds);
    return std::to_string(c.converted) + " converted, " + std::to_string(c.failed) + " failed, " +
           std::to_string(c.repeated) + " repeated skipped, " +
           (c.upToDate > 0 ? std::to_string(c.upToDate) + " up to date, " : std::string()) +
           std::to_string(c.withoutFrames) + " without CAN frames, " +
           plural(c.others, "other file", "other files") + " left alone, " +
           plural(c.frames, "CAN frame", "CAN frames") + " written, " +
           (c.notDeleted ? std::to_string(c.notDeleted) + " not deleted, " : std::string()) + time;
}

std::string cRunReport_progressText(const cRunReport_counts& c, double seconds,
                                    const std::string& current, int width) {
    const uint64_t done = c.converted + c.failed + c.repeated + c.upToDate;
    char head[96];
    std::snprintf(head, sizeof head, "%" PRIu64 " done, %" PRIu64 " failed, %.1f MB/s: ", done,
                  c.failed, seconds > 0 ? static_cast<double>(c.inputBytes) / 1e6 / seconds : 0.0);
    std::string text = head;
    // A file name may hold any byte; control characters would move the cursor.
    std::string name = current;
    for (char& ch : name)
        if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f) ch = '?';
    if (width <= 0) return text + name;
    const size_t room = static_cast<size_t>(width);
    if (text.size() >= room) return text.substr(0, room);
    // The end of a long path says more about it than its start.
    const size_t left = room - text.size();
    if (name.size() <= left) return text + name;
    if (left <= 3) return text + name.substr(name.size() - left);
    return text + "..." + name.substr(name.size() - (left - 3));
}
