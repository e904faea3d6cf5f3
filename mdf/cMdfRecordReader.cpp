#include "mdf/cMdfRecordReader.h"

#include <algorithm>
#include <string>

#include "io/cIO.h"
#include "io/cSerializer.h"
#include "mdf/cDecode.h"
#include "mdf/cMdfBlock_CG.h"
#include "mdf/cMdfBlock_DG.h"
#include "mdf/cMdfBlock_TX.h"
#include "mdf/cMdfBlock_data.h"
#include "support/log.h"

namespace {

// A record id holds at most 8 bytes.
constexpr uint8_t kMaxRecordIdSize = 8;

inline uint64_t leValue(const uint8_t* p, uint8_t n) {
    uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

bool isDataBytes(const cMdfDecodeRule& rule) {
    return rule.field == FIELD_DATA_BYTES || rule.field == FIELD_LIN_DATA_BYTES;
}

// Whether the bits a rule reads from a record of recordBytes bytes are there.
bool liesInside(const cMdfDecodeRule& rule, uint64_t recordBytes) {
    if (rule.field == FIELD_NONE) return true; // feeds nothing
    if (rule.vlsdBlock) {
        // The bytes come from elsewhere; only an SD entry is found through the record.
        if (rule.vlsdBlock->header.type != MDF_BLOCK_SD) return true;
    } else if (isDataBytes(rule) && rule.valueKind == VALUE_BYTE_ARRAY) {
        // A DataBytes array may run past a shorter record's end: it is read as far as it goes.
        return rule.bitPosition / 8 < recordBytes;
    }
    return rule.bitPosition <= 8 * recordBytes &&
           rule.bitLength <= 8 * recordBytes - rule.bitPosition;
}

std::string groupName(const cMdfBlock_CG_obj_t* cg) {
    const cMdfBlock_TX_obj_t* name = carc_cMdfBlock_to_cMdfBlock_TX_obj_t(cg->acquisitionName);
    if (name) return std::string(cMdfBlock_TX_getData(name));
    return "with record id " + std::to_string(cg->recordId);
}

// True when every channel that feeds a message field lies in its record; the first one
// outside is logged with its group and the record length.
bool checkRecordLayout(const cMdfBlock_DG_obj_t* dg) {
    for (const carc_cMdfBlock& block : dg->channelGroups) {
        const cMdfBlock_CG_obj_t* cg = carc_cMdfBlock_to_cMdfBlock_CG_obj_t(block);
        if (!cg || cMdfBlock_CG_isVLSD(cg)) continue;
        for (const cMdfDecodeRule& rule : cg->rules) {
            if (liesInside(rule, cg->dataBytes)) continue;
            ZF_LOGE("Channel %s of channel group %s lies outside its record of %u bytes",
                    rule.name.c_str(), groupName(cg).c_str(), cg->dataBytes);
            return false;
        }
    }
    return true;
}

// Appends a VLSD entry's length n as 4 little-endian bytes. True when its bytes are to
// follow; an entry above the size limit is logged and keeps only its length (the record
// claims none of its bytes).
bool appendVlsdLength(uint32_t n, std::string* out) {
    const char len[4] = {char(n), char(n >> 8), char(n >> 16), char(n >> 24)};
    out->append(len, 4);
    if (n <= cMdfRecordInfo_VLSD_MAX) return true;
    ZF_LOGE("Unexpectedly large record: %u", n);
    return false;
}

// The SD entry whose offset the rule's value in the record gives, as far as the stream
// delivers it; an entry that cannot be reached has length 0.
void readSdEntry(const cMdfDecodeRule& rule, cMdfBlock_data_obj_t* sd, const uint8_t* record,
                 uint64_t length, std::string* out) {
    const uint64_t offset = cDecode_getRawBits(record, length, rule.bitPosition, rule.bitLength,
                                               rule.littleEndian != 0);
    cIO* io = cMdfBlock_data_getIOInterface(sd);
    cSerializer ser = cSerializer_ctor(io);
    uint32_t n = 0;
    if (offset > static_cast<uint64_t>(INT64_MAX) ||
        cIO_seek(io, static_cast<int64_t>(offset), cIO_SEEK_SET) != static_cast<int64_t>(offset) ||
        !cSerializer_readU32(&ser, &n))
        n = 0;
    if (!appendVlsdLength(n, out) || n == 0) return;
    const size_t base = out->size();
    out->resize(base + n);
    const int64_t got = cIO_read(io, out->data() + base, n);
    out->resize(base + (got > 0 ? static_cast<size_t>(got) : 0));
}

const cMdfDecodeRule* firstVlsdRule(const std::vector<cMdfDecodeRule>* rules) {
    if (!rules) return nullptr;
    for (const cMdfDecodeRule& r : *rules)
        if (r.vlsdBlock) return &r;
    return nullptr;
}

// The VLSD data of the record of info at pos, into state->vlsd; returns the bytes by which
// the record's extent grows (a VLSD record read together with it), and leaves in *data where
// the record's data bytes are now.
//   - A VLSD channel group (record ids only): its record right behind this one belongs to
//     it. The window covers both from the record's start, so the record stays in it.
//   - An SD block: the entry is read through the file stream, which may move a window in
//     place; the record is first copied out of such a window (a window the state copied, or
//     bytes that stay, are not moved by the read).
//   - Any other block: an entry of length 0.
uint64_t readVlsd(const cMdfDecodeRule& rule, uint8_t idSize, const cMdfRecordInfo& info,
                  cMdfBlock_data_obj_t* dt, uint64_t pos, cMdfBlock_DG_iteratorState* state,
                  const uint8_t** data) {
    cMdfRecordWindow* w = &state->window;
    std::string& out = state->vlsd;
    const uint64_t dataSize = cMdfBlock_data_getSize(dt);
    const uint64_t next = pos + idSize + info.recordLength;
    const cMdfBlock_CG_obj_t* vcg = cMdfBlock_obj_t_to_cMdfBlock_CG_obj_t(rule.vlsdBlock);
    cMdfBlock_data_obj_t* sd = cMdfBlock_obj_t_to_cMdfBlock_SD_obj_t_mut(rule.vlsdBlock);
    uint64_t grows = 0;
    if (vcg && idSize > 0) {
        if (cMdfBlock_CG_isVLSD(vcg) && cMdfRecordWindow_cover(w, dt, pos, next + idSize + 4) &&
            leValue(cMdfRecordWindow_at(w, next), idSize) == cMdfBlock_CG_getRecordID(vcg)) {
            const uint32_t n =
                static_cast<uint32_t>(leValue(cMdfRecordWindow_at(w, next + idSize), 4));
            const uint64_t body = next + idSize + 4;
            if (appendVlsdLength(n, &out)) {
                // A record cut short by the end of the data gives what is there.
                cMdfRecordWindow_cover(w, dt, pos, std::min(body + n, dataSize));
                const uint64_t have = cMdfRecordWindow_end(w);
                const uint64_t take = have > body ? std::min<uint64_t>(n, have - body) : 0;
                out.append(reinterpret_cast<const char*>(cMdfRecordWindow_at(w, body)), take);
            }
            grows = idSize + 4 + uint64_t{n};
        }
    } else if (sd) {
        const uint8_t* record = cMdfRecordWindow_at(w, pos + idSize);
        if (w->inPlace && !w->stays) {
            state->recordCopy.assign(reinterpret_cast<const char*>(record), info.recordLength);
            record = reinterpret_cast<const uint8_t*>(state->recordCopy.data());
            *data = record;
        }
        readSdEntry(rule, sd, record, info.recordLength, &out);
        return 0;
    } else {
        out.append(4, '\0');
    }
    *data = cMdfRecordWindow_at(w, pos + idSize);
    return grows;
}

// Records in place are read once, front to back, straight from memory the page cache or a
// container fills: without help the decoder's first load of nearly every record waits for
// memory. So each record read asks for the bytes some records further on. Two cache lines a
// record, because a record longer than one line would otherwise step over a line now and
// then; for shorter records some asks repeat, which costs little. Prefetches never fault, so
// the address may lie past the window (it is formed as an integer for that reason).
inline void prefetchAhead(const uint8_t* at) {
    constexpr uintptr_t kAhead = 512, kLine = 64;
    const uintptr_t p = reinterpret_cast<uintptr_t>(at) + kAhead;
    __builtin_prefetch(reinterpret_cast<const void*>(p));
    __builtin_prefetch(reinterpret_cast<const void*>(p + kLine));
}

const cMdfRecord* finish(cMdfBlock_DG_iteratorState* state, const cMdfRecordInfo& info,
                         const uint8_t* data, bool copied, uint64_t extent) {
    const cMdfRecordWindow& w = state->window;
    if (w.inPlace) prefetchAhead(data);
    state->view.data = data;
    state->view.dataLength = info.recordLength;
    // The state's own copies change only at its own next read.
    state->view.dataStays = copied || w.stays || !w.inPlace;
    state->view.vlsdData = reinterpret_cast<const uint8_t*>(state->vlsd.data());
    state->view.vlsdLength = state->vlsd.size();
    state->position += extent;
    state->decoder = info.decoder.fn ? &info.decoder : nullptr;
    return &state->view;
}

// Most records have the id of the record before them and lie in a window in place: then
// nothing but the id needs a look, and of the view only the data pointer changes (the last
// record had no VLSD data, so the VLSD buffer is empty already). Null when anything else is
// the case; the full read then starts from the same state.
inline const cMdfRecord* readLikeLast(const cMdfBlock_DG_obj_t* dg,
                                      cMdfBlock_DG_iteratorState* st) {
    if (!st->lastInfo) return nullptr;
    const cMdfRecordWindow& w = st->window;
    // A position before the window wraps around to an offset past it.
    const uint64_t offset = st->position - w.start;
    const uint64_t extent = st->lastExtent;
    if (offset > w.size || w.size - offset < extent) return nullptr;
    const uint8_t idSize = dg->recordIdSize;
    const uint8_t* at = w.bytes + offset;
    prefetchAhead(at);
    if (idSize && leValue(at, idSize) != st->lastID) return nullptr;
    if (!cMdfRecordWindow_valid(&w)) return nullptr;
    st->view.data = at + idSize;
    st->position += extent;
    return &st->view;
}

// The full read of the record at the state's position (cMdfBlock_DG_at without the fast
// path). Out of line, so that the fast path stays small enough to be inlined into its callers.
__attribute__((noinline)) const cMdfRecord* readRecord(cMdfBlock_DG_obj_t* dg,
                                                       cMdfBlock_DG_iteratorState* state) {
    state->lastInfo = nullptr;
    cMdfBlock_data_obj_t* dt = carc_cMdfBlock_to_cMdfBlock_DT_obj_t_mut(dg->data);
    if (!dt || dg->recordMap.empty() || dg->recordIdSize > kMaxRecordIdSize) return nullptr;
    cMdfRecordWindow* w = &state->window;
    const uint64_t dataSize = cMdfBlock_data_getSize(dt);
    const uint8_t idSize = dg->recordIdSize;
    // A VLSD record met on its own (its parent was not right before it) is stepped over;
    // every step moves forward, so this ends.
    for (;;) {
        const uint64_t pos = state->position;
        uint64_t id = 0;
        if (idSize) {
            if (!cMdfRecordWindow_cover(w, dt, pos, pos + idSize)) return nullptr;
            id = leValue(cMdfRecordWindow_at(w, pos), idSize);
        }
        auto it = dg->recordMap.find(id);
        if (it == dg->recordMap.end()) return nullptr;
        const cMdfRecordInfo& info = it->second;
        if (info.recordLength == cMdfRecordInfo_VLSD) {
            // Without record ids there is no parent record to belong to.
            if (!idSize || !cMdfRecordWindow_cover(w, dt, pos, pos + idSize + 4)) return nullptr;
            const uint64_t n = leValue(cMdfRecordWindow_at(w, pos + idSize), 4);
            if (n > dataSize - pos - idSize - 4) return nullptr;
            state->position += idSize + 4 + n;
            continue;
        }
        // Without record ids a record of no bytes would never move on.
        if (!idSize && info.recordLength == 0) return nullptr;
        uint64_t extent = idSize + uint64_t{info.recordLength};
        if (!cMdfRecordWindow_cover(w, dt, pos, pos + extent)) return nullptr;
        state->vlsd.clear();
        const uint8_t* data = cMdfRecordWindow_at(w, pos + idSize);
        const cMdfDecodeRule* vr = firstVlsdRule(info.rules);
        if (vr) extent += readVlsd(*vr, idSize, info, dt, pos, state, &data);
        const bool copied = data == reinterpret_cast<const uint8_t*>(state->recordCopy.data());
        // The next record may be read like this one when nothing but its data pointer changes.
        state->lastInfo = !vr && w->inPlace && extent > 0 ? &info : nullptr;
        state->lastID = id;
        state->lastExtent = extent;
        return finish(state, info, data, copied, extent);
    }
}

} // namespace

bool cMdfBlock_DG_iteratorState_init(cMdfBlock_DG_iteratorState* state) {
    if (!state) return false;
    state->position = 0;
    state->view = cMdfRecord{nullptr, 0, nullptr, 0, false};
    cMdfRecordWindow_init(&state->window);
    state->vlsd.clear();
    state->recordCopy.clear();
    state->decoder = nullptr;
    state->lastID = 0;
    state->lastInfo = nullptr;
    state->lastExtent = 0;
    return true;
}

void cMdfBlock_DG_iteratorState_drop(cMdfBlock_DG_iteratorState* state) {
    if (!state) return;
    cMdfRecordWindow_drop(&state->window);
    state->lastInfo = nullptr;
    std::string().swap(state->vlsd);
    std::string().swap(state->recordCopy);
    state->view = cMdfRecord{nullptr, 0, nullptr, 0, false};
}

bool cMdfBlock_DG_updateRecordMap(cMdfBlock_DG_obj_t* dg) {
    if (!dg) return false;
    dg->recordMap.clear();
    if (dg->recordIdSize > kMaxRecordIdSize) {
        ZF_LOGE("Data group at offset %lu has a record id of %u bytes; its records are skipped",
                static_cast<unsigned long>(dg->position), unsigned{dg->recordIdSize});
        return checkRecordLayout(dg);
    }
    bool haveFirst = false;
    cMdfRecordInfo first{};
    for (const carc_cMdfBlock& block : dg->channelGroups) {
        cMdfBlock_CG_obj_t* cg = carc_cMdfBlock_to_cMdfBlock_CG_obj_t_mut(block);
        if (!cg) continue;
        cMdfRecordInfo info{};
        info.recordID = cMdfBlock_CG_getRecordID(cg);
        if (cMdfBlock_CG_isVLSD(cg)) {
            info.recordLength = cMdfRecordInfo_VLSD;
        } else {
            // Invalidation bytes follow the data bytes in every record of the group.
            uint64_t length = uint64_t{cg->dataBytes} + cg->invalidationBytes;
            if (length >= cMdfRecordInfo_VLSD) {
                ZF_LOGE("Channel group at offset %lu has records of %lu bytes; its records "
                        "are skipped",
                        static_cast<unsigned long>(cg->position),
                        static_cast<unsigned long>(length));
                continue;
            }
            info.recordLength = static_cast<uint32_t>(length);
            // The group's load built its rules already; building them again would only
            // repeat their warnings.
            info.rules = cg->rules.empty() ? cMdfBlock_CG_getDecodingRules(cg) : &cg->rules;
            cMdfGroupDecoder_make(info.rules, &info.decoder);
        }
        if (!dg->recordMap.emplace(info.recordID, info).second) break;
        if (!haveFirst) {
            first = info;
            haveFirst = true;
        }
    }
    if (dg->recordIdSize == 0 && haveFirst) {
        // Without record ids every record belongs to the first channel group.
        dg->recordMap.clear();
        first.recordID = 0;
        dg->recordMap.emplace(0, first);
    }
    return checkRecordLayout(dg);
}

const cMdfRecord* cMdfBlock_DG_at(cMdfBlock_DG_obj_t* dg, cMdfBlock_DG_iteratorState* state) {
    if (!dg || !state) return nullptr;
    if (const cMdfRecord* rec = readLikeLast(dg, state)) return rec;
    return readRecord(dg, state);
}
