#pragma once
// Collects the log lines of a test and gives them back as "L message" lines, without the
// time and process columns.

#include <cstdio>
#include <sstream>
#include <string>

#include "support/log.h"

inline std::string& capturedLog() {
    static std::string text;
    return text;
}

inline void captureLogLine(const char* line, int length) {
    capturedLog().append(line, length);
}

struct LogCapture {
    explicit LogCapture(int level = ZF_LOG_VERBOSE) {
        capturedLog().clear();
        zf_log_set_output_callback(captureLogLine);
        zf_log_set_output_level(level);
    }
    ~LogCapture() { zf_log_set_output_callback(nullptr); }
    static std::string lines() {
        std::string out;
        std::istringstream in(capturedLog());
        for (std::string line; std::getline(in, line);) {
            int pid = 0, tid = 0, skip = 0;
            char level = 0;
            if (line.size() > 18 &&
                std::sscanf(line.c_str() + 18, " %d %d %c %n", &pid, &tid, &level, &skip) == 3)
                out += std::string(1, level) + " " + line.substr(18 + skip) + "\n";
            else
                out += "? " + line + "\n";
        }
        return out;
    }
};
