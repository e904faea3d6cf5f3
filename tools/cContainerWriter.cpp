#include "tools/cContainerWriter.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <random>

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include "io/cGenericFile.h"
#include "tools/heatshrink_encoder.h"

namespace {

constexpr size_t PIECE = size_t(1) << 20;

// Where container bytes go: a vector or a file.
struct Sink {
    std::vector<uint8_t>* vec = nullptr;
    FILE* file = nullptr;
    bool ok = true;
    void put(const uint8_t* p, size_t n) {
        if (!ok || n == 0) return;
        if (vec != nullptr)
            vec->insert(vec->end(), p, p + n);
        else
            ok = std::fwrite(p, 1, n, file) == n;
    }
    void put(const std::vector<uint8_t>& v) { put(v.data(), v.size()); }
};

// Where plain bytes come from: a buffer or a file, in pieces.
struct Source {
    const uint8_t* data = nullptr;
    size_t size = 0;
    size_t pos = 0;
    FILE* file = nullptr;
    bool failed = false;
    size_t get(uint8_t* dst, size_t n) {
        if (file == nullptr) {
            size_t k = std::min(n, size - pos);
            if (k > 0) std::memcpy(dst, data + pos, k);
            pos += k;
            return k;
        }
        size_t k = std::fread(dst, 1, n, file);
        if (k < n && std::ferror(file)) failed = true;
        return k;
    }
};

struct FileCloser {
    void operator()(FILE* f) const {
        if (f != nullptr) std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

void putBE32(std::vector<uint8_t>* v, uint32_t x) {
    for (int s = 24; s >= 0; s -= 8)
        v->push_back(uint8_t(x >> s));
}

std::vector<uint8_t> header(uint8_t flag, uint8_t footer, uint8_t type, uint32_t serial) {
    std::vector<uint8_t> h(cGenericFile_MAGIC, cGenericFile_MAGIC + sizeof cGenericFile_MAGIC);
    h.push_back(flag);
    h.push_back(footer);
    h.push_back(type); // the file holds the type before the version
    h.push_back(cGenericFile_VERSION);
    putBE32(&h, serial);
    return h;
}

// CRC-32 register steps (reflected 0xEDB88320), without the final XOR.
uint32_t crcUpdate(uint32_t reg, const uint8_t* p, size_t n) {
    static const auto table = [] {
        std::vector<uint32_t> t(256);
        for (uint32_t i = 0; i < 256; i++) {
            uint32_t c = i;
            for (int k = 0; k < 8; k++)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    for (size_t i = 0; i < n; i++)
        reg = table[(reg ^ p[i]) & 0xFF] ^ (reg >> 8);
    return reg;
}

bool compress(Source* src, Sink* sink, const cContainerWriter_compressOptions* o) {
    heatshrink_encoder* hse = heatshrink_encoder_alloc(o->windowBits, o->lookaheadBits);
    if (hse == nullptr) return false;
    std::vector<uint8_t> head =
        header(o->footer, o->footer, cGenericFile_TYPE_COMPRESSED, o->serialNumber);
    putBE32(&head, o->lookaheadBits);
    putBE32(&head, uint32_t(1) << o->windowBits);
    sink->put(head);
    uint32_t crc = 0xFFFFFFFFu;
    std::vector<uint8_t> piece(PIECE), enc;
    size_t n;
    while ((n = src->get(piece.data(), piece.size())) > 0) {
        heatshrink_encoder_sink(hse, piece.data(), n, &enc);
        crc = crcUpdate(crc, enc.data(), enc.size());
        sink->put(enc);
        enc.clear();
    }
    heatshrink_encoder_finish(hse, &enc);
    heatshrink_encoder_free(hse);
    crc = crcUpdate(crc, enc.data(), enc.size());
    sink->put(enc);
    if (o->footer) {
        std::vector<uint8_t> footer;
        putBE32(&footer, crc);
        sink->put(footer);
    }
    return sink->ok && !src->failed;
}

bool deriveKey(const cContainerWriter_encryptOptions* o, const uint8_t* salt, uint8_t* key) {
    // A count of 0 derives as 1 does (the first block alone), as the reader takes it.
    const int rounds = o->iterations == 0 ? 1 : int(o->iterations);
    return PKCS5_PBKDF2_HMAC(o->password.data(), int(o->password.size()), salt, 16, rounds,
                             EVP_sha256(), 32, key) == 1;
}

bool encrypt(Source* src, Sink* sink, const cContainerWriter_encryptOptions* o) {
    uint8_t iv[12], salt[16];
    if (o->fixedNonce) {
        std::memcpy(iv, o->iv, sizeof iv);
        std::memcpy(salt, o->salt, sizeof salt);
    } else {
        std::random_device rd;
        for (auto& b : iv)
            b = uint8_t(rd());
        for (auto& b : salt)
            b = uint8_t(rd());
    }
    uint8_t key[32];
    if (!deriveKey(o, salt, key)) return false;

    std::vector<uint8_t> aad = header(o->flag, 0, cGenericFile_TYPE_ENCRYPTED, o->serialNumber);
    aad.insert(aad.end(), iv, iv + sizeof iv);
    putBE32(&aad, o->iterations);
    aad.insert(aad.end(), salt, salt + sizeof salt);

    std::unique_ptr<EVP_CIPHER_CTX, void (*)(EVP_CIPHER_CTX*)> cipher(EVP_CIPHER_CTX_new(),
                                                                      EVP_CIPHER_CTX_free);
    int produced = 0;
    bool ok =
        cipher != nullptr &&
        EVP_EncryptInit_ex(cipher.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1 &&
        EVP_CIPHER_CTX_ctrl(cipher.get(), EVP_CTRL_GCM_SET_IVLEN, int(sizeof iv), nullptr) == 1 &&
        EVP_EncryptInit_ex(cipher.get(), nullptr, nullptr, key, iv) == 1 &&
        EVP_EncryptUpdate(cipher.get(), nullptr, &produced, aad.data(), int(aad.size())) == 1;
    OPENSSL_cleanse(key, sizeof key);
    sink->put(aad);
    std::vector<uint8_t> piece(PIECE), enc(PIECE + 16);
    size_t n;
    while (ok && (n = src->get(piece.data(), piece.size())) > 0) {
        ok = EVP_EncryptUpdate(cipher.get(), enc.data(), &produced, piece.data(), int(n)) == 1;
        if (ok) sink->put(enc.data(), size_t(produced));
        if (n < piece.size()) break;
    }
    uint8_t tag[16];
    ok = ok && EVP_EncryptFinal_ex(cipher.get(), enc.data(), &produced) == 1;
    if (ok) sink->put(enc.data(), size_t(produced));
    ok = ok && EVP_CIPHER_CTX_ctrl(cipher.get(), EVP_CTRL_GCM_GET_TAG, int(sizeof tag), tag) == 1;
    if (ok) sink->put(tag, sizeof tag);
    return ok && sink->ok && !src->failed;
}

template <typename Options, typename Fn>
bool withFiles(const char* inPath, const char* outPath, const Options* o, Fn fn) {
    if (inPath == nullptr || outPath == nullptr || o == nullptr) return false;
    FilePtr in(std::fopen(inPath, "rb"));
    if (!in) return false;
    FilePtr out(std::fopen(outPath, "wb"));
    if (!out) return false;
    Source src;
    src.file = in.get();
    Sink sink;
    sink.file = out.get();
    bool ok = fn(&src, &sink, o);
    ok = std::fclose(out.release()) == 0 && ok;
    if (!ok) std::remove(outPath); // no half-written container left behind
    return ok;
}

// The in-memory twin of withFiles: the container of data appended to *out.
template <typename Options, typename Fn>
bool inMemory(const uint8_t* data, size_t size, const Options* o, std::vector<uint8_t>* out,
              Fn fn) {
    if (o == nullptr || out == nullptr || (data == nullptr && size != 0)) return false;
    Source src;
    src.data = data;
    src.size = size;
    Sink sink;
    sink.vec = out;
    return fn(&src, &sink, o);
}

} // namespace

bool cContainerWriter_compress(const uint8_t* data, size_t size,
                               const cContainerWriter_compressOptions* options,
                               std::vector<uint8_t>* out) {
    return inMemory(data, size, options, out, compress);
}

bool cContainerWriter_compressFile(const char* inPath, const char* outPath,
                                   const cContainerWriter_compressOptions* options) {
    return withFiles(inPath, outPath, options, compress);
}

bool cContainerWriter_encrypt(const uint8_t* data, size_t size,
                              const cContainerWriter_encryptOptions* options,
                              std::vector<uint8_t>* out) {
    return inMemory(data, size, options, out, encrypt);
}

bool cContainerWriter_encryptFile(const char* inPath, const char* outPath,
                                  const cContainerWriter_encryptOptions* options) {
    return withFiles(inPath, outPath, options, encrypt);
}
