#pragma once
// Encrypted container (type 0x11): AES-256-GCM with a key derived by PBKDF2-HMAC-SHA-256
// from the device's password. Offsets from the start, numbers big-endian:
//   0    20  header (flag byte 0 or 1, footer flag 0, version 1)
//   20   12  GCM initialisation vector
//   32    4  PBKDF2 iteration count
//   36   16  PBKDF2 salt
//   52    n  ciphertext (n = file size - 68)
//   end-16 16 GCM tag
// Bytes 0..51, as stored, are the additional authenticated data. The open decrypts and
// authenticates everything into memory and hands back that memory stream, sealed (read-only,
// fetched bytes stay in place until close); on a tag mismatch nothing is handed out.
// The plaintext is held in a block of the run's memory budget (cMemoryBudget); the iteration
// count is bounded by what the caller's budget has left (cGenericFile_MAX_KEY_ITERATIONS for a
// whole input), so a hostile file cannot stall the key derivation.

#include <cstddef>
#include <cstdint>

#include "io/cGenericFile.h"
#include "io/cIO.h"

inline constexpr int64_t cGenericFileEncrypted_IV_OFFSET = 20;
inline constexpr size_t cGenericFileEncrypted_IV_SIZE = 12;
inline constexpr size_t cGenericFileEncrypted_SALT_SIZE = 16;
inline constexpr size_t cGenericFileEncrypted_TAG_SIZE = 16;
inline constexpr size_t cGenericFileEncrypted_KEY_SIZE = 32;
inline constexpr int64_t cGenericFileEncrypted_AAD_SIZE = 52; // also the ciphertext's offset
inline constexpr int64_t cGenericFileEncrypted_MIN_SIZE = 68; // an empty plaintext

// Why an open gave null.
enum class cGenericFileEncrypted_failure : uint8_t {
    NONE,
    REFUSED,       // header fields this reader does not take, or a file too short to read
    OVER_LIMIT,    // the iteration count passes what the budget has left (logged)
    NO_MEMORY,     // the memory budget or the system has no room for the plaintext (logged)
    NOT_AUTHENTIC, // the tag does not match: a wrong password, or damaged bytes
};

// Null on any failure, *why (when given) saying which. The plaintext and the key derivation
// are drawn from budget (null: the run's memory budget and the whole iteration limit). The
// input stays open and the caller's; the result no longer needs it. The result's position
// is at the end of the plaintext.
cIO* cGenericFile_encrypted_open(cIO* input, const cGenericFile* header, const char* password,
                                 size_t passwordLength, cGenericFile_budget* budget = nullptr,
                                 cGenericFileEncrypted_failure* why = nullptr);
