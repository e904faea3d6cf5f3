// The block model: header recognition, the tree load through the offset cache, the per-type
// fields and accessors, and the loader's behaviour on damaged images.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mdf/cMdfBlock.h"
#include "mdf/cMdfBlock_CC.h"
#include "mdf/cMdfBlock_CG.h"
#include "mdf/cMdfBlock_CN.h"
#include "mdf/cMdfBlock_DG.h"
#include "mdf/cMdfBlock_DT.h"
#include "mdf/cMdfBlock_FH.h"
#include "mdf/cMdfBlock_HD.h"
#include "mdf/cMdfBlock_ID.h"
#include "mdf/cMdfBlock_MD.h"
#include "mdf/cMdfBlock_SD.h"
#include "mdf/cMdfBlock_SI.h"
#include "mdf/cMdfBlock_TX.h"
#include "support/log.h"
#include "test_blocks_builder.h"

namespace {

std::vector<std::string> gLines;
void captureLine(const char* line, int length) {
    gLines.emplace_back(line, length);
}

struct LogCapture {
    LogCapture() {
        gLines.clear();
        zf_log_set_output_callback(captureLine);
    }
    ~LogCapture() { zf_log_set_output_callback(nullptr); }
    bool has(const std::string& text) const {
        for (const std::string& l : gLines)
            if (l.find(text) != std::string::npos) return true;
        return false;
    }
};

// Loads the image's tree; the stream is closed before returning (blocks keep no data).
carc_cMdfBlock loadTree(const TestMdf& mdf) {
    cIO* io = mdf.stream();
    carc_cMdfBlock root = cMdfBlock_loadTree(io);
    cIO_close(io);
    return root;
}

const cMdfBlock_HD_obj_t* hdOf(const carc_cMdfBlock& root) {
    const cMdfBlock_ID_obj_t* id = carc_cMdfBlock_to_cMdfBlock_ID_obj_t(root);
    return id ? carc_cMdfBlock_to_cMdfBlock_HD_obj_t(id->hd) : nullptr;
}

TEST(BlockHeader, RecognisesIdsAndRejectsOthers) {
    struct Case {
        std::string bytes;
        cMdfBlockType type;
        const char* message;
    } cases[] = {
        {"##HD", MDF_BLOCK_HD, nullptr},
        {"##TX", MDF_BLOCK_TX, nullptr},
        {"##SD", MDF_BLOCK_SD, nullptr},
        {"##CG", MDF_BLOCK_CG, nullptr},
        {"##DL", MDF_BLOCK_NONE, "Unable to load block header for type ##DL"},
        {"##DZ", MDF_BLOCK_NONE, "Unable to load block header for type ##DZ"},
        {"MDF     ", MDF_BLOCK_ID, nullptr},
        {"UnFinMF ", MDF_BLOCK_ID, nullptr},
        {"MDF4    ", MDF_BLOCK_NONE, "Unable to load block header for type MDF4"},
    };
    for (const Case& c : cases) {
        LogCapture log;
        TestBytes b;
        b.str(c.bytes).zeros(8 - (c.bytes.size() % 8 ? c.bytes.size() % 8 : 8)).u64(1000).u64(3);
        b.v.resize(24);
        cIO* io = TestMdf::memStream(b.v);
        cMdfBlockHeader h{};
        bool ok = cMdfBlockHeader_load(io, &h);
        EXPECT_EQ(ok, c.type != MDF_BLOCK_NONE) << c.bytes;
        if (ok) {
            EXPECT_EQ(h.type, c.type) << c.bytes;
            bool isId = c.type == MDF_BLOCK_ID;
            EXPECT_EQ(h.length, isId ? 64u : 1000u) << c.bytes;
            EXPECT_EQ(h.linkCount, isId ? 0u : 3u) << c.bytes;
            EXPECT_EQ(cIO_tell(io), isId ? 0 : 24) << c.bytes;
        }
        if (c.message) EXPECT_TRUE(log.has(c.message)) << c.bytes;
        cIO_close(io);
    }
}

TEST(BlockHeader, ShortReadFailsSilentlyAndDataSizeNeverWraps) {
    LogCapture log;
    std::vector<uint8_t> shortHeader = {'#', '#', 'H', 'D', 0, 0, 0, 0, 9};
    cIO* io = TestMdf::memStream(shortHeader);
    cMdfBlockHeader h{};
    EXPECT_FALSE(cMdfBlockHeader_load(io, &h));
    EXPECT_TRUE(gLines.empty());
    cIO_close(io);

    cMdfBlockHeader dt{MDF_BLOCK_DT, 4024, 0};
    EXPECT_EQ(cMdfBlockHeader_getDataSize(&dt), 4000u);
    cMdfBlockHeader cn{MDF_BLOCK_CN, 160, 8};
    EXPECT_EQ(cMdfBlockHeader_getDataSize(&cn), 72u);
    cMdfBlockHeader bad{MDF_BLOCK_CN, 40, 8};
    EXPECT_EQ(cMdfBlockHeader_getDataSize(&bad), 0u);
}

TEST(BlockTree, FileHistoryChainInOrderAndStartTime) {
    TestMdf m;
    m.hd(0, 0, 0, 1600000000000000000ull);
    uint64_t c3 = m.md("<FHcomment>3</FHcomment>");
    uint64_t f3 = m.fh(0, c3);
    uint64_t c2 = m.md("<FHcomment>2</FHcomment>");
    uint64_t f2 = m.fh(f3, c2);
    uint64_t c1 = m.tx("one");
    uint64_t f1 = m.fh(f2, c1);
    m.setLink(64, 1, f1);
    carc_cMdfBlock root = loadTree(m);
    const cMdfBlock_HD_obj_t* hd = hdOf(root);
    ASSERT_NE(hd, nullptr);
    EXPECT_EQ(cMdfBlock_HD_getStartTimeNs(hd), 1600000000000000000ull);
    ASSERT_EQ(hd->fileHistories.size(), 3u);
    uint64_t expected[] = {f1, f2, f3};
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(hd->fileHistories[i]->position, expected[i]);
    const auto* fh2 = carc_cMdfBlock_to_cMdfBlock_FH_obj_t(hd->fileHistories[1]);
    ASSERT_NE(fh2, nullptr);
    EXPECT_EQ(cMdfBlock_MD_getData(carc_cMdfBlock_to_cMdfBlock_MD_obj_t(fh2->comment)),
              "<FHcomment>2</FHcomment>");
    EXPECT_TRUE(hd->dataGroups.empty());
    EXPECT_EQ(cMdfBlock_HD_getComment(hd), "");

    cMdfBlock_set set;
    cMdfBlock_getLinks(root.get(), &set);
    EXPECT_EQ(set.size(), 8u); // ID, HD, three FH, three comments
}

TEST(BlockTree, IdentificationFieldsAndAnyVersionNumber) {
    TestMdf m("UnFinMF ", 0x0105);
    memcpy(&m.data[8], "3.30    ", 8);
    m.data[28] = 330 & 0xFF;
    m.data[29] = 330 >> 8;
    m.data[62] = 7;
    m.hd(0, 0);
    carc_cMdfBlock root = loadTree(m);
    const auto* id = carc_cMdfBlock_to_cMdfBlock_ID_obj_t(root);
    ASSERT_NE(id, nullptr);
    EXPECT_EQ(id->version, "3.30    ");
    EXPECT_EQ(id->program, "kvtest  ");
    EXPECT_EQ(id->versionNumber, 330);
    EXPECT_EQ(cMdfBlock_ID_getFinalizationFlags(id), 0x0105);
    EXPECT_EQ(cMdfBlock_ID_getFinalizationFlagsCustom(id), 7);
    EXPECT_NE(hdOf(root), nullptr);
}

TEST(BlockTree, BlockBehindTwoLinksIsReadOnceAndShared) {
    TestMdf m;
    m.hd(0, 0);
    uint64_t name = m.tx("CAN_DataFrame.ID");
    uint64_t cn2 = m.cn(0, name, 0, 0, 4, 29);
    uint64_t cn1 = m.cn(cn2, name, 0, 0, 0, 32);
    uint64_t cg = m.cg(0, cn1, 0, 0, 8);
    uint64_t dg = m.dg(0, cg, 0);
    m.setLink(64, 0, dg);
    carc_cMdfBlock root = loadTree(m);
    const cMdfBlock_HD_obj_t* hd = hdOf(root);
    ASSERT_NE(hd, nullptr);
    ASSERT_EQ(hd->dataGroups.size(), 1u);
    const auto* dgObj = carc_cMdfBlock_to_cMdfBlock_DG_obj_t(hd->dataGroups[0]);
    ASSERT_NE(dgObj, nullptr);
    EXPECT_EQ(dgObj->data, nullptr); // a nil data link loads without a data block
    const auto* cgObj = carc_cMdfBlock_to_cMdfBlock_CG_obj_t(dgObj->channelGroups.at(0));
    ASSERT_NE(cgObj, nullptr);
    ASSERT_EQ(cgObj->channels.size(), 2u);
    auto* c1 = carc_cMdfBlock_to_cMdfBlock_CN_obj_t_mut(cgObj->channels[0]);
    auto* c2 = carc_cMdfBlock_to_cMdfBlock_CN_obj_t_mut(cgObj->channels[1]);
    ASSERT_TRUE(c1 && c2);
    EXPECT_EQ(cMdfBlock_CN_getBitLength(c1), 32u);
    EXPECT_EQ(cMdfBlock_CN_getByteOffset(c2), 4u);
    ASSERT_NE(c1->name, nullptr);
    EXPECT_EQ(c1->name.get(), c2->name.get());
    std::weak_ptr<cMdfBlock_obj_t> weak = c1->name;
    c1->name.reset();
    ASSERT_FALSE(weak.expired());
    EXPECT_EQ(cMdfBlock_TX_getData(carc_cMdfBlock_to_cMdfBlock_TX_obj_t(c2->name)),
              "CAN_DataFrame.ID");
    root.reset();
    EXPECT_TRUE(weak.expired()); // the whole tree went with its root
}

TEST(BlockTree, SharedSubTreesAreWalkedOnce) {
    // Two channels per level, each composed of both channels of the next level: 2^60 paths
    // lead to the deepest level, but the walk visits every block once.
    const int levels = 60;
    std::vector<carc_cMdfBlock> a(levels), b(levels);
    for (int i = levels - 1; i >= 0; --i) {
        a[i] = cMdfBlock_CN_ctor();
        b[i] = cMdfBlock_CN_ctor();
        if (i + 1 < levels) {
            for (auto* cn : {carc_cMdfBlock_to_cMdfBlock_CN_obj_t_mut(a[i]),
                             carc_cMdfBlock_to_cMdfBlock_CN_obj_t_mut(b[i])}) {
                cn->composition = {a[i + 1], b[i + 1]};
            }
        }
    }
    cMdfBlock_set set;
    cMdfBlock_getLinks(a[0].get(), &set);
    EXPECT_EQ(set.size(), size_t(2 * levels - 1));
    cMdfBlock_getLinks(nullptr, &set);
    EXPECT_EQ(set.size(), size_t(2 * levels - 1));
}

TEST(BlockTypes, TextIsCutAtItsTerminator) {
    struct Case {
        std::string data;
        std::string text;
    } cases[] = {
        {std::string("abc\0\0\0\0\0", 8), "abc"},
        {"", ""},
        {"abcdefgh", "abcdefgh"},
        {std::string("\0ab\0", 4), std::string("\0ab\0", 4)},
    };
    for (const Case& c : cases) {
        TestMdf m;
        m.hd(0, 0);
        TestBytes d;
        d.str(c.data);
        m.setLink(64, 5, m.block("##TX", {}, d));
        carc_cMdfBlock root = loadTree(m);
        const cMdfBlock_HD_obj_t* hd = hdOf(root);
        ASSERT_NE(hd, nullptr) << c.text;
        EXPECT_EQ(cMdfBlock_HD_getComment(hd), c.text);
    }
}

TEST(BlockTypes, SourceAndChannelNumberings) {
    carc_cMdfBlock siRef = cMdfBlock_SI_ctor();
    auto* si = carc_cMdfBlock_to_cMdfBlock_SI_obj_t_mut(siRef);
    ASSERT_NE(si, nullptr);
    const uint8_t busIn[] = {0, 1, 2, 3, 4, 9}, busOut[] = {0, 4, 2, 3, 4, 4};
    for (int i = 0; i < 6; ++i) {
        si->busType = busIn[i];
        EXPECT_EQ(cMdfBlock_SI_getBusType(si), busOut[i]) << int(busIn[i]);
    }
    const uint8_t srcIn[] = {0, 1, 2, 3, 5, 200}, srcOut[] = {6, 6, 2, 6, 6, 6};
    for (int i = 0; i < 6; ++i) {
        si->sourceType = srcIn[i];
        EXPECT_EQ(cMdfBlock_SI_getType(si), srcOut[i]) << int(srcIn[i]);
    }
    cMdfBlock_SI_setBusType(si, 4);
    EXPECT_EQ(si->busType, 0);
    cMdfBlock_SI_setType(si, 5);
    EXPECT_EQ(si->sourceType, 5);
    EXPECT_EQ(cMdfBlock_SI_getBusType(nullptr), 0);

    carc_cMdfBlock cnRef = cMdfBlock_CN_ctor();
    auto* cn = carc_cMdfBlock_to_cMdfBlock_CN_obj_t_mut(cnRef);
    ASSERT_NE(cn, nullptr);
    const uint8_t dataIn[] = {0, 1, 4, 10, 11, 13}, dataOut[] = {1, 2, 5, 11, 0, 0};
    for (int i = 0; i < 6; ++i) {
        cn->dataType = dataIn[i];
        EXPECT_EQ(cMdfBlock_CN_getDataType(cn), dataOut[i]) << int(dataIn[i]);
    }
    const uint8_t typeIn[] = {0, 1, 6, 7, 9}, typeOut[] = {0, 1, 6, 7, 7};
    for (int i = 0; i < 5; ++i) {
        cn->channelType = typeIn[i];
        EXPECT_EQ(cMdfBlock_CN_getChannelType(cn), typeOut[i]) << int(typeIn[i]);
    }
    cn->syncType = 8;
    EXPECT_EQ(cMdfBlock_CN_getSyncType(cn), 5);
    cMdfBlock_CN_setDataType(cn, 5);
    EXPECT_EQ(cn->dataType, 4);
    cMdfBlock_CN_setDataType(cn, 11);
    EXPECT_EQ(cn->dataType, 10);
    cMdfBlock_CN_setDataType(cn, 3);
    EXPECT_EQ(cn->dataType, 0);
    cMdfBlock_CN_setChannelType(cn, 3);
    EXPECT_EQ(cn->channelType, 0);
    EXPECT_EQ(cMdfBlock_CN_getChannelType(nullptr), 7);
    EXPECT_EQ(cMdfBlock_CN_getDataType(nullptr), 0);
}

TEST(BlockTypes, ChannelGroupSizesAndIdVersion) {
    carc_cMdfBlock cgRef = cMdfBlock_CG_ctor();
    auto* cg = carc_cMdfBlock_to_cMdfBlock_CG_obj_t_mut(cgRef);
    ASSERT_NE(cg, nullptr);
    cg->flags = cMdfBlock_CG_FLAG_VLSD;
    cg->dataBytes = 0x10;
    cg->invalidationBytes = 0x1;
    EXPECT_TRUE(cMdfBlock_CG_isVLSD(cg));
    EXPECT_EQ(cMdfBlock_CG_getVLSDBytes(cg), 0x100000010ull);
    cMdfBlock_CG_setRecordSize(cg, 99);
    EXPECT_EQ(cMdfBlock_CG_getVLSDBytes(cg), 0x100000010ull);
    cg->cycleCount = 0x500000007ull;
    EXPECT_EQ(cMdfBlock_CG_getCycleCount(cg), 7u);
    cMdfBlock_CG_setFlags(cg, 0);
    cMdfBlock_CG_setVLSDBytes(cg, 5); // ignored: no longer VLSD
    cMdfBlock_CG_setRecordSize(cg, 12);
    EXPECT_EQ(cMdfBlock_CG_getRecordSize(cg), 12u);
    EXPECT_EQ(cg->invalidationBytes, 1u);

    carc_cMdfBlock idRef = cMdfBlock_ID_ctor();
    auto* id = carc_cMdfBlock_to_cMdfBlock_ID_obj_t_mut(idRef);
    ASSERT_NE(id, nullptr);
    EXPECT_EQ(id->position, 0u);
    EXPECT_EQ(cMdfBlock_HD_ctor()->position, 64u);
    EXPECT_TRUE(cMdfBlock_ID_setVersion(id, 4, 11));
    EXPECT_EQ(id->version, "4.11    ");
    EXPECT_EQ(id->versionNumber, 411);
    EXPECT_FALSE(cMdfBlock_ID_setVersion(id, 100, 0));
    EXPECT_FALSE(cMdfBlock_ID_setVersion(id, 4, 100));
    EXPECT_EQ(id->version, "4.11    ");
    EXPECT_TRUE(cMdfBlock_ID_setProgram(id, "kv", 2));
    EXPECT_EQ(id->program, std::string("kv     \0", 8));
    EXPECT_FALSE(cMdfBlock_ID_setProgram(id, "12345678", 8));
    // Casts refuse another type and null.
    EXPECT_EQ(carc_cMdfBlock_to_cMdfBlock_CG_obj_t(idRef), nullptr);
    EXPECT_EQ(cMdfBlock_obj_t_to_cMdfBlock_TX_obj_t(nullptr), nullptr);
}

TEST(BlockTypes, ConversionParameters) {
    struct Case {
        std::vector<double> values;
        uint16_t claimedCount; // 0xFFFF: as many as there are
        bool loads;
    } cases[] = {
        {{}, 0xFFFF, true},
        {{2, 0.5}, 0xFFFF, true},
        {{1, 100, 2, 200, 1}, 0xFFFF, true},
        {{1, 2}, 3, false}, // a count beyond the block must not read what follows it
    };
    for (const Case& c : cases) {
        TestMdf m;
        m.hd(0, 0);
        uint64_t name = m.tx("Timestamp");
        uint64_t cc = m.cc(1, c.values);
        if (c.claimedCount != 0xFFFF) m.data[cc + 24 + 32 + 6] = uint8_t(c.claimedCount);
        m.tx("padding behind the conversion block");
        uint64_t cn = m.cn(0, name, 2, 4, 0, 64, cc);
        uint64_t cg = m.cg(0, cn, 0, 0, 8);
        m.setLink(64, 0, m.dg(0, cg, 0));
        carc_cMdfBlock root = loadTree(m);
        ASSERT_EQ(root != nullptr, c.loads) << c.values.size();
        if (!root) continue;
        const auto* dg = carc_cMdfBlock_to_cMdfBlock_DG_obj_t(hdOf(root)->dataGroups[0]);
        const auto* cgObj = carc_cMdfBlock_to_cMdfBlock_CG_obj_t(dg->channelGroups[0]);
        const auto* cnObj = carc_cMdfBlock_to_cMdfBlock_CN_obj_t(cgObj->channels[0]);
        const auto* ccObj = carc_cMdfBlock_to_cMdfBlock_CC_obj_t(cnObj->conversion);
        ASSERT_NE(ccObj, nullptr);
        EXPECT_EQ(ccObj->conversionType, 1);
        EXPECT_EQ(ccObj->values, c.values);
        EXPECT_EQ(ccObj->valueCount, c.values.size());
    }
}

TEST(DataBlocks, StreamViewsClampAndShareTheFileStream) {
    TestMdf m;
    m.hd(0, 0);
    m.data.resize(1000, 0);
    TestBytes records;
    for (int i = 0; i < 4000; ++i)
        records.u8(uint8_t(i % 251));
    uint64_t dt = m.block("##DT", {}, records);
    ASSERT_EQ(dt, 1000u);
    TestBytes entries;
    entries.u32(5).str("hello").u32(3).str("abc");
    uint64_t sd = m.block("##SD", {}, entries);
    uint64_t name = m.tx("CAN_DataFrame.DataBytes");
    uint64_t cn = m.cn(0, name, 1, 10, 0, 64, 0, sd);
    uint64_t cg = m.cg(0, cn, 0, 0, 8);
    m.setLink(64, 0, m.dg(0, cg, dt));

    cIO* file = m.stream();
    carc_cMdfBlock root = cMdfBlock_loadTree(file);
    ASSERT_NE(root, nullptr);
    const auto* dg = carc_cMdfBlock_to_cMdfBlock_DG_obj_t(hdOf(root)->dataGroups[0]);
    auto* dtObj = carc_cMdfBlock_to_cMdfBlock_DT_obj_t_mut(dg->data);
    ASSERT_NE(dtObj, nullptr);
    EXPECT_EQ(cMdfBlock_DT_getDataOffset(dtObj), 1024u);
    EXPECT_EQ(cMdfBlockHeader_getDataSize(&dtObj->header), 4000u);
    const auto* cnObj = carc_cMdfBlock_to_cMdfBlock_CN_obj_t(
        carc_cMdfBlock_to_cMdfBlock_CG_obj_t(dg->channelGroups[0])->channels[0]);
    auto* sdObj = carc_cMdfBlock_to_cMdfBlock_SD_obj_t_mut(cnObj->signalData);
    ASSERT_NE(sdObj, nullptr);

    cIO* d = cMdfBlock_DT_getIOInterface(dtObj);
    cIO* s = cMdfBlock_SD_getIOInterface(sdObj);
    EXPECT_EQ(cIO_tell(d), 0);
    EXPECT_EQ(cIO_seek(d, 5000, cIO_SEEK_SET), 4000);
    uint8_t buf[32];
    EXPECT_EQ(cIO_read(d, buf, sizeof buf), 0);
    EXPECT_EQ(cIO_seek(d, -1, cIO_SEEK_SET), -1);
    EXPECT_EQ(cIO_tell(d), 4000);
    EXPECT_EQ(cIO_seek(d, 0, cIO_SEEK_END), 4000);
    EXPECT_EQ(cIO_seek(d, 3990, cIO_SEEK_SET), 3990);
    EXPECT_EQ(cIO_read(d, buf, 20), 10);
    EXPECT_EQ(buf[0], 3990 % 251);
    EXPECT_EQ(buf[9], 3999 % 251);
    EXPECT_EQ(cIO_tell(d), 4000);
    EXPECT_EQ(cIO_write(d, buf, 1), cIO_UNSUPPORTED);

    // Reads of the two blocks interleave on one file stream.
    EXPECT_EQ(cIO_seek(d, 100, cIO_SEEK_SET), 100);
    EXPECT_EQ(cIO_seek(s, 9, cIO_SEEK_SET), 9);
    EXPECT_EQ(cIO_read(d, buf, 2), 2);
    EXPECT_EQ(cIO_read(s, buf + 2, 7), 7);
    EXPECT_EQ(cIO_read(d, buf + 9, 1), 1);
    EXPECT_EQ(buf[0], 100);
    EXPECT_EQ(buf[1], 101);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf + 6), 3), "abc");
    EXPECT_EQ(buf[9], 102);
    EXPECT_EQ(cIO_seek(s, 2, cIO_SEEK_CUR), 16); // clamped to the SD data size
    cIO_close(file);
}

TEST(DataBlocks, BlockOverAStreamOfItsOwn) {
    std::vector<uint8_t> bytes = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    cIO* source = TestMdf::memStream(bytes);
    cIO_seek(source, 4, cIO_SEEK_SET);
    carc_cMdfBlock block = cMdfBlock_SD_ctor_fromIO(source);
    auto* sd = carc_cMdfBlock_to_cMdfBlock_SD_obj_t_mut(block);
    ASSERT_NE(sd, nullptr);
    EXPECT_TRUE(sd->ownsSource);
    EXPECT_EQ(sd->header.length, 34u);
    EXPECT_EQ(cMdfBlock_SD_getDataOffset(sd), 0u);
    uint8_t buf[16];
    EXPECT_EQ(cIO_read(cMdfBlock_SD_getIOInterface(sd), buf, sizeof buf), 10);
    EXPECT_EQ(buf[9], 10);
    EXPECT_EQ(cMdfBlock_DT_ctor_fromIO(nullptr), nullptr);
    EXPECT_EQ(cMdfBlock_DT_getIOInterface(nullptr), nullptr);
    block.reset(); // closes the source it owns
}

// A valid minimal tree whose HD comment link is patched to point at the block under test.
struct DamageCase {
    const char* what;
    std::function<void(TestMdf&)> build;
    const char* message; // expected log text, or null
};

TEST(BlockTree, DamagedImagesFailTheWholeLoad) {
    const DamageCase cases[] = {
        {"attachment link", [](TestMdf& m) { m.setLink(64, 3, m.tx("x")); },
         "Unsupported parameter present in file"},
        {"data list as data block",
         [](TestMdf& m) {
             uint64_t dl = m.block("##DL", {0}, TestBytes().zeros(16));
             m.setLink(64, 0, m.dg(0, 0, dl));
         },
         "Unable to load block header for type ##DL"},
        {"sample reduction",
         [](TestMdf& m) {
             uint64_t cg = m.cg(0, 0, 0, 0, 8);
             m.setLink(cg, 4, m.tx("sr"));
             m.setLink(64, 0, m.dg(0, cg, 0));
         },
         "Unsupported parameter present in file"},
        {"channel with a ninth link",
         [](TestMdf& m) {
             uint64_t cn = m.block("##CN", {0, 0, 0, 0, 0, 0, 0, 0, 0}, TestBytes().zeros(72));
             m.setLink(64, 0, m.dg(0, m.cg(0, cn, 0, 0, 8), 0));
         },
         nullptr},
        {"link past the end", [](TestMdf& m) { m.setLink(64, 5, 1u << 20); },
         "lies outside the file"},
        {"length past the end",
         [](TestMdf& m) {
             uint64_t tx = m.tx("text");
             m.setU64(tx + 8, 1ull << 40);
             m.setLink(64, 5, tx);
         },
         "does not fit in the file"},
        {"length below header and links",
         [](TestMdf& m) {
             uint64_t fh = m.fh(0, 0);
             m.setU64(fh + 8, 30);
             m.setLink(64, 1, fh);
         },
         "does not fit in the file"},
        {"fixed block shorter than its fields",
         [](TestMdf& m) {
             uint64_t dg = m.block("##DG", {0, 0, 0, 0}, TestBytes());
             m.setLink(64, 0, dg);
         },
         nullptr},
        {"next link back to the chain's start",
         [](TestMdf& m) {
             uint64_t a = m.fh(0, 0);
             uint64_t b = m.fh(a, 0);
             m.setLink(a, 0, b);
             m.setLink(64, 1, a);
         },
         "Cyclic block chain"},
        {"next link to itself",
         [](TestMdf& m) {
             uint64_t a = m.fh(0, 0);
             m.setLink(a, 0, a);
             m.setLink(64, 1, a);
         },
         "Cyclic block chain"},
        {"inverse conversions in a ring",
         [](TestMdf& m) {
             uint64_t a = m.cc(0, {});
             uint64_t b = m.cc(0, {}, a);
             m.setLink(a, 3, b);
             uint64_t cn = m.cn(0, 0, 0, 0, 0, 8, a);
             m.setLink(64, 0, m.dg(0, m.cg(0, cn, 0, 0, 8), 0));
         },
         "Cyclic block reference"},
        {"comment link to its own header block", [](TestMdf& m) { m.setLink(64, 5, 64); },
         "Cyclic block reference"},
        {"channel composed of its own group",
         [](TestMdf& m) {
             uint64_t cn = m.cn(0, 0, 0, 0, 0, 8);
             uint64_t cg = m.cg(0, cn, 0, 0, 8);
             m.setLink(cn, 1, cg);
             m.setLink(64, 0, m.dg(0, cg, 0));
         },
         "Cyclic block reference"},
        {"conversions nested beyond any real file",
         [](TestMdf& m) {
             uint64_t inner = 0;
             for (int i = 0; i < 200; ++i)
                 inner = m.cc(0, {}, inner);
             uint64_t cn = m.cn(0, 0, 0, 0, 0, 8, inner);
             m.setLink(64, 0, m.dg(0, m.cg(0, cn, 0, 0, 8), 0));
         },
         "nested too deeply"},
        {"overlapping blocks claiming more than the file",
         [](TestMdf& m) {
             // Text headers every 32 bytes, each claiming the rest of the region.
             const int n = 64;
             uint64_t region = m.data.size() + 8 - m.data.size() % 8;
             m.data.resize(region + 32 * n, 0);
             uint64_t chain = 0;
             for (int i = 0; i < n; ++i) {
                 uint64_t at = region + 32 * i;
                 memcpy(&m.data[at], "##TX", 4);
                 m.setU64(at + 8, 32 * (n - i));
             }
             for (int i = n - 1; i >= 0; --i)
                 chain = m.fh(chain, region + 32 * i);
             m.setLink(64, 1, chain);
         },
         "overlaps other blocks"},
        {"identification block replaced by a text",
         [](TestMdf& m) { memcpy(&m.data[0], "##TX\0\0\0\0\x40\0\0\0\0\0\0\0\0\0\0\0", 20); },
         nullptr},
        {"unknown file identifier", [](TestMdf& m) { memcpy(&m.data[0], "MDF4.1\0\0", 8); },
         "Unable to load block header for type MDF4.1"},
        {"file cut inside the header block", [](TestMdf& m) { m.data.resize(100); }, nullptr},
    };
    for (const DamageCase& c : cases) {
        TestMdf m;
        m.hd(0, 0);
        c.build(m);
        LogCapture log;
        EXPECT_EQ(loadTree(m), nullptr) << c.what;
        if (c.message) EXPECT_TRUE(log.has(c.message)) << c.what;
    }
}

TEST(BlockTree, LongChainsLoadWithoutDeepRecursion) {
    // Far more chain members than a recursive walk could take on a thread's stack.
    const int n = 100000;
    TestMdf m;
    m.hd(0, 0);
    uint64_t comment = m.md("<FHcomment><tool_id>Veskar</tool_id></FHcomment>");
    m.data.reserve(m.data.size() + 56 * n);
    uint64_t next = 0, last = 0;
    for (int i = 0; i < n; ++i) {
        next = m.fh(next, comment);
        if (i == 0) last = next;
    }
    m.setLink(64, 1, next);
    carc_cMdfBlock root = loadTree(m);
    ASSERT_NE(root, nullptr);
    const cMdfBlock_HD_obj_t* hd = hdOf(root);
    ASSERT_EQ(hd->fileHistories.size(), size_t(n));
    EXPECT_EQ(hd->fileHistories.front()->position, next);
    EXPECT_EQ(hd->fileHistories.back()->position, last);
    bool chainOrder = true; // each member was written in front of its successor
    for (int i = 0; i + 1 < n; ++i)
        chainOrder =
            chainOrder && hd->fileHistories[i]->position == hd->fileHistories[i + 1]->position + 56;
    EXPECT_TRUE(chainOrder);
}

} // namespace
