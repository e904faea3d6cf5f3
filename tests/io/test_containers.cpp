#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>

#include "io/cGenericFile.h"
#include "io/cGenericFileCompressed.h"
#include "io/cGenericFileEncrypted.h"
#include "io/cMemoryBudget.h"
#include "io/crc32.h"
#include "io_test_support.h"
#include "tests/io/container_bomb.h"
#include "tools/cContainerWriter.h"

namespace {

using namespace std::literals;

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

std::optional<cGenericFile> headerOf(const Bytes& file) {
    cGenericFile h{};
    cIO* m = memoryOf(file);
    const bool ok = cGenericFile_readHeader(m, &h);
    EXPECT_EQ(cIO_close(m), 0);
    return ok ? std::optional(h) : std::nullopt;
}

// Opens as the driver does (input closed at once); what it holds, nullopt when the open fails.
std::optional<Bytes> unwrap(const Bytes& file, const std::string& password = "pw",
                            std::optional<cGenericFile> header = std::nullopt,
                            cGenericFile_budget* budget = nullptr) {
    const cGenericFile h = header ? *header : *headerOf(file);
    cIO* in = memoryOf(file);
    const bool encrypted = h.type == cGenericFile_TYPE_ENCRYPTED;
    cIO* c = encrypted
                 ? cGenericFile_encrypted_open(in, &h, password.data(), password.size(), budget)
                 : cGenericFile_compressed_open(in, &h, budget);
    EXPECT_EQ(cIO_close(in), 0);
    if (c == nullptr) return std::nullopt;
    Bytes out(size_t(cIO_tell(c))), past(1); // handed out positioned at the end
    EXPECT_EQ(cIO_seek(c, 0, cIO_SEEK_SET), 0);
    EXPECT_EQ(cIO_read(c, out.data(), out.size()), int64_t(out.size()));
    EXPECT_EQ(cIO_read(c, past.data(), 1), 0);
    if (const uint8_t* data = cIO_fetch(c, 0, out.size()))
        EXPECT_EQ(Bytes(data, data + out.size()), out);
    else
        EXPECT_TRUE(out.empty());
    EXPECT_EQ(cIO_fetch(c, 1, out.size()), nullptr);
    // The content is read-only, so what was fetched stays where it is.
    EXPECT_TRUE(cIO_fetchStays(c));
    EXPECT_EQ(cIO_write(c, "x", 1), cIO_UNSUPPORTED);
    EXPECT_EQ(cIO_seek(c, 1, cIO_SEEK_END), -1); // growing it would move the fetched bytes
    EXPECT_EQ(cIO_seek(c, int64_t(out.size()) + 1, cIO_SEEK_SET), -1);
    EXPECT_EQ(cIO_close(c), 0);
    return out;
}

// The open fails and says so in the log.
bool failsLogging(const Bytes& file, const std::string& text,
                  cGenericFile_budget* budget = nullptr) {
    bool failed = false;
    return logOf([&] { failed = !unwrap(file, "pw", std::nullopt, budget); }).find(text) !=
               std::string::npos &&
           failed;
}

// 2^32 + 60 bytes: a real head (0..55) and footer, read errors between; a payload end cut to
// 32 bits would see 28 bytes of payload and a matching footer.
struct HugeStream {
    cIO base{&vt};
    Bytes ends; // bytes 0..55, then the footer
    int64_t size = (int64_t(1) << 32) + 60, pos = 0;
    static HugeStream* of(cIO* io) { return reinterpret_cast<HugeStream*>(io); }
    static int64_t read(cIO* io, void* dst, uint64_t n) {
        HugeStream* s = of(io);
        const bool head = s->pos < 56;
        if (!head && s->pos < s->size - 4) return -1;
        const int64_t k = std::min<int64_t>(n, (head ? 56 : s->size) - s->pos);
        std::memcpy(dst, s->ends.data() + (head ? s->pos : s->pos - (s->size - 60)), size_t(k));
        return s->pos += k, k;
    }
    static int64_t tell(cIO* io) { return of(io)->pos; }
    static int64_t seek(cIO* io, int64_t off, int32_t origin) {
        HugeStream* s = of(io);
        int64_t t = origin == 0 ? off : origin == 1 ? s->pos + off : s->size + off;
        return (t < 0 || t > s->size) ? -1 : (s->pos = t);
    }
    static constexpr cIO_vtable vt = {read, nullptr, tell, seek, nullptr};
};

} // namespace

TEST(Containers, RoundTripWithAndWithoutFooterAndForSizesAndIterationCounts) {
    const Bytes plain = sampleData(200000, 1);
    for (auto [W, L] : {std::pair<uint8_t, uint8_t>{4, 3}, {8, 4}, {11, 4}, {15, 14}}) {
        for (bool footer : {true, false}) {
            Bytes file = compressed(plain, W, L, footer);
            EXPECT_EQ(file[12] + file[13], footer ? 2 : 0);
            EXPECT_EQ(unwrap(file), plain) << int(W) << "/" << int(L) << " footer " << footer;
        }
    }
    EXPECT_EQ(unwrap(compressed({})), Bytes{});
    Bytes high = compressed(plain, 8, 4); // only the low byte of the lookahead field counts
    high[20] = high[21] = high[22] = 0xFF;
    EXPECT_EQ(unwrap(high), plain);
    // Encrypted: sizes around the 512-byte block, iteration counts, a wrong password.
    const std::tuple<size_t, uint32_t, std::string> cases[] = {
        {0, 1, "pw"}, {511, 1, "secret"}, {512, 2, "pw"}, {513, 5000, ""}, {100000, 20000, "pass"}};
    for (const auto& [size, iterations, password] : cases) {
        const Bytes clear = sampleData(size, uint32_t(size)),
                    sealed = encrypted(clear, password, iterations);
        ASSERT_EQ(sealed.size(), size + 68);
        EXPECT_EQ(unwrap(sealed, password), clear) << size;
        EXPECT_EQ(unwrap(sealed, password + "x"), std::nullopt) << size;
    }
    EXPECT_EQ(unwrap(encrypted({1, 2, 3}, "pw", 10, 1)), (Bytes{1, 2, 3})); // first flag 1
    EXPECT_NE(encrypted({}, "pw"), encrypted({}, "pw")); // a fresh vector and salt each time
}

// Refused header fields and parameters, damaged and short files, each against a sound file of
// its kind. The compressed container refuses without a log line.
TEST(Containers, RefusedHeadersAndDamagedFilesFail) {
    const Bytes packed = compressed(sampleData(5000, 2), 8, 4); // window 00 00 01 00
    const Bytes sealed = encrypted(sampleData(700, 5), "pw", 100);
    // Puts bytes at an offset and cuts or pads the file to a size (0: as it is). Below offset
    // 20 only the header handed to the open changes, not the bytes.
    auto refused = [&](bool enc, size_t at, std::string_view put, size_t size) {
        Bytes b = enc ? sealed : packed, patched = b;
        std::copy(put.begin(), put.end(), patched.begin() + at);
        if (at >= 20) b = patched;
        if (size != 0) b.resize(size);
        bool failed = false;
        const std::string log = logOf([&] { failed = !unwrap(b, "pw", *headerOf(patched)); });
        return failed && (enc || log.empty());
    };
    ASSERT_FALSE(refused(false, 0, {}, 0) || refused(true, 0, {}, 0)); // the sound files open
    // Compressed: type, version, flag pairs 1/0, 0/1 and 2/2, window fields 0, 2^16 and 2^3,
    // lookahead = W and 2. Encrypted: first flag 2, footer flag 1, version 0.
    const std::tuple<bool, size_t, std::string_view> patches[] = {
        {false, 14, "\x23"sv},     {false, 15, "\x02"sv},       {false, 13, "\0"sv},
        {false, 12, "\0"sv},       {false, 12, "\2\2"sv},       {false, 24, "\0\0\0\0"sv},
        {false, 24, "\0\1\0\0"sv}, {false, 24, "\0\0\0\x08"sv}, {false, 20, "\0\0\0\x08"sv},
        {false, 20, "\0\0\0\2"sv}, {true, 12, "\2"sv},          {true, 13, "\1"sv},
        {true, 15, "\0"sv}};
    for (auto [enc, at, put] : patches)
        EXPECT_TRUE(refused(enc, at, put, 0)) << enc << " at " << at;
    // Short files, and the 768 encrypted bytes one short and one more.
    const std::pair<bool, size_t> sizes[] = {{false, 27}, {true, 60},  {true, 67},
                                             {true, 51},  {true, 767}, {true, 769}};
    for (auto [enc, size] : sizes)
        EXPECT_TRUE(refused(enc, 0, {}, size)) << enc << " size " << size;
    // Any changed byte of the authenticated head, the ciphertext or the tag.
    const cGenericFile good = *headerOf(sealed);
    for (size_t i = 0; i < sealed.size(); i++) {
        if (i >= 54 && i != 563 && i < sealed.size() - 17) continue;
        Bytes bad = sealed;
        bad[i] ^= 0x01;
        EXPECT_EQ(unwrap(bad, "pw", good), std::nullopt) << "byte " << i;
    }
    // A hostile iteration count is refused before any key derivation.
    Bytes hostile = sealed;
    std::fill(hostile.begin() + 32, hostile.begin() + 36, 0xFF);
    EXPECT_TRUE(failsLogging(hostile, "Key derivation iteration count 4294967295 exceeds the "
                                      "10000000 left of the limit of 10000000"));
}

TEST(CompressedContainer, FooterChecks) {
    const Bytes plain = sampleData(30000, 3), file = compressed(plain, 10, 5);
    Bytes bad = file;
    const size_t n = bad.size();
    bad.back() ^= 0x01;
    EXPECT_TRUE(failsLogging(bad, "Could not validate checksum"));
    bad[12] = bad[13] = 0; // the same bytes without the flags: taken without a check
    auto out = unwrap(bad);
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(Bytes(out->begin(), out->begin() + plain.size()), plain);
    for (size_t size : {n - 1, n - 5, n - n / 2, size_t(28), size_t(31)})
        EXPECT_TRUE(failsLogging(Bytes(file.begin(), file.begin() + size),
                                 size < 32 ? "Expected to read out CRC from footer, but found none"
                                           : "Could not validate checksum"))
            << size;
    Bytes empty(file.begin(), file.begin() + 28); // empty payload: the register's start value
    empty.insert(empty.end(), 4, 0xFF);
    EXPECT_EQ(unwrap(empty), Bytes{});
}

// Content far beyond the room first reserved (8 times the file) grows its block without
// losing a byte, and what the container holds is exactly its content.
TEST(CompressedContainer, ContentFarBeyondEightTimesItsSizeIsWhole) {
    const Bytes file = containerBomb("MDF     ", uint64_t(48) << 20);
    ASSERT_LT(file.size() * 1000, uint64_t(48) << 20);
    cMemoryBudget* memory = cMemoryBudget_ctor(uint64_t(1) << 30);
    cGenericFile_budget budget{.memory = memory};
    const std::optional<Bytes> content = unwrap(file, "pw", std::nullopt, &budget);
    ASSERT_TRUE(content);
    EXPECT_GE(content->size(), uint64_t(48) << 20);
    EXPECT_EQ((content->size() - 9) % 16384, 0u);
    EXPECT_EQ(std::string(content->begin(), content->begin() + 8), "MDF     ");
    EXPECT_TRUE(std::all_of(content->begin() + 8, content->end(), [](uint8_t b) { return !b; }));
    EXPECT_EQ(cMemoryBudget_held(memory), content->size()); // kept for the next container
    cMemoryBudget_releaseKept(memory);
    EXPECT_EQ(cMemoryBudget_held(memory), 0u);
    cMemoryBudget_dtor(memory);
}

// A bomb stops where the memory budget ends; a container whose content fits (with a chunk of
// room for the decoder) opens. Nothing stays held after a failure.
TEST(CompressedContainer, DecompressionBombStopsAtTheBudget) {
    const Bytes zeros(3 << 20, 0), file = compressed(zeros, 12, 11);
    ASSERT_LT(file.size(), zeros.size() / 100);
    auto withLimit = [](uint64_t limit, const std::function<void(cGenericFile_budget*)>& f) {
        cMemoryBudget* memory = cMemoryBudget_ctor(limit);
        cGenericFile_budget budget{.memory = memory};
        f(&budget);
        EXPECT_EQ(cMemoryBudget_held(memory), 0u);
        cMemoryBudget_dtor(memory);
    };
    withLimit(1 << 20, [&](cGenericFile_budget* b) {
        EXPECT_TRUE(failsLogging(file, "would pass the memory budget of 1048576 bytes", b));
    });
    withLimit(zeros.size() + (256 << 10), [&](cGenericFile_budget* b) {
        EXPECT_EQ(unwrap(file, "pw", std::nullopt, b), zeros);
    });
    withLimit(zeros.size() - 1, [&](cGenericFile_budget* b) {
        EXPECT_EQ(unwrap(encrypted(zeros, "pw", 1), "pw", std::nullopt, b), std::nullopt);
    });
    withLimit(zeros.size(), [&](cGenericFile_budget* b) {
        EXPECT_EQ(unwrap(encrypted(zeros, "pw", 1), "pw", std::nullopt, b), zeros);
    });
}

TEST(CompressedContainer, PayloadEndIsNotCutTo32BitsAndReadErrorsFail) {
    for (bool footer : {true, false}) {
        const Bytes file = compressed(sampleData(4000, 4), 8, 4, footer);
        HugeStream s;
        s.ends.assign(file.begin(), file.begin() + 56);
        const uint32_t reg = update_crc_32_buffer(0xFFFFFFFFu, &file[28], 28); // payload 28..55
        s.ends.insert(s.ends.end(),
                      {uint8_t(reg >> 24), uint8_t(reg >> 16), uint8_t(reg >> 8), uint8_t(reg)});
        const cGenericFile h = *headerOf(file);
        EXPECT_NE(logOf([&] {
                      EXPECT_FALSE(cGenericFile_compressed_open(&s.base, &h));
                  }).find("Could not read compressed data"),
                  std::string::npos);
    }
}
