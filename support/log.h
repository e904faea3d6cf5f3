#pragma once
// Leveled log on the standard error stream, one line per message:
//   "MM-DD hh:mm:ss.mmm ppppp ttttt L message\n"
// The level check happens at the call site, before the arguments are formatted.

#include <cstdarg>
#include <string>

enum {
    ZF_LOG_VERBOSE = 1,
    ZF_LOG_DEBUG = 2,
    ZF_LOG_INFO = 3,
    ZF_LOG_WARN = 4,
    ZF_LOG_ERROR = 5,
    ZF_LOG_FATAL = 6,
};

// Longest line before its newline; longer messages are cut.
constexpr int ZF_LOG_LINE_MAX = 510;

extern int _zf_log_global_output_lvl;

// Receives one finished line (newline included), or a block of whole lines flushed from a
// capture. The default writes it to fd 2 in one write.
typedef void (*zf_log_output_fn)(const char* line, int length);

void zf_log_set_output_level(int level);
int zf_log_get_output_level();
// Replaces the line sink; null restores the default. Tests use it to capture lines.
void zf_log_set_output_callback(zf_log_output_fn fn);
// Receives every emitted line instead of the sink and hands it on to the sink: a progress
// line on the same terminal is wiped there, in one step with the line, so that log lines
// never mix with it. Null removes it.
typedef void (*zf_log_line_wrapper_fn)(const char* line, int length, zf_log_output_fn sink);
void zf_log_set_line_wrapper(zf_log_line_wrapper_fn fn);

// Per-thread capture: between begin and end, the lines this thread emits are appended to
// `buffer` instead of reaching the sink, so that a worker's lines for one file can be written
// out together, in the order the files were visited. Captures do not nest.
void zf_log_capture_begin(std::string* buffer);
void zf_log_capture_end();
// Hands a block of captured lines to the sink in one call; an empty block writes nothing.
void zf_log_output_block(const std::string& lines);

void _zf_log_write(int level, const char* tag, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
void _zf_log_writev(int level, const char* tag, const char* format, va_list args);

#define ZF_LOG_WRITE(lvl, ...)                                                                     \
    do {                                                                                           \
        if ((lvl) >= _zf_log_global_output_lvl) _zf_log_write((lvl), nullptr, __VA_ARGS__);        \
    } while (0)

#define ZF_LOGV(...) ZF_LOG_WRITE(ZF_LOG_VERBOSE, __VA_ARGS__)
#define ZF_LOGD(...) ZF_LOG_WRITE(ZF_LOG_DEBUG, __VA_ARGS__)
#define ZF_LOGI(...) ZF_LOG_WRITE(ZF_LOG_INFO, __VA_ARGS__)
#define ZF_LOGW(...) ZF_LOG_WRITE(ZF_LOG_WARN, __VA_ARGS__)
#define ZF_LOGE(...) ZF_LOG_WRITE(ZF_LOG_ERROR, __VA_ARGS__)
#define ZF_LOGF(...) ZF_LOG_WRITE(ZF_LOG_FATAL, __VA_ARGS__)
