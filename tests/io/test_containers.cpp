#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "io/cGenericFile.h"
#include "io/cGenericFileCompressed.h"
#include "io/cGenericFileEncrypted.h"
#include "io/cIO_memoryAlloc.h"
#include "support/log.h"
#include "tools/cContainerWriter.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Patch = void (*)(Bytes&, cGenericFile&);

std::vector<std::string> logLines;
void captureLine(const char* line, int length) {
    logLines.emplace_back(line, size_t(length));
}

// Captures the log while alive; has() looks for a text in any captured line.
struct LogCapture {
    int level = zf_log_get_output_level();
    LogCapture() {
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

Bytes contentOf(cIO* io) {
    Bytes out;
    uint8_t buf[4096];
    int64_t got;
    cIO_seek(io, 0, cIO_SEEK_SET);
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

Bytes compressed(const Bytes& plain, uint8_t W = 11, uint8_t L = 4, bool footer = true) {
    cContainerWriter_compressOptions o{.windowBits = W, .lookaheadBits = L, .footer = footer};
    Bytes out;
    EXPECT_TRUE(cContainerWriter_compress(plain.data(), plain.size(), &o, &out));
    return out;
}

Bytes encrypted(const Bytes& plain, const std::string& password, uint32_t iterations = 100,
                uint8_t flag = 0) {
    cContainerWriter_encryptOptions o{.password = password, .iterations = iterations, .flag = flag};
    Bytes out;
    EXPECT_TRUE(cContainerWriter_encrypt(plain.data(), plain.size(), &o, &out));
    return out;
}

cGenericFile headerOf(const Bytes& file, bool* valid = nullptr) {
    cGenericFile h{};
    cIO* m = memoryOf(file);
    bool ok = cGenericFile_readHeader(m, &h);
    if (valid != nullptr) *valid = ok;
    cIO_close(m);
    return h;
}

// Opens the container with its own header (or the one given) as the driver does, closes the
// input at once, and returns what the result holds; nullopt when the open fails.
std::optional<Bytes> unwrap(const Bytes& file, const std::string& password = "pw",
                            std::optional<cGenericFile> header = std::nullopt) {
    const cGenericFile h = header ? *header : headerOf(file);
    cIO* in = memoryOf(file);
    cIO* c = h.type == cGenericFile_TYPE_ENCRYPTED
                 ? cGenericFile_encrypted_open(in, &h, password.data(), password.size())
                 : cGenericFile_compressed_open(in, &h);
    cIO_close(in);
    if (c == nullptr) return std::nullopt;
    const int64_t end = cIO_tell(c); // handed out positioned at the end
    Bytes out = contentOf(c);
    EXPECT_EQ(end, int64_t(out.size()));
    cIO_close(c);
    return out;
}

// A stream of 2^32 + 60 bytes with a real container head (bytes 0..55) and footer but a read
// error everywhere in between: a reader that computed the payload end in 32 bits would see
// 28 bytes of payload and a matching footer.
struct HugeStream {
    cIO base;
    Bytes head, footer;
    int64_t size = (int64_t(1) << 32) + 60, pos = 0;
};
int64_t huge_read(cIO* io, void* dst, uint64_t n) {
    auto* s = reinterpret_cast<HugeStream*>(io);
    const bool inHead = s->pos < int64_t(s->head.size());
    if (!inHead && s->pos < s->size - 4) return -1;
    const uint8_t* src =
        inHead ? s->head.data() + s->pos : s->footer.data() + (s->pos - (s->size - 4));
    int64_t k =
        std::min<int64_t>(int64_t(n), inHead ? int64_t(s->head.size()) - s->pos : s->size - s->pos);
    std::memcpy(dst, src, size_t(k));
    s->pos += k;
    return k;
}
int64_t huge_tell(cIO* io) {
    return reinterpret_cast<HugeStream*>(io)->pos;
}
int64_t huge_seek(cIO* io, int64_t off, int32_t origin) {
    auto* s = reinterpret_cast<HugeStream*>(io);
    int64_t t = origin == 0 ? off : origin == 1 ? s->pos + off : s->size + off;
    return (t < 0 || t > s->size) ? -1 : (s->pos = t);
}
const cIO_vtable hugeVt = {huge_read, nullptr, huge_tell, huge_seek, nullptr};

} // namespace

TEST(ContainerHeader, FieldsInFileOrderAndShortOrForeignFiles) {
    const Bytes good = {'G', 'e', 'n', 'e',  'r', 'i',  'c',  ' ',  'F',  'i', 'l',
                        'e', 1,   1,   0x22, 1,   0x12, 0x34, 0x56, 0x78, 0xAA};
    cGenericFile h{};
    cIO* m = memoryOf(good);
    ASSERT_TRUE(cGenericFile_readHeader(m, &h));
    EXPECT_EQ(h.type, cGenericFile_TYPE_COMPRESSED);
    EXPECT_EQ(h.version, 1);
    EXPECT_EQ(h.flag + h.footerFlag, 2);
    EXPECT_EQ(h.serialNumber, 0x12345678u);
    EXPECT_EQ(cIO_tell(m), 20);
    cIO_close(m);
    Bytes badMagic = good;
    badMagic[11] = 'E';
    for (const Bytes& bad : {Bytes(good.begin(), good.begin() + 19), Bytes{}, badMagic}) {
        m = memoryOf(bad);
        EXPECT_FALSE(cGenericFile_readHeader(m, &h)) << bad.size();
        cIO_close(m);
    }
    EXPECT_FALSE(cGenericFile_readHeader(nullptr, &h));
}

TEST(CompressedContainer, RoundTripsWithAndWithoutFooter) {
    const Bytes plain = sampleData(200000, 1);
    for (auto [W, L] : {std::pair<uint8_t, uint8_t>{4, 3}, {8, 4}, {11, 4}, {15, 14}}) {
        for (bool footer : {true, false}) {
            Bytes file = compressed(plain, W, L, footer);
            EXPECT_EQ(file[12] + file[13], footer ? 2 : 0);
            EXPECT_EQ(unwrap(file), plain) << int(W) << "/" << int(L) << " footer " << footer;
        }
    }
    EXPECT_EQ(unwrap(compressed({})), Bytes{});
}

TEST(CompressedContainer, RefusedHeadersAndParametersFailWithoutALogLine) {
    const Bytes plain = sampleData(5000, 2), file = compressed(plain, 8, 4); // window 00 00 01 00
    const std::pair<const char*, Patch> cases[] = {
        {"type", [](Bytes&, cGenericFile& h) { h.type = 0x23; }},
        {"version", [](Bytes&, cGenericFile& h) { h.version = 2; }},
        {"flag 1 footer 0", [](Bytes&, cGenericFile& h) { h.footerFlag = 0; }},
        {"flag 0 footer 1", [](Bytes&, cGenericFile& h) { h.flag = 0; }},
        {"flags 2", [](Bytes&, cGenericFile& h) { h.flag = h.footerFlag = 2; }},
        {"window field 0", [](Bytes& b, cGenericFile&) { b[26] = 0; }},
        {"window 2^16", [](Bytes& b, cGenericFile&) { b[25] = 1, b[26] = 0; }},
        {"window 2^3", [](Bytes& b, cGenericFile&) { b[26] = 0, b[27] = 8; }},
        {"lookahead = W", [](Bytes& b, cGenericFile&) { b[23] = 8; }},
        {"lookahead 2", [](Bytes& b, cGenericFile&) { b[23] = 2; }},
        {"27 bytes", [](Bytes& b, cGenericFile&) { b.resize(27); }},
    };
    for (auto [what, patch] : cases) {
        Bytes b = file;
        cGenericFile h = headerOf(file);
        patch(b, h);
        LogCapture log;
        EXPECT_EQ(unwrap(b, "", h), std::nullopt) << what;
        EXPECT_TRUE(logLines.empty()) << what;
    }
    Bytes high = file; // only the low byte of the lookahead field counts
    high[20] = high[21] = high[22] = 0xFF;
    EXPECT_EQ(unwrap(high), plain);
}

TEST(CompressedContainer, FooterChecks) {
    const Bytes plain = sampleData(30000, 3), file = compressed(plain, 10, 5);
    {
        LogCapture log;
        Bytes bad = file;
        bad.back() ^= 0x01;
        EXPECT_EQ(unwrap(bad), std::nullopt);
        const size_t n = bad.size();
        uint32_t stored =
            uint32_t(bad[n - 4]) << 24 | bad[n - 3] << 16 | bad[n - 2] << 8 | bad[n - 1];
        char expect[80];
        std::snprintf(expect, sizeof expect,
                      "Could not validate checksum, expected %08X but found %08X", stored,
                      stored ^ 1);
        EXPECT_TRUE(log.has(expect));
        bad[12] = bad[13] = 0; // the same bytes without the flags: taken without a check
        auto out = unwrap(bad);
        ASSERT_TRUE(out.has_value());
        EXPECT_EQ(Bytes(out->begin(), out->begin() + plain.size()), plain);
    }
    for (size_t cut : {size_t(1), size_t(5), file.size() / 2}) {
        LogCapture log;
        EXPECT_EQ(unwrap(Bytes(file.begin(), file.end() - cut)), std::nullopt) << cut;
        EXPECT_TRUE(log.has("Could not validate checksum")) << cut;
    }
    for (size_t size : {size_t(28), size_t(31)}) {
        LogCapture log;
        EXPECT_EQ(unwrap(Bytes(file.begin(), file.begin() + size)), std::nullopt) << size;
        EXPECT_TRUE(log.has("Expected to read out CRC from footer, but found none")) << size;
    }
    Bytes empty(file.begin(), file.begin() + 28); // empty payload: the register's start value
    empty.insert(empty.end(), 4, 0xFF);
    EXPECT_EQ(unwrap(empty), Bytes{});
}

TEST(CompressedContainer, DecompressionBombStopsAtTheOutputLimit) {
    const Bytes zeros(3 << 20, 0), file = compressed(zeros, 12, 11);
    ASSERT_LT(file.size(), zeros.size() / 100);
    const uint64_t previous = cGenericFile_setOutputLimit(1 << 20);
    {
        LogCapture log;
        EXPECT_EQ(unwrap(file), std::nullopt);
        EXPECT_TRUE(log.has("Unwrapped data exceeds the limit of 1048576 bytes"));
    }
    cGenericFile_setOutputLimit(zeros.size()); // exactly enough
    EXPECT_EQ(unwrap(file), zeros);
    const Bytes enc = encrypted(zeros, "pw", 1);
    EXPECT_EQ(unwrap(enc), zeros);
    cGenericFile_setOutputLimit(zeros.size() - 1);
    EXPECT_EQ(unwrap(enc), std::nullopt);
    cGenericFile_setOutputLimit(0); // back to the default: half the memory, 16 GiB at most
    EXPECT_EQ(cGenericFile_getOutputLimit(), previous);
    EXPECT_LE(previous, cGenericFile_DEFAULT_OUTPUT_LIMIT);
}

TEST(CompressedContainer, PayloadEndIsNotCutTo32BitsAndReadErrorsFail) {
    for (bool footer : {true, false}) {
        const Bytes file = compressed(sampleData(4000, 4), 8, 4, footer);
        HugeStream s{{&hugeVt}, Bytes(file.begin(), file.begin() + 56), {}};
        uint32_t reg = 0xFFFFFFFFu; // JAMCRC of payload bytes 28 .. 55
        for (size_t i = 28; i < 56; i++) {
            reg ^= file[i];
            for (int k = 0; k < 8; k++)
                reg = (reg & 1) ? 0xEDB88320u ^ (reg >> 1) : reg >> 1;
        }
        s.footer = {uint8_t(reg >> 24), uint8_t(reg >> 16), uint8_t(reg >> 8), uint8_t(reg)};
        const cGenericFile h = headerOf(file);
        LogCapture log;
        EXPECT_EQ(cGenericFile_compressed_open(&s.base, &h), nullptr) << footer;
        EXPECT_TRUE(log.has("Could not read compressed data")) << footer;
    }
}

TEST(EncryptedContainer, RoundTripsForSizesAndIterationCounts) {
    const struct {
        size_t size;
        uint32_t iterations;
        std::string password;
    } cases[] = {{0, 1, "pw"},   {1, 1000, "pw"}, {511, 1, "secret"},
                 {512, 2, "pw"}, {513, 5000, ""}, {100000, 20000, "a longer pass phrase"}};
    for (const auto& c : cases) {
        const Bytes plain = sampleData(c.size, uint32_t(c.size));
        const Bytes file = encrypted(plain, c.password, c.iterations);
        ASSERT_EQ(file.size(), c.size + 68);
        EXPECT_EQ(unwrap(file, c.password), plain) << c.size;
        EXPECT_EQ(unwrap(file, c.password + "x"), std::nullopt) << c.size;
    }
    EXPECT_EQ(unwrap(encrypted({1, 2, 3}, "pw", 10, 1)), (Bytes{1, 2, 3})); // first flag 1
    EXPECT_NE(encrypted({}, "pw"), encrypted({}, "pw")); // a fresh vector and salt each time
}

TEST(EncryptedContainer, DamagedRefusedAndShortFilesFail) {
    const Bytes file = encrypted(sampleData(700, 5), "pw", 100);
    const cGenericFile good = headerOf(file);
    // Any changed byte of the authenticated head, the ciphertext or the tag.
    std::vector<size_t> positions = {52, 53, 563, 751};
    for (size_t i = 0; i < 52; i++)
        positions.push_back(i);
    for (size_t i = file.size() - 16; i < file.size(); i++)
        positions.push_back(i);
    for (size_t i : positions) {
        Bytes bad = file;
        bad[i] ^= 0x01;
        EXPECT_EQ(unwrap(bad, "pw", good), std::nullopt) << "byte " << i;
    }
    const std::pair<const char*, Patch> cases[] = {
        {"first flag 2", [](Bytes&, cGenericFile& h) { h.flag = 2; }},
        {"footer flag 1", [](Bytes&, cGenericFile& h) { h.footerFlag = 1; }},
        {"version", [](Bytes&, cGenericFile& h) { h.version = 0; }},
        {"60 bytes", [](Bytes& b, cGenericFile&) { b.resize(60); }},
        {"67 bytes", [](Bytes& b, cGenericFile&) { b.resize(67); }},
        {"51 bytes", [](Bytes& b, cGenericFile&) { b.resize(51); }},
        {"one byte short", [](Bytes& b, cGenericFile&) { b.pop_back(); }},
        {"one byte more", [](Bytes& b, cGenericFile&) { b.push_back(0); }},
    };
    for (auto [what, patch] : cases) {
        Bytes b = file;
        cGenericFile h = good;
        patch(b, h);
        EXPECT_EQ(unwrap(b, "pw", h), std::nullopt) << what;
    }
    // A hostile iteration count is refused before any key derivation.
    Bytes hostile = file;
    std::fill(hostile.begin() + 32, hostile.begin() + 36, 0xFF);
    LogCapture log;
    EXPECT_EQ(unwrap(hostile), std::nullopt);
    EXPECT_TRUE(log.has("Key derivation iteration count 4294967295 exceeds the limit of 10000000"));
}

TEST(NestedContainers, CompressedInsideEncryptedAndTheOtherWayRound) {
    const Bytes plain = sampleData(50000, 8);
    for (const Bytes& file :
         {encrypted(compressed(plain), "pw"), compressed(encrypted(plain, "pw"))}) {
        Bytes cur = file;
        int layers = 0;
        for (bool container = true; headerOf(cur, &container), container && layers < 5;) {
            auto next = unwrap(cur);
            ASSERT_TRUE(next.has_value());
            cur = *next;
            layers++;
        }
        EXPECT_EQ(layers, 2);
        EXPECT_EQ(cur, plain);
    }
}

TEST(ContainerWriterFiles, StreamingWritersMatchTheReaders) {
    const Bytes plain = sampleData((5 << 20) / 2 + 123, 9); // several of the writers' pieces
    const std::string src = ::testing::TempDir() + "/kv_cont_plain", dst = src + ".packed";
    auto readFile = [](const std::string& path) {
        std::ifstream f(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    };
    std::ofstream(src, std::ios::binary)
        .write(reinterpret_cast<const char*>(plain.data()), std::streamsize(plain.size()));
    cContainerWriter_compressOptions co;
    ASSERT_TRUE(cContainerWriter_compressFile(src.c_str(), dst.c_str(), &co));
    EXPECT_EQ(unwrap(readFile(dst)), plain);
    cContainerWriter_encryptOptions eo;
    eo.password = "pw";
    ASSERT_TRUE(cContainerWriter_encryptFile(src.c_str(), dst.c_str(), &eo));
    EXPECT_EQ(unwrap(readFile(dst)), plain);
    co.windowBits = 3; // refused: no output is left behind
    EXPECT_FALSE(cContainerWriter_compressFile(src.c_str(), dst.c_str(), &co));
    EXPECT_EQ(readFile(dst), Bytes{});
    std::remove(src.c_str());
}
