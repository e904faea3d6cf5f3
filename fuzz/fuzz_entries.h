#pragma once
// The work of each fuzz target, callable from the libFuzzer targets and from the tests that
// replay the inputs once found to crash. Every function takes any bytes, must return, and
// leaves nothing allocated behind.
//
// The encrypted inputs are decrypted with cFuzz_PASSWORD; an input whose iteration count is
// above cFuzz_MAX_ITERATIONS is skipped, since the key derivation at real counts only costs
// time and tells the fuzzer nothing.

#include <cstddef>
#include <cstdint>

inline constexpr const char* cFuzz_PASSWORD = "fuzz";
inline constexpr uint32_t cFuzz_MAX_ITERATIONS = 64;
// Arguments the command-line target makes from one input at most.
inline constexpr size_t cFuzz_MAX_ARGS = 64;

// Silences the log (the targets run millions of inputs); the replay tests keep it.
void cFuzz_quiet();

// Runs the driver over the bytes as the one log file "in.mf4" of an in-memory input folder,
// with the trace writer (version 2.1, or 1.1 when version1 is set) writing to memory and
// cFuzz_PASSWORD as the "default" password. Returns the driver's result code.
uint32_t cFuzz_convert(const uint8_t* data, size_t size, bool version1);
// Reads a container header and, for a compressed container, decompresses it and reads the
// content back. True when the content came out.
bool cFuzz_openCompressed(const uint8_t* data, size_t size);
// As cFuzz_openCompressed for an encrypted container and cFuzz_PASSWORD.
bool cFuzz_openEncrypted(const uint8_t* data, size_t size);
// Scans the bytes as a password file, then loads them once more through a file in the
// temporary folder, and looks up a few devices. Returns the number of entries scanned.
size_t cFuzz_loadPasswords(const uint8_t* data, size_t size);
// Splits the bytes at NUL bytes into arguments after "kelvane" and parses them as the
// program does. Returns the exit status the parse set (0 when the run would start).
int cFuzz_parseCommandLine(const uint8_t* data, size_t size);
