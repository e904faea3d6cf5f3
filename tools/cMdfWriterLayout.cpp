#include "tools/cMdfWriterLayout.h"

#include <cmath>
#include <cstring>
#include <string>

namespace {

struct KindTable {
    cMdfWriterFrameKind kind;
    const char* groupName;
    uint8_t busType;
    cMdfWriterChannel channels[12];
    uint32_t channelCount;
    uint32_t fixedBytes; // record bytes in front of DataBytes, or the whole record
};

// The DataBytes width is filled in by cMdfWriterRecordLayout_init.
const KindTable kinds[] = {
    {MDFW_CAN_DATA,
     "CAN_DataFrame",
     2,
     {{"", MDFW_F_TIME, 0, 0, 64},
      {"ID", MDFW_F_ID, 9, 0, 29},
      {"IDE", MDFW_F_IDE, 12, 5, 1},
      {"DLC", MDFW_F_DLC, 13, 0, 4},
      {"DataLength", MDFW_F_DATA_LENGTH, 14, 0, 8},
      {"DataBytes", MDFW_F_DATA_BYTES, 15, 0, 0},
      {"Dir", MDFW_F_DIR, 13, 4, 1},
      {"EDL", MDFW_F_EDL, 13, 5, 1},
      {"BRS", MDFW_F_BRS, 13, 6, 1},
      {"ESI", MDFW_F_ESI, 13, 7, 1},
      {"BusChannel", MDFW_F_BUS, 8, 0, 8}},
     11,
     15},
    {MDFW_CAN_REMOTE,
     "CAN_RemoteFrame",
     2,
     {{"", MDFW_F_TIME, 0, 0, 64},
      {"BusChannel", MDFW_F_BUS, 8, 0, 8},
      {"ID", MDFW_F_ID, 9, 0, 29},
      {"IDE", MDFW_F_IDE, 12, 5, 1},
      {"DLC", MDFW_F_DLC, 13, 0, 4},
      {"DataLength", MDFW_F_DATA_LENGTH, 14, 0, 8},
      {"Dir", MDFW_F_DIR, 13, 4, 1}},
     7,
     15},
    {MDFW_CAN_ERROR,
     "CAN_ErrorFrame",
     2,
     {{"", MDFW_F_TIME, 0, 0, 64},
      {"BusChannel", MDFW_F_BUS, 8, 0, 8},
      {"ErrorType", MDFW_F_ERROR_TYPE, 9, 0, 8}},
     3,
     10},
    {MDFW_LIN,
     "LIN_Frame",
     3,
     {{"", MDFW_F_TIME, 0, 0, 64},
      {"BusChannel", MDFW_F_BUS, 8, 0, 8},
      {"ID", MDFW_F_ID, 9, 0, 6},
      {"Dir", MDFW_F_DIR, 9, 6, 1},
      {"DataLength", MDFW_F_DATA_LENGTH, 10, 0, 4},
      {"ReceivedDataByteCount", MDFW_F_LIN_RX_COUNT, 10, 4, 4},
      {"DataBytes", MDFW_F_DATA_BYTES, 11, 0, 0}},
     7,
     11},
};

constexpr uint32_t LIN_DATA_BYTES = 8;
constexpr uint32_t VLSD_OFFSET_BYTES = 8;

uint64_t doubleBits(double v) {
    uint64_t bits;
    memcpy(&bits, &v, sizeof bits);
    return bits;
}

// Raw BusChannel value: the table key whose value is the bus, else the bus itself.
uint64_t rawBus(const cMdfWriterGroup* group, uint8_t bus) {
    for (const auto& kv : group->busChannelTable)
        if (kv.second == (double)bus && kv.first >= 0) return (uint64_t)kv.first;
    return bus;
}

uint64_t fieldValue(const cMdfWriterRecordEncoder* enc, cMdfWriterField field,
                    const cMdfWriterFrame* f) {
    switch (field) {
    case MDFW_F_TIME:
        if (enc->group->timeEncoding == MDFW_TIME_MICROS)
            return f->time > 0 ? (uint64_t)std::llround(f->time * 1e6) : 0;
        if (enc->group->timeEncoding == MDFW_TIME_MILLIS32_BE)
            return f->time > 0 ? (uint64_t)std::llround(f->time * 1e3) : 0;
        return doubleBits(f->time);
    case MDFW_F_BUS:
        return rawBus(enc->group, f->bus);
    case MDFW_F_ID:
        return f->id;
    case MDFW_F_IDE:
        return f->ide;
    case MDFW_F_DLC:
        return f->dlc;
    case MDFW_F_DATA_LENGTH:
        return f->dataLength;
    case MDFW_F_DIR:
        return f->dir;
    case MDFW_F_EDL:
        return f->edl;
    case MDFW_F_BRS:
        return f->brs;
    case MDFW_F_ESI:
        return f->esi;
    case MDFW_F_ERROR_TYPE:
        return f->errorType;
    case MDFW_F_LIN_RX_COUNT:
        return f->linReceivedDataByteCount;
    case MDFW_F_DATA_BYTES:
        break;
    }
    return 0;
}

// Big-endian channels get whole bytes each, members in chain order behind the Timestamp and
// DataBytes last: tools number the bits of a packed big-endian field differently, while a
// byte-aligned field of whole bytes is the same plain big-endian integer for all of them.
void wholeBytes(cMdfWriterRecordLayout* layout) {
    uint32_t at = 8;
    for (uint32_t i = 1; i < layout->channelCount; ++i) {
        cMdfWriterChannel& ch = layout->channels[i];
        if (ch.field == MDFW_F_DATA_BYTES) continue;
        ch.byteOffset = at;
        ch.bitOffset = 0;
        ch.bitCount = (ch.bitCount + 7) / 8 * 8;
        at += ch.bitCount / 8;
    }
    if (layout->dataBytesChannel >= 0) {
        cMdfWriterChannel& ch = layout->channels[layout->dataBytesChannel];
        ch.byteOffset = at;
        at += ch.bitCount / 8;
    }
    layout->dataBytes = at;
}

} // namespace

bool cMdfWriterRecordLayout_init(cMdfWriterRecordLayout* layout, cMdfWriterFrameKind kind,
                                 const cMdfWriterGroup* group) {
    for (const KindTable& t : kinds) {
        if (t.kind != kind) continue;
        layout->kind = kind;
        layout->groupName = t.groupName;
        layout->busType = t.busType;
        layout->channelCount = t.channelCount;
        memcpy(layout->channels, t.channels, sizeof layout->channels);
        layout->dataBytes = t.fixedBytes;
        layout->dataBytesChannel = -1;
        layout->vlsd = false;
        for (uint32_t i = 0; i < t.channelCount; ++i) {
            if (t.channels[i].field != MDFW_F_DATA_BYTES) continue;
            layout->vlsd = group->dataStorage != MDFW_DATA_FIXED;
            uint32_t width = layout->vlsd              ? VLSD_OFFSET_BYTES
                             : kind == MDFW_LIN        ? LIN_DATA_BYTES
                             : group->canDataBytes > 0 ? group->canDataBytes
                                                       : 64;
            layout->channels[i].bitCount = width * 8;
            layout->dataBytes = t.fixedBytes + width;
            layout->dataBytesChannel = (int)i;
        }
        if (group->timeEncoding == MDFW_TIME_MILLIS32_BE) layout->channels[0].bitCount = 32;
        if (group->bigEndian) wholeBytes(layout);
        return true;
    }
    return false;
}

void cMdfWriterRecordEncoder_init(cMdfWriterRecordEncoder* enc,
                                  const cMdfWriterRecordLayout* layout,
                                  const cMdfWriterGroup* group) {
    enc->layout = layout;
    enc->group = group;
    for (uint32_t i = 0; i < 12; ++i) {
        enc->omit[i] = false;
        if (i >= layout->channelCount) continue;
        std::string name = i == 0
                               ? std::string("Timestamp")
                               : std::string(layout->groupName) + "." + layout->channels[i].suffix;
        for (const auto& o : group->omitChannels)
            if (o == name) enc->omit[i] = true;
    }
}

void cMdfWriter_putBits(uint8_t* buf, uint32_t pos, uint32_t bitCount, uint64_t value,
                        bool littleEndian) {
    if (bitCount == 0) return;
    if (bitCount < 64) value &= (uint64_t(1) << bitCount) - 1;
    if (littleEndian && (pos & 7) + bitCount <= 64) {
        // One shifted word spread over the bytes it covers.
        uint32_t shift = pos & 7, bytes = (shift + bitCount + 7) >> 3;
        uint64_t v = value << shift;
        uint8_t* p = buf + (pos >> 3);
        for (uint32_t i = 0; i < bytes; ++i)
            p[i] |= (uint8_t)(v >> (8 * i));
        return;
    }
    if (littleEndian) {
        uint32_t byte = pos >> 3, shift = pos & 7, left = bitCount;
        while (left > 0) {
            uint32_t chunk = 8 - shift < left ? 8 - shift : left;
            buf[byte] |= (uint8_t)((value & ((1u << chunk) - 1)) << shift);
            value = chunk < 64 ? value >> chunk : 0;
            left -= chunk;
            shift = 0;
            ++byte;
        }
        return;
    }
    for (uint32_t i = 0; i < bitCount; ++i) {
        uint32_t p = pos + i;
        if ((value >> (bitCount - 1 - i)) & 1) buf[p >> 3] |= (uint8_t)(0x80u >> (p & 7));
    }
}

bool cMdfWriter_timeLittleEndian(const cMdfWriterGroup* group) {
    return !group->bigEndian && group->timeEncoding != MDFW_TIME_MILLIS32_BE;
}

uint8_t cMdfWriter_payloadLength(const cMdfWriterFrame* frame) {
    return frame->kind == MDFW_CAN_DATA || frame->kind == MDFW_LIN ? frame->dataLength : 0;
}

bool cMdfWriterRecordEncoder_encode(const cMdfWriterRecordEncoder* enc,
                                    const cMdfWriterFrame* frame, uint64_t vlsdOffset, uint8_t* rec,
                                    const char** why) {
    const cMdfWriterRecordLayout* layout = enc->layout;
    memset(rec, 0, layout->dataBytes);
    bool le = !enc->group->bigEndian;
    for (uint32_t i = 0; i < layout->channelCount; ++i) {
        if (enc->omit[i]) continue;
        const cMdfWriterChannel& ch = layout->channels[i];
        uint32_t pos = ch.byteOffset * 8 + ch.bitOffset;
        if (ch.field != MDFW_F_DATA_BYTES) {
            bool chLe = ch.field == MDFW_F_TIME ? cMdfWriter_timeLittleEndian(enc->group) : le;
            cMdfWriter_putBits(rec, pos, ch.bitCount, fieldValue(enc, ch.field, frame), chLe);
            continue;
        }
        if (layout->vlsd) {
            // The offset of a variable-length value is always stored little-endian.
            cMdfWriter_putBits(rec, pos, 64, vlsdOffset, true);
            continue;
        }
        uint32_t width = ch.bitCount / 8;
        if (frame->dataLength > width) {
            *why = "payload longer than the DataBytes array";
            return false;
        }
        memcpy(rec + ch.byteOffset, frame->data, frame->dataLength);
    }
    return true;
}
