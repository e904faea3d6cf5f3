// The block model: header recognition, the tree load through the offset cache, the per-type
// fields, and the loader's behaviour on damaged images.

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
#include "mdf/cMdfBlock_SD.h"
#include "mdf/cMdfBlock_SI.h"
#include "mdf/cMdfBlock_TX.h"
#include "mdf_test_support.h"

namespace {

using U = std::vector<uint64_t>;

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

// The first data group of a loaded tree and its first channel group.
const cMdfBlock_DG_obj_t* firstDG(const carc_cMdfBlock& root) {
    const cMdfBlock_HD_obj_t* hd = hdOf(root);
    return hd && !hd->dataGroups.empty() ? carc_cMdfBlock_to_cMdfBlock_DG_obj_t(hd->dataGroups[0])
                                         : nullptr;
}
const cMdfBlock_CG_obj_t* firstCG(const carc_cMdfBlock& root) {
    const cMdfBlock_DG_obj_t* dg = firstDG(root);
    return dg && !dg->channelGroups.empty()
               ? carc_cMdfBlock_to_cMdfBlock_CG_obj_t(dg->channelGroups[0])
               : nullptr;
}

TEST(BlockHeader, RecognisesIdsAndRejectsOthers) {
    struct Case {
        std::string bytes;
        cMdfBlockType type; // MDF_BLOCK_NONE: refused with "Unable to load ... type <bytes>"
    } cases[] = {
        // clang-format off
        {"##HD", MDF_BLOCK_HD}, {"##TX", MDF_BLOCK_TX}, {"##SD", MDF_BLOCK_SD},
        {"##CG", MDF_BLOCK_CG}, {"##DL", MDF_BLOCK_NONE}, {"##DZ", MDF_BLOCK_NONE},
        {"MDF     ", MDF_BLOCK_ID}, {"UnFinMF ", MDF_BLOCK_ID}, {"MDF4    ", MDF_BLOCK_NONE},
        // clang-format on
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
        bool isId = c.type == MDF_BLOCK_ID; // type, length, links, position after the load
        if (ok) {
            EXPECT_EQ((U{h.type, h.length, h.linkCount, uint64_t(cIO_tell(io))}),
                      (U{c.type, isId ? 64u : 1000u, isId ? 0u : 3u, isId ? 0u : 24u}))
                << c.bytes;
        } else {
            EXPECT_TRUE(log.has("Unable to load block header for type " +
                                c.bytes.substr(0, c.bytes.find(' '))))
                << c.bytes;
        }
        cIO_close(io);
    }
}

TEST(BlockHeader, ShortReadFailsSilentlyAndDataSizeNeverWraps) {
    LogCapture log;
    cIO* io = TestMdf::memStream({'#', '#', 'H', 'D', 0, 0, 0, 0, 9});
    cMdfBlockHeader h{};
    EXPECT_FALSE(cMdfBlockHeader_load(io, &h));
    EXPECT_EQ(LogCapture::text, "");
    cIO_close(io);
    cMdfBlockHeader dt{MDF_BLOCK_DT, 4024, 0}, cn{MDF_BLOCK_CN, 160, 8}, bad{MDF_BLOCK_CN, 40, 8};
    EXPECT_EQ((U{cMdfBlockHeader_getDataSize(&dt), cMdfBlockHeader_getDataSize(&cn),
                 cMdfBlockHeader_getDataSize(&bad)}),
              (U{4000, 72, 0}));
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
    EXPECT_EQ(id->version + id->program, "3.30    kvtest  ");
    EXPECT_EQ((U{id->versionNumber, cMdfBlock_ID_getFinalizationFlags(id),
                 cMdfBlock_ID_getFinalizationFlagsCustom(id)}),
              (U{330, 0x0105, 7}));
    EXPECT_NE(hdOf(root), nullptr);
}

TEST(BlockTree, BlockBehindTwoLinksIsReadOnceAndShared) {
    TestMdf m;
    m.hd(0, 0);
    uint64_t name = m.tx("CAN_DataFrame.ID");
    uint64_t cn2 = m.cn(0, name, 0, 0, 4, 29);
    uint64_t cg = m.cg(0, m.cn(cn2, name, 0, 0, 0, 32), 0, 0, 8);
    m.setLink(64, 0, m.dg(0, cg, 0));
    carc_cMdfBlock root = loadTree(m);
    ASSERT_NE(firstCG(root), nullptr);
    EXPECT_EQ(firstDG(root)->data, nullptr); // a nil data link loads without a data block
    ASSERT_EQ(firstCG(root)->channels.size(), 2u);
    auto* c1 = carc_cMdfBlock_to_cMdfBlock_CN_obj_t_mut(firstCG(root)->channels[0]);
    auto* c2 = carc_cMdfBlock_to_cMdfBlock_CN_obj_t_mut(firstCG(root)->channels[1]);
    ASSERT_TRUE(c1 && c2 && c1->name);
    EXPECT_EQ((U{cMdfBlock_CN_getBitLength(c1), cMdfBlock_CN_getByteOffset(c2)}), (U{32, 4}));
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
    const std::pair<std::string, std::string> cases[] = {
        // data section, text
        {std::string("abc\0\0\0\0\0", 8), "abc"},
        {"", ""},
        {"abcdefgh", "abcdefgh"},
        {std::string("\0ab\0", 4), std::string("\0ab\0", 4)}};
    for (const auto& [data, text] : cases) {
        TestMdf m;
        m.hd(0, 0);
        m.setLink(64, 5, m.block("##TX", {}, TestBytes().str(data)));
        carc_cMdfBlock root = loadTree(m);
        ASSERT_NE(hdOf(root), nullptr) << text;
        EXPECT_EQ(cMdfBlock_HD_getComment(hdOf(root)), text);
    }
}

TEST(BlockTypes, NumberingsOutOfRangeFallBack) {
    carc_cMdfBlock siRef = cMdfBlock_SI_ctor(), cnRef = cMdfBlock_CN_ctor();
    auto* si = carc_cMdfBlock_to_cMdfBlock_SI_obj_t_mut(siRef);
    auto* cn = carc_cMdfBlock_to_cMdfBlock_CN_obj_t_mut(cnRef);
    ASSERT_TRUE(si && cn);
    std::string bus, source, data, type; // the getter's value for each file value
    for (uint8_t v : {0, 1, 2, 3, 4, 9})
        bus += std::to_string((si->busType = v, cMdfBlock_SI_getBusType(si)));
    for (uint8_t v : {0, 1, 2, 3, 5, 200})
        source += std::to_string((si->sourceType = v, cMdfBlock_SI_getType(si)));
    for (uint8_t v : {0, 1, 4, 10, 11, 13})
        data += std::to_string((cn->dataType = v, cMdfBlock_CN_getDataType(cn))) + ",";
    for (uint8_t v : {0, 1, 6, 7, 9})
        type += std::to_string((cn->channelType = v, cMdfBlock_CN_getChannelType(cn)));
    EXPECT_EQ(bus + " " + source + " " + data + " " + type, "042344 662666 1,2,5,11,0,0, 01677");
    cn->syncType = 8;
    EXPECT_EQ((U{cMdfBlock_CN_getSyncType(cn), cMdfBlock_CN_getChannelType(nullptr),
                 cMdfBlock_CN_getDataType(nullptr), cMdfBlock_SI_getBusType(nullptr)}),
              (U{5, 7, 0, 0}));
}

TEST(BlockTypes, ConversionParameters) {
    struct Case {
        std::vector<double> values;
        uint16_t claimedCount; // 0xFFFF: as many as there are
    } cases[] = {
        {{}, 0xFFFF},
        {{2, 0.5}, 0xFFFF},
        {{1, 100, 2, 200, 1}, 0xFFFF},
        {{1, 2}, 3}, // a count beyond the block must not read what follows it
    };
    for (const Case& c : cases) {
        TestMdf m;
        m.hd(0, 0);
        uint64_t name = m.tx("Timestamp");
        uint64_t cc = m.cc(1, c.values);
        if (c.claimedCount != 0xFFFF) m.data[cc + 24 + 32 + 6] = uint8_t(c.claimedCount);
        m.tx("padding behind the conversion block");
        m.group(m.cn(0, name, 2, 4, 0, 64, cc));
        carc_cMdfBlock root = loadTree(m);
        ASSERT_EQ(root != nullptr, c.claimedCount == 0xFFFF) << c.values.size();
        if (!root) continue;
        const auto* cnObj = carc_cMdfBlock_to_cMdfBlock_CN_obj_t(firstCG(root)->channels[0]);
        const auto* ccObj = carc_cMdfBlock_to_cMdfBlock_CC_obj_t(cnObj->conversion);
        ASSERT_NE(ccObj, nullptr);
        EXPECT_EQ((U{ccObj->conversionType, ccObj->valueCount}), (U{1, c.values.size()}));
        EXPECT_EQ(ccObj->values, c.values);
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
    uint64_t sd = m.block("##SD", {}, TestBytes().u32(5).str("hello").u32(3).str("abc"));
    m.group(m.cn(0, m.tx("CAN_DataFrame.DataBytes"), 1, 10, 0, 64, 0, sd), dt);

    cIO* file = m.stream();
    carc_cMdfBlock root = cMdfBlock_loadTree(file);
    ASSERT_NE(firstCG(root), nullptr);
    auto* dtObj = carc_cMdfBlock_to_cMdfBlock_DT_obj_t_mut(firstDG(root)->data);
    auto* sdObj = carc_cMdfBlock_to_cMdfBlock_SD_obj_t_mut(
        carc_cMdfBlock_to_cMdfBlock_CN_obj_t(firstCG(root)->channels[0])->signalData);
    ASSERT_TRUE(dtObj && sdObj);
    EXPECT_EQ((U{cMdfBlock_DT_getDataOffset(dtObj), cMdfBlockHeader_getDataSize(&dtObj->header)}),
              (U{1024, 4000}));
    cIO* d = cMdfBlock_DT_getIOInterface(dtObj);
    cIO* s = cMdfBlock_SD_getIOInterface(sdObj);
    uint8_t buf[32];
    // Positions and counts of: tell, seek past the end, read there, seek before the start,
    // tell, seek to the end, seek near it, a read crossing it, tell, write.
    std::vector<int64_t> got = {cIO_tell(d),
                                cIO_seek(d, 5000, cIO_SEEK_SET),
                                cIO_read(d, buf, sizeof buf),
                                cIO_seek(d, -1, cIO_SEEK_SET),
                                cIO_tell(d),
                                cIO_seek(d, 0, cIO_SEEK_END),
                                cIO_seek(d, 3990, cIO_SEEK_SET),
                                cIO_read(d, buf, 20)};
    got.insert(got.end(), {buf[0], buf[9], cIO_tell(d), cIO_write(d, buf, 1)});
    EXPECT_EQ(got, (std::vector<int64_t>{0, 4000, 0, -1, 4000, 4000, 3990, 10, 3990 % 251,
                                         3999 % 251, 4000, cIO_UNSUPPORTED}));

    // Reads of the two blocks interleave on one file stream.
    EXPECT_EQ(cIO_seek(d, 100, cIO_SEEK_SET) + cIO_seek(s, 9, cIO_SEEK_SET), 109);
    EXPECT_EQ(cIO_read(d, buf, 2) + cIO_read(s, buf + 2, 7) + cIO_read(d, buf + 9, 1), 10);
    EXPECT_EQ((U{buf[0], buf[1], buf[9]}), (U{100, 101, 102}));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf + 6), 3), "abc");
    EXPECT_EQ(cIO_seek(s, 2, cIO_SEEK_CUR), 16); // clamped to the SD data size
    cIO_close(file);
}

TEST(DataBlocks, BlockOverAStreamOfItsOwn) {
    cIO* source = TestMdf::memStream({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    cIO_seek(source, 4, cIO_SEEK_SET); // the block still spans the whole stream
    carc_cMdfBlock block = cMdfBlock_SD_ctor_fromIO(source);
    auto* sd = carc_cMdfBlock_to_cMdfBlock_SD_obj_t_mut(block);
    ASSERT_NE(sd, nullptr);
    uint8_t buf[16];
    EXPECT_EQ((U{sd->ownsSource, sd->header.length, cMdfBlock_SD_getDataOffset(sd),
                 uint64_t(cIO_read(cMdfBlock_SD_getIOInterface(sd), buf, sizeof buf)), buf[9]}),
              (U{1, 34, 0, 10, 10}));
    EXPECT_TRUE(!cMdfBlock_DT_ctor_fromIO(nullptr) && !cMdfBlock_DT_getIOInterface(nullptr));
} // the block closes the source it owns

// A valid minimal tree whose HD comment link is patched to point at the block under test.
struct DamageCase {
    const char* what;
    std::function<void(TestMdf&)> build;
    const char* message; // expected log text, or null
};

TEST(BlockTree, DamagedImagesFailTheWholeLoad) {
    // clang-format off
    const DamageCase cases[] = {
        {"attachment link", [](auto& m) { m.setLink(64, 3, m.tx("x")); },
         "Unsupported parameter present in file"},
        {"data list as data block",
         [](auto& m) { m.setLink(64, 0, m.dg(0, 0, m.block("##DL", {0}, TestBytes().zeros(16)))); },
         "Unable to load block header for type ##DL"},
        {"sample reduction", [](auto& m) { m.setLink(m.group(0), 4, m.tx("sr")); },
         "Unsupported parameter present in file"},
        {"channel with a ninth link",
         [](auto& m) { m.group(m.block("##CN", std::vector<uint64_t>(9), TestBytes().zeros(72))); },
         nullptr},
        {"link past the end", [](auto& m) { m.setLink(64, 5, 1u << 20); }, "lies outside the file"},
        {"length past the end",
         [](auto& m) { uint64_t t = m.tx("x"); m.setU64(t + 8, 1ull << 40); m.setLink(64, 5, t); },
         "does not fit in the file"},
        {"length below header and links",
         [](auto& m) { uint64_t fh = m.fh(0, 0); m.setU64(fh + 8, 30); m.setLink(64, 1, fh); },
         "does not fit in the file"},
        {"fixed block shorter than its fields",
         [](auto& m) { m.setLink(64, 0, m.block("##DG", {0, 0, 0, 0}, TestBytes())); }, nullptr},
        {"next link back to the chain's start",
         [](auto& m) { uint64_t a = m.fh(0, 0); m.setLink(a, 0, m.fh(a, 0)); m.setLink(64, 1, a); },
         "Cyclic block chain"},
        {"next link to itself",
         [](auto& m) { uint64_t a = m.fh(0, 0); m.setLink(a, 0, a); m.setLink(64, 1, a); },
         "Cyclic block chain"},
        {"inverse conversions in a ring",
         [](auto& m) {
             uint64_t a = m.cc(0, {});
             m.setLink(a, 3, m.cc(0, {}, a));
             m.group(m.cn(0, 0, 0, 0, 0, 8, a));
         },
         "Cyclic block reference"},
        {"comment link to its own header block", [](auto& m) { m.setLink(64, 5, 64); },
         "Cyclic block reference"},
        {"channel composed of its own group",
         [](auto& m) { uint64_t cn = m.cn(0, 0, 0, 0, 0, 8); m.setLink(cn, 1, m.group(cn)); },
         "Cyclic block reference"},
        {"conversions nested beyond any real file",
         [](auto& m) {
             uint64_t inner = 0;
             for (int i = 0; i < 200; ++i) inner = m.cc(0, {}, inner);
             m.group(m.cn(0, 0, 0, 0, 0, 8, inner));
         },
         "nested too deeply"},
        {"overlapping blocks claiming more than the file",
         [](auto& m) {
             // Text headers every 32 bytes, each claiming the rest of the region.
             const int n = 64;
             uint64_t region = m.data.size() + 8 - m.data.size() % 8, chain = 0;
             m.data.resize(region + 32 * n, 0);
             for (int i = 0; i < n; ++i) {
                 memcpy(&m.data[region + 32 * i], "##TX", 4);
                 m.setU64(region + 32 * i + 8, 32 * (n - i));
             }
             for (int i = n - 1; i >= 0; --i) chain = m.fh(chain, region + 32 * i);
             m.setLink(64, 1, chain);
         },
         "overlaps other blocks"},
        {"identification block replaced by a text",
         [](auto& m) { memcpy(&m.data[0], "##TX\0\0\0\0\x40\0\0\0\0\0\0\0\0\0\0\0", 20); },
         nullptr},
        {"unknown file identifier", [](auto& m) { memcpy(&m.data[0], "MDF4.1\0\0", 8); },
         "Unable to load block header for type MDF4.1"},
        {"file cut inside the header block", [](auto& m) { m.data.resize(100); }, nullptr},
    };
    // clang-format on
    for (const DamageCase& c : cases) {
        TestMdf m;
        m.hd(0, 0);
        c.build(m);
        LogCapture log;
        EXPECT_EQ(loadTree(m), nullptr) << c.what;
        EXPECT_TRUE(!c.message || log.has(c.message)) << c.what;
    }
}

TEST(BlockTree, LongChainsLoadWithoutDeepRecursion) {
    // Far more chain members than a recursive walk could take on a thread's stack.
    const int n = 100000;
    TestMdf m;
    m.hd(0, 0);
    uint64_t comment = m.md("<FHcomment><tool_id>Veskar</tool_id></FHcomment>");
    m.data.reserve(m.data.size() + 56 * n);
    uint64_t next = 0;
    for (int i = 0; i < n; ++i)
        next = m.fh(next, comment);
    m.setLink(64, 1, next);
    carc_cMdfBlock root = loadTree(m);
    ASSERT_NE(root, nullptr);
    const cMdfBlock_HD_obj_t* hd = hdOf(root);
    ASSERT_EQ(hd->fileHistories.size(), size_t(n));
    bool chainOrder = hd->fileHistories.front()->position == next; // the head first, and each
    for (int i = 0; i + 1 < n; ++i) // member was written in front of its successor
        chainOrder =
            chainOrder && hd->fileHistories[i]->position == hd->fileHistories[i + 1]->position + 56;
    EXPECT_TRUE(chainOrder);
}

} // namespace
