// Byte-layout checks of the MDF writer's own output, read back with a tiny block walker
// written here (not the program's reader), so that the writer stands on its own.

#include "tools/cMdfWriter.h"
#include "tools/cMdfWriterLayout.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

struct Block {
    std::string id;
    uint64_t offset = 0, length = 0;
    std::vector<uint64_t> links;
    const uint8_t* data = nullptr; // data section
};

uint64_t le(const uint8_t* p, int n) {
    uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}

struct View {
    const std::vector<uint8_t>& f;
    std::map<uint64_t, Block> blocks;
    explicit View(const std::vector<uint8_t>& file) : f(file) {}

    Block at(uint64_t off) const {
        Block b;
        b.offset = off;
        b.id.assign((const char*)&f[off], 4);
        b.length = le(&f[off + 8], 8);
        uint64_t n = le(&f[off + 16], 8);
        for (uint64_t i = 0; i < n; ++i)
            b.links.push_back(le(&f[off + 24 + 8 * i], 8));
        b.data = &f[off + 24 + 8 * n];
        return b;
    }
    std::string text(uint64_t off) const {
        if (!off) return "";
        Block b = at(off);
        return std::string((const char*)b.data);
    }
    // Walks every block reachable from the HD and checks the structural rules.
    void walk(uint64_t off) {
        if (off == 0 || blocks.count(off)) return;
        ASSERT_EQ(off % 8, 0u) << off;
        ASSERT_LE(off + 24, f.size());
        Block b = at(off);
        static const std::map<std::string, size_t> linkCount = {
            {"##HD", 6}, {"##FH", 2}, {"##DG", 4}, {"##CG", 6}, {"##CN", 8}, {"##CC", 4},
            {"##SI", 3}, {"##TX", 0}, {"##MD", 0}, {"##DT", 0}, {"##SD", 0}};
        ASSERT_TRUE(linkCount.count(b.id)) << b.id << " at " << off;
        ASSERT_EQ(b.links.size(), linkCount.at(b.id)) << b.id;
        ASSERT_LE(off + b.length, f.size()) << b.id;
        blocks[off] = b;
        for (uint64_t l : b.links)
            walk(l);
    }
    std::vector<Block> chain(uint64_t first) const {
        std::vector<Block> out;
        for (uint64_t o = first; o; o = at(o).links[0])
            out.push_back(at(o));
        return out;
    }
};

uint8_t payload[64];

cMdfWriterGroup canGroup() {
    cMdfWriterGroup g;
    for (int i = 0; i < 64; ++i)
        payload[i] = (uint8_t)(i + 1);
    g.frames.push_back(cMdfWriterFrame_can(0.5, 1, 0x123, false, payload, 8));
    g.frames.push_back(cMdfWriterFrame_can(1.25, 2, 0x1ABCDEF0, true, payload, 64));
    return g;
}

TEST(MdfWriterLayout, SortedGroupBlocksAndRecords) {
    cMdfWriterOptions o;
    std::vector<cMdfWriterGroup> groups = {canGroup()};
    cMdfWriterResult res;
    std::vector<uint8_t> f = cMdfWriter_writeMemory(&o, &groups, &res);
    ASSERT_FALSE(f.empty()) << res.error;
    EXPECT_EQ(res.bytes, f.size());
    EXPECT_EQ(res.frames, 2u);
    EXPECT_EQ(std::string((const char*)&f[0], 8), "MDF     ");
    EXPECT_EQ(std::string((const char*)&f[8], 8), "4.11    ");
    EXPECT_EQ(le(&f[28], 2), 411u);
    EXPECT_EQ(le(&f[60], 2), 0u);
    View v(f);
    v.walk(64);
    Block hd = v.at(64);
    ASSERT_EQ(hd.id, "##HD");
    EXPECT_EQ(hd.length, 104u);
    EXPECT_EQ(hd.links[2] | hd.links[3] | hd.links[4], 0u);
    EXPECT_EQ(le(hd.data, 8), o.startTimeNs);
    EXPECT_NE(v.text(hd.links[5])
                  .find("<e name=\"serial number\" type=\"string\" "
                        "ro=\"true\">1A2B3C4D</e>"),
              std::string::npos);
    Block fh = v.at(hd.links[1]);
    EXPECT_NE(v.text(fh.links[1]).find("<tool_id>Veskar</tool_id>"), std::string::npos);

    Block dg = v.at(hd.links[0]);
    EXPECT_EQ(dg.links[0], 0u);
    EXPECT_EQ(dg.data[0], 0u); // no record ids
    std::vector<Block> cgs = v.chain(dg.links[1]);
    ASSERT_EQ(cgs.size(), 1u);
    EXPECT_EQ(v.text(cgs[0].links[2]), "CAN_DataFrame");
    EXPECT_EQ(le(cgs[0].data + 8, 8), 2u);   // cycle count
    EXPECT_EQ(le(cgs[0].data + 24, 4), 79u); // data bytes
    // Timestamp first, then the structure channel whose members are the leaves.
    std::vector<Block> cns = v.chain(cgs[0].links[1]);
    ASSERT_EQ(cns.size(), 2u);
    EXPECT_EQ(v.text(cns[0].links[2]), "Timestamp");
    EXPECT_EQ(cns[0].data[0], 2u); // master
    EXPECT_EQ(v.text(cns[1].links[2]), "CAN_DataFrame");
    EXPECT_EQ(cns[1].links[2], cgs[0].links[2]); // one shared name block
    std::map<std::string, Block> members;
    for (const Block& m : v.chain(cns[1].links[1]))
        members[v.text(m.links[2])] = m;
    EXPECT_EQ(members.size(), 10u);
    const Block& id = members.at("CAN_DataFrame.ID");
    EXPECT_EQ(le(id.data + 4, 4) * 8 + id.data[3], 72u);
    EXPECT_EQ(le(id.data + 8, 4), 29u);
    EXPECT_EQ(le(members.at("CAN_DataFrame.DataBytes").data + 8, 4), 512u);

    Block dt = v.at(dg.links[2]);
    ASSERT_EQ(dt.id, "##DT");
    EXPECT_EQ(dt.length, 24u + 2 * 79u);
    EXPECT_EQ(dt.offset + dt.length, f.size());
    const uint8_t* r = dt.data + 79; // second record
    double t;
    memcpy(&t, r, 8);
    EXPECT_EQ(t, 1.25);
    EXPECT_EQ(r[8], 2u);
    EXPECT_EQ(le(r + 9, 4) & 0x1FFFFFFF, 0x1ABCDEF0u);
    EXPECT_EQ(r[12] >> 5 & 1, 1u); // IDE
    EXPECT_EQ(r[13] & 15, 15u);    // DLC
    EXPECT_EQ(r[13] >> 5 & 1, 1u); // EDL
    EXPECT_EQ(r[14], 64u);
    EXPECT_EQ(memcmp(r + 15, payload, 64), 0);
    EXPECT_EQ(dt.data[14], 8u);
    EXPECT_EQ(dt.data[15 + 8], 0u); // unused payload bytes stay zero
}

TEST(MdfWriterLayout, UnsortedGroupInterleavesRecordsById) {
    cMdfWriterGroup g;
    g.recordIdSize = 2;
    g.frames.push_back(cMdfWriterFrame_can(0.1, 1, 0x10, false, payload, 3));
    g.frames.push_back(cMdfWriterFrame_lin(0.2, 1, 0x21, payload, 4));
    g.frames.push_back(cMdfWriterFrame_error(0.3, 2, 3));
    g.frames.push_back(cMdfWriterFrame_remote(0.4, 1, 0x7FF, false, 2));
    g.frames.push_back(cMdfWriterFrame_can(0.5, 1, 0x11, false, payload, 8));
    g.canDataBytes = 8;
    cMdfWriterOptions o;
    std::vector<cMdfWriterGroup> groups = {g};
    std::vector<uint8_t> f = cMdfWriter_writeMemory(&o, &groups);
    ASSERT_FALSE(f.empty());
    View v(f);
    v.walk(64);
    Block dg = v.at(v.at(64).links[0]);
    EXPECT_EQ(dg.data[0], 2u);
    std::map<uint64_t, uint64_t> size;
    std::map<uint64_t, std::string> name;
    std::map<uint64_t, uint64_t> cycles;
    for (const Block& cg : v.chain(dg.links[1])) {
        uint64_t rid = le(cg.data, 8);
        size[rid] = le(cg.data + 24, 4);
        name[rid] = v.text(cg.links[2]);
        cycles[rid] = le(cg.data + 8, 8);
    }
    EXPECT_EQ(name, (std::map<uint64_t, std::string>{{1, "CAN_DataFrame"},
                                                     {2, "LIN_Frame"},
                                                     {3, "CAN_ErrorFrame"},
                                                     {4, "CAN_RemoteFrame"}}));
    EXPECT_EQ(size[1], 23u);
    EXPECT_EQ(size[2], 19u);
    EXPECT_EQ(size[3], 10u);
    EXPECT_EQ(size[4], 15u);
    Block dt = v.at(dg.links[2]);
    std::vector<uint64_t> order;
    for (uint64_t p = 0; p < dt.length - 24;) {
        uint64_t rid = le(dt.data + p, 2);
        ASSERT_TRUE(size.count(rid));
        order.push_back(rid);
        p += 2 + size[rid];
    }
    EXPECT_EQ(order, (std::vector<uint64_t>{1, 2, 3, 4, 1}));
    EXPECT_EQ(cycles[1], 2u);
    EXPECT_EQ(dt.data[2 + 23 + 2 + 9], 0x21u); // LIN ID, Dir clear
}

TEST(MdfWriterLayout, VlsdPayloadsInSdBlockAndInVlsdGroup) {
    for (auto storage : {MDFW_DATA_VLSD_SD, MDFW_DATA_VLSD_CG}) {
        cMdfWriterGroup g = canGroup();
        g.dataStorage = storage;
        g.recordIdSize = storage == MDFW_DATA_VLSD_CG ? 1 : 0;
        cMdfWriterOptions o;
        std::vector<cMdfWriterGroup> groups = {g};
        std::vector<uint8_t> f = cMdfWriter_writeMemory(&o, &groups);
        ASSERT_FALSE(f.empty());
        View v(f);
        v.walk(64);
        Block dg = v.at(v.at(64).links[0]);
        std::vector<Block> cgs = v.chain(dg.links[1]);
        Block dt = v.at(dg.links[2]);
        Block bytes;
        for (const Block& m : v.chain(v.chain(cgs[0].links[1])[1].links[1]))
            if (v.text(m.links[2]) == "CAN_DataFrame.DataBytes") bytes = m;
        EXPECT_EQ(bytes.data[0], 1u); // variable-length channel
        EXPECT_EQ(le(bytes.data + 8, 4), 64u);
        Block target = v.at(bytes.links[5]);
        if (storage == MDFW_DATA_VLSD_SD) {
            ASSERT_EQ(target.id, "##SD");
            ASSERT_EQ(cgs.size(), 1u);
            EXPECT_EQ(target.length, 24u + 4 + 8 + 4 + 64);
            EXPECT_EQ(le(dt.data + 23 + 15, 8), 12u); // second record's offset
            EXPECT_EQ(le(target.data + 12, 4), 64u);
            EXPECT_EQ(memcmp(target.data + 16, payload, 64), 0);
        } else {
            ASSERT_EQ(cgs.size(), 2u);
            EXPECT_EQ(target.offset, cgs[1].offset);
            EXPECT_EQ(le(cgs[1].data + 16, 2), 1u);  // VLSD flag
            EXPECT_EQ(le(cgs[1].data + 24, 8), 80u); // total payload bytes
            EXPECT_EQ(le(cgs[1].data + 8, 8), 2u);   // records
            const uint8_t* r = dt.data;              // id, 23 bytes, id, length, bytes
            EXPECT_EQ(r[0], 1u);
            EXPECT_EQ(r[24], 2u);
            EXPECT_EQ(le(r + 25, 4), 8u);
            EXPECT_EQ(memcmp(r + 29, payload, 8), 0);
            EXPECT_EQ(r[37], 1u);
            EXPECT_EQ(le(r + 37 + 16, 8), 12u); // offset of the second payload
            EXPECT_EQ(dt.length, 24u + 2 * 24 + 2 * 5 + 8 + 64);
        }
    }
}

TEST(MdfWriterLayout, UnfinalisedFileLeavesLastDtLength) {
    cMdfWriterOptions o;
    o.unfinalised = true;
    std::vector<cMdfWriterGroup> groups = {canGroup(), canGroup()};
    std::vector<uint8_t> f = cMdfWriter_writeMemory(&o, &groups);
    ASSERT_FALSE(f.empty());
    EXPECT_EQ(std::string((const char*)&f[0], 8), "UnFinMF ");
    EXPECT_EQ(le(&f[60], 2), 4u);
    View v(f);
    std::vector<Block> dgs = v.chain(v.at(64).links[0]);
    ASSERT_EQ(dgs.size(), 2u);
    Block first = v.at(dgs[0].links[2]), last = v.at(dgs[1].links[2]);
    EXPECT_EQ(first.length, 24u + 2 * 79);
    EXPECT_EQ(last.length, 24u);
    EXPECT_EQ(last.offset + 24 + 2 * 79, f.size()); // records run to the end of the file

    groups[1].dataStorage = MDFW_DATA_VLSD_SD;
    cMdfWriterResult res;
    EXPECT_TRUE(cMdfWriter_writeMemory(&o, &groups, &res).empty());
    EXPECT_NE(res.error.find("SD block"), std::string::npos);
}

TEST(MdfWriterLayout, RefusesFramesThatCannotBeWritten) {
    struct Case {
        const char* what;
        void (*change)(cMdfWriterGroup*);
    } cases[] = {
        {"kind", [](cMdfWriterGroup* g) { g->kinds = {MDFW_LIN}; }},
        {"record ids", [](cMdfWriterGroup* g) { g->dataStorage = MDFW_DATA_VLSD_CG; }},
        {"DataBytes", [](cMdfWriterGroup* g) { g->canDataBytes = 8; }},
        {"invalidation", [](cMdfWriterGroup* g) { g->invalidationBytes = 1u << 30; }},
        {"kinds", [](cMdfWriterGroup* g) { g->source = [](cMdfWriterFrame*) { return false; }; }},
    };
    for (const Case& c : cases) {
        cMdfWriterGroup g = canGroup();
        c.change(&g);
        std::vector<cMdfWriterGroup> groups = {g};
        cMdfWriterOptions o;
        cMdfWriterResult res;
        EXPECT_TRUE(cMdfWriter_writeMemory(&o, &groups, &res).empty()) << c.what;
        EXPECT_NE(res.error.find(c.what), std::string::npos) << res.error;
    }
}

TEST(MdfWriterLayout, FileAndStreamingSourceMatchMemory) {
    cMdfWriterOptions o;
    std::vector<cMdfWriterGroup> groups = {canGroup()};
    groups[0].timeEncoding = MDFW_TIME_MICROS;
    std::vector<uint8_t> mem = cMdfWriter_writeMemory(&o, &groups);
    cMdfWriterGroup streamed = groups[0];
    auto frames = std::make_shared<std::vector<cMdfWriterFrame>>(streamed.frames);
    auto n = std::make_shared<size_t>(0);
    streamed.frames.clear();
    streamed.kinds = {MDFW_CAN_DATA};
    streamed.source = [frames, n](cMdfWriterFrame* out) {
        if (*n >= frames->size()) return false;
        *out = (*frames)[(*n)++];
        return true;
    };
    std::vector<cMdfWriterGroup> sg = {streamed};
    std::string path = testing::TempDir() + "/writer_layout.mf4";
    cMdfWriterResult res;
    ASSERT_TRUE(cMdfWriter_writeFile(path.c_str(), &o, &sg, &res)) << res.error;
    std::vector<uint8_t> file(res.bytes);
    FILE* fp = fopen(path.c_str(), "rb");
    ASSERT_TRUE(fp);
    EXPECT_EQ(fread(file.data(), 1, file.size() + 1, fp), file.size());
    fclose(fp);
    remove(path.c_str());
    EXPECT_EQ(file, mem);
    // Raw microseconds with a linear conversion of factor 1e-6.
    View v(mem);
    Block cg = v.at(v.at(v.at(64).links[0]).links[1]);
    Block ts = v.at(cg.links[1]);
    EXPECT_EQ(ts.data[2], 0u); // unsigned little-endian
    Block cc = v.at(ts.links[4]);
    ASSERT_EQ(cc.id, "##CC");
    EXPECT_EQ(cc.data[0], 1u);
    double p[2];
    memcpy(p, cc.data + 24, 16);
    EXPECT_EQ(p[0], 0.0);
    EXPECT_EQ(p[1], 1e-6);
    Block dt = v.at(v.at(v.at(64).links[0]).links[2]);
    EXPECT_EQ(le(dt.data + 79, 8), 1250000u);
}

TEST(MdfWriterLayout, BigEndianGroupUsesWholeBytes) {
    cMdfWriterGroup g = canGroup();
    g.bigEndian = true;
    cMdfWriterOptions o;
    std::vector<cMdfWriterGroup> groups = {g};
    std::vector<uint8_t> f = cMdfWriter_writeMemory(&o, &groups);
    ASSERT_FALSE(f.empty());
    View v(f);
    v.walk(64);
    Block dg = v.at(v.at(64).links[0]);
    Block cg = v.at(dg.links[1]);
    EXPECT_EQ(le(cg.data + 24, 4), 84u);
    std::vector<Block> cns = v.chain(cg.links[1]);
    EXPECT_EQ(cns[0].data[2], 5u); // float, big-endian
    for (const Block& m : v.chain(cns[1].links[1])) {
        std::string name = v.text(m.links[2]);
        EXPECT_EQ(m.data[3], 0u) << name; // no bit offsets
        EXPECT_EQ(le(m.data + 8, 4) % 8, 0u) << name;
        EXPECT_EQ(m.data[2], name == "CAN_DataFrame.DataBytes" ? 10u : 1u) << name;
    }
    const uint8_t* r = v.at(dg.links[2]).data + 84;
    const uint8_t time[8] = {0x3F, 0xF4, 0, 0, 0, 0, 0, 0}; // 1.25
    EXPECT_EQ(memcmp(r, time, 8), 0);
    const uint8_t id[4] = {0x1A, 0xBC, 0xDE, 0xF0};
    EXPECT_EQ(memcmp(r + 8, id, 4), 0);
    EXPECT_EQ(r[12], 1u);  // IDE
    EXPECT_EQ(r[13], 15u); // DLC
    EXPECT_EQ(r[14], 64u);
    EXPECT_EQ(r[19], 2u); // BusChannel
    EXPECT_EQ(memcmp(r + 20, payload, 64), 0);
}

TEST(MdfWriterLayout, ChannelAndMetadataOptions) {
    cMdfWriterGroup g = canGroup();
    g.flatChannels = true;
    g.omitChannels = {"CAN_DataFrame.DataLength", "CAN_DataFrame.ESI"};
    g.channelPrefix = "Foo";
    g.busChannelTable = {{7, 1}, {9, 2}};
    g.invalidationBytes = 3;
    g.recordIdSize = 1;
    g.recordIds = {42};
    g.writeSource = false;
    g.frames[1].esi = true;
    cMdfWriterOptions o;
    o.toolIds = {"Other", "VK"};
    o.fhCommentAsTx = true;
    o.hdXml = "<broken";
    o.shareTexts = false;
    std::vector<cMdfWriterGroup> groups = {g};
    std::vector<uint8_t> f = cMdfWriter_writeMemory(&o, &groups);
    ASSERT_FALSE(f.empty());
    View v(f);
    v.walk(64);
    Block hd = v.at(64);
    EXPECT_EQ(v.text(hd.links[5]), "<broken");
    std::vector<Block> fhs = v.chain(hd.links[1]);
    ASSERT_EQ(fhs.size(), 2u);
    EXPECT_EQ(v.at(fhs[1].links[1]).id, "##TX");
    EXPECT_NE(v.text(fhs[1].links[1]).find("<tool_id>VK</tool_id>"), std::string::npos);
    Block dg = v.at(hd.links[0]);
    Block cg = v.at(dg.links[1]);
    EXPECT_EQ(le(cg.data, 8), 42u);
    EXPECT_EQ(le(cg.data + 28, 4), 3u);
    EXPECT_EQ(cg.links[3], 0u);
    std::vector<std::string> names;
    Block bus;
    for (const Block& cn : v.chain(cg.links[1])) {
        names.push_back(v.text(cn.links[2]));
        if (names.back() == "Foo.BusChannel") bus = cn;
        EXPECT_EQ(cn.links[1], 0u);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Timestamp", "Foo.ID", "Foo.IDE", "Foo.DLC",
                                               "Foo.DataBytes", "Foo.Dir", "Foo.EDL", "Foo.BRS",
                                               "Foo.BusChannel"}));
    EXPECT_NE(v.text(cg.links[2]).size(), 0u);
    EXPECT_NE(cg.links[2], v.chain(cg.links[1])[0].links[2]);
    Block cc = v.at(bus.links[4]);
    EXPECT_EQ(cc.data[0], 5u);
    EXPECT_EQ(le(cc.data + 6, 2), 4u);
    double params[4];
    memcpy(params, cc.data + 24, sizeof params);
    EXPECT_EQ(params[2], 9.0);
    EXPECT_EQ(params[3], 2.0);
    Block dt = v.at(dg.links[2]);
    EXPECT_EQ(dt.length, 24u + 2 * (1 + 79 + 3));
    const uint8_t* r = dt.data + 83;
    EXPECT_EQ(r[0], 42u);
    EXPECT_EQ(r[1 + 8], 9u);       // raw BusChannel whose table value is bus 2
    EXPECT_EQ(r[1 + 14], 0u);      // DataLength left out
    EXPECT_EQ(r[1 + 13] >> 7, 0u); // ESI left out
}

TEST(MdfWriterLayout, PutBitsOrders) {
    struct Case {
        uint32_t pos, bits;
        uint64_t value;
        bool le;
        uint8_t expect[3];
    } cases[] = {
        {0, 16, 0x1234, true, {0x34, 0x12, 0}},
        {0, 16, 0x1234, false, {0x12, 0x34, 0}},
        {4, 8, 0xDA, true, {0xA0, 0x0D, 0}},
        {4, 8, 0xBC, false, {0x0B, 0xC0, 0}},
        {3, 1, 1, true, {0x08, 0, 0}},
        {3, 1, 1, false, {0x10, 0, 0}},
        {5, 14, 0x3FFF, true, {0xE0, 0xFF, 0x07}},
        {0, 4, 0xFF, true, {0x0F, 0, 0}},
    };
    for (const Case& c : cases) {
        uint8_t buf[3] = {};
        cMdfWriter_putBits(buf, c.pos, c.bits, c.value, c.le);
        EXPECT_EQ(memcmp(buf, c.expect, 3), 0) << c.pos << " " << c.bits << " " << c.le;
    }
}

TEST(MdfWriterLayout, DlcTable) {
    const uint8_t lengths[] = {0, 8, 9, 12, 13, 20, 33, 48, 64, 200};
    const uint8_t dlcs[] = {0, 8, 9, 9, 10, 11, 14, 14, 15, 15};
    for (size_t i = 0; i < sizeof lengths; ++i)
        EXPECT_EQ(cMdfWriter_dlcForLength(lengths[i]), dlcs[i]) << (int)lengths[i];
    EXPECT_EQ(cMdfWriter_lengthForDlc(13), 32u);
    EXPECT_EQ(cMdfWriter_lengthForDlc(9), 12u);
    EXPECT_EQ(cMdfWriter_lengthForDlc(200), 64u);
}

} // namespace
