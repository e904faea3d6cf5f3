#include "io/cGenericFileEncrypted.h"

#include <cstring>
#include <new>

#include <mbedtls/cipher.h>
#include <mbedtls/md.h>
#include <mbedtls/pkcs5.h>
#include <mbedtls/platform_util.h>

#include "io/cIO_memoryAlloc.h"
#include "io/cSerializer.h"
#include "support/log.h"

namespace {

struct cGenericFileEncrypted {
    cIO base;
    cGenericFile header;
    cIO* memory;
};

cGenericFileEncrypted* self_of(cIO* io) {
    return reinterpret_cast<cGenericFileEncrypted*>(io);
}

int64_t cGenericFileEncrypted_read(cIO* io, void* dst, uint64_t n) {
    return cIO_read(self_of(io)->memory, dst, n);
}
int64_t cGenericFileEncrypted_write(cIO* io, const void* src, uint64_t n) {
    return cIO_write(self_of(io)->memory, src, n);
}
int64_t cGenericFileEncrypted_tell(cIO* io) {
    return cIO_tell(self_of(io)->memory);
}
int64_t cGenericFileEncrypted_seek(cIO* io, int64_t offset, int32_t origin) {
    return cIO_seek(self_of(io)->memory, offset, origin);
}
int32_t cGenericFileEncrypted_close(cIO* io) {
    cGenericFileEncrypted* self = self_of(io);
    if (self == nullptr) return 0;
    int32_t rc = cIO_close(self->memory);
    delete self;
    return rc;
}

const cIO_vtable vtable = {cGenericFileEncrypted_read, cGenericFileEncrypted_write,
                           cGenericFileEncrypted_tell, cGenericFileEncrypted_seek,
                           cGenericFileEncrypted_close};

// Reads exactly n bytes unless the stream ends or fails first; true when all arrived.
bool readExactly(cIO* io, uint8_t* dst, uint64_t n) {
    uint64_t done = 0;
    while (done < n) {
        int64_t got = cIO_read(io, dst + done, n - done);
        if (got <= 0) return false;
        done += uint64_t(got);
    }
    return true;
}

bool deriveKey(const char* password, size_t passwordLength, const uint8_t* salt,
               uint32_t iterations, uint8_t* key) {
    mbedtls_md_context_t md;
    mbedtls_md_init(&md);
    const mbedtls_md_info_t* info = mbedtls_md_info_from_type(MBEDTLS_MD_SHA256);
    bool ok = info != nullptr && mbedtls_md_setup(&md, info, 1) == 0 &&
              mbedtls_pkcs5_pbkdf2_hmac(&md, reinterpret_cast<const unsigned char*>(password),
                                        passwordLength, salt, cGenericFileEncrypted_SALT_SIZE,
                                        iterations, cGenericFileEncrypted_KEY_SIZE, key) == 0;
    mbedtls_md_free(&md);
    return ok;
}

// Decrypts bytes 52 .. size-16 of the input into memory and checks the tag.
bool decrypt(cIO* input, int64_t fileSize, const uint8_t* key, const uint8_t* iv, cIO* memory) {
    uint8_t tag[cGenericFileEncrypted_TAG_SIZE];
    if (cIO_seek(input, fileSize - int64_t(sizeof tag), cIO_SEEK_SET) < 0 ||
        !readExactly(input, tag, sizeof tag))
        return false;
    uint8_t aad[cGenericFileEncrypted_AAD_SIZE];
    if (cIO_seek(input, 0, cIO_SEEK_SET) != 0 || !readExactly(input, aad, sizeof aad)) return false;

    mbedtls_cipher_context_t cipher;
    mbedtls_cipher_init(&cipher);
    const mbedtls_cipher_info_t* info =
        mbedtls_cipher_info_from_values(MBEDTLS_CIPHER_ID_AES, 256, MBEDTLS_MODE_GCM);
    bool ok = info != nullptr && mbedtls_cipher_setup(&cipher, info) == 0 &&
              mbedtls_cipher_setkey(&cipher, key, 256, MBEDTLS_DECRYPT) == 0 &&
              mbedtls_cipher_set_iv(&cipher, iv, cGenericFileEncrypted_IV_SIZE) == 0 &&
              mbedtls_cipher_update_ad(&cipher, aad, sizeof aad) == 0;

    // Every chunk but the last is a whole 512 bytes: GCM updates must come in whole blocks.
    uint8_t in[cGenericFileEncrypted_CHUNK];
    uint8_t out[cGenericFileEncrypted_CHUNK + 16];
    uint64_t remaining = uint64_t(fileSize - cGenericFileEncrypted_MIN_SIZE);
    uint64_t stored = 0;
    while (ok && remaining > 0) {
        size_t want = remaining < sizeof in ? size_t(remaining) : sizeof in;
        size_t produced = 0;
        ok = readExactly(input, in, want) &&
             mbedtls_cipher_update(&cipher, in, want, out, &produced) == 0 &&
             cGenericFile_storeOutput(memory, out, produced, &stored);
        remaining -= want;
    }
    size_t produced = 0;
    ok = ok && mbedtls_cipher_finish(&cipher, out, &produced) == 0 &&
         cGenericFile_storeOutput(memory, out, produced, &stored) &&
         mbedtls_cipher_check_tag(&cipher, tag, sizeof tag) == 0;
    mbedtls_cipher_free(&cipher);
    mbedtls_platform_zeroize(out, sizeof out);
    return ok;
}

} // namespace

cIO* cGenericFile_encrypted_open(cIO* input, const cGenericFile* header, const char* password,
                                 size_t passwordLength) {
    if (input == nullptr || header == nullptr) return nullptr;
    if (password == nullptr && passwordLength != 0) return nullptr;
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
    if (iterations > cGenericFileEncrypted_MAX_ITERATIONS) {
        ZF_LOGE("Key derivation iteration count %u exceeds the limit of %u", iterations,
                cGenericFileEncrypted_MAX_ITERATIONS);
        return nullptr;
    }

    auto* self = new (std::nothrow) cGenericFileEncrypted{};
    if (self == nullptr) return nullptr;
    self->base.vt = &vtable;
    std::memcpy(&self->header, header, sizeof self->header);
    self->memory = cIO_memoryAlloc_ctor();

    uint8_t key[cGenericFileEncrypted_KEY_SIZE];
    bool ok = self->memory != nullptr &&
              deriveKey(password, passwordLength, salt, iterations, key) &&
              decrypt(input, fileSize, key, iv, self->memory);
    mbedtls_platform_zeroize(key, sizeof key);
    if (!ok) {
        cGenericFileEncrypted_close(&self->base);
        return nullptr;
    }
    return &self->base;
}

cIO* cGenericFile_encrypted_memory(cIO* io) {
    if (io == nullptr || io->vt != &vtable) return nullptr;
    return self_of(io)->memory;
}
