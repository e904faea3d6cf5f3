#include "io/cGenericFileEncrypted.h"

#include <climits>
#include <cstring>
#include <new>

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include "io/cIO_memoryAlloc.h"
#include "io/cSerializer.h"
#include "support/log.h"

namespace {

// Reads exactly n bytes unless the stream ends or fails first; true when all arrived.
bool readExactly(cIO* io, uint8_t* dst, uint64_t n) {
    return cIO_readFully(io, dst, n) == int64_t(n);
}

// rounds is at least 1: a count of 0 in the file derives as 1 does (the first block alone),
// as the loggers' tools do.
bool deriveKey(const char* password, size_t passwordLength, const uint8_t* salt, uint64_t rounds,
               uint8_t* key) {
    return PKCS5_PBKDF2_HMAC(password, int(passwordLength), salt,
                             int(cGenericFileEncrypted_SALT_SIZE), int(rounds), EVP_sha256(),
                             int(cGenericFileEncrypted_KEY_SIZE), key) == 1;
}

// One cipher call per piece keeps the lengths within what the interface takes (int).
constexpr uint64_t kPiece = uint64_t{1} << 24;

struct CipherContext {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    ~CipherContext() { EVP_CIPHER_CTX_free(ctx); }
};

// Decrypts the n ciphertext bytes at src into dst (which may be src itself).
bool decryptPieces(EVP_CIPHER_CTX* ctx, const uint8_t* src, uint8_t* dst, uint64_t n) {
    for (uint64_t done = 0; done < n;) {
        const uint64_t k = n - done < kPiece ? n - done : kPiece;
        int produced = 0;
        if (EVP_DecryptUpdate(ctx, dst + done, &produced, src + done, int(k)) != 1 ||
            uint64_t(produced) != k)
            return false;
        done += k;
    }
    return true;
}

// Decrypts bytes 52 .. size-16 of the input into plain (room for size - 68 bytes) and
// checks the tag. The ciphertext is taken in place when the input holds it in memory;
// otherwise it is read into plain and decrypted there, so it is never held twice.
bool decrypt(cIO* input, int64_t fileSize, const uint8_t* key, const uint8_t* iv, uint8_t* plain) {
    uint8_t tag[cGenericFileEncrypted_TAG_SIZE];
    if (cIO_seek(input, fileSize - int64_t(sizeof tag), cIO_SEEK_SET) < 0 ||
        !readExactly(input, tag, sizeof tag))
        return false;
    uint8_t aad[cGenericFileEncrypted_AAD_SIZE];
    if (cIO_seek(input, 0, cIO_SEEK_SET) != 0 || !readExactly(input, aad, sizeof aad)) return false;

    CipherContext cipher;
    int ignored = 0;
    bool ok = cipher.ctx != nullptr &&
              EVP_DecryptInit_ex(cipher.ctx, EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1 &&
              EVP_CIPHER_CTX_ctrl(cipher.ctx, EVP_CTRL_GCM_SET_IVLEN,
                                  int(cGenericFileEncrypted_IV_SIZE), nullptr) == 1 &&
              EVP_DecryptInit_ex(cipher.ctx, nullptr, nullptr, key, iv) == 1 &&
              EVP_DecryptUpdate(cipher.ctx, nullptr, &ignored, aad, int(sizeof aad)) == 1;

    const uint64_t length = uint64_t(fileSize - cGenericFileEncrypted_MIN_SIZE);
    if (ok && length > 0) {
        const uint8_t* cipherText = cIO_fetch(input, cGenericFileEncrypted_AAD_SIZE, length);
        if (cipherText == nullptr) {
            ok = readExactly(input, plain, length);
            cipherText = plain;
        }
        ok = ok && decryptPieces(cipher.ctx, cipherText, plain, length);
    }
    uint8_t rest[16];
    ok = ok && EVP_CIPHER_CTX_ctrl(cipher.ctx, EVP_CTRL_GCM_SET_TAG, int(sizeof tag), tag) == 1 &&
         EVP_DecryptFinal_ex(cipher.ctx, rest, &ignored) == 1;
    // Nothing of a plaintext that failed its check is handed out or left lying in memory.
    if (!ok && length > 0) OPENSSL_cleanse(plain, size_t(length));
    return ok;
}

} // namespace

cIO* cGenericFile_encrypted_open(cIO* input, const cGenericFile* header, const char* password,
                                 size_t passwordLength, cGenericFile_budget* budget,
                                 cGenericFileEncrypted_failure* why) {
    cGenericFileEncrypted_failure ignored;
    if (why == nullptr) why = &ignored;
    *why = cGenericFileEncrypted_failure::REFUSED;
    if (input == nullptr || header == nullptr) return nullptr;
    if ((password == nullptr && passwordLength != 0) || passwordLength > INT_MAX) return nullptr;
    if (header->type != cGenericFile_TYPE_ENCRYPTED || header->version != cGenericFile_VERSION ||
        header->flag > 1 || header->footerFlag != 0)
        return nullptr;

    if (cIO_seek(input, cGenericFileEncrypted_IV_OFFSET, cIO_SEEK_SET) !=
        cGenericFileEncrypted_IV_OFFSET)
        return nullptr;
    cSerializer ser = cSerializer_ctor(input);
    uint8_t iv[cGenericFileEncrypted_IV_SIZE];
    uint8_t salt[cGenericFileEncrypted_SALT_SIZE];
    uint32_t iterations = 0;
    if (!cSerializer_readRaw(&ser, iv, sizeof iv) || !cSerializer_readU32_BE(&ser, &iterations) ||
        !cSerializer_readRaw(&ser, salt, sizeof salt))
        return nullptr;
    // A file too short to hold a tag is refused before the costly key derivation.
    const int64_t fileSize = cIO_seek(input, 0, cIO_SEEK_END);
    if (fileSize < cGenericFileEncrypted_MIN_SIZE) return nullptr;
    cGenericFile_budget own;
    if (budget == nullptr) budget = &own;
    // A count of 0 derives as 1 does.
    const uint64_t rounds = iterations == 0 ? 1 : iterations;
    if (rounds > budget->keyIterationsLeft) {
        ZF_LOGE("Key derivation iteration count %u exceeds the %llu left of the limit of %llu "
                "for one input file, nested containers summed",
                iterations, (unsigned long long)budget->keyIterationsLeft,
                (unsigned long long)cGenericFile_MAX_KEY_ITERATIONS);
        *why = cGenericFileEncrypted_failure::OVER_LIMIT;
        return nullptr;
    }
    budget->keyIterationsLeft -= rounds;

    const uint64_t length = uint64_t(fileSize - cGenericFileEncrypted_MIN_SIZE);
    *why = cGenericFileEncrypted_failure::NO_MEMORY;
    cIO* memory = cIO_memoryAlloc_ctorIn(budget->memory ? budget->memory : cMemoryBudget_run());
    uint8_t* plain = memory && length > 0 ? cIO_memoryAlloc_spare(memory, length) : nullptr;
    const bool room = memory != nullptr && (plain != nullptr || length == 0);
    if (!room) ZF_LOGE("No memory for %llu bytes of unwrapped data", (unsigned long long)length);

    uint8_t key[cGenericFileEncrypted_KEY_SIZE];
    bool ok = room && deriveKey(password, passwordLength, salt, rounds, key) &&
              decrypt(input, fileSize, key, iv, plain);
    OPENSSL_cleanse(key, sizeof key);
    if (!ok) {
        if (room) *why = cGenericFileEncrypted_failure::NOT_AUTHENTIC;
        (void)cIO_close(memory); // a memory stream: its close cannot fail
        return nullptr;
    }
    cIO_memoryAlloc_commit(memory, length);
    *why = cGenericFileEncrypted_failure::NONE;
    return cIO_memoryAlloc_seal(memory);
}
