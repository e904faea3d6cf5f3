#include "converter/cPeakLines.h"

#include <cmath>
#include <cstring>
#include <new>

#include "converter/cPeakConverter.h"
#include "support/cstr_support.h"

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
inline char* lineV1(char* p, NumberText* number, const cFrame& f, const char* data,
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
inline char* lineV2(char* p, NumberText* number, const cFrame& f, const char* data,
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
template <char* (*line)(char*, NumberText*, const cFrame&, const char*, double)>
__attribute__((flatten)) bool formatAll(double startTime, cFrameBatch* batch) {
    std::string& text = batch->text;
    NumberText number;
    setNumber(&number, batch->firstNumber);
    const char* data = batch->data.data();
    size_t used = 0;
    batch->textLength = 0;
    try {
        for (size_t i = 0; i < batch->frameCount; ++i) {
            const cFrame& f = batch->frames[i];
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

bool header(std::string* out, double startTime, bool v1) {
    try {
        out->append(v1 ? ";$FILEVERSION=1.1\n;$STARTTIME=" : ";$FILEVERSION=2.1\n;$STARTTIME=");
        cPeakConverter_appendStartDate(out, startTime);
        if (!v1) out->append(";$COLUMNS=N,O,T,B,I,d,L,D\n");
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool headerV1(std::string* out, double startTime) {
    return header(out, startTime, true);
}
bool headerV2(std::string* out, double startTime) {
    return header(out, startTime, false);
}
bool formatV1(double startTime, cFrameBatch* batch) {
    return formatAll<lineV1>(startTime, batch);
}
bool formatV2(double startTime, cFrameBatch* batch) {
    return formatAll<lineV2>(startTime, batch);
}

constexpr double secondsPerDay = 86400.0;
constexpr double unixEpochAsOleDate = 25569.0; // 1970-01-01 counted from 1899-12-30
// Far beyond any real date, and safely inside the unsigned conversion.
constexpr double latestDay = 1e15;

} // namespace

void cPeakConverter_appendStartDate(std::string* out, double startTime) {
    if (!out) return;
    double days = startTime / secondsPerDay + unixEpochAsOleDate;
    if (!(days >= 0.0 && days <= latestDay)) days = 0.0; // no date, and no undefined conversion
    double whole = 0.0;
    double fraction = std::modf(days, &whole) * 1e10;
    // A fraction that rounds to 1e10 belongs to the next day; printed as it is it would
    // take eleven digits.
    if (std::nearbyint(fraction) >= 1e10) {
        whole += 1.0;
        fraction = 0.0;
    }
    cstr_support_append_fmt(out, "%5lu.%010.0f\n", static_cast<unsigned long>(whole), fraction);
}

const cFrameFormat cFrameFormat_trace11 = {
    cOutputFormat_TRACE_1_1, "version1", "_CAN.trc", true, headerV1, formatV1, nullptr};
const cFrameFormat cFrameFormat_trace21 = {
    cOutputFormat_TRACE_2_1, "version2", "_CAN.trc", false, headerV2, formatV2, nullptr};

cPeakConverter* cPeakConverter_ctor(cFS* outputFs, uint32_t traceFormat) {
    if (traceFormat != cPeakConverter_VERSION_1_1 && traceFormat != cPeakConverter_VERSION_2_1)
        return nullptr;
    return cFrameWriter_ctor(outputFs, traceFormat);
}
