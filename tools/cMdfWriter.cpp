#include "tools/cMdfWriter.h"

#include "tools/cMdfWriterBlocks.h"
#include "tools/cMdfWriterPlan.h"
#include "tools/cMdfWriterSink.h"

#include <cstdio>
#include <cstring>

namespace {

// Fixed sizes of the ID, HD and FH blocks (links, data section bytes).
constexpr uint64_t ID_BYTES = 64;
constexpr uint32_t HD_LINKS = 6, HD_DATA = 32;
constexpr uint32_t FH_LINKS = 2, FH_DATA = 16;
// Link numbers.
constexpr uint32_t HD_L_FH = 1, HD_L_COMMENT = 5;
constexpr uint32_t FH_L_NEXT = 0, FH_L_COMMENT = 1;
// The standard unfinalised flag that says the last DT block's length was not written.
constexpr uint16_t UNFIN_DT_LENGTH = 4;

bool fail(cMdfWriterResult* res, const std::string& why) {
    if (res->error.empty()) res->error = why;
    fprintf(stderr, "MDF writer: %s\n", why.c_str());
    return false;
}

std::string xmlEscape(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string hdXml(const cMdfWriterOptions* o) {
    if (!o->hdXml.empty()) return o->hdXml;
    std::string x = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<HDcomment><TX>Bus log</TX>"
                    "<common_properties>";
    if (!o->serialNumber.empty())
        x += "<tree name=\"Device Information\"><e name=\"serial number\" type=\"string\" "
             "ro=\"true\">" +
             xmlEscape(o->serialNumber) + "</e></tree>";
    if (o->writeSession)
        x += "<tree name=\"Log Information\"><e name=\"session\" type=\"integer\" ro=\"true\">" +
             std::to_string(o->session) + "</e><e name=\"split\" type=\"integer\" ro=\"true\">" +
             std::to_string(o->split) + "</e></tree>";
    return x + "</common_properties></HDcomment>";
}

std::string fhXml(const cMdfWriterOptions* o, const std::string& tool) {
    if (!o->fhXml.empty()) return o->fhXml;
    return "<FHcomment><TX>created</TX><tool_id>" + xmlEscape(tool) +
           "</tool_id><tool_version>1.0</tool_version></FHcomment>";
}

void buildHeader(cMdfWriterBlocks* b, const cMdfWriterOptions* o, int hd) {
    cMdfWriterBlocks_u64(b, hd, 0, o->startTimeNs);
    cMdfWriterBlocks_u16(b, hd, 8, (uint16_t)o->tzOffsetMin);
    cMdfWriterBlocks_u16(b, hd, 10, (uint16_t)o->dstOffsetMin);
    // Time flag bit 1: the offsets are valid.
    cMdfWriterBlocks_u8(b, hd, 12, o->tzOffsetMin || o->dstOffsetMin ? 2 : 0);
    if (o->hdComment)
        cMdfWriterBlocks_link(
            b, hd, HD_L_COMMENT,
            cMdfWriterBlocks_text(b, o->hdCommentAsTx ? "##TX" : "##MD", hdXml(o)));
    int prev = MDFW_NO_BLOCK;
    for (size_t i = 0; i < o->toolIds.size(); ++i) {
        int fh = cMdfWriterBlocks_add(b, "##FH", FH_LINKS, FH_DATA, "FH" + std::to_string(i));
        cMdfWriterBlocks_link(b, prev >= 0 ? prev : hd, prev >= 0 ? FH_L_NEXT : HD_L_FH, fh);
        cMdfWriterBlocks_u64(b, fh, 0, o->startTimeNs);
        cMdfWriterBlocks_u16(b, fh, 8, (uint16_t)o->tzOffsetMin);
        cMdfWriterBlocks_u16(b, fh, 10, (uint16_t)o->dstOffsetMin);
        cMdfWriterBlocks_u8(b, fh, 12, o->tzOffsetMin || o->dstOffsetMin ? 2 : 0);
        int text =
            cMdfWriterBlocks_text(b, o->fhCommentAsTx ? "##TX" : "##MD", fhXml(o, o->toolIds[i]));
        cMdfWriterBlocks_link(b, fh, FH_L_COMMENT, text);
        prev = fh;
    }
}

void buildId(uint8_t* id, const cMdfWriterOptions* o) {
    memset(id, 0, ID_BYTES);
    memcpy(id, o->unfinalised ? "UnFinMF " : "MDF     ", 8);
    char version[32];
    int n = snprintf(version, sizeof version, "%u.%02u", o->versionNumber / 100u % 100u,
                     o->versionNumber % 100u);
    memset(id + 8, ' ', 8);
    memcpy(id + 8, version, n < 8 ? n : 8);
    memcpy(id + 16, "kvgen   ", 8);
    id[28] = (uint8_t)o->versionNumber;
    id[29] = (uint8_t)(o->versionNumber >> 8);
    if (o->unfinalised) id[60] = UNFIN_DT_LENGTH;
}

// Everything but the choice of sink.
bool writeTo(cMdfWriterSink* sink, const cMdfWriterOptions* o,
             const std::vector<cMdfWriterGroup>* groups, cMdfWriterResult* res) {
    std::vector<cMdfWriterPlan> plans(groups->size());
    for (size_t i = 0; i < groups->size(); ++i) {
        std::string why;
        if (!cMdfWriterPlan_init(&plans[i], &(*groups)[i], &why))
            return fail(res, why + " (data group " + std::to_string(i) + ")");
    }
    cMdfWriterBlocks blocks;
    cMdfWriterBlocks_init(&blocks, ID_BYTES, o->shareTexts);
    int hd = cMdfWriterBlocks_add(&blocks, "##HD", HD_LINKS, HD_DATA, "HD");
    buildHeader(&blocks, o, hd);
    int prev = MDFW_NO_BLOCK;
    for (size_t i = 0; i < plans.size(); ++i) {
        cMdfWriterPlan_build(&plans[i], &blocks, i, prev, hd);
        prev = plans[i].block;
    }
    // The reader stretches the last DT block to the end of an unfinalised file, so nothing
    // may follow it.
    if (o->unfinalised && !plans.empty() && !plans.back().sdChannels.empty())
        return fail(res, "an unfinalised file cannot end with an SD block");
    cMdfWriterBlocks_place(&blocks);

    uint8_t id[ID_BYTES];
    buildId(id, o);
    std::vector<uint8_t> meta;
    cMdfWriterBlocks_serialize(&blocks, &meta);
    if (!cMdfWriterSink_write(sink, id, sizeof id) ||
        !cMdfWriterSink_write(sink, meta.data(), meta.size()))
        return fail(res, "output error");
    res->blocks.push_back({"ID", 0, ID_BYTES, "ID"});
    for (size_t i = 0; i < blocks.drafts.size(); ++i) {
        const cMdfWriterBlockDraft& d = blocks.drafts[i];
        res->blocks.push_back({{d.id[0], d.id[1], d.id[2], d.id[3], 0},
                               d.offset,
                               cMdfWriterBlocks_length(&blocks, (int)i),
                               d.label});
    }
    for (size_t i = 0; i < plans.size(); ++i) {
        std::string why;
        bool last = i + 1 == plans.size();
        if (!cMdfWriterPlan_writeData(&plans[i], &blocks, sink, o->unfinalised && last, i, res,
                                      &why))
            return fail(res, why);
        res->frames += plans[i].frames;
    }
    if (!cMdfWriterSink_flush(sink)) return fail(res, "output error");
    res->bytes = sink->size;
    return true;
}

} // namespace

bool cMdfWriter_writeFile(const char* path, const cMdfWriterOptions* options,
                          const std::vector<cMdfWriterGroup>* groups, cMdfWriterResult* result) {
    cMdfWriterResult local;
    cMdfWriterResult* res = result ? result : &local;
    *res = cMdfWriterResult{};
    if (!options || !groups) return fail(res, "no options or no data groups given");
    cMdfWriterSink_file sink;
    if (!cMdfWriterSink_file_open(&sink, path))
        return fail(res, std::string("cannot create ") + (path ? path : "(null)"));
    bool ok = writeTo(&sink.base, options, groups, res);
    if (!cMdfWriterSink_file_close(&sink) && ok) ok = fail(res, "output error");
    if (!ok) remove(path);
    return ok;
}

std::vector<uint8_t> cMdfWriter_writeMemory(const cMdfWriterOptions* options,
                                            const std::vector<cMdfWriterGroup>* groups,
                                            cMdfWriterResult* result) {
    cMdfWriterResult local;
    cMdfWriterResult* res = result ? result : &local;
    *res = cMdfWriterResult{};
    std::vector<uint8_t> out;
    if (!options || !groups) {
        fail(res, "no options or no data groups given");
        return out;
    }
    cMdfWriterSink_memory sink;
    cMdfWriterSink_memory_init(&sink, &out);
    if (!writeTo(&sink.base, options, groups, res)) out.clear();
    return out;
}

uint8_t cMdfWriter_dlcForLength(uint8_t length) {
    static const uint8_t sizes[] = {12, 16, 20, 24, 32, 48, 64};
    if (length <= 8) return length;
    for (uint8_t i = 0; i < 7; ++i)
        if (length <= sizes[i]) return (uint8_t)(9 + i);
    return 15;
}

uint8_t cMdfWriter_lengthForDlc(uint8_t dlc) {
    static const uint8_t sizes[] = {12, 16, 20, 24, 32, 48, 64};
    if (dlc <= 8) return dlc;
    return dlc <= 15 ? sizes[dlc - 9] : 64;
}

cMdfWriterFrame cMdfWriterFrame_can(double time, uint8_t bus, uint32_t id, bool ide,
                                    const uint8_t* data, uint8_t length, bool fd) {
    cMdfWriterFrame f;
    f.kind = MDFW_CAN_DATA;
    f.time = time;
    f.bus = bus;
    f.id = id;
    f.ide = ide;
    if (length > 64) length = 64;
    f.dlc = cMdfWriter_dlcForLength(length);
    // A payload between two FD sizes is padded up to the size its DLC stands for.
    f.dataLength = cMdfWriter_lengthForDlc(f.dlc);
    f.edl = fd || length > 8;
    if (data) memcpy(f.data, data, length);
    return f;
}

cMdfWriterFrame cMdfWriterFrame_remote(double time, uint8_t bus, uint32_t id, bool ide,
                                       uint8_t dlc) {
    cMdfWriterFrame f;
    f.kind = MDFW_CAN_REMOTE;
    f.time = time;
    f.bus = bus;
    f.id = id;
    f.ide = ide;
    f.dlc = dlc & 15;
    f.dataLength = dlc > 8 ? 8 : dlc;
    return f;
}

cMdfWriterFrame cMdfWriterFrame_error(double time, uint8_t bus, uint8_t errorType) {
    cMdfWriterFrame f;
    f.kind = MDFW_CAN_ERROR;
    f.time = time;
    f.bus = bus;
    f.errorType = errorType;
    return f;
}

cMdfWriterFrame cMdfWriterFrame_lin(double time, uint8_t bus, uint8_t id, const uint8_t* data,
                                    uint8_t length) {
    cMdfWriterFrame f;
    f.kind = MDFW_LIN;
    f.time = time;
    f.bus = bus;
    f.id = id & 0x3F;
    if (length > 8) length = 8;
    f.dataLength = length;
    f.linReceivedDataByteCount = length;
    if (data) memcpy(f.data, data, length);
    return f;
}
