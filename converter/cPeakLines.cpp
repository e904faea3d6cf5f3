#include "converter/cPeakLines.h"

#include <cassert>
#include <cstring>
#include <limits>
#include <new>

#include "converter/cPeakConverter.h"
#include "support/copy_short.h"
#include "support/cstr_support.h"

bool cPeakBatch_init(cPeakBatch* batch) {
    try {
        batch->frames.resize(cPeakBatch_FRAMES);
        batch->data.resize(cPeakBatch_FRAMES * 24); // grows for longer payloads
    } catch (const std::bad_alloc&) {
        return false;
    }
    cPeakBatch_clear(batch);
    return true;
}

void cPeakBatch_clear(cPeakBatch* batch) {
    batch->frameCount = 0;
    batch->dataLength = 0;
    batch->textLength = 0;
    batch->firstNumber = 1;
}

namespace {

__attribute__((noinline)) bool growData(cPeakBatch* batch, size_t length) {
    if (length > std::numeric_limits<uint32_t>::max() - batch->dataLength) return false;
    try {
        batch->data.resize(2 * batch->data.size() + length);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

} // namespace

bool cPeakBatch_add(cPeakBatch* batch, const cBusMsg* msg) {
    assert(!cPeakBatch_full(batch));
    const std::string_view payload = cBusMsg_data(msg);
    const size_t length = payload.size();
    if (batch->data.size() - batch->dataLength < length && !growData(batch, length)) return false;
    cPeakFrame& f = batch->frames[batch->frameCount++];
    f.timestamp = msg->Timestamp;
    f.id = msg->ID;
    f.dataOffset = static_cast<uint32_t>(batch->dataLength);
    f.dataLength = static_cast<uint32_t>(length);
    f.busChannel = msg->BusChannel;
    f.can = msg->CAN;
    copy_short(batch->data.data() + batch->dataLength, payload.data(), length);
    batch->dataLength += length;
    return true;
}

namespace {

// The longest record line without its data bytes: number, offset (the C library's text of
// a huge double), the fixed columns and blanks, with room to spare for the writers' wide
// stores behind the end.
constexpr size_t kLineFixedPart = 64 + 20 + cstr_support_FIXED_MAX;

inline char* put(char* out, const char* text, size_t length) {
    std::memcpy(out, text, length);
    return out + length;
}

// "%d" of a bus channel or a length code (0 to 255): mostly one digit, done here.
inline char* putSmall(char* out, uint8_t value) {
    if (value < 10) {
        *out = static_cast<char>('0' + value);
        return out + 1;
    }
    return cstr_support_put_uint(out, value, 0);
}

// The record number as text, counted up in place from one line to the next rather than
// converted anew for each: the last digit changes, and only a carry touches more. The
// number is right-aligned with leading blanks in the first kEnd bytes of text; the 16 bytes
// behind let a short number be copied in one piece.
constexpr unsigned kEnd = 20;

struct NumberText {
    char text[kEnd + 16];
    unsigned digits;
};

void setNumber(NumberText* n, uint64_t number) {
    char digits[kEnd];
    n->digits = static_cast<unsigned>(cstr_support_put_uint(digits, number, 0) - digits);
    std::memset(n->text, ' ', kEnd - n->digits);
    std::memcpy(n->text + kEnd - n->digits, digits, n->digits);
    std::memset(n->text + kEnd, ' ', 16);
}

// "%<width>" PRIu64 of the number, which then counts up by one.
inline char* putNumber(NumberText* n, char* out, unsigned width) {
    const unsigned length = n->digits < width ? width : n->digits;
    const char* text = n->text + kEnd - length;
    if (length <= 16)
        std::memcpy(out, text, 16); // the line has room behind the number
    else
        std::memcpy(out, text, length);
    char* p = n->text + kEnd - 1;
    while (*p == '9')
        *p-- = '0';
    if (*p == ' ') {
        *p = '1';
        ++n->digits;
    } else {
        ++*p;
    }
    return out + length;
}

// Record numbers are printed unsigned so that counts past 2^31 - 1 stay positive; smaller
// numbers look exactly as a signed conversion prints them.
//
// "%6" PRIu64 ") %11.1f %s    %08X %d  " (extended) or "...%s        %04X %d  ", then the data
// bytes or "RTR".
inline char* lineV1(char* p, NumberText* number, const cPeakFrame& f, const char* data,
                    double startTime) {
    const double offset = (f.timestamp - startTime) * 1000.0;
    p = putNumber(number, p, 6);
    p = put(p, ") ", 2);
    p = cstr_support_put_fixed(p, offset, 11, 1);
    p = put(p, f.can.Dir ? " Tx    " : " Rx    ", 7);
    if (f.can.IDE) {
        p = cstr_support_put_hex32(p, f.id, 8);
    } else {
        p = put(p, "    ", 4);
        p = cstr_support_put_hex32(p, f.id, 4);
    }
    *p++ = ' ';
    p = putSmall(p, f.can.DLC);
    p = put(p, "  ", 2);
    if (f.can.RTR)
        p = put(p, "RTR", 3);
    else
        p = cstr_support_put_hex_bytes(p, data + f.dataOffset, f.dataLength);
    *p++ = '\n';
    return p;
}

inline const char* frameTypeV2(const cBusMsg_CAN& can) {
    if (can.EDL) {
        if (can.BRS && can.ESI) return "BI";
        if (can.BRS) return "FB";
        if (can.ESI) return "FE";
        return "FD";
    }
    return can.RTR ? "RR" : "DT";
}

// "%7" PRIu64 " %13.3f %s %d %08X %s %d" (extended) or "... %d     %04X %s %d", then the data
// bytes (none for a remote frame).
inline char* lineV2(char* p, NumberText* number, const cPeakFrame& f, const char* data,
                    double startTime) {
    const double offset = (f.timestamp - startTime) * 1000.0;
    p = putNumber(number, p, 7);
    *p++ = ' ';
    p = cstr_support_put_fixed(p, offset, 13, 3);
    *p++ = ' ';
    p = put(p, frameTypeV2(f.can), 2);
    *p++ = ' ';
    p = putSmall(p, f.busChannel);
    if (f.can.IDE) {
        *p++ = ' ';
        p = cstr_support_put_hex32(p, f.id, 8);
    } else {
        p = put(p, "     ", 5);
        p = cstr_support_put_hex32(p, f.id, 4);
    }
    p = put(p, f.can.Dir ? " Tx " : " Rx ", 4);
    p = putSmall(p, f.can.DLC);
    // The data column starts one further right for one-digit lengths.
    p = f.can.DLC < 10 ? put(p, "    ", 4) : put(p, "   ", 3);
    if (!f.can.RTR) p = cstr_support_put_hex_bytes(p, data + f.dataOffset, f.dataLength);
    *p++ = '\n';
    return p;
}

// Lines are built in place: the text is kept large enough for the longest line the next
// frame can give, the writers put the columns at a raw pointer, and only the length is kept.
// No printf, no growth per column, no clearing of the room.
template <char* (*line)(char*, NumberText*, const cPeakFrame&, const char*, double)>
__attribute__((flatten)) bool formatAll(double startTime, cPeakBatch* batch) {
    std::string& text = batch->text;
    NumberText number;
    setNumber(&number, batch->firstNumber);
    const char* data = batch->data.data();
    size_t used = 0;
    batch->textLength = 0;
    try {
        for (size_t i = 0; i < batch->frameCount; ++i) {
            const cPeakFrame& f = batch->frames[i];
            const size_t room = kLineFixedPart + 3 * size_t{f.dataLength};
            if (text.size() - used < room) text.resize(2 * text.size() + room);
            used = static_cast<size_t>(line(text.data() + used, &number, f, data, startTime) -
                                       text.data());
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    batch->textLength = used;
    return true;
}

} // namespace

bool cPeakLines_format(uint32_t version, double startTime, cPeakBatch* batch) {
    return version == cPeakConverter_VERSION_1_1 ? formatAll<lineV1>(startTime, batch)
                                                 : formatAll<lineV2>(startTime, batch);
}
