// Vector ASC (cFrameFormat_asc), the text log of Vector's tools, which SavvyCAN replays and
// can-utils' asc2log reads:
//   date Tue Nov 14 10:13:20.000 pm 2023
//   base hex  timestamps absolute
//   no internal events logged
//   Begin Triggerblock Tue Nov 14 10:13:20.000 pm 2023
//      0.000250 1  123             Rx   d 8 11 22 33 44 55 66 77 88
//      0.000500 2  ABCDEF1x        Tx   r 4
//      0.000750 CANFD   3 Rx        7FF                                   1 1 9 12 AA ...
//   End TriggerBlock
// The date is the logger's own clock, as the trace's start date shows it: the first frame's
// time rounded down to the millisecond (Vector's tools keep milliseconds there). Each frame's
// time is its distance from that date in seconds with six decimals, so that date plus time
// gives the frame's time to the microsecond. Channel 1 is bus 1. An FD line has the full
// field list of Vector's tools (0 for what the log does not hold); its flags carry EDL, BRS
// and ESI.

#include <cerrno>
#include <cstring>
#include <ctime>
#include <new>

#include "converter/cFrameBatch.h"
#include "converter/cFrameFormat.h"
#include "converter/cFramePipeline.h"
#include "converter/cFrameText.h"
#include "support/cstr_support.h"

namespace {

// The flags column of an FD line.
enum : uint32_t {
    ascFlag_EDL = 1u << 12,
    ascFlag_BRS = 1u << 13,
    ascFlag_ESI = 1u << 14,
};

constexpr size_t kLineFixedPart = 256;

// The first frame's time rounded down to the millisecond, in microseconds.
int64_t startMicros(double startTime) {
    const int64_t us = cFrameText_micros(startTime);
    const int64_t ms = us >= 0 ? us / 1000 : -((999 - us) / 1000);
    return ms * 1000;
}

// "<Weekday> <Mon> <d> <hh:mm:ss.mmm> <am|pm> <yyyy>" of the start, in English whatever the
// locale.
bool appendDate(std::string* out, int64_t startUs) {
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const time_t seconds = static_cast<time_t>(startUs / 1000000 - (startUs % 1000000 < 0));
    const int ms = static_cast<int>(((startUs % 1000000) + 1000000) % 1000000 / 1000);
    struct tm t {};
    if (!gmtime_r(&seconds, &t)) return false;
    const int hour12 = t.tm_hour % 12 == 0 ? 12 : t.tm_hour % 12;
    cstr_support_append_fmt(out, "%s %s %d %02d:%02d:%02d.%03d %s %d", days[t.tm_wday],
                            months[t.tm_mon], t.tm_mday, hour12, t.tm_min, t.tm_sec, ms,
                            t.tm_hour < 12 ? "am" : "pm", t.tm_year + 1900);
    return true;
}

bool header(std::string* out, double startTime) {
    try {
        std::string date;
        if (!appendDate(&date, startMicros(startTime))) return false;
        *out += "date " + date + "\nbase hex  timestamps absolute\nno internal events logged\n";
        *out += "Begin Triggerblock " + date + "\n";
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

// "<id>" or "<id>x" as ASC writes identifiers.
char* putId(char* p, const cFrame& f) {
    p = cstr_support_put_hex32(p, f.id, 1);
    if (f.can.IDE) *p++ = 'x';
    return p;
}

char* lineClassic(char* p, const cFrame& f, const uint8_t* data) {
    *p++ = ' ';
    p = cstr_support_put_uint(p, f.busChannel, 0);
    p = cFrameText_put(p, "  ", 2);
    // The id left-aligned in 15 columns: at most 9 of them are its own, so 16 blanks behind
    // it (the hex writer may leave bytes there) always reach the 15th.
    std::memset(putId(p, f), ' ', 16);
    p += 15;
    p = cFrameText_put(p, f.can.Dir ? " Tx   " : " Rx   ", 6);
    *p++ = f.can.RTR ? 'r' : 'd';
    *p++ = ' ';
    *p++ = cFrameText_hexDigits[f.can.DLC & 0xF];
    if (!f.can.RTR && f.dataLength > 0) {
        *p++ = ' ';
        p = cstr_support_put_hex_bytes(p, data + f.dataOffset, f.dataLength);
    }
    return p;
}

char* lineFd(char* p, const cFrame& f, const uint8_t* data) {
    p = cFrameText_put(p, " CANFD ", 7);
    p = cstr_support_put_uint(p, f.busChannel, 3);
    p = cFrameText_put(p, f.can.Dir ? " Tx   " : " Rx   ", 6);
    p = cFrameText_alignRight(p, putId(p, f), 8);
    // Two blanks, an empty symbolic name in 32 columns, one blank.
    std::memset(p, ' ', 35);
    p += 35;
    *p++ = f.can.BRS ? '1' : '0';
    *p++ = ' ';
    *p++ = f.can.ESI ? '1' : '0';
    *p++ = ' ';
    *p++ = cFrameText_hexDigits[f.can.DLC & 0xF];
    *p++ = ' ';
    p = cstr_support_put_uint(p, f.dataLength, 2);
    if (f.dataLength > 0) {
        *p++ = ' ';
        p = cstr_support_put_hex_bytes(p, data + f.dataOffset, f.dataLength);
    }
    // Message duration and length, then the flags, the CRC and the four bit timing fields.
    p = cFrameText_put(p, "        0    0     ", 19);
    const uint32_t flags =
        ascFlag_EDL | (f.can.BRS ? ascFlag_BRS : 0u) | (f.can.ESI ? ascFlag_ESI : 0u);
    p = cstr_support_put_hex32(p, flags, 4);
    return cFrameText_put(p, "        0        0        0        0        0", 45);
}

// Flattened: the number writers inlined into the loop over the frames.
__attribute__((flatten)) bool format(double startTime, cFrameBatch* batch) {
    const int64_t startUs = startMicros(startTime);
    const uint8_t* data = reinterpret_cast<const uint8_t*>(batch->data.data());
    size_t used = 0;
    batch->textLength = 0;
    for (size_t i = 0; i < batch->frameCount; ++i) {
        const cFrame& f = batch->frames[i];
        if (!cFrameBatch_textRoom(batch, used, kLineFixedPart + 3 * size_t{f.dataLength}))
            return false;
        char* p = batch->text.data() + used;
        p = cFrameText_alignRight(
            p, cFrameText_putSeconds(p, cFrameText_micros(f.timestamp) - startUs), 11);
        p = f.can.EDL ? lineFd(p, f, data) : lineClassic(p, f, data);
        *p++ = '\n';
        used = static_cast<size_t>(p - batch->text.data());
    }
    batch->textLength = used;
    return true;
}

int finish(cIO* out, const cFrameFileEnd*) {
    static const char end[] = "End TriggerBlock\n";
    errno = 0;
    if (cIO_write(out, end, sizeof end - 1) == static_cast<int64_t>(sizeof end - 1)) return 0;
    return errno != 0 ? errno : cFramePipeline_NO_REASON;
}

} // namespace

const cFrameFormat cFrameFormat_asc = {
    cOutputFormat_ASC, "asc", "_CAN.asc", false, header, format, finish};
