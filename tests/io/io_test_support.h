#pragma once

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "io/cIO_memoryAlloc.h"
#include "support/log.h"

using Bytes = std::vector<uint8_t>;

// A memory stream holding the bytes, positioned at 0.
inline cIO* memoryOf(const Bytes& b) {
    cIO* m = cIO_memoryAlloc_ctor();
    if (!b.empty()) {
        EXPECT_EQ(cIO_write(m, b.data(), b.size()), int64_t(b.size()));
    }
    EXPECT_EQ(cIO_seek(m, 0, cIO_SEEK_SET), 0);
    return m;
}

// Logger-like data: in each 16 bytes, ten that change slowly and six of a small alphabet.
inline Bytes sampleData(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (size_t i = 0; i < n; i++)
        b[i] = (i % 16 < 10) ? uint8_t(i / 64) : uint8_t(rng() % 7);
    return b;
}

// Runs stream calls "<op><arg>=<result><tail>": s/c/e/x seek from start/position/end/no origin,
// r reads (tail ":<text>" or "@<first byte>" must match), w writes the tail, t tells, z sizes.
inline void run(cIO* io, const char* script) {
    std::istringstream in(script);
    for (std::string step; in >> step;) {
        char* at;
        const char op = step[0];
        const int64_t arg = std::strtoll(step.c_str() + 1, &at, 10);
        const int64_t want = std::strtoll(at + 1, &at, 10);
        const std::string text = *at == ':'   ? std::string(at + 1)
                                 : *at == '@' ? std::string(1, char(std::atoi(at + 1)))
                                              : "";
        char buf[256] = {};
        const int64_t got = op == 'r'   ? cIO_read(io, buf, arg)
                            : op == 'w' ? cIO_write(io, text.data(), text.size())
                            : op == 't' ? cIO_tell(io)
                            : op == 'z' ? cIO_getSize(io)
                                        : cIO_seek(io, arg, int32_t(std::string("scex").find(op)));
        EXPECT_EQ(got, want) << step;
        EXPECT_EQ(op == 'r' ? std::string(buf, text.size()) : text, text) << step;
    }
}

// Runs f with the log captured at every level and returns the lines it logged.
inline std::string logOf(const std::function<void()>& f) {
    static std::string lines;
    const int level = zf_log_get_output_level();
    lines.clear();
    zf_log_set_output_callback([](const char* l, int n) { lines.append(l, size_t(n)) += '\n'; });
    zf_log_set_output_level(ZF_LOG_VERBOSE);
    f();
    zf_log_set_output_callback(nullptr);
    zf_log_set_output_level(level);
    return lines;
}
