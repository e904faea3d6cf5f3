#include "mdf/cMdfRecordGroupInfo.h"

#include <algorithm>

#include "io/cIO.h"
#include "io/cSerializer.h"
#include "mdf/cDecode.h"
#include "mdf/cMdfBlock_CG.h"
#include "mdf/cMdfBlock_DG.h"
#include "mdf/cMdfBlock_data.h"
#include "support/log.h"

namespace {

// A record id holds at most 8 bytes.
constexpr uint8_t kMaxRecordIdSize = 8;

bool seekTo(cIO* io, uint64_t position) {
    if (position > static_cast<uint64_t>(INT64_MAX)) return false;
    int64_t pos = static_cast<int64_t>(position);
    return cIO_tell(io) == pos || cIO_seek(io, pos, cIO_SEEK_SET) == pos;
}

bool readU32(cIO* io, uint32_t* value) {
    cSerializer ser = cSerializer_ctor(io);
    return cSerializer_readU32(&ser, value);
}

// Appends n as 4 little-endian bytes and, for an entry within the size limit, its bytes as
// far as the stream delivers them. A longer entry keeps only its length: its bytes are not
// read, and the record claims none of them.
void appendVlsdEntry(cIO* io, uint32_t n, std::string* out) {
    char len[4] = {char(n), char(n >> 8), char(n >> 16), char(n >> 24)};
    out->append(len, 4);
    if (n > cMdfRecordInfo_VLSD_MAX) {
        ZF_LOGE("Unexpectedly large record: %u", n);
        return;
    }
    size_t base = out->size();
    out->resize(base + n);
    int64_t got = n ? cIO_read(io, out->data() + base, n) : 0;
    out->resize(base + (got > 0 ? static_cast<size_t>(got) : 0));
}

// The VLSD data of an SD entry whose offset the rule's value gives.
void fetchSdEntry(const cMdfDecodeRule& rule, cMdfBlock_data_obj_t* sd, const uint8_t* record,
                  uint64_t length, std::string* out) {
    uint64_t offset = cDecode_getRawBits(record, length, rule.bitPosition, rule.bitLength,
                                         rule.littleEndian != 0);
    cIO* io = cMdfBlock_data_getIOInterface(sd);
    uint32_t n = 0;
    if (!seekTo(io, offset) || !readU32(io, &n)) n = 0;
    if (n == 0) {
        out->append(4, '\0');
        return;
    }
    appendVlsdEntry(io, n, out);
}

const cMdfDecodeRule* firstVlsdRule(const std::vector<cMdfDecodeRule>* rules) {
    if (!rules) return nullptr;
    for (const cMdfDecodeRule& r : *rules)
        if (r.vlsdBlock) return &r;
    return nullptr;
}

uint64_t dataSizeOf(const cMdfBlock_data_obj_t* dt) {
    return cMdfBlockHeader_getDataSize(&dt->header);
}

// Refills the state's window with the data section from `from` on: at least up to `to`,
// cMdfRecordInfo_WINDOW bytes when there are so many, never past the data size. False when
// the section or the stream ends before `to`. A section the source holds in memory (the
// whole-file read-ahead buffer, a decoded container) is used in place, all of it at once,
// instead of being copied window by window.
__attribute__((noinline)) bool refill(cMdfBlock_DG_iteratorState* st,
                                      const cMdfBlock_data_obj_t* dt, cIO* io, uint64_t dataSize,
                                      uint64_t from, uint64_t to) {
    std::string& buf = st->recordBuffer;
    if (from > to || to > dataSize) return false;
    st->bufferStart = from;
    if (const uint8_t* inPlace = cMdfBlock_data_peek(dt, from, dataSize - from)) {
        st->window = inPlace;
        st->windowSize = dataSize - from;
        st->inPlace = true;
        // The peek checked that the position fits, and went through the stream's fetch.
        st->source = dt->source;
        st->fetch = dt->source->vt->fetch;
        st->sourceAt = static_cast<int64_t>(dt->dataOffset + from);
        st->stays = cIO_fetchStays(dt->source);
        return true;
    }
    uint64_t want = std::min(std::max(to - from, cMdfRecordInfo_WINDOW), dataSize - from);
    buf.clear();
    st->window = nullptr;
    st->windowSize = 0;
    st->inPlace = false;
    st->stays = false;
    if (!seekTo(io, from)) return false;
    // Grown piece by piece, so that a data size the stream cannot back costs no more memory
    // than the bytes that really arrive.
    uint64_t got = 0;
    while (got < want) {
        uint64_t piece = std::min<uint64_t>(want - got, uint64_t{1} << 20);
        buf.resize(got + piece);
        int64_t n = cIO_read(io, buf.data() + got, piece);
        if (n <= 0) break;
        got += static_cast<uint64_t>(n);
    }
    buf.resize(got);
    st->window = reinterpret_cast<const uint8_t*>(buf.data());
    st->windowSize = got;
    return to <= from + got;
}

// Whether a window in place is still where the source keeps those bytes: a read of another
// block on the shared stream may have moved the source's buffer, unless its bytes stay.
inline bool stillInPlace(const cMdfBlock_DG_iteratorState* st) {
    return st->stays || st->fetch(st->source, st->sourceAt, st->windowSize) == st->window;
}

// Makes the window hold bytes [from, to) of the data section; every caller reading one record
// passes the record's start as `from`, so that all its pieces stay in the window together.
// A window in place is checked each time, and the bytes are fetched anew when it moved.
inline bool cover(cMdfBlock_DG_iteratorState* st, const cMdfBlock_data_obj_t* dt, cIO* io,
                  uint64_t dataSize, uint64_t from, uint64_t to) {
    if (from >= st->bufferStart && to <= st->bufferStart + st->windowSize && from <= to &&
        (!st->inPlace || stillInPlace(st)))
        return true;
    return refill(st, dt, io, dataSize, from, to);
}

// The window's bytes at offset `at` of the data section; the caller has covered them.
inline const uint8_t* windowAt(const cMdfBlock_DG_iteratorState* st, uint64_t at) {
    return st->window + (at - st->bufferStart);
}

inline uint64_t leValue(const uint8_t* p, uint8_t n) {
    uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
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
                         uint64_t dataAt, uint64_t extent) {
    const uint8_t* data = windowAt(state, dataAt);
    if (state->inPlace) prefetchAhead(data);
    state->view.data = data;
    state->view.dataLength = info.recordLength;
    // The state's own copy changes only at its own next read.
    state->view.dataStays = state->stays || !state->inPlace;
    state->view.vlsdData = reinterpret_cast<const uint8_t*>(state->vlsdBuffer.data());
    state->view.vlsdLength = state->vlsdBuffer.size();
    state->view.rules = info.rules;
    state->view.canPlan = &info.canPlan;
    state->position += extent;
    state->decoder = info.decoder;
    return &state->view;
}

// Notes the record just read for the fast path of the next one, or forgets the last one.
inline void remember(cMdfBlock_DG_iteratorState* state, uint64_t id, const cMdfRecordInfo& info,
                     uint64_t extent, bool plain) {
    state->lastInfo = plain && state->inPlace && extent > 0 ? &info : nullptr;
    state->lastID = id;
    state->lastExtent = extent;
}

// Most records have the id of the record before them and lie in a window in place: then
// nothing but the id needs a look, and of the view only the data pointer changes (the last
// record had no VLSD data, so the VLSD buffer is empty already). Null when anything else is
// the case; the full read then starts from the same state.
inline const cMdfRecord* readLikeLast(const cMdfBlock_DG_obj_t* dg,
                                      cMdfBlock_DG_iteratorState* st) {
    if (!st->lastInfo) return nullptr;
    // A position before the window wraps around to an offset past it.
    const uint64_t offset = st->position - st->bufferStart;
    const uint64_t extent = st->lastExtent;
    if (offset > st->windowSize || st->windowSize - offset < extent) return nullptr;
    const uint8_t idSize = dg->recordIdSize;
    const uint8_t* at = st->window + offset;
    prefetchAhead(at);
    if (idSize && leValue(at, idSize) != st->lastID) return nullptr;
    if (!stillInPlace(st)) return nullptr;
    st->view.data = at + idSize;
    st->position += extent;
    return &st->view;
}

} // namespace

bool cMdfRecordInfo_init(cMdfRecordInfo* info) {
    if (!info) return false;
    *info = cMdfRecordInfo{0, 0, nullptr, nullptr, cMdfCanPlan{}};
    return true;
}

bool cMdfBlock_DG_iteratorState_init(cMdfBlock_DG_iteratorState* state) {
    if (!state) return false;
    state->position = 0;
    state->view = cMdfRecord{nullptr, 0, nullptr, 0, nullptr};
    state->recordBuffer.clear();
    state->vlsdBuffer.clear();
    state->decoder = nullptr;
    state->bufferStart = 0;
    state->window = nullptr;
    state->windowSize = 0;
    state->inPlace = false;
    state->source = nullptr;
    state->fetch = nullptr;
    state->stays = false;
    state->sourceAt = 0;
    state->lastID = 0;
    state->lastInfo = nullptr;
    state->lastExtent = 0;
    return true;
}

void cMdfBlock_DG_iteratorState_drop(cMdfBlock_DG_iteratorState* state) {
    if (!state) return;
    std::string().swap(state->recordBuffer);
    state->window = nullptr;
    state->windowSize = 0;
    state->inPlace = false;
    state->lastInfo = nullptr;
    std::string().swap(state->vlsdBuffer);
    state->view = cMdfRecord{nullptr, 0, nullptr, 0, nullptr};
}

bool cMdfBlock_DG_updateRecordMap(cMdfBlock_DG_obj_t* dg) {
    if (!dg) return false;
    dg->recordMap.clear();
    if (dg->recordIdSize > kMaxRecordIdSize) {
        ZF_LOGE("Data group at offset %lu has a record id of %u bytes; its records are skipped",
                static_cast<unsigned long>(dg->position), unsigned{dg->recordIdSize});
        return true;
    }
    bool haveFirst = false;
    cMdfRecordInfo first;
    cMdfRecordInfo_init(&first);
    for (const carc_cMdfBlock& block : dg->channelGroups) {
        cMdfBlock_CG_obj_t* cg = carc_cMdfBlock_to_cMdfBlock_CG_obj_t_mut(block);
        if (!cg) continue;
        cMdfRecordInfo info;
        cMdfRecordInfo_init(&info);
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
            getOptimalDecoder(info.rules, &info.decoder);
            // A group whose steps cannot be compiled yields no message.
            if (info.decoder == cMdfDecoders_decodeCanDataFrame &&
                !cMdfCanPlan_build(info.rules, &info.canPlan))
                info.decoder = nullptr;
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
    return true;
}

namespace {

// The full read of the record at the state's position (cMdfBlock_DG_at without the fast path).
// Out of line, so that the fast path stays small enough to be inlined into its callers.
__attribute__((noinline)) const cMdfRecord* readRecord(cMdfBlock_DG_obj_t* dg,
                                                       cMdfBlock_DG_iteratorState* state) {
    state->lastInfo = nullptr;
    cMdfBlock_data_obj_t* dt = carc_cMdfBlock_to_cMdfBlock_DT_obj_t_mut(dg->data);
    cIO* io = cMdfBlock_data_getIOInterface(dt);
    if (!io || dg->recordMap.empty() || dg->recordIdSize > kMaxRecordIdSize) return nullptr;
    const uint64_t dataSize = dataSizeOf(dt);
    const uint8_t idSize = dg->recordIdSize;

    // Without record ids every record has the one length; a length of 0 would never move on.
    if (idSize == 0) {
        auto it = dg->recordMap.find(0);
        if (it == dg->recordMap.end()) return nullptr;
        const cMdfRecordInfo& info = it->second;
        const uint64_t pos = state->position;
        if (info.recordLength == 0 || info.recordLength == cMdfRecordInfo_VLSD ||
            !cover(state, dt, io, dataSize, pos, pos + info.recordLength))
            return nullptr;
        state->vlsdBuffer.clear();
        const cMdfDecodeRule* vr = firstVlsdRule(info.rules);
        if (vr) {
            cMdfBlock_data_obj_t* sd = cMdfBlock_obj_t_to_cMdfBlock_SD_obj_t_mut(vr->vlsdBlock);
            if (sd) {
                fetchSdEntry(*vr, sd, windowAt(state, pos), info.recordLength, &state->vlsdBuffer);
            } else {
                state->vlsdBuffer.append(4, '\0');
            }
            // The SD block is read through the file's stream too: where that moved a shared
            // read-ahead buffer, the record's bytes in it are gone and are read again.
            if (!cover(state, dt, io, dataSize, pos, pos + info.recordLength)) return nullptr;
        }
        remember(state, 0, info, info.recordLength, !vr);
        return finish(state, info, pos, info.recordLength);
    }

    // With record ids. A VLSD record met on its own (its parent was not right before it) is
    // stepped over; every step moves forward, so this ends.
    for (;;) {
        const uint64_t pos = state->position;
        if (!cover(state, dt, io, dataSize, pos, pos + idSize)) return nullptr;
        const uint64_t id = leValue(windowAt(state, pos), idSize);
        auto it = dg->recordMap.find(id);
        if (it == dg->recordMap.end()) return nullptr;
        const cMdfRecordInfo& info = it->second;
        if (info.recordLength == cMdfRecordInfo_VLSD) {
            if (!cover(state, dt, io, dataSize, pos, pos + idSize + 4)) return nullptr;
            uint64_t n = leValue(windowAt(state, pos + idSize), 4);
            if (n > dataSize - pos - idSize - 4) return nullptr;
            state->position += idSize + 4 + n;
            continue;
        }
        uint64_t extent = idSize + uint64_t{info.recordLength};
        if (!cover(state, dt, io, dataSize, pos, pos + extent)) return nullptr;
        state->vlsdBuffer.clear();
        const cMdfDecodeRule* vr = firstVlsdRule(info.rules);
        if (vr) {
            const cMdfBlock_CG_obj_t* vcg = cMdfBlock_obj_t_to_cMdfBlock_CG_obj_t(vr->vlsdBlock);
            cMdfBlock_data_obj_t* sd = cMdfBlock_obj_t_to_cMdfBlock_SD_obj_t_mut(vr->vlsdBlock);
            const uint64_t next = pos + extent;
            if (vcg) {
                // The VLSD record that belongs to this one follows it directly.
                if (cMdfBlock_CG_isVLSD(vcg) &&
                    cover(state, dt, io, dataSize, pos, next + idSize + 4) &&
                    leValue(windowAt(state, next), idSize) == cMdfBlock_CG_getRecordID(vcg)) {
                    uint64_t n = leValue(windowAt(state, next + idSize), 4);
                    const uint64_t body = next + idSize + 4;
                    state->vlsdBuffer.append(
                        reinterpret_cast<const char*>(windowAt(state, next + idSize)), 4);
                    if (n > cMdfRecordInfo_VLSD_MAX) {
                        ZF_LOGE("Unexpectedly large record: %u", static_cast<unsigned>(n));
                    } else {
                        // A record cut short by the end of the data gives what is there.
                        uint64_t end = std::min(body + n, dataSize);
                        cover(state, dt, io, dataSize, pos, end);
                        uint64_t have = state->bufferStart + state->windowSize;
                        uint64_t take = have > body ? std::min(n, have - body) : 0;
                        if (take)
                            state->vlsdBuffer.append(
                                reinterpret_cast<const char*>(windowAt(state, body)), take);
                    }
                    extent += idSize + 4 + n;
                }
            } else if (sd) {
                fetchSdEntry(*vr, sd, windowAt(state, pos + idSize), info.recordLength,
                             &state->vlsdBuffer);
            } else {
                state->vlsdBuffer.append(4, '\0');
            }
        }
        // Reading ahead for the VLSD data, or reading an SD block through the file's stream,
        // must not have lost the record (a failing stream, a shared read-ahead buffer moved).
        if (!cover(state, dt, io, dataSize, pos, pos + idSize + info.recordLength)) return nullptr;
        remember(state, id, info, extent, !vr);
        return finish(state, info, pos + idSize, extent);
    }
}

} // namespace

const cMdfRecord* cMdfBlock_DG_at(cMdfBlock_DG_obj_t* dg, cMdfBlock_DG_iteratorState* state) {
    if (!dg || !state) return nullptr;
    if (const cMdfRecord* rec = readLikeLast(dg, state)) return rec;
    return readRecord(dg, state);
}
