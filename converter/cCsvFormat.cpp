// CSV (cFrameFormat_csv) for spreadsheets and data frames: RFC 4180 with a comma, one header
// line, then one frame a line. No field needs quoting.
//   time,bus,type,id,ide,rtr,dir,brs,esi,dlc,length,data
//   1700000000.000250,1,CAN,123,0,0,Rx,0,0,8,8,1122334455667788
//   1700000000.000500,2,CAN,0ABCDEF1,1,1,Tx,0,0,4,0,
//   1700000000.000750,3,CANFD,7FF,0,0,Rx,1,1,9,12,AABBCCDDEEFF001122334455
// time: UTC Unix seconds with six decimals; id: 3 hex digits for a standard identifier, 8
// for an extended one; dlc: the length code; length: the data bytes (0 for a remote frame).

#include "converter/cFrameBatch.h"
#include "converter/cFrameFormat.h"
#include "converter/cFrameText.h"

namespace {

// The longest line without its payload (some 70 bytes) and the 16 bytes the number writers
// may write behind their text; the payload adds two digits a byte.
constexpr size_t kLineFixedPart = 96;

char* line(char* p, const cFrame& f, const uint8_t* data) {
    p = cFrameText_putSeconds(p, cFrameText_micros(f.timestamp));
    *p++ = ',';
    p = cstr_support_put_uint(p, f.busChannel, 0);
    p = f.can.EDL ? cFrameText_put(p, ",CANFD,", 7) : cFrameText_put(p, ",CAN,", 5);
    p = cstr_support_put_hex32(p, f.id, f.can.IDE ? 8 : 3);
    const bool remote = f.can.RTR && !f.can.EDL;
    char flags[12] = {',',
                      f.can.IDE ? '1' : '0',
                      ',',
                      remote ? '1' : '0',
                      ',',
                      'R',
                      'x',
                      ',',
                      f.can.EDL && f.can.BRS ? '1' : '0',
                      ',',
                      f.can.EDL && f.can.ESI ? '1' : '0',
                      ','};
    if (f.can.Dir) flags[5] = 'T';
    p = cFrameText_put(p, flags, sizeof flags);
    p = cstr_support_put_uint(p, f.can.DLC, 0);
    *p++ = ',';
    const uint32_t length = remote ? 0 : f.dataLength;
    p = cstr_support_put_uint(p, length, 0);
    *p++ = ',';
    p = cstr_support_put_hex_packed(p, data + f.dataOffset, length);
    *p++ = '\n';
    return p;
}

bool header(std::string* out, double) {
    try {
        out->append("time,bus,type,id,ide,rtr,dir,brs,esi,dlc,length,data\n");
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

// Flattened: the number writers inlined into the loop over the frames.
__attribute__((flatten)) bool format(double, cFrameBatch* batch) {
    return cFrameBatch_formatLines(batch, kLineFixedPart, line);
}

} // namespace

const cFrameFormat cFrameFormat_csv = {
    cOutputFormat_CSV, "csv", "_CAN.csv", false, header, format, nullptr};
