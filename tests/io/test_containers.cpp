#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "io/cGenericFile.h"
#include "io/cGenericFileCompressed.h"
#include "io/cGenericFileEncrypted.h"
#include "io/cIO_file.h"
#include "io/cIO_memoryAlloc.h"
#include "support/log.h"
#include "tools/cContainerWriter.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::vector<std::string> logLines;
void captureLine(const char* line, int length) {
    logLines.emplace_back(line, size_t(length));
}

// Captures the log for one test and restores the sink and level afterwards.
struct LogCapture {
    int level;
    LogCapture() : level(zf_log_get_output_level()) {
        logLines.clear();
        zf_log_set_output_callback(captureLine);
        zf_log_set_output_level(ZF_LOG_VERBOSE);
    }
    ~LogCapture() {
        zf_log_set_output_callback(nullptr);
        zf_log_set_output_level(level);
    }
    bool has(const std::string& text) const {
        for (const auto& l : logLines)
            if (l.find(text) != std::string::npos) return true;
        return false;
    }
};

cIO* memoryOf(const Bytes& b) {
    cIO* m = cIO_memoryAlloc_ctor();
    if (!b.empty()) cIO_write(m, b.data(), b.size());
    cIO_seek(m, 0, cIO_SEEK_SET);
    return m;
}

// Everything a stream holds, read from 0.
Bytes contentOf(cIO* io) {
    Bytes out;
    if (cIO_seek(io, 0, cIO_SEEK_SET) != 0) return out;
    uint8_t buf[4096];
    int64_t got;
    while ((got = cIO_read(io, buf, sizeof buf)) > 0)
        out.insert(out.end(), buf, buf + got);
    return out;
}

Bytes sampleData(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (size_t i = 0; i < n; i++)
        b[i] = (i % 16 < 10) ? uint8_t(i / 64) : uint8_t(rng() % 7);
    return b;
}

Bytes compressed(const Bytes& plain, uint8_t W = 11, uint8_t L = 4, bool footer = true,
                 uint32_t serial = 0x1234) {
    cContainerWriter_compressOptions o;
    o.windowBits = W;
    o.lookaheadBits = L;
    o.footer = footer;
    o.serialNumber = serial;
    Bytes out;
    EXPECT_TRUE(cContainerWriter_compress(plain.data(), plain.size(), &o, &out));
    return out;
}

Bytes encrypted(const Bytes& plain, const std::string& password, uint32_t iterations = 1000) {
    cContainerWriter_encryptOptions o;
    o.password = password;
    o.iterations = iterations;
    o.serialNumber = 0x0000ABCD;
    Bytes out;
    EXPECT_TRUE(cContainerWriter_encrypt(plain.data(), plain.size(), &o, &out));
    return out;
}

cGenericFile headerOf(const Bytes& file) {
    cGenericFile h{};
    cIO* m = memoryOf(file);
    EXPECT_TRUE(cGenericFile_readHeader(m, &h));
    cIO_close(m);
    return h;
}

// Opens a compressed container held in memory; the decompressed bytes, or false.
bool openCompressed(const Bytes& file, Bytes* out, const cGenericFile* header = nullptr) {
    cGenericFile h{};
    cIO* in = memoryOf(file);
    if (header == nullptr) {
        if (!cGenericFile_readHeader(in, &h)) {
            cIO_close(in);
            return false;
        }
        header = &h;
    }
    cIO* c = cGenericFile_compressed_open(in, header);
    cIO_close(in); // the result must not need its input any more
    if (c == nullptr) return false;
    int64_t end = cIO_tell(c);
    *out = contentOf(c);
    EXPECT_EQ(end, int64_t(out->size())); // handed out positioned at the end
    cIO_close(c);
    return true;
}

bool openEncrypted(const Bytes& file, const std::string& password, Bytes* out,
                   const cGenericFile* header = nullptr) {
    cGenericFile h{};
    cIO* in = memoryOf(file);
    if (header == nullptr) {
        h = headerOf(file);
        header = &h;
    }
    cIO* c = cGenericFile_encrypted_open(in, header, password.data(), password.size());
    cIO_close(in);
    if (c == nullptr) return false;
    EXPECT_EQ(cIO_tell(c), cIO_seek(c, 0, cIO_SEEK_END));
    *out = contentOf(c);
    cIO_close(c);
    return true;
}

// A stream of 2^32 + 60 bytes that holds a real container head and footer but fails every
// read in between: a reader that computes the payload end in 32 bits sees only 28 bytes of
// payload and a matching footer.
struct HugeStream {
    cIO base;
    Bytes head;   // bytes 0 .. 55
    Bytes footer; // the last 4 bytes
    int64_t size;
    int64_t pos;
};
int64_t huge_read(cIO* io, void* dst, uint64_t n) {
    auto* s = reinterpret_cast<HugeStream*>(io);
    uint8_t* d = static_cast<uint8_t*>(dst);
    if (s->pos < int64_t(s->head.size())) {
        int64_t k = std::min<int64_t>(int64_t(n), int64_t(s->head.size()) - s->pos);
        std::memcpy(d, s->head.data() + s->pos, size_t(k));
        s->pos += k;
        return k;
    }
    if (s->pos < s->size - 4) return -1;
    int64_t k = std::min<int64_t>(int64_t(n), s->size - s->pos);
    std::memcpy(d, s->footer.data() + (s->pos - (s->size - 4)), size_t(k));
    s->pos += k;
    return k;
}
int64_t huge_tell(cIO* io) {
    return reinterpret_cast<HugeStream*>(io)->pos;
}
int64_t huge_seek(cIO* io, int64_t off, int32_t origin) {
    auto* s = reinterpret_cast<HugeStream*>(io);
    int64_t t = origin == 0 ? off : origin == 1 ? s->pos + off : s->size + off;
    if (t < 0 || t > s->size) return -1;
    return s->pos = t;
}
const cIO_vtable hugeVt = {huge_read, nullptr, huge_tell, huge_seek, nullptr};

} // namespace

TEST(ContainerHeader, FieldsInFileOrderAndShortOrForeignFiles) {
    const Bytes good = {'G', 'e',  'n',  'e',  'r',  'i',  'c',  ' ',  'F',  'i', 'l',
                        'e', 0x01, 0x01, 0x22, 0x01, 0x12, 0x34, 0x56, 0x78, 0xAA};
    cGenericFile h{};
    cIO* m = memoryOf(good);
    ASSERT_TRUE(cGenericFile_readHeader(m, &h));
    EXPECT_EQ(h.type, cGenericFile_TYPE_COMPRESSED);
    EXPECT_EQ(h.version, 1);
    EXPECT_EQ(h.flag, 1);
    EXPECT_EQ(h.footerFlag, 1);
    EXPECT_EQ(h.serialNumber, 0x12345678u);
    EXPECT_EQ(cIO_tell(m), 20);
    cIO_close(m);
    EXPECT_EQ(sizeof(cGenericFile), 20u);

    const struct {
        const char* what;
        Bytes bytes;
    } bad[] = {
        {"19 bytes", Bytes(good.begin(), good.begin() + 19)},
        {"empty", {}},
        {"magic case",
         [&] {
             Bytes b = good;
             b[0] = 'g';
             return b;
         }()},
        {"magic last byte",
         [&] {
             Bytes b = good;
             b[11] = 'E';
             return b;
         }()},
        {"plain MDF", Bytes{'M', 'D', 'F', ' ', ' ', ' ', ' ', ' ', '4', '.', '1',
                            '1', 0,   0,   0,   0,   0,   0,   0,   0,   0}},
    };
    for (const auto& c : bad) {
        cGenericFile hb{};
        cIO* s = memoryOf(c.bytes);
        EXPECT_FALSE(cGenericFile_readHeader(s, &hb)) << c.what;
        cIO_close(s);
    }
    EXPECT_FALSE(cGenericFile_readHeader(nullptr, &h));
}

TEST(CompressedContainer, RoundTripsWithAndWithoutFooter) {
    const Bytes plain = sampleData(200000, 1);
    const std::pair<uint8_t, uint8_t> params[] = {{4, 3}, {8, 4}, {11, 4}, {15, 14}};
    for (auto [W, L] : params) {
        for (bool footer : {true, false}) {
            Bytes file = compressed(plain, W, L, footer), out;
            EXPECT_EQ(file[12], footer ? 1 : 0);
            EXPECT_EQ(file[13], footer ? 1 : 0);
            ASSERT_TRUE(openCompressed(file, &out)) << int(W) << "/" << int(L);
            EXPECT_EQ(out, plain);
        }
    }
    Bytes out;
    ASSERT_TRUE(openCompressed(compressed({}), &out));
    EXPECT_TRUE(out.empty());
}

TEST(CompressedContainer, RefusedHeadersAndParameters) {
    const Bytes plain = sampleData(5000, 2);
    const Bytes file = compressed(plain, 8, 4);
    const cGenericFile good = headerOf(file);
    auto withHeader = [&](auto change) {
        cGenericFile h = good;
        change(h);
        return h;
    };
    auto withBytes = [&](size_t at, std::initializer_list<uint8_t> bytes) {
        Bytes b = file;
        std::copy(bytes.begin(), bytes.end(), b.begin() + at);
        return b;
    };
    const struct {
        const char* what;
        Bytes file;
        cGenericFile header;
    } cases[] = {
        {"type", file, withHeader([](cGenericFile& h) { h.type = 0x23; })},
        {"encrypted type", file, withHeader([](cGenericFile& h) { h.type = 0x11; })},
        {"version", file, withHeader([](cGenericFile& h) { h.version = 2; })},
        {"flag 1 footer 0", file, withHeader([](cGenericFile& h) { h.footerFlag = 0; })},
        {"flag 0 footer 1", file, withHeader([](cGenericFile& h) { h.flag = 0; })},
        {"flags 2", file, withHeader([](cGenericFile& h) { h.flag = h.footerFlag = 2; })},
        {"window field 0", withBytes(24, {0, 0, 0, 0}), good},
        {"window 2^16", withBytes(24, {0, 1, 0, 0}), good},
        {"window 2^3", withBytes(24, {0, 0, 0, 8}), good},
        {"lookahead = window bits", withBytes(20, {0, 0, 0, 8}), good},
        {"lookahead 2", withBytes(20, {0, 0, 0, 2}), good},
        {"27 bytes", Bytes(file.begin(), file.begin() + 27), good},
    };
    for (const auto& c : cases) {
        LogCapture log;
        Bytes out;
        EXPECT_FALSE(openCompressed(c.file, &out, &c.header)) << c.what;
        EXPECT_TRUE(logLines.empty()) << c.what << ": " << logLines.front();
    }
    // Only the low byte of the lookahead field counts.
    Bytes out;
    EXPECT_TRUE(openCompressed(withBytes(20, {0xFF, 0xFF, 0xFF, 4}), &out));
    EXPECT_EQ(out, plain);
    EXPECT_EQ(cGenericFile_compressed_open(nullptr, &good), nullptr);
    cIO* m = memoryOf(file);
    EXPECT_EQ(cGenericFile_compressed_open(m, nullptr), nullptr);
    cIO_close(m);
    EXPECT_EQ(cIO_close(nullptr), 0);
}

TEST(CompressedContainer, FooterChecks) {
    const Bytes plain = sampleData(30000, 3);
    Bytes file = compressed(plain, 10, 5);
    {
        LogCapture log;
        Bytes bad = file, out;
        bad.back() ^= 0x01;
        EXPECT_FALSE(openCompressed(bad, &out));
        char expect[80];
        uint32_t stored = uint32_t(bad[bad.size() - 4]) << 24 |
                          uint32_t(bad[bad.size() - 3]) << 16 | uint32_t(bad[bad.size() - 2]) << 8 |
                          bad[bad.size() - 1];
        std::snprintf(expect, sizeof expect,
                      "Could not validate checksum, expected %08X but found %08X", stored,
                      stored ^ 0x01);
        EXPECT_TRUE(log.has(expect)) << (logLines.empty() ? "" : logLines.front());
        // The same bytes with both flags 0 are taken as they stand, without a check.
        bad[12] = bad[13] = 0;
        EXPECT_TRUE(openCompressed(bad, &out));
        EXPECT_EQ(Bytes(out.begin(), out.begin() + plain.size()), plain);
    }
    for (size_t cut : {size_t(1), size_t(5), file.size() / 2}) {
        LogCapture log;
        Bytes out;
        EXPECT_FALSE(openCompressed(Bytes(file.begin(), file.end() - cut), &out)) << cut;
        EXPECT_TRUE(log.has("Could not validate checksum")) << cut;
    }
    for (size_t size : {size_t(28), size_t(31)}) {
        LogCapture log;
        Bytes out;
        EXPECT_FALSE(openCompressed(Bytes(file.begin(), file.begin() + size), &out)) << size;
        EXPECT_TRUE(log.has("Expected to read out CRC from footer, but found none")) << size;
    }
    // Exactly a footer after an empty payload: the CRC of nothing is the initial register.
    Bytes empty(file.begin(), file.begin() + 28), out;
    for (uint8_t b : {0xFF, 0xFF, 0xFF, 0xFF})
        empty.push_back(b);
    EXPECT_TRUE(openCompressed(empty, &out));
    EXPECT_TRUE(out.empty());
}

TEST(CompressedContainer, DecompressionBombFailsAtTheOutputLimit) {
    const Bytes zeros(3 << 20, 0);
    const Bytes file = compressed(zeros, 12, 11);
    ASSERT_LT(file.size(), zeros.size() / 100);
    uint64_t previous = cGenericFile_setOutputLimit(1 << 20);
    {
        LogCapture log;
        Bytes out;
        EXPECT_FALSE(openCompressed(file, &out));
        EXPECT_TRUE(log.has("Unwrapped data exceeds the limit of 1048576 bytes"));
    }
    cGenericFile_setOutputLimit(zeros.size()); // exactly enough
    Bytes out;
    EXPECT_TRUE(openCompressed(file, &out));
    EXPECT_EQ(out.size(), zeros.size());
    EXPECT_EQ(cGenericFile_setOutputLimit(previous), zeros.size());
}

TEST(CompressedContainer, PayloadEndIsNotCutTo32BitsAndReadErrorsFail) {
    const Bytes plain = sampleData(4000, 4);
    for (bool footer : {true, false}) {
        Bytes file = compressed(plain, 8, 4, footer);
        HugeStream s{
            {&hugeVt}, Bytes(file.begin(), file.begin() + 56), {}, (int64_t(1) << 32) + 60, 0};
        // The footer a 32-bit reader would find right: the JAMCRC of payload bytes 28 .. 55.
        uint32_t reg = 0xFFFFFFFFu;
        for (size_t i = 28; i < 56; i++) {
            reg ^= file[i];
            for (int k = 0; k < 8; k++)
                reg = (reg & 1) ? 0xEDB88320u ^ (reg >> 1) : reg >> 1;
        }
        s.footer = {uint8_t(reg >> 24), uint8_t(reg >> 16), uint8_t(reg >> 8), uint8_t(reg)};
        cGenericFile h = headerOf(file);
        LogCapture log;
        cIO* c = cGenericFile_compressed_open(&s.base, &h);
        EXPECT_EQ(c, nullptr) << "footer " << footer;
        EXPECT_TRUE(log.has("Could not read compressed data")) << "footer " << footer;
        cIO_close(c);
    }
}

TEST(EncryptedContainer, RoundTripsForSizesAndIterationCounts) {
    const struct {
        size_t size;
        uint32_t iterations;
        std::string password;
    } cases[] = {
        {0, 1, "pw"},       {1, 1000, "pw"}, {511, 1, "secret"},
        {512, 2, "secret"}, {513, 5000, ""}, {100000, 20000, "a much longer password with spaces"},
    };
    for (const auto& c : cases) {
        const Bytes plain = sampleData(c.size, uint32_t(c.size));
        Bytes file = encrypted(plain, c.password, c.iterations), out;
        ASSERT_EQ(file.size(), c.size + 68);
        EXPECT_EQ(file[14], cGenericFile_TYPE_ENCRYPTED);
        ASSERT_TRUE(openEncrypted(file, c.password, &out)) << c.size;
        EXPECT_EQ(out, plain);
        EXPECT_FALSE(openEncrypted(file, c.password + "x", &out)) << c.size;
    }
    // A fixed vector and salt give the same bytes twice; fresh ones differ.
    cContainerWriter_encryptOptions o;
    o.password = "pw";
    o.fixedNonce = true;
    Bytes a, b, r1, r2;
    ASSERT_TRUE(cContainerWriter_encrypt(nullptr, 0, &o, &a));
    ASSERT_TRUE(cContainerWriter_encrypt(nullptr, 0, &o, &b));
    EXPECT_EQ(a, b);
    EXPECT_NE(encrypted({}, "pw"), encrypted({}, "pw"));
}

TEST(EncryptedContainer, AnyChangedByteFailsTheTagCheck) {
    const Bytes plain = sampleData(700, 5);
    const Bytes file = encrypted(plain, "pw", 100);
    const cGenericFile good = headerOf(file);
    std::vector<size_t> positions;
    for (size_t i = 0; i < 52; i++)
        positions.push_back(i); // authenticated head
    for (size_t i : {52u, 53u, 563u, 564u, 751u})
        positions.push_back(i); // ciphertext
    for (size_t i = file.size() - 16; i < file.size(); i++)
        positions.push_back(i); // tag
    for (size_t i : positions) {
        Bytes bad = file, out;
        bad[i] ^= (i == 32) ? 0x00 : 0x01;
        if (i == 32) bad[35] ^= 0x02; // keep the count small, change it all the same
        EXPECT_FALSE(openEncrypted(bad, "pw", &out, &good)) << "byte " << i;
    }
    Bytes out;
    EXPECT_TRUE(openEncrypted(file, "pw", &out, &good));
}

TEST(EncryptedContainer, RefusedHeadersAndShortFiles) {
    const Bytes file = encrypted(sampleData(100, 6), "pw", 10);
    const cGenericFile good = headerOf(file);
    auto withHeader = [&](auto change) {
        cGenericFile h = good;
        change(h);
        return h;
    };
    const struct {
        const char* what;
        Bytes file;
        cGenericFile header;
    } cases[] = {
        {"first flag 2", file, withHeader([](cGenericFile& h) { h.flag = 2; })},
        {"footer flag 1", file, withHeader([](cGenericFile& h) { h.footerFlag = 1; })},
        {"type", file, withHeader([](cGenericFile& h) { h.type = 0x22; })},
        {"version", file, withHeader([](cGenericFile& h) { h.version = 0; })},
        {"60 bytes", Bytes(file.begin(), file.begin() + 60), good},
        {"67 bytes", Bytes(file.begin(), file.begin() + 67), good},
        {"51 bytes", Bytes(file.begin(), file.begin() + 51), good},
        {"one byte short", Bytes(file.begin(), file.end() - 1), good},
        {"one byte more",
         [&] {
             Bytes b = file;
             b.push_back(0);
             return b;
         }(),
         good},
    };
    for (const auto& c : cases) {
        Bytes out;
        EXPECT_FALSE(openEncrypted(c.file, "pw", &out, &c.header)) << c.what;
    }
    // First flag 1 is accepted (and authenticated like the rest of the head).
    cContainerWriter_encryptOptions o;
    o.password = "pw";
    o.iterations = 10;
    o.flag = 1;
    Bytes flagged, out;
    ASSERT_TRUE(cContainerWriter_encrypt(file.data(), 10, &o, &flagged));
    EXPECT_TRUE(openEncrypted(flagged, "pw", &out));
    EXPECT_EQ(out, Bytes(file.begin(), file.begin() + 10));
    cIO* m = memoryOf(file);
    EXPECT_EQ(cGenericFile_encrypted_open(nullptr, &good, "pw", 2), nullptr);
    EXPECT_EQ(cGenericFile_encrypted_open(m, nullptr, "pw", 2), nullptr);
    EXPECT_EQ(cGenericFile_encrypted_open(m, &good, nullptr, 2), nullptr);
    cIO_close(m);
}

TEST(EncryptedContainer, HostileIterationCountIsRefusedAtOnce) {
    Bytes file = encrypted(sampleData(100, 7), "pw", 10), out;
    for (size_t i = 32; i < 36; i++)
        file[i] = 0xFF;
    LogCapture log;
    EXPECT_FALSE(openEncrypted(file, "pw", &out));
    EXPECT_TRUE(log.has("Key derivation iteration count 4294967295 exceeds the limit of 10000000"));
}

TEST(NestedContainers, CompressedInsideEncryptedAndTheOtherWayRound) {
    const Bytes plain = sampleData(50000, 8);
    const Bytes inner[] = {compressed(plain), encrypted(plain, "pw", 50)};
    for (int outerEncrypted = 0; outerEncrypted < 2; outerEncrypted++) {
        Bytes file = outerEncrypted ? encrypted(inner[0], "pw", 50) : compressed(inner[1]);
        // Unwrap as the driver does: read the header again from each result.
        cIO* cur = memoryOf(file);
        cGenericFile h{};
        int layers = 0;
        while (cur != nullptr && cGenericFile_readHeader(cur, &h)) {
            cIO* next = h.type == cGenericFile_TYPE_COMPRESSED
                            ? cGenericFile_compressed_open(cur, &h)
                            : cGenericFile_encrypted_open(cur, &h, "pw", 2);
            cIO_close(cur);
            cur = next;
            layers++;
        }
        ASSERT_NE(cur, nullptr);
        EXPECT_EQ(layers, 2);
        EXPECT_EQ(contentOf(cur), plain);
        cIO_close(cur);
    }
}

TEST(ContainerWriterFiles, StreamingWritersMatchTheReaders) {
    // Above the writers' 1 MiB piece size, so the streaming paths run more than once.
    const Bytes plain = sampleData((5 << 20) / 2 + 123, 9);
    const std::string dir = ::testing::TempDir();
    const std::string plainPath = dir + "/kv_cont_plain.mf4", packed = dir + "/kv_cont_packed";
    FILE* f = std::fopen(plainPath.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(plain.data(), 1, plain.size(), f), plain.size());
    std::fclose(f);
    auto readBack = [&](const std::string& password) {
        cIO* in = cIO_file_open(packed.c_str(), 0);
        cGenericFile h{};
        EXPECT_TRUE(cGenericFile_readHeader(in, &h));
        cIO* c = h.type == cGenericFile_TYPE_COMPRESSED
                     ? cGenericFile_compressed_open(in, &h)
                     : cGenericFile_encrypted_open(in, &h, password.data(), password.size());
        cIO_close(in);
        Bytes out = contentOf(c);
        cIO_close(c);
        return out;
    };
    cContainerWriter_compressOptions co;
    co.serialNumber = 0xCAFE;
    ASSERT_TRUE(cContainerWriter_compressFile(plainPath.c_str(), packed.c_str(), &co));
    EXPECT_EQ(readBack(""), plain);
    cContainerWriter_encryptOptions eo;
    eo.password = "pw";
    eo.iterations = 10;
    ASSERT_TRUE(cContainerWriter_encryptFile(plainPath.c_str(), packed.c_str(), &eo));
    EXPECT_EQ(readBack("pw"), plain);
    EXPECT_FALSE(
        cContainerWriter_compressFile((dir + "/kv_cont_missing").c_str(), packed.c_str(), &co));
    co.windowBits = 3;
    EXPECT_FALSE(cContainerWriter_compressFile(plainPath.c_str(), packed.c_str(), &co));
    std::remove(plainPath.c_str());
    std::remove(packed.c_str());
}
