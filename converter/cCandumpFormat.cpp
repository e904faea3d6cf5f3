// The SocketCAN candump log (cFrameFormat_candump), as candump -l writes it and canplayer
// and log2asc read it: one frame a line, "(SECONDS.MICROSECONDS) IFACE FRAME DIR".
//   (1700000000.000250) can0 123#1122334455667788 R
//   (1700000000.000500) can1 0ABCDEF1#R4 T
//   (1700000000.000750) can2 7FF##3AABBCCDDEEFF0011 R
// The time is the frame's own (UTC Unix seconds, no time zone added: the file is for
// machines). Bus 1 is can0, bus 2 can1, as can-utils' asc2log names ASC channels. An FD
// frame writes "##" and a digit of flags (1: bit rate switch, 2: error state indicator).

#include "converter/cFrameBatch.h"
#include "converter/cFrameFormat.h"
#include "converter/cFrameText.h"

namespace {

// "(", a sign and 20 digits of seconds, ".", 6, ") can", 3 of the bus, " ", 8 of the id,
// "##", the flags, " R\n", and the 16 bytes the number writers may write behind their text;
// the payload adds two digits a byte.
constexpr size_t kLineFixedPart = 80;

char* line(char* p, const cFrame& f, const uint8_t* data) {
    *p++ = '(';
    p = cFrameText_putSeconds(p, cFrameText_micros(f.timestamp));
    p = cFrameText_put(p, ") can", 5);
    p = cstr_support_put_uint(p, f.busChannel > 0 ? f.busChannel - 1u : 0u, 0);
    *p++ = ' ';
    p = cstr_support_put_hex32(p, f.id, f.can.IDE ? 8 : 3);
    *p++ = '#';
    if (f.can.EDL) {
        *p++ = '#';
        *p++ = cFrameText_hexDigits[(f.can.BRS ? 1 : 0) | (f.can.ESI ? 2 : 0)];
        p = cstr_support_put_hex_packed(p, data + f.dataOffset, f.dataLength);
    } else if (f.can.RTR) {
        *p++ = 'R';
        if (f.can.DLC != 0) *p++ = cFrameText_hexDigits[f.can.DLC & 0xF];
    } else {
        p = cstr_support_put_hex_packed(p, data + f.dataOffset, f.dataLength);
    }
    return cFrameText_put(p, f.can.Dir ? " T\n" : " R\n", 3);
}

bool header(std::string*, double) {
    return true;
}

// Flattened: the number writers inlined into the loop over the frames.
__attribute__((flatten)) bool format(double, cFrameBatch* batch) {
    return cFrameBatch_formatLines(batch, kLineFixedPart, line);
}

} // namespace

const cFrameFormat cFrameFormat_candump = {
    cOutputFormat_CANDUMP, "candump", "_CAN.log", false, header, format, nullptr};
