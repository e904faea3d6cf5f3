#include "tools/cMdfWriterPlan.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

namespace {

// Fixed sizes of the block types written here (links, data section bytes).
constexpr uint32_t DG_LINKS = 4, DG_DATA = 8;
constexpr uint32_t CG_LINKS = 6, CG_DATA = 32;
constexpr uint32_t CN_LINKS = 8, CN_DATA = 72;
constexpr uint32_t CC_LINKS = 4, CC_DATA = 24;
constexpr uint32_t SI_LINKS = 3, SI_DATA = 8;
constexpr uint64_t HEADER_BYTES = 24;

// Link numbers.
constexpr uint32_t HD_L_DG = 0;
constexpr uint32_t DG_L_NEXT = 0, DG_L_CG = 1, DG_L_DATA = 2, DG_L_COMMENT = 3;
constexpr uint32_t CG_L_NEXT = 0, CG_L_CN = 1, CG_L_NAME = 2, CG_L_SOURCE = 3;
constexpr uint32_t CN_L_NEXT = 0, CN_L_COMPOSITION = 1, CN_L_NAME = 2, CN_L_CONVERSION = 4,
                   CN_L_DATA = 5;
constexpr uint32_t CN_L_UNIT = 6;
constexpr uint32_t SI_L_NAME = 0, SI_L_COMMENT = 2;
// Data section fields of the CG block.
constexpr size_t CG_D_RECORD_ID = 0, CG_D_CYCLES = 8, CG_D_FLAGS = 16, CG_D_PATH_SEP = 18;
constexpr size_t CG_D_DATA_BYTES = 24, CG_D_INVAL_BYTES = 28;
constexpr uint16_t CG_FLAG_VLSD = 1;
// Channel data types, channel types and conversion types as stored in the file.
constexpr uint8_t DT_UINT_LE = 0, DT_UINT_BE = 1, DT_FLOAT_LE = 4, DT_FLOAT_BE = 5;
constexpr uint8_t DT_BYTES = 10;
constexpr uint8_t CT_FIXED = 0, CT_VLSD = 1, CT_MASTER = 2, SYNC_TIME = 1;
constexpr uint8_t CC_LINEAR = 1, CC_VALUE_TO_VALUE = 5;
constexpr uint8_t SOURCE_BUS = 2;
// Beyond this many invalidation bytes a record would be absurd; refuse instead of allocating.
constexpr uint32_t MAX_INVALIDATION_BYTES = 1u << 16;
// Records are gathered into chunks of this size before they go to the sink.
constexpr size_t CHUNK_BYTES = 8u << 20;
constexpr uint32_t MAX_PAYLOAD = 64;
// SD payloads beyond this many bytes go to a temporary file until the DT block is done.
constexpr size_t SD_SPILL_BYTES = 64u << 20;

int addConversion(cMdfWriterBlocks* b, uint8_t type, const std::vector<double>& params,
                  const std::string& label) {
    int cc = cMdfWriterBlocks_add(b, "##CC", CC_LINKS, CC_DATA + 8 * params.size(), label);
    cMdfWriterBlocks_u8(b, cc, 0, type);
    cMdfWriterBlocks_u16(b, cc, 6, (uint16_t)params.size());
    for (size_t i = 0; i < params.size(); ++i)
        cMdfWriterBlocks_f64(b, cc, CC_DATA + 8 * i, params[i]);
    return cc;
}

int addChannel(cMdfWriterBlocks* b, const std::string& name, uint8_t channelType, uint8_t dataType,
               uint32_t byteOffset, uint8_t bitOffset, uint32_t bitCount) {
    int cn = cMdfWriterBlocks_add(b, "##CN", CN_LINKS, CN_DATA, name);
    cMdfWriterBlocks_link(b, cn, CN_L_NAME, cMdfWriterBlocks_text(b, "##TX", name));
    cMdfWriterBlocks_u8(b, cn, 0, channelType);
    cMdfWriterBlocks_u8(b, cn, 1, channelType == CT_MASTER ? SYNC_TIME : 0);
    cMdfWriterBlocks_u8(b, cn, 2, dataType);
    cMdfWriterBlocks_u8(b, cn, 3, bitOffset);
    cMdfWriterBlocks_u32(b, cn, 4, byteOffset);
    cMdfWriterBlocks_u32(b, cn, 8, bitCount);
    return cn;
}

// Links blocks into one chain through their link number `next`; returns its first block.
int chainBlocks(cMdfWriterBlocks* b, const std::vector<int>& blocks, uint32_t next) {
    for (size_t i = 1; i < blocks.size(); ++i)
        cMdfWriterBlocks_link(b, blocks[i - 1], next, blocks[i]);
    return blocks.empty() ? MDFW_NO_BLOCK : blocks.front();
}

// Puts blocks in an order drawn from seed (the same on every platform).
void shuffleBlocks(std::vector<int>* blocks, uint64_t seed) {
    for (size_t i = blocks->size(); i > 1; --i) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        std::swap((*blocks)[i - 1], (*blocks)[(seed >> 33) % i]);
    }
}

// The channels of one channel group: Timestamp, then the structure channel named after the
// group with the members below it (or the members directly when flat).
int buildChannels(cMdfWriterBlocks* b, cMdfWriterPlan* dg, const cMdfWriterCgPlan* cg, int timeCc,
                  int busCc) {
    const cMdfWriterGroup* g = dg->group;
    const cMdfWriterRecordLayout* l = &cg->layout;
    uint8_t uintType = g->bigEndian ? DT_UINT_BE : DT_UINT_LE;
    std::string prefix = g->channelPrefix.empty() ? l->groupName : g->channelPrefix;
    std::vector<int> top, members;
    if (!cg->enc.omit[0]) {
        bool timeLe = cMdfWriter_timeLittleEndian(g);
        uint8_t timeType = g->timeEncoding == MDFW_TIME_DOUBLE
                               ? (timeLe ? DT_FLOAT_LE : DT_FLOAT_BE)
                           : timeLe ? DT_UINT_LE
                                    : DT_UINT_BE;
        int ts = addChannel(b, "Timestamp", CT_MASTER, timeType, 0, 0, l->channels[0].bitCount);
        cMdfWriterBlocks_link(b, ts, CN_L_CONVERSION, timeCc);
        cMdfWriterBlocks_link(b, ts, CN_L_UNIT, cMdfWriterBlocks_text(b, "##TX", "s"));
        top.push_back(ts);
    }
    int parent = MDFW_NO_BLOCK;
    if (!g->flatChannels) {
        parent = addChannel(b, l->groupName, CT_FIXED, DT_BYTES, 8, 0, (l->dataBytes - 8) * 8);
        top.push_back(parent);
    }
    for (uint32_t i = 1; i < l->channelCount; ++i) {
        if (cg->enc.omit[i]) continue;
        const cMdfWriterChannel& ch = l->channels[i];
        bool bytes = ch.field == MDFW_F_DATA_BYTES;
        int cn = addChannel(b, prefix + "." + ch.suffix, bytes && l->vlsd ? CT_VLSD : CT_FIXED,
                            bytes ? DT_BYTES : uintType, ch.byteOffset, ch.bitOffset, ch.bitCount);
        if (ch.field == MDFW_F_BUS) cMdfWriterBlocks_link(b, cn, CN_L_CONVERSION, busCc);
        if (bytes && l->vlsd) {
            if (cg->vlsd >= 0)
                cMdfWriterBlocks_link(b, cn, CN_L_DATA, dg->vlsd[cg->vlsd].block);
            else
                dg->sdChannels.push_back(cn);
        }
        (parent >= 0 ? members : top).push_back(cn);
    }
    if (g->channelShuffle != 0) {
        shuffleBlocks(parent >= 0 ? &members : &top, g->channelShuffle * 31ull + l->kind);
    }
    if (parent >= 0)
        cMdfWriterBlocks_link(b, parent, CN_L_COMPOSITION, chainBlocks(b, members, CN_L_NEXT));
    return chainBlocks(b, top, CN_L_NEXT);
}

} // namespace

bool cMdfWriterPlan_init(cMdfWriterPlan* plan, const cMdfWriterGroup* g, std::string* error) {
    cMdfWriterPlan& dg = *plan;
    dg = cMdfWriterPlan{};
    dg.group = g;
    auto fail = [&](const char* why) {
        *error = why;
        return false;
    };
    for (int& k : dg.cgOfKind)
        k = -1;
    std::vector<cMdfWriterFrameKind> kinds = g->kinds;
    if (kinds.empty()) {
        if (g->source) return fail("a streaming data group needs its kinds");
        for (const cMdfWriterFrame& f : g->frames) {
            bool seen = false;
            for (auto k : kinds)
                seen = seen || k == f.kind;
            if (!seen) kinds.push_back(f.kind);
        }
        if (kinds.empty()) kinds.push_back(MDFW_CAN_DATA);
    }
    if (g->invalidationBytes > MAX_INVALIDATION_BYTES) return fail("too many invalidation bytes");
    if (g->dataStorage == MDFW_DATA_VLSD_CG && g->recordIdSize == 0)
        return fail("VLSD channel groups need record ids");
    for (auto k : kinds) {
        cMdfWriterCgPlan cg{};
        if (k > MDFW_LIN || !cMdfWriterRecordLayout_init(&cg.layout, k, g))
            return fail("unknown frame kind");
        if (dg.cgOfKind[k] < 0) dg.cgOfKind[k] = (int)dg.cgs.size();
        cg.vlsd = -1;
        if (g->dataStorage == MDFW_DATA_VLSD_CG && cg.layout.dataBytesChannel >= 0) {
            cg.vlsd = (int)dg.vlsd.size();
            dg.vlsd.push_back(cMdfWriterVlsdPlan{});
        }
        dg.cgs.push_back(cg);
    }
    if (!g->chainOrder.empty()) {
        std::vector<bool> seen(dg.cgs.size(), false);
        if (g->chainOrder.size() != dg.cgs.size()) return fail("chain order of the wrong size");
        for (uint32_t i : g->chainOrder) {
            if (i >= seen.size() || seen[i]) return fail("chain order is no permutation");
            seen[i] = true;
        }
    }
    uint64_t next = 1;
    size_t n = 0;
    auto nextId = [&]() {
        uint64_t id = n < g->recordIds.size() ? g->recordIds[n] : next;
        next = id + 1;
        ++n;
        return id;
    };
    for (cMdfWriterCgPlan& cg : dg.cgs)
        cg.recordId = nextId();
    for (cMdfWriterVlsdPlan& v : dg.vlsd)
        v.recordId = nextId();
    return true;
}

void cMdfWriterPlan_build(cMdfWriterPlan* dg, cMdfWriterBlocks* b, size_t index, int prevDg,
                          int hd) {
    const cMdfWriterGroup* g = dg->group;
    std::string tag = std::to_string(index);
    dg->block = cMdfWriterBlocks_add(b, "##DG", DG_LINKS, DG_DATA, "DG" + tag);
    cMdfWriterBlocks_link(b, prevDg >= 0 ? prevDg : hd, prevDg >= 0 ? DG_L_NEXT : HD_L_DG,
                          dg->block);
    cMdfWriterBlocks_u8(b, dg->block, 0, g->recordIdSize);
    if (!g->comment.empty())
        cMdfWriterBlocks_link(b, dg->block, DG_L_COMMENT,
                              cMdfWriterBlocks_text(b, "##TX", g->comment));
    int timeCc = MDFW_NO_BLOCK, busCc = MDFW_NO_BLOCK;
    if (g->timeEncoding == MDFW_TIME_MICROS)
        timeCc = addConversion(b, CC_LINEAR, {0.0, 1e-6}, "Timestamp conversion");
    if (g->timeEncoding == MDFW_TIME_MILLIS32_BE)
        timeCc = addConversion(b, CC_LINEAR, {0.0, 1e-3}, "Timestamp conversion");
    if (!g->busChannelTable.empty()) {
        std::vector<double> params;
        for (const auto& kv : g->busChannelTable) {
            params.push_back(kv.first);
            params.push_back(kv.second);
        }
        busCc = addConversion(b, CC_VALUE_TO_VALUE, params, "BusChannel table");
    }
    int source[4] = {MDFW_NO_BLOCK, MDFW_NO_BLOCK, MDFW_NO_BLOCK, MDFW_NO_BLOCK};
    for (cMdfWriterCgPlan& cg : dg->cgs) {
        cg.block = cMdfWriterBlocks_add(b, "##CG", CG_LINKS, CG_DATA, cg.layout.groupName);
        cMdfWriterBlocks_u64(b, cg.block, CG_D_RECORD_ID, cg.recordId);
        cMdfWriterBlocks_u16(b, cg.block, CG_D_PATH_SEP, '.');
        cMdfWriterBlocks_u32(b, cg.block, CG_D_DATA_BYTES, cg.layout.dataBytes);
        cMdfWriterBlocks_u32(b, cg.block, CG_D_INVAL_BYTES, g->invalidationBytes);
        cMdfWriterBlocks_link(b, cg.block, CG_L_NAME,
                              cMdfWriterBlocks_text(b, "##TX", cg.layout.groupName));
        uint8_t bus = cg.layout.busType;
        if (g->writeSource && source[bus] < 0) {
            int si = cMdfWriterBlocks_add(b, "##SI", SI_LINKS, SI_DATA, bus == 2 ? "CAN" : "LIN");
            cMdfWriterBlocks_link(b, si, SI_L_NAME,
                                  cMdfWriterBlocks_text(b, "##TX", bus == 2 ? "CAN" : "LIN"));
            if (!g->sourceComment.empty())
                cMdfWriterBlocks_link(b, si, SI_L_COMMENT,
                                      cMdfWriterBlocks_text(b, "##MD", g->sourceComment));
            cMdfWriterBlocks_u8(b, si, 0, SOURCE_BUS);
            cMdfWriterBlocks_u8(b, si, 1, bus);
            source[bus] = si;
        }
        cMdfWriterBlocks_link(b, cg.block, CG_L_SOURCE, source[bus]);
    }
    for (cMdfWriterVlsdPlan& v : dg->vlsd) {
        v.block = cMdfWriterBlocks_add(b, "##CG", CG_LINKS, CG_DATA, "VLSD");
        cMdfWriterBlocks_u64(b, v.block, CG_D_RECORD_ID, v.recordId);
        cMdfWriterBlocks_u16(b, v.block, CG_D_FLAGS, CG_FLAG_VLSD);
        cMdfWriterBlocks_u16(b, v.block, CG_D_PATH_SEP, '.');
    }
    for (cMdfWriterCgPlan& cg : dg->cgs) {
        cMdfWriterRecordEncoder_init(&cg.enc, &cg.layout, g);
        cMdfWriterBlocks_link(b, cg.block, CG_L_CN, buildChannels(b, dg, &cg, timeCc, busCc));
    }
    std::vector<int> chain;
    if (g->vlsdPlace == MDFW_VLSD_FIRST)
        for (const cMdfWriterVlsdPlan& v : dg->vlsd)
            chain.push_back(v.block);
    for (size_t i = 0; i < dg->cgs.size(); ++i) {
        const cMdfWriterCgPlan& cg = dg->cgs[g->chainOrder.empty() ? i : g->chainOrder[i]];
        chain.push_back(cg.block);
        if (g->vlsdPlace == MDFW_VLSD_BEHIND_PARENT && cg.vlsd >= 0)
            chain.push_back(dg->vlsd[cg.vlsd].block);
    }
    if (g->vlsdPlace == MDFW_VLSD_LAST)
        for (const cMdfWriterVlsdPlan& v : dg->vlsd)
            chain.push_back(v.block);
    cMdfWriterBlocks_link(b, dg->block, DG_L_CG, chainBlocks(b, chain, CG_L_NEXT));
}

namespace {

void putU64(uint8_t* dst, uint64_t v, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i)
        dst[i] = i < 8 ? (uint8_t)(v >> (8 * i)) : 0;
}

bool patchU64(cMdfWriterSink* sink, uint64_t at, uint64_t v) {
    uint8_t b[8];
    putU64(b, v, 8);
    return cMdfWriterSink_patch(sink, at, b, 8);
}

// Starts a link-less block of the given id at the sink's end, 8-byte aligned; returns its
// offset, or UINT64_MAX on an output error.
uint64_t startBlock(cMdfWriterSink* sink, const char* id, uint64_t length) {
    if (!cMdfWriterSink_zeros(sink, (8 - sink->size % 8) % 8)) return UINT64_MAX;
    uint64_t at = sink->size;
    uint8_t h[HEADER_BYTES] = {};
    memcpy(h, id, 4);
    putU64(h + 8, length, 8);
    if (!cMdfWriterSink_write(sink, h, sizeof h)) return UINT64_MAX;
    return at;
}

// SD payloads of one data group: kept in memory up to a limit, beyond it spilled to a
// temporary file, and copied behind the DT block once the records are done.
struct SdSpool {
    std::vector<uint8_t> mem;
    FILE* spill = nullptr;
    uint64_t size = 0; // bytes added: the offset of the next entry
    SdSpool() = default;
    SdSpool(const SdSpool&) = delete;
    SdSpool& operator=(const SdSpool&) = delete;
    ~SdSpool() {
        if (spill) fclose(spill);
    }
    bool add(const uint8_t* p, size_t n) {
        mem.insert(mem.end(), p, p + n);
        size += n;
        if (mem.size() < SD_SPILL_BYTES) return true;
        if (!spill) spill = tmpfile();
        if (!spill || fwrite(mem.data(), 1, mem.size(), spill) != mem.size()) return false;
        mem.clear();
        return true;
    }
    bool copyTo(cMdfWriterSink* sink) {
        if (spill) {
            if (fflush(spill) != 0 || fseeko(spill, 0, SEEK_SET) != 0) return false;
            std::unique_ptr<uint8_t[]> buf(new uint8_t[CHUNK_BYTES]);
            size_t n;
            while ((n = fread(buf.get(), 1, CHUNK_BYTES, spill)) > 0)
                if (!cMdfWriterSink_write(sink, buf.get(), n)) return false;
            if (ferror(spill)) return false;
        }
        return cMdfWriterSink_write(sink, mem.data(), mem.size());
    }
};

} // namespace

bool cMdfWriterPlan_writeData(cMdfWriterPlan* plan, const cMdfWriterBlocks* blocks,
                              cMdfWriterSink* sink, bool keepDtLength24, size_t index,
                              cMdfWriterResult* result, std::string* error) {
    const cMdfWriterGroup* g = plan->group;
    auto fail = [&](const std::string& why) {
        *error = why + " (data group " + std::to_string(index) + ")";
        return false;
    };
    uint64_t dt = startBlock(sink, "##DT", HEADER_BYTES);
    if (dt == UINT64_MAX ||
        !patchU64(sink, cMdfWriterBlocks_linkOffset(blocks, plan->block, DG_L_DATA), dt))
        return fail("output error");

    size_t idSize = g->recordIdSize;
    size_t maxRecord = 0;
    for (const cMdfWriterCgPlan& cg : plan->cgs)
        if (cg.layout.dataBytes > maxRecord) maxRecord = cg.layout.dataBytes;
    maxRecord += 2 * idSize + g->invalidationBytes + 4 + MAX_PAYLOAD;
    std::unique_ptr<uint8_t[]> buf(new uint8_t[CHUNK_BYTES + maxRecord]);
    size_t pos = 0;
    SdSpool sd;

    size_t next = 0;
    cMdfWriterFrame local;
    for (;;) {
        const cMdfWriterFrame* f;
        if (g->source) {
            if (!g->source(&local)) break;
            f = &local;
        } else {
            if (next >= g->frames.size()) break;
            f = &g->frames[next++];
        }
        int ci = f->kind <= MDFW_LIN ? plan->cgOfKind[f->kind] : -1;
        if (ci < 0) return fail("frame of a kind the data group has no channel group for");
        uint8_t payload = cMdfWriter_payloadLength(f);
        if (payload > MAX_PAYLOAD) return fail("payload longer than 64 bytes");
        cMdfWriterCgPlan& cg = plan->cgs[ci];
        bool vlsd = cg.layout.vlsd && !cg.enc.omit[cg.layout.dataBytesChannel];
        cMdfWriterVlsdPlan* v = vlsd && cg.vlsd >= 0 ? &plan->vlsd[cg.vlsd] : nullptr;
        uint64_t vlsdOffset = v ? v->bytes : sd.size;

        putU64(buf.get() + pos, cg.recordId, idSize);
        pos += idSize;
        const char* why = "";
        if (!cMdfWriterRecordEncoder_encode(&cg.enc, f, vlsdOffset, buf.get() + pos, &why))
            return fail(why);
        pos += cg.layout.dataBytes;
        memset(buf.get() + pos, 0, g->invalidationBytes);
        pos += g->invalidationBytes;
        uint8_t len[4] = {payload, 0, 0, 0};
        if (v) {
            // The payload record follows its parent record directly.
            putU64(buf.get() + pos, v->recordId, idSize);
            pos += idSize;
            memcpy(buf.get() + pos, len, 4);
            memcpy(buf.get() + pos + 4, f->data, payload);
            pos += 4 + payload;
            v->cycles++;
            v->bytes += 4 + payload;
        } else if (vlsd) {
            if (!sd.add(len, 4) || !sd.add(f->data, payload)) return fail("spill file error");
        }
        cg.cycles++;
        plan->frames++;
        if (pos >= CHUNK_BYTES) {
            if (!cMdfWriterSink_write(sink, buf.get(), pos)) return fail("output error");
            pos = 0;
        }
    }
    if (!cMdfWriterSink_write(sink, buf.get(), pos)) return fail("output error");
    uint64_t dtLength = sink->size - dt;
    if (!keepDtLength24 && !patchU64(sink, dt + 8, dtLength)) return fail("output error");
    result->blocks.push_back(
        {"##DT", dt, keepDtLength24 ? HEADER_BYTES : dtLength, "DT" + std::to_string(index)});

    if (!plan->sdChannels.empty()) {
        uint64_t at = startBlock(sink, "##SD", HEADER_BYTES + sd.size);
        if (at == UINT64_MAX || !sd.copyTo(sink)) return fail("output error");
        for (int cn : plan->sdChannels)
            if (!patchU64(sink, cMdfWriterBlocks_linkOffset(blocks, cn, CN_L_DATA), at))
                return fail("output error");
        result->blocks.push_back(
            {"##SD", at, HEADER_BYTES + sd.size, "SD" + std::to_string(index)});
    }
    for (const cMdfWriterCgPlan& cg : plan->cgs)
        if (!patchU64(sink, cMdfWriterBlocks_dataOffset(blocks, cg.block, CG_D_CYCLES), cg.cycles))
            return fail("output error");
    for (const cMdfWriterVlsdPlan& v : plan->vlsd)
        if (!patchU64(sink, cMdfWriterBlocks_dataOffset(blocks, v.block, CG_D_CYCLES), v.cycles) ||
            !patchU64(sink, cMdfWriterBlocks_dataOffset(blocks, v.block, CG_D_DATA_BYTES), v.bytes))
            return fail("output error");
    return true;
}
