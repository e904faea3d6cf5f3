// The block model: the tree load through the offset cache, data block
// stream views, and the loader's behaviour on damaged images and long chains.

#include <functional>

#include "mdf_test_support.h"

namespace {

using U = std::vector<uint64_t>;

// Loads the image's tree; the stream is closed before returning (blocks keep no data).
carc_cMdfBlock loadTree(const TestMdf& mdf) {
    cIO* io = mdf.stream();
    carc_cMdfBlock root = cMdfBlock_loadTree(io);
    (void)cIO_close(io);
    return root;
}

const cMdfBlock_HD_obj_t* hdOf(const carc_cMdfBlock& root) {
    const cMdfBlock_ID_obj_t* id = carc_cMdfBlock_to_cMdfBlock_ID_obj_t(root);
    return id ? carc_cMdfBlock_to_cMdfBlock_HD_obj_t(id->hd) : nullptr;
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
    ASSERT_TRUE(hdOf(root) && hdOf(root)->dataGroups.size() == 1);
    const auto* dg = carc_cMdfBlock_to_cMdfBlock_DG_obj_t(hdOf(root)->dataGroups[0]);
    const auto* cg = carc_cMdfBlock_to_cMdfBlock_CG_obj_t(dg->channelGroups.at(0));
    auto* dtObj = carc_cMdfBlock_to_cMdfBlock_DT_obj_t_mut(dg->data);
    auto* sdObj = cMdfBlock_obj_t_to_cMdfBlock_SD_obj_t_mut(
        carc_cMdfBlock_to_cMdfBlock_CN_obj_t(cg->channels.at(0))->signalData.get());
    ASSERT_TRUE(dtObj && sdObj);
    EXPECT_EQ((U{dtObj->dataOffset, cMdfBlockHeader_getDataSize(&dtObj->header)}), (U{1024, 4000}));
    cIO* d = cMdfBlock_data_getIOInterface(dtObj);
    cIO* s = cMdfBlock_data_getIOInterface(sdObj);
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
    (void)cIO_close(file);
}

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
        {"inverse conversions in a ring",
         [](auto& m) {
             uint64_t a = m.cc();
             m.setLink(a, 3, m.cc(a));
             m.group(m.cn(0, 0, 0, 0, 0, 8, a));
         },
         "Cyclic block reference"},
        {"comment link to its own header block", [](auto& m) { m.setLink(64, 5, 64); },
         "Cyclic block reference"},
        {"channel chain closing through its composition", [](auto& m) {
             uint64_t b = m.cn(0, 0, 0, 0, 0, 8), a = m.cn(b, 0, 0, 0, 0, 8, 0, 0, b);
             m.setLink(b, 0, a);
             m.group(a);
         }, "Cyclic block"},
        {"channel composed of its own group",
         [](auto& m) { uint64_t cn = m.cn(0, 0, 0, 0, 0, 8); m.setLink(cn, 1, m.group(cn)); },
         "Cyclic block reference"},
        {"conversions nested beyond any real file",
         [](auto& m) {
             uint64_t inner = 0;
             for (int i = 0; i < 200; ++i) inner = m.cc(inner);
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
