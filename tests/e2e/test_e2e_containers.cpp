// Compressed and encrypted logs, alone and nested, through the real binary: each converts
// to the trace of its plain file, and each kind of failure gets its message and code.

#include <gtest/gtest.h>

#include "e2e_support.h"
#include "tools/cContainerWriter.h"

namespace {

std::vector<uint8_t> plainLog(uint32_t split) {
    const uint8_t bytes[] = {0xDE, 0xAD, 0xBE, 0xEF, 0x01};
    cMdfWriterGroup data, remote;
    for (int i = 0; i < 50; ++i) {
        cMdfWriterFrame f = cMdfWriterFrame_can(i * 0.01, 1, 0x100 + i, i % 2 == 1, bytes, 5);
        data.frames.push_back(f);
    }
    remote.frames.push_back(cMdfWriterFrame_remote(0.255, 2, 0x42, false, 2));
    cMdfWriterOptions o;
    o.serialNumber = "0000ABCD";
    o.session = 1;
    o.split = split;
    std::vector<cMdfWriterGroup> groups = {data, remote};
    std::vector<uint8_t> file = cMdfWriter_writeMemory(&o, &groups);
    EXPECT_FALSE(file.empty());
    return file;
}

std::vector<uint8_t> compress(const std::vector<uint8_t>& in, bool footer = true) {
    cContainerWriter_compressOptions o;
    o.serialNumber = 0x0000ABCD;
    o.footer = footer;
    std::vector<uint8_t> out;
    EXPECT_TRUE(cContainerWriter_compress(in.data(), in.size(), &o, &out));
    return out;
}

std::vector<uint8_t> encrypt(const std::vector<uint8_t>& in, const std::string& password) {
    cContainerWriter_encryptOptions o;
    o.serialNumber = 0x0000ABCD;
    o.password = password;
    o.iterations = 100;
    std::vector<uint8_t> out;
    EXPECT_TRUE(cContainerWriter_encrypt(in.data(), in.size(), &o, &out));
    return out;
}

} // namespace

TEST(EndToEndContainers, EveryWrappingConvertsToThePlainTrace) {
    e2e_tempDir dir;
    e2e_mkdirs(dir / "plain");
    e2e_mkdirs(dir / "wrapped");
    // Each file gets its own split so that none is taken for a repeat of the one before.
    std::vector<uint8_t> logs[5];
    for (uint32_t i = 0; i < 5; ++i)
        logs[i] = plainLog(i + 1);
    for (uint32_t i = 0; i < 5; ++i)
        e2e_writeBytes(dir / ("plain/" + std::to_string(i) + ".mf4"), logs[i]);
    e2e_writeBytes(dir / "wrapped/0.mf4", logs[0]);
    e2e_writeBytes(dir / "wrapped/1.mf4", compress(logs[1]));
    e2e_writeBytes(dir / "wrapped/2.mf4", encrypt(logs[2], "s3cret\\pw"));
    e2e_writeBytes(dir / "wrapped/3.mf4", encrypt(compress(logs[3], false), "s3cret\\pw"));
    e2e_writeBytes(dir / "wrapped/4.mf4", compress(encrypt(logs[4], "s3cret\\pw")));
    e2e_writeFile(dir / "pw.json", "{\n  \"0000ABCD\": \"s3cret\\pw\"\n}\n");

    e2e_run plain = e2e_runKelvane({"plain"}, dir.path);
    ASSERT_EQ(plain.status, 0) << plain.err;
    e2e_run wrapped = e2e_runKelvane({"-p", "pw.json", "wrapped"}, dir.path);
    ASSERT_EQ(wrapped.status, 0) << wrapped.err;
    EXPECT_EQ(e2e_countLines(wrapped.err, "I Found compressed file"), 3);
    EXPECT_EQ(e2e_countLines(wrapped.err, "I Found encrypted file"), 3);
    for (int i = 0; i < 5; ++i) {
        std::string name = std::to_string(i) + "_CAN.trc";
        std::string expected = e2e_readFile(dir / ("plain_out/" + name));
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(e2e_readFile(dir / ("wrapped_out/" + name)), expected) << name;
    }
}

TEST(EndToEndContainers, PasswordLookupFallsBackToDefault) {
    e2e_tempDir dir;
    e2e_mkdirs(dir / "in");
    e2e_writeBytes(dir / "in/a.mfe", encrypt(plainLog(1), "fallback"));
    e2e_writeFile(dir / "pw.json",
                  "{ \"default\": \"fallback\", \"0000abcd\": \"lower-case key\" }");
    e2e_run run = e2e_runKelvane({"--password-file=pw.json", "in"}, dir.path);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(e2e_countLines(run.err, "I 2 password(s) loaded"), 1);
    EXPECT_TRUE(e2e_exists(dir / "in_out/a_CAN.trc"));
}

TEST(EndToEndContainers, FailuresGiveTheirCodesAndKeepTheInputs) {
    e2e_tempDir dir;
    e2e_mkdirs(dir / "in");
    std::vector<uint8_t> good = compress(plainLog(1));
    std::vector<uint8_t> badCrc = good;
    badCrc.back() ^= 0x01;
    e2e_writeBytes(dir / "in/1.mfc", badCrc);
    e2e_writeBytes(dir / "in/2.mfe", encrypt(plainLog(2), "right"));
    std::vector<uint8_t> tampered = encrypt(plainLog(3), "other");
    tampered[60] ^= 0x80;
    e2e_writeBytes(dir / "in/3.mfe", tampered);
    e2e_writeFile(dir / "pw.json", "{ \"0000ABCD\": \"other\" }");

    e2e_run run = e2e_runKelvane({"-d", "-p", "pw.json", "in"}, dir.path);
    EXPECT_EQ(run.status, 2 | 4) << run.err;
    EXPECT_EQ(e2e_countLines(run.err, "E Could not validate checksum"), 1);
    EXPECT_EQ(e2e_countLines(run.err, "E Could not decompress file"), 1);
    EXPECT_EQ(e2e_countLines(run.err, "E Could not decrypt file"), 2);
    for (const char* kept : {"in/1.mfc", "in/2.mfe", "in/3.mfe"})
        EXPECT_TRUE(e2e_exists(dir / kept));
    EXPECT_FALSE(e2e_exists(dir / "in_out/1_CAN.trc"));

    // Without any password file, encrypted inputs name their device.
    e2e_run none = e2e_runKelvane({"in/2.mfe"}, dir.path);
    EXPECT_EQ(none.status, 2) << none.err;
    EXPECT_EQ(e2e_countLines(none.err, "I 0 password(s) loaded"), 1);
    EXPECT_EQ(e2e_countLines(none.err, "E No password found for device 0000ABCD"), 1);
}
