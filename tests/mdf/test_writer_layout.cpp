// Byte-layout check of the MDF writer's CAN data group, read back with a tiny block walker
// written here (not the program's reader), so that the writer stands on its own. Its other
// storage layouts are held to the format through the reader: the record tests read hand-made
// bytes, and the round trips read the writer's files.

#include "tools/cMdfWriter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
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
        return off ? std::string((const char*)at(off).data) : "";
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

using U = std::vector<uint64_t>;

uint8_t payload[64];

cMdfWriterGroup canGroup() {
    cMdfWriterGroup g;
    for (int i = 0; i < 64; ++i)
        payload[i] = (uint8_t)(i + 1);
    g.frames.push_back(cMdfWriterFrame_can(0.5, 1, 0x123, false, payload, 8));
    g.frames.push_back(cMdfWriterFrame_can(1.25, 2, 0x1ABCDEF0, true, payload, 64));
    return g;
}

// The file of the given groups with default options, walked from its header block.
std::vector<uint8_t> written(const std::vector<cMdfWriterGroup>& groups,
                             const cMdfWriterOptions& o = {}, cMdfWriterResult* res = nullptr) {
    std::vector<uint8_t> f = cMdfWriter_writeMemory(&o, &groups, res);
    EXPECT_FALSE(f.empty()) << (res ? res->error : "");
    if (!f.empty()) View(f).walk(64);
    return f;
}

TEST(MdfWriterLayout, SortedGroupBlocksAndRecords) {
    cMdfWriterOptions o;
    cMdfWriterResult res;
    std::vector<uint8_t> f = written({canGroup()}, o, &res);
    ASSERT_FALSE(f.empty());
    EXPECT_EQ((U{res.bytes, res.frames, le(&f[28], 2), le(&f[60], 2)}), (U{f.size(), 2, 411, 0}));
    EXPECT_EQ(std::string((const char*)&f[0], 16), "MDF     4.11    ");
    View v(f);
    Block hd = v.at(64);
    ASSERT_EQ(hd.id, "##HD");
    EXPECT_EQ((U{hd.length, hd.links[2] | hd.links[3] | hd.links[4], le(hd.data, 8)}),
              (U{104, 0, o.startTimeNs}));
    EXPECT_NE(v.text(hd.links[5])
                  .find("<e name=\"serial number\" type=\"string\" ro=\"true\">1A2B3C4D</e>"),
              std::string::npos);
    Block fh = v.at(hd.links[1]);
    EXPECT_NE(v.text(fh.links[1]).find("<tool_id>Veskar</tool_id>"), std::string::npos);

    Block dg = v.at(hd.links[0]);
    EXPECT_EQ((U{dg.links[0], dg.data[0]}), (U{0, 0})); // no next group, no record ids
    std::vector<Block> cgs = v.chain(dg.links[1]);
    ASSERT_EQ(cgs.size(), 1u);
    EXPECT_EQ(v.text(cgs[0].links[2]), "CAN_DataFrame");
    EXPECT_EQ((U{le(cgs[0].data + 8, 8), le(cgs[0].data + 24, 4)}), (U{2, 79})); // cycles, bytes
    // Timestamp first (a master), then the structure channel whose members are the leaves.
    std::vector<Block> cns = v.chain(cgs[0].links[1]);
    ASSERT_EQ(cns.size(), 2u);
    EXPECT_EQ(v.text(cns[0].links[2]) + "," + v.text(cns[1].links[2]), "Timestamp,CAN_DataFrame");
    EXPECT_EQ(cns[0].data[0], 2u);
    EXPECT_EQ(cns[1].links[2], cgs[0].links[2]); // one shared name block
    std::map<std::string, Block> members;
    for (const Block& m : v.chain(cns[1].links[1]))
        members[v.text(m.links[2])] = m;
    EXPECT_EQ(members.size(), 10u);
    const Block& id = members.at("CAN_DataFrame.ID");
    EXPECT_EQ((U{le(id.data + 4, 4) * 8 + id.data[3], le(id.data + 8, 4),
                 le(members.at("CAN_DataFrame.DataBytes").data + 8, 4)}),
              (U{72, 29, 512}));

    Block dt = v.at(dg.links[2]);
    ASSERT_EQ(dt.id, "##DT");
    EXPECT_EQ((U{dt.length, dt.offset + dt.length}), (U{24 + 2 * 79, f.size()}));
    const uint8_t* r = dt.data + 79; // second record
    double t;
    memcpy(&t, r, 8);
    EXPECT_EQ(t, 1.25);
    // bus, ID, IDE, DLC, EDL, data length
    EXPECT_EQ(
        (U{r[8], le(r + 9, 4) & 0x1FFFFFFF, r[12] >> 5 & 1u, r[13] & 15u, r[13] >> 5 & 1u, r[14]}),
        (U{2, 0x1ABCDEF0, 1, 15, 1, 64}));
    EXPECT_EQ(memcmp(r + 15, payload, 64), 0);
    EXPECT_EQ((U{dt.data[14], dt.data[15 + 8]}), (U{8, 0})); // unused payload bytes stay zero
}

} // namespace
