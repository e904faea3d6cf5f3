#include <gtest/gtest.h>

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "support/cstr_support.h"

namespace {

std::string printfText(const char* format, auto... args) {
    char buf[400];
    int n = snprintf(buf, sizeof buf, format, args...);
    return std::string(buf, n > 0 ? static_cast<size_t>(n) : 0);
}

// The trace writer's widths and precisions (11.1, 13.3), and a few around them: the widths
// where the whole part's field is 8 and 24 characters wide bound the one-store path.
void expectFixedLikePrintf(double v) {
    char buf[400];
    for (auto [width, decimals] : {std::pair{11u, 1u},
                                   {13u, 3u},
                                   {0u, 0u},
                                   {1u, 2u},
                                   {5u, 6u},
                                   {8u, 0u},
                                   {7u, 0u},
                                   {26u, 1u},
                                   {27u, 2u}})
        ASSERT_EQ(std::string(buf, cstr_support_put_fixed(buf, v, width, decimals)),
                  printfText("%*.*f", width, decimals, v))
            << "value " << printfText("%a", v) << " shape " << width << "." << decimals;
}

TEST(NumberFormat, FixedPointMatchesPrintfOnEdgesAndRandomValues) {
    const double inf = std::numeric_limits<double>::infinity();
    // clang-format off
    const double values[] = {
        0.0, -0.0, 1.5, 0.05, 0.15, 0.25, 0.0625, 1.0625, 2.5, 0.5, -0.5, 0.0005, 0.00049,
        -0.00001, 9999999.95, 99999999.95, 99999999.94, 12345678.0, 10000000.0, 1e9, 123456789.0125, 4503599627370495.5,
        4503599627370496.0, 9007199254740991.0, 9007199254740992.0, 1e16, 1e22, 1e300, -1e300,
        std::numeric_limits<double>::max(), std::numeric_limits<double>::min(),
        std::numeric_limits<double>::denorm_min(), inf, -inf, NAN, -NAN,
        (1700000000.5 - 1700000000.0) * 1000.0, (1700000123.456789 - 1700000000.5) * 1000.0};
    // clang-format on
    for (double v : values)
        expectFixedLikePrintf(v);
    // Ties in binary at the last printed place: k / 2^n round to even exactly as printf.
    for (int k = -4096; k <= 4096; ++k)
        expectFixedLikePrintf(std::ldexp(k, -4));
    std::mt19937_64 rng(12345);
    std::uniform_real_distribution<double> ms(-1e7, 1e10);
    std::uniform_int_distribution<uint64_t> any;
    for (int i = 0; i < 20000; ++i) {
        expectFixedLikePrintf(ms(rng));
        double raw; // every exponent and sign, NaN payloads included
        uint64_t bits = any(rng);
        std::memcpy(&raw, &bits, sizeof raw);
        expectFixedLikePrintf(raw);
        // Time offsets as the trace writer computes them from microsecond timestamps.
        const double t0 = 1.6e9 + static_cast<double>(any(rng) % 100000000) * 1e-6;
        const double t1 = t0 + static_cast<double>(any(rng) % 10000000000) * 1e-6;
        expectFixedLikePrintf((t1 - t0) * 1000.0);
    }
}

TEST(NumberFormat, IntegersMatchPrintf) {
    char buf[32];
    for (uint64_t v :
         {0ull, 1ull, 9ull, 10ull, 99ull, 100ull, 999999ull, 1000000ull, 9999999ull, 10000000ull,
          2147483647ull, 2147483648ull, 4294967295ull, 4294967296ull, ~0ull})
        for (unsigned width : {0u, 6u, 7u, 20u, 22u})
            EXPECT_EQ(std::string(buf, cstr_support_put_uint(buf, v, width)),
                      printfText("%*" PRIu64, width, v));
}

TEST(NumberFormat, RandomHexLikePrintfAndNothingWrittenInFront) {
    std::mt19937_64 rng(777);
    for (int i = 0; i < 20000; ++i) {
        // Every digit count: a random value cut to a random number of bits.
        const auto v = static_cast<uint32_t>((rng() >> 32) >> (rng() % 33));
        const unsigned digits = static_cast<unsigned>(rng() % 10);
        char line[4 + 3 * 64 + 16];
        std::memset(line, '#', sizeof line);
        ASSERT_EQ(std::string(line, cstr_support_put_hex32(line + 4, v, digits)),
                  "####" + printfText("%0*X", digits, v));
        std::string bytes(rng() % 65, '\0'), expected;
        for (char& c : bytes)
            c = static_cast<char>(rng());
        cstr_support_append_hex_buffer(&expected, bytes.data(), bytes.size(), ' ', true);
        ASSERT_EQ(
            std::string(line, cstr_support_put_hex_bytes(line + 4, bytes.data(), bytes.size())),
            "####" + expected);
        expected.clear();
        cstr_support_append_hex_buffer(&expected, bytes.data(), bytes.size(), 0, true);
        ASSERT_EQ(
            std::string(line, cstr_support_put_hex_packed(line + 4, bytes.data(), bytes.size())),
            "####" + expected);
    }
}

} // namespace
