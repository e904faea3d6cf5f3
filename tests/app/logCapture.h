#pragma once
// Collects the log lines of a test; lines() gives them back as "L message" lines, without
// the time and process columns.

#include <sstream>
#include <string>

#include "support/log.h"

inline std::string capturedLog;
inline void captureLogLine(const char* line, int length) {
    capturedLog.append(line, length);
}

struct LogCapture {
    LogCapture() {
        capturedLog.clear();
        zf_log_set_output_callback(captureLogLine);
        zf_log_set_output_level(ZF_LOG_VERBOSE);
    }
    ~LogCapture() { zf_log_set_output_callback(nullptr); }
    static bool has(const std::string& part) { return capturedLog.find(part) != std::string::npos; }
    static std::string lines() {
        std::string out;
        std::istringstream in(capturedLog);
        for (std::string line; std::getline(in, line);) // "MM-DD hh:mm:ss.mmm pid tid L text"
            out += line.substr(line.find_first_not_of("0123456789 ", 18)) + "\n";
        return out;
    }
};
