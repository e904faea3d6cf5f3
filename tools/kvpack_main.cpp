// kvpack: wraps a file in a compressed or encrypted container, as the loggers write them.
//   kvpack compress IN OUT [--serial=HEX] [--window=W] [--lookahead=L] [--no-footer]
//   kvpack encrypt IN OUT --password=P [--serial=HEX] [--iterations=N]
// W and L are bit counts (window of 2^W bytes, back-references up to 2^L bytes).
// Exit status: 0 done, 1 the conversion failed, 2 bad command line.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/cContainerWriter.h"

namespace {

void usage() {
    std::fprintf(stderr,
                 "usage: kvpack compress IN OUT [--serial=HEX] [--window=W] [--lookahead=L] "
                 "[--no-footer]\n"
                 "       kvpack encrypt IN OUT --password=P [--serial=HEX] [--iterations=N]\n");
}

// Parses the whole text as a number in the given base, within [0, max].
bool parseNumber(const char* text, int base, unsigned long max, unsigned long* value) {
    if (*text == '\0' || *text == '-' || *text == '+') return false;
    char* end = nullptr;
    errno = 0;
    unsigned long v = std::strtoul(text, &end, base);
    if (errno != 0 || *end != '\0' || v > max) return false;
    *value = v;
    return true;
}

bool optionValue(const char* arg, const char* name, const char** value) {
    size_t n = std::strlen(name);
    if (std::strncmp(arg, name, n) != 0 || arg[n] != '=') return false;
    *value = arg + n + 1;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        usage();
        return 2;
    }
    const std::string mode = argv[1];
    const char* in = argv[2];
    const char* out = argv[3];
    cContainerWriter_compressOptions copt;
    cContainerWriter_encryptOptions eopt;
    bool havePassword = false;
    for (int i = 4; i < argc; i++) {
        const char* v = nullptr;
        unsigned long n = 0;
        bool ok = true;
        if (optionValue(argv[i], "--serial", &v)) {
            ok = parseNumber(v, 16, 0xFFFFFFFFul, &n);
            copt.serialNumber = eopt.serialNumber = uint32_t(n);
        } else if (mode == "compress" && optionValue(argv[i], "--window", &v)) {
            ok = parseNumber(v, 10, 15, &n);
            copt.windowBits = uint8_t(n);
        } else if (mode == "compress" && optionValue(argv[i], "--lookahead", &v)) {
            ok = parseNumber(v, 10, 15, &n);
            copt.lookaheadBits = uint8_t(n);
        } else if (mode == "compress" && std::strcmp(argv[i], "--no-footer") == 0) {
            copt.footer = false;
        } else if (mode == "encrypt" && optionValue(argv[i], "--password", &v)) {
            eopt.password = v;
            havePassword = true;
        } else if (mode == "encrypt" && optionValue(argv[i], "--iterations", &v)) {
            ok = parseNumber(v, 10, 0xFFFFFFFFul, &n) && n > 0;
            eopt.iterations = uint32_t(n);
        } else {
            ok = false;
        }
        if (!ok) {
            std::fprintf(stderr, "kvpack: bad argument %s\n", argv[i]);
            usage();
            return 2;
        }
    }
    bool ok;
    if (mode == "compress") {
        if (copt.windowBits < 4 || copt.lookaheadBits < 3 ||
            copt.lookaheadBits >= copt.windowBits) {
            std::fprintf(stderr, "kvpack: need 4 <= window <= 15 and 3 <= lookahead < window\n");
            return 2;
        }
        ok = cContainerWriter_compressFile(in, out, &copt);
    } else if (mode == "encrypt") {
        if (!havePassword) {
            std::fprintf(stderr, "kvpack: encrypt needs --password=P\n");
            return 2;
        }
        ok = cContainerWriter_encryptFile(in, out, &eopt);
    } else {
        usage();
        return 2;
    }
    if (!ok) {
        std::fprintf(stderr, "kvpack: could not %s %s into %s\n", mode.c_str(), in, out);
        return 1;
    }
    return 0;
}
