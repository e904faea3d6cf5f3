#include "mdf/cMdfRecordGroupInfo.h"

#include "io/cIO.h"
#include "io/cSerializer.h"
#include "mdf/cDecode.h"
#include "mdf/cMdfBlock_CG.h"
#include "mdf/cMdfBlock_DG.h"
#include "mdf/cMdfBlock_DT.h"
#include "mdf/cMdfBlock_SD.h"
#include "support/log.h"

namespace {

// A record id holds at most 8 bytes.
constexpr uint8_t kMaxRecordIdSize = 8;

bool seekTo(cIO* io, uint64_t position) {
    if (position > static_cast<uint64_t>(INT64_MAX)) return false;
    int64_t pos = static_cast<int64_t>(position);
    return cIO_tell(io) == pos || cIO_seek(io, pos, cIO_SEEK_SET) == pos;
}

// Reads n record id bytes, little-endian, into a zeroed value. False on a short read.
bool readRecordId(cIO* io, uint8_t n, uint64_t* id) {
    uint8_t b[8] = {};
    *id = 0;
    if (n == 0) return true;
    if (cIO_read(io, b, n) != n) return false;
    for (int i = n - 1; i >= 0; --i)
        *id = (*id << 8) | b[i];
    return true;
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
void fetchSdEntry(const cMdfDecodeRule& rule, cMdfBlock_SD_obj_t* sd, const std::string& record,
                  std::string* out) {
    uint64_t offset =
        cDecode_getRawBits(reinterpret_cast<const uint8_t*>(record.data()), record.size(),
                           rule.bitPosition, rule.bitLength, rule.littleEndian != 0);
    cIO* io = cMdfBlock_SD_getIOInterface(sd);
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

uint64_t dataSizeOf(const cMdfBlock_DT_obj_t* dt) {
    return cMdfBlockHeader_getDataSize(&dt->header);
}

const cMdfRecord* finish(cMdfBlock_DG_iteratorState* state, const cMdfRecordInfo& info,
                         uint64_t extent) {
    state->position += extent;
    state->view.data = reinterpret_cast<const uint8_t*>(state->recordBuffer.data());
    state->view.dataLength = state->recordBuffer.size();
    state->view.vlsdData = reinterpret_cast<const uint8_t*>(state->vlsdBuffer.data());
    state->view.vlsdLength = state->vlsdBuffer.size();
    state->view.rules = info.rules;
    state->decoder = info.decoder;
    return &state->view;
}

// Reads the record's data bytes; false when the data section cannot hold them.
bool readRecordBytes(cIO* io, uint64_t left, uint32_t length, std::string* buffer) {
    if (length > left) return false;
    buffer->resize(length);
    return length == 0 || cIO_read(io, buffer->data(), length) == length;
}

} // namespace

bool cMdfRecordInfo_init(cMdfRecordInfo* info) {
    if (!info) return false;
    *info = cMdfRecordInfo{0, 0, nullptr, nullptr};
    return true;
}

cMdfRecordInfo cMdfRecordInfo_clone(const cMdfRecordInfo* info) {
    cMdfRecordInfo copy;
    cMdfRecordInfo_init(&copy);
    if (info) copy = *info;
    return copy;
}

bool cMdfBlock_DG_iteratorState_init(cMdfBlock_DG_iteratorState* state) {
    if (!state) return false;
    state->position = 0;
    state->view = cMdfRecord{nullptr, 0, nullptr, 0, nullptr};
    state->recordBuffer.clear();
    state->vlsdBuffer.clear();
    state->decoder = nullptr;
    return true;
}

void cMdfBlock_DG_iteratorState_drop(cMdfBlock_DG_iteratorState* state) {
    if (!state) return;
    std::string().swap(state->recordBuffer);
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
            info.rules = cMdfBlock_CG_getDecodingRules(cg);
            getOptimalDecoder(info.rules, &info.decoder);
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

const cMdfRecord* cMdfBlock_DG_at(cMdfBlock_DG_obj_t* dg, cMdfBlock_DG_iteratorState* state) {
    if (!dg || !state) return nullptr;
    cMdfBlock_DT_obj_t* dt = carc_cMdfBlock_to_cMdfBlock_DT_obj_t_mut(dg->data);
    cIO* io = cMdfBlock_DT_getIOInterface(dt);
    if (!io || dg->recordMap.empty() || dg->recordIdSize > kMaxRecordIdSize) return nullptr;
    const uint64_t dataSize = dataSizeOf(dt);
    const uint8_t idSize = dg->recordIdSize;

    // Without record ids every record has the one length; a length of 0 would never move on.
    if (idSize == 0) {
        auto it = dg->recordMap.find(0);
        if (it == dg->recordMap.end()) return nullptr;
        const cMdfRecordInfo& info = it->second;
        if (info.recordLength == 0 || info.recordLength == cMdfRecordInfo_VLSD) return nullptr;
        if (state->position >= dataSize || !seekTo(io, state->position)) return nullptr;
        if (!readRecordBytes(io, dataSize - state->position, info.recordLength,
                             &state->recordBuffer))
            return nullptr;
        state->vlsdBuffer.clear();
        const cMdfDecodeRule* vr = firstVlsdRule(info.rules);
        if (vr) {
            cMdfBlock_SD_obj_t* sd = cMdfBlock_obj_t_to_cMdfBlock_SD_obj_t_mut(vr->vlsdBlock);
            if (sd) {
                fetchSdEntry(*vr, sd, state->recordBuffer, &state->vlsdBuffer);
            } else {
                state->vlsdBuffer.append(4, '\0');
            }
        }
        return finish(state, info, info.recordLength);
    }

    // With record ids. A VLSD record met on its own (its parent was not right before it) is
    // stepped over; every step moves forward, so this ends.
    for (;;) {
        if (state->position >= dataSize || !seekTo(io, state->position)) return nullptr;
        uint64_t id = 0;
        if (!readRecordId(io, idSize, &id)) return nullptr;
        auto it = dg->recordMap.find(id);
        if (it == dg->recordMap.end()) return nullptr;
        const cMdfRecordInfo& info = it->second;
        uint64_t left = dataSize - state->position - idSize;
        if (info.recordLength == cMdfRecordInfo_VLSD) {
            uint32_t n = 0;
            if (left < 4 || !readU32(io, &n) || n > left - 4) return nullptr;
            state->position += idSize + 4 + uint64_t{n};
            continue;
        }
        if (!readRecordBytes(io, left, info.recordLength, &state->recordBuffer)) return nullptr;
        uint64_t extent = idSize + uint64_t{info.recordLength};
        state->vlsdBuffer.clear();
        const cMdfDecodeRule* vr = firstVlsdRule(info.rules);
        if (vr) {
            cMdfBlock_obj_t* target = vr->vlsdBlock;
            const cMdfBlock_CG_obj_t* vcg = cMdfBlock_obj_t_to_cMdfBlock_CG_obj_t(target);
            cMdfBlock_SD_obj_t* sd = cMdfBlock_obj_t_to_cMdfBlock_SD_obj_t_mut(target);
            if (vcg) {
                uint64_t nextId = 0;
                uint32_t n = 0;
                // The VLSD record that belongs to this one follows it directly.
                if (extent + idSize + 4 <= dataSize - state->position &&
                    readRecordId(io, idSize, &nextId) && nextId == cMdfBlock_CG_getRecordID(vcg) &&
                    readU32(io, &n)) {
                    appendVlsdEntry(io, n, &state->vlsdBuffer);
                    extent += idSize + 4 + uint64_t{n};
                }
            } else if (sd) {
                fetchSdEntry(*vr, sd, state->recordBuffer, &state->vlsdBuffer);
            } else {
                state->vlsdBuffer.append(4, '\0');
            }
        }
        return finish(state, info, extent);
    }
}

uint32_t cMdfBlock_DG_getRecordDataRaw(cMdfBlock_DG_obj_t* dg, uint64_t position,
                                       uint64_t* recordID, std::string* out) {
    constexpr uint32_t kFail = 0xFFFFFFFFu;
    if (!dg || !out) return kFail;
    cMdfBlock_DT_obj_t* dt = carc_cMdfBlock_to_cMdfBlock_DT_obj_t_mut(dg->data);
    cIO* io = cMdfBlock_DT_getIOInterface(dt);
    if (!io || dg->recordIdSize > kMaxRecordIdSize) return kFail;
    uint64_t dataSize = dataSizeOf(dt);
    if (position >= dataSize || !seekTo(io, position)) return kFail;
    uint64_t id = 0;
    if (!readRecordId(io, dg->recordIdSize, &id)) return kFail;
    out->clear();
    auto it = dg->recordMap.find(id);
    if (it == dg->recordMap.end()) return kFail;
    uint64_t left = dataSize - position - dg->recordIdSize;
    uint64_t length = it->second.recordLength;
    uint64_t total = dg->recordIdSize;
    if (length == cMdfRecordInfo_VLSD) {
        uint32_t n = 0;
        if (left < 4 || !readU32(io, &n)) return kFail;
        char len[4] = {char(n), char(n >> 8), char(n >> 16), char(n >> 24)};
        out->append(len, 4);
        length = n;
        total += 4;
        left -= 4;
    }
    total += length;
    if (length > left || total >= kFail) return kFail;
    if (recordID) *recordID = id;
    size_t base = out->size();
    out->resize(base + length);
    if (length && cIO_read(io, out->data() + base, length) != static_cast<int64_t>(length))
        return kFail;
    return static_cast<uint32_t>(total);
}

bool cMdfBlock_DG_isSorted(const cMdfBlock_DG_obj_t* dg) {
    return dg && dg->recordIdSize == 0 && dg->channelGroups.size() == 1;
}

void cMdfBlock_DG_setRecordIDSize(cMdfBlock_DG_obj_t* dg, uint8_t size) {
    if (dg && size <= kMaxRecordIdSize) dg->recordIdSize = size;
}
