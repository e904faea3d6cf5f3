#include "support/log.h"

#include <atomic>
#include <cassert>
#include <climits>
#include <cstdio>
#include <cstring>
#include <sys/syscall.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

int _zf_log_global_output_lvl = 0;

namespace {

void writeToStderr(const char* line, int length) {
    // One write per line keeps lines whole when several processes share the terminal.
    ssize_t ignored = write(2, line, static_cast<size_t>(length));
    (void)ignored;
}

zf_log_output_fn g_output = writeToStderr;
std::atomic<zf_log_line_wrapper_fn> g_lineWrapper{nullptr};

thread_local std::string* t_capture = nullptr;

// Broken-down local time of one second, shared by callers within that second. The
// 'busy' flag guards the entry; a caller that finds it busy computes the time itself.
struct TimeCache {
    std::atomic<bool> busy{false};
    std::atomic<time_t> second{-1};
    struct tm tm {};
};
TimeCache g_timeCache;

void localTimeOf(time_t second, struct tm* out) {
    bool expected = false;
    if (g_timeCache.busy.compare_exchange_strong(expected, true, std::memory_order_acquire)) {
        if (g_timeCache.second.load(std::memory_order_relaxed) != second) {
            localtime_r(&second, &g_timeCache.tm);
            g_timeCache.second.store(second, std::memory_order_relaxed);
        }
        *out = g_timeCache.tm;
        g_timeCache.busy.store(false, std::memory_order_release);
        return;
    }
    localtime_r(&second, out);
}

char levelLetter(int level) {
    switch (level) {
    case ZF_LOG_VERBOSE:
        return 'V';
    case ZF_LOG_DEBUG:
        return 'D';
    case ZF_LOG_INFO:
        return 'I';
    case ZF_LOG_WARN:
        return 'W';
    case ZF_LOG_ERROR:
        return 'E';
    case ZF_LOG_FATAL:
        return 'F';
    default:
        return '?';
    }
}

} // namespace

void zf_log_set_output_level(int level) {
    _zf_log_global_output_lvl = level;
}

int zf_log_get_output_level() {
    return _zf_log_global_output_lvl;
}

void zf_log_set_output_callback(zf_log_output_fn fn) {
    g_output = fn ? fn : writeToStderr;
}

void zf_log_set_line_wrapper(zf_log_line_wrapper_fn fn) {
    g_lineWrapper.store(fn);
}

void zf_log_capture_begin(std::string* buffer) {
    assert(buffer && !t_capture);
    t_capture = buffer;
}

void zf_log_capture_end() {
    t_capture = nullptr;
}

void zf_log_output_block(const std::string& lines) {
    assert(lines.size() <= static_cast<size_t>(INT_MAX));
    if (lines.empty()) return;
    const int length = static_cast<int>(lines.size());
    if (zf_log_line_wrapper_fn wrapper = g_lineWrapper.load())
        wrapper(lines.data(), length, g_output);
    else
        g_output(lines.data(), length);
}

void _zf_log_writev(int level, const char* tag, const char* format, va_list args) {
    char line[ZF_LOG_LINE_MAX + 2];
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    struct tm tm;
    localTimeOf(tv.tv_sec, &tm);
    long tid = syscall(SYS_gettid);
    int n = snprintf(line, ZF_LOG_LINE_MAX + 1, "%02d-%02d %02d:%02d:%02d.%03d %5d %5ld %c ",
                     tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                     static_cast<int>(tv.tv_usec / 1000), static_cast<int>(getpid()), tid,
                     levelLetter(level));
    if (n < 0) return;
    if (n > ZF_LOG_LINE_MAX) n = ZF_LOG_LINE_MAX;
    if (tag && n < ZF_LOG_LINE_MAX) {
        int t = snprintf(line + n, static_cast<size_t>(ZF_LOG_LINE_MAX + 1 - n), "%s ", tag);
        if (t > 0) n += t;
        if (n > ZF_LOG_LINE_MAX) n = ZF_LOG_LINE_MAX;
    }
    if (n < ZF_LOG_LINE_MAX) {
        int m = vsnprintf(line + n, static_cast<size_t>(ZF_LOG_LINE_MAX + 1 - n), format, args);
        if (m > 0) n += m;
        if (n > ZF_LOG_LINE_MAX) n = ZF_LOG_LINE_MAX;
    }
    line[n++] = '\n';
    if (t_capture)
        t_capture->append(line, static_cast<size_t>(n));
    else if (zf_log_line_wrapper_fn wrapper = g_lineWrapper.load())
        wrapper(line, n, g_output);
    else
        g_output(line, n);
}

void _zf_log_write(int level, const char* tag, const char* format, ...) {
    va_list args;
    va_start(args, format);
    _zf_log_writev(level, tag, format, args);
    va_end(args);
}
