// Opening logger files end to end: the product check, the unfinalised repair, the XML
// metadata, saving the tree, and the reader's behaviour on damaged files.

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "mdf/cMdf.h"
#include "mdf/cMdfBlock_DG.h"
#include "mdf/cMdfBlock_DT.h"
#include "mdf/cMdfBlock_HD.h"
#include "mdf/cMdfBlock_ID.h"
#include "mdf/cMdfParallelIter.h"
#include "mdf_open_support.h"
#include "mdf_test_support.h"
#include "tools/cMdfWriter.h"

namespace {

std::vector<cMdfWriterGroup> canGroup(int frames, uint8_t recordIdSize = 0) {
    cMdfWriterGroup g;
    for (int i = 0; i < frames; ++i) {
        uint8_t data[8] = {uint8_t(i), 1, 2, 3, 4, 5, 6, 7};
        g.frames.push_back(cMdfWriterFrame_can(0.001 * i, 1, 0x100 + i, false, data, 8));
    }
    g.recordIdSize = recordIdSize;
    return {g};
}

// Counts the messages of the merge (bounded, so that a fault cannot hang the test).
size_t countMessages(cMdf* mdf, std::vector<uint32_t>* ids = nullptr) {
    cMdfParallelIter* it = cMdf_getIter(mdf);
    size_t n = 0;
    for (; it && it->current && n < 1000000; cMdfParallelIter_next(it), ++n)
        if (ids) ids->push_back(it->current->ID);
    cMdfParallelIter_dtor(it);
    return n;
}

std::string metaValue(const cMdfMetaDataMap& map, const std::string& path) {
    auto it = map.find(path);
    return it == map.end() ? "<none>" : it->second.value;
}

// Every item of the metadata as "path=value;", in path order.
std::string render(const cMdfMetaDataMap& map) {
    std::map<std::string, std::string> sorted;
    for (const auto& [path, item] : map)
        sorted[path] = item.value;
    std::string out;
    for (const auto& [path, value] : sorted)
        out += path + "=" + value + ";";
    return out;
}

TEST(MdfOpen, AcceptsOnlyTheLoggerToolIds) {
    struct Case {
        std::vector<std::string> tools;
        bool asTx;
        bool accepted;
    } cases[] = {
        {{"Veskar"}, false, true}, {{"VK"}, false, true},   {{"Other", "VK"}, false, true},
        {{"Other"}, false, false}, {{"VKX"}, false, false}, {{}, false, false},
        {{"Veskar"}, true, false}, // a text comment is not looked at
    };
    for (const Case& c : cases) {
        cMdfWriterOptions o;
        o.toolIds = c.tools;
        o.fhCommentAsTx = c.asTx;
        LogCapture log;
        Opened f(o, canGroup(1));
        EXPECT_EQ(f.mdf != nullptr, c.accepted) << c.tools.size();
        EXPECT_EQ(log.has("Unsupported MF4 file"), !c.accepted);
    }
    EXPECT_EQ(cMdf_open(nullptr), nullptr);
    cMdf_close(nullptr);
    EXPECT_EQ(cMdf_getIter(nullptr), nullptr);
    EXPECT_TRUE(cMdf_getMetaData(nullptr).empty());
}

TEST(MdfOpen, UnfinalisedFileReadsItsLastBlockToTheEnd) {
    cMdfWriterOptions o;
    o.unfinalised = true;
    std::vector<cMdfWriterGroup> groups = canGroup(4);
    groups.push_back(canGroup(6)[0]);
    Opened f(o, groups);
    ASSERT_NE(f.mdf, nullptr);
    EXPECT_EQ(cMdfBlock_ID_getFinalizationFlags(f.id()), 0);
    const auto* last = carc_cMdfBlock_to_cMdfBlock_DT_obj_t(
        carc_cMdfBlock_to_cMdfBlock_DG_obj_t(f.hd()->dataGroups[1])->data);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->header.length, f.bytes.size() - last->position);
    EXPECT_EQ(countMessages(f.mdf), 10u);

    // A length field left at 0 (below the block's own header) or at any value past the end
    // is repaired the same way.
    for (uint64_t length : {uint64_t{0}, uint64_t{1} << 40}) {
        std::vector<uint8_t> patched = f.bytes;
        memcpy(&patched[last->position + 8], &length, 8);
        Opened z(patched);
        ASSERT_NE(z.mdf, nullptr) << length;
        EXPECT_EQ(countMessages(z.mdf), 10u) << length;
    }

    // Without the flag a length of 24 means an empty data block.
    std::vector<uint8_t> finalised = f.bytes;
    memcpy(&finalised[0], "MDF     ", 8);
    finalised[60] = finalised[61] = 0;
    Opened fin(finalised);
    ASSERT_NE(fin.mdf, nullptr);
    EXPECT_EQ(countMessages(fin.mdf), 4u);
}

TEST(MdfMetaData, LoggerItemsByPath) {
    cMdfWriterOptions o;
    o.serialNumber = "0BADCAFE";
    o.session = 17;
    o.split = 4;
    std::vector<cMdfWriterGroup> groups = canGroup(1);
    groups[0].sourceComment = "<SIcomment><common_properties><e name=\"bus\" ro=\"true\">CAN1</e>"
                              "</common_properties></SIcomment>";
    Opened f(o, groups);
    ASSERT_NE(f.mdf, nullptr);
    cMdfMetaDataMap map = cMdf_getMetaData(f.mdf);
    EXPECT_EQ(render(map), "HDcomment.Device Information.serial number=0BADCAFE;"
                           "HDcomment.Log Information.session=17;"
                           "HDcomment.Log Information.split=4;SIcomment.bus=CAN1;");
    const cMdfMetaData& serial = map.at("HDcomment.Device Information.serial number");
    EXPECT_EQ(serial.name + "," + serial.type + "," + std::to_string(serial.ro),
              "serial number,string,1");
}

TEST(MdfMetaData, DocumentShapes) {
    // clang-format off
    const std::pair<const char*, const char*> cases[] = { // header comment XML, items
        // the first of two equal paths wins
        {"<A><common_properties><tree name=\"B\"><e name=\"C\">1</e><e name=\"C\">2</e></tree>"
         "</common_properties></A>", "A.B.C=1;"},
        {"<A><common_properties><e name=\"C\">x</e></common_properties></A>", "A.C=x;"},
        // leading blanks go, a line break stays
        {"<A><common_properties><e name=\"b\">  7</e><e name=\"n\">\n7</e>"
         "<e name=\"t\">\t7 </e></common_properties></A>", "A.b=7;A.n=\n7;A.t=\t7 ;"},
        // entity split text is joined
        {"<A><common_properties><e name=\"v\"> a&amp;b</e></common_properties></A>", "A.v=a&b;"},
        // items outside common_properties are ignored
        {"<A><e name=\"top\">1</e><other><e name=\"x\">2</e></other>"
         "<other><common_properties><e name=\"y\">3</e></common_properties></other></A>", ""},
        // nameless tree and item
        {"<A><common_properties><tree><e name=\"k\">v</e><e>lost</e></tree><e/>"
         "</common_properties></A>", "A.tree.k=v;"},
        // text after a child element is not collected
        {"<A><common_properties><e name=\"k\">v<b>x</b>tail</e></common_properties></A>",
         "A.k=vx;"},
        {"<A><common_properties><e name=\"k\">v</common_properties></A>", ""}, // not well-formed
        {"<A/>", ""},
    };
    // clang-format on
    for (const auto& [xml, items] : cases) {
        cMdfWriterOptions o;
        o.hdXml = xml;
        Opened f(o, canGroup(1));
        ASSERT_NE(f.mdf, nullptr) << xml;
        EXPECT_EQ(render(cMdf_getMetaData(f.mdf)), items) << xml;
    }
}

TEST(MdfMetaData, AttributesAndWhichCommentsCount) {
    cMdfWriterOptions o;
    o.hdXml = "<A><common_properties><e name=\"a\" ro=\"True\" unit=\"s\" description=\"d\">1</e>"
              "<e name=\"b\" ro=\"1\">2</e><e name=\"c\" ro=\"true\">3</e></common_properties></A>";
    Opened f(o, canGroup(1));
    ASSERT_NE(f.mdf, nullptr);
    cMdfMetaDataMap map = cMdf_getMetaData(f.mdf);
    ASSERT_EQ(map.size(), 3u);
    EXPECT_EQ(std::to_string(map["A.a"].ro) + map["A.a"].unit + map["A.a"].description +
                  std::to_string(map["A.b"].ro) + std::to_string(map["A.c"].ro),
              "0sd01");

    // Without an XML header comment nothing is gathered, whatever the sources hold; a broken
    // source comment empties the whole map.
    const std::string source = "<S><common_properties><e name=\"s\">1</e></common_properties></S>";
    struct Case {
        bool hdComment, hdAsTx;
        std::string sourceXml;
        bool empty;
    } cases[] = {{false, false, source, true},
                 {true, true, source, true},
                 {true, false, "<S><common_properties>", true},
                 {true, false, source, false}};
    for (const Case& c : cases) {
        cMdfWriterOptions opt;
        opt.hdComment = c.hdComment;
        opt.hdCommentAsTx = c.hdAsTx;
        std::vector<cMdfWriterGroup> groups = canGroup(1);
        groups[0].sourceComment = c.sourceXml;
        Opened g(opt, groups);
        ASSERT_NE(g.mdf, nullptr);
        cMdfMetaDataMap m = cMdf_getMetaData(g.mdf);
        EXPECT_EQ(m.empty(), c.empty) << c.hdComment << c.hdAsTx << c.sourceXml;
        EXPECT_EQ(metaValue(m, "S.s"), c.empty ? "<none>" : "1");
    }
}

TEST(MdfOpen, SavedTreeReadsBackTheSame) {
    cMdfWriterOptions o;
    std::vector<cMdfWriterGroup> groups = canGroup(6);
    groups.push_back(canGroup(4, 1)[0]);
    groups[1].dataStorage = MDFW_DATA_VLSD_SD;
    Opened f(o, groups);
    ASSERT_NE(f.mdf, nullptr);
    std::vector<uint32_t> before;
    countMessages(f.mdf, &before);

    cIO* out = cIO_memoryAlloc_ctor();
    cMdfBlock_saveContext ctx;
    cMdfBlock_saveContext_init(&ctx, out, 0);
    ASSERT_TRUE(cMdfBlock_save(f.mdf->root.get(), &ctx, nullptr));
    std::vector<uint8_t> saved(cIO_memoryAlloc_data(out),
                               cIO_memoryAlloc_data(out) + cIO_memoryAlloc_size(out));
    cIO_close(out);
    EXPECT_EQ(saved.size(), f.bytes.size());
    EXPECT_EQ(memcmp(saved.data(), "MDF     ", 8), 0);

    Opened back(saved);
    ASSERT_NE(back.mdf, nullptr);
    std::vector<uint32_t> after;
    countMessages(back.mdf, &after);
    EXPECT_EQ(before, after);
    EXPECT_EQ(before.size(), 10u);
    EXPECT_EQ(cMdf_getMetaData(back.mdf).size(), cMdf_getMetaData(f.mdf).size());
}

TEST(MdfOpen, DamagedFilesNeverCrash) {
    cMdfWriterOptions o;
    std::vector<cMdfWriterGroup> groups = canGroup(20, 1);
    groups[0].kinds = {MDFW_CAN_DATA, MDFW_CAN_REMOTE};
    groups[0].dataStorage = MDFW_DATA_VLSD_CG;
    groups.push_back(canGroup(5)[0]);
    groups[1].dataStorage = MDFW_DATA_VLSD_SD;
    std::vector<uint8_t> good = cMdfWriter_writeMemory(&o, &groups);
    ASSERT_FALSE(good.empty());
    zf_log_set_output_level(ZF_LOG_FATAL); // thousands of expected error lines
    // Every cut through the file fails: it always loses part of its last data block, which
    // then reaches past the end.
    for (size_t cut = 0; cut < good.size(); cut += (cut < 4096 ? 3 : 97))
        EXPECT_EQ(Opened(std::vector<uint8_t>(good.begin(), good.begin() + cut)).mdf, nullptr)
            << cut;
    // Damaged bytes anywhere: whatever still loads must iterate inside its buffers and end.
    std::mt19937 rng(12345);
    int iterated = 0;
    for (int i = 0; i < 3000; ++i) {
        std::vector<uint8_t> bad = good;
        for (int k = 0; k < 3; ++k)
            bad[rng() % bad.size()] = uint8_t(rng());
        Opened f(bad);
        if (f.mdf) {
            size_t n = countMessages(f.mdf);
            EXPECT_LT(n, 1000u);
            iterated += n > 0;
            cMdf_getMetaData(f.mdf);
        }
    }
    zf_log_set_output_level(ZF_LOG_INFO);
    EXPECT_GT(iterated, 200); // the damage reached the records, not only the metadata
}

} // namespace
