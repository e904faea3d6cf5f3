#pragma once
// Test-side and tool-side writers of the two container kinds, made from the file layout
// alone (their own CRC, their own heatshrink encoder, OpenSSL's libcrypto for the cryptography), so
// they check the readers of io/ rather than mirror them.
//
// Compressed container: header (type 0x22, both flag bytes 1 with a footer, 0 without),
// lookahead field L, window field 2^W, heatshrink data, optional CRC footer (the JAMCRC
// register over the heatshrink data). Encrypted container: header (type 0x11, footer flag
// 0), 12-byte vector, iteration count, 16-byte salt, AES-256-GCM ciphertext under a
// PBKDF2-HMAC-SHA-256 key with the first 52 bytes as additional data, 16-byte tag.
// In-memory forms append to *out; file forms stream, for inputs of any size.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct cContainerWriter_compressOptions {
    uint32_t serialNumber = 0;
    uint8_t windowBits = 11;   // W, 4 .. 15
    uint8_t lookaheadBits = 4; // L, 3 .. W - 1
    bool footer = true;
};

struct cContainerWriter_encryptOptions {
    uint32_t serialNumber = 0;
    std::string password;
    uint32_t iterations = 10000;
    uint8_t flag = 0;        // first flag byte, 0 or 1
    bool fixedNonce = false; // use iv and salt below instead of fresh random ones
    uint8_t iv[12] = {};
    uint8_t salt[16] = {};
};

// False for parameters out of range or a failed write.
bool cContainerWriter_compress(const uint8_t* data, size_t size,
                               const cContainerWriter_compressOptions* options,
                               std::vector<uint8_t>* out);
bool cContainerWriter_compressFile(const char* inPath, const char* outPath,
                                   const cContainerWriter_compressOptions* options);
// False when the cipher or the key derivation fails, or a write fails.
bool cContainerWriter_encrypt(const uint8_t* data, size_t size,
                              const cContainerWriter_encryptOptions* options,
                              std::vector<uint8_t>* out);
bool cContainerWriter_encryptFile(const char* inPath, const char* outPath,
                                  const cContainerWriter_encryptOptions* options);
