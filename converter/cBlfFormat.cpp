// Vector BLF (cFrameFormat_blf), the binary log of Vector's tools. The file starts with a
// 144-byte header holding its own counts (size, object count, first and last object time),
// then log containers, each the zlib-compressed bytes of up to 128 KiB of objects: a classic
// frame is a CAN_MESSAGE2 object, an FD frame a CAN_FD_MESSAGE_64. Every object time counts
// nanoseconds from the header's start time, the first frame's time rounded down to the
// millisecond as a system time of the logger's own clock (as the trace's start date shows
// it). Channel 1 is bus 1. Nothing in the file depends on when or where it was written.
//
// Each batch is packed into containers of its own, so that two threads can compress two
// batches at once; a container holds whole objects. The header is written again once the
// last batch is in, with the counts.

#include <libdeflate.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <new>

#include "converter/cFrameBatch.h"
#include "converter/cFrameFormat.h"
#include "converter/cFramePipeline.h"
#include "converter/cFrameText.h"

namespace {

enum blfObjectType : uint32_t {
    blfObject_LOG_CONTAINER = 10,
    blfObject_CAN_MESSAGE2 = 86,
    blfObject_CAN_FD_MESSAGE_64 = 101,
};

enum : uint16_t { blfCompression_ZLIB = 2 };
enum : uint32_t { blfTime_ONE_NANS = 2 }; // object flags: the time counts nanoseconds

// CAN_MESSAGE2 flags; CAN_FD_MESSAGE_64 flags.
enum : uint8_t { blfCan_TX = 0x01, blfCan_REMOTE = 0x80 };
enum : uint32_t { blfFd_EDL = 0x1000, blfFd_BRS = 0x2000, blfFd_ESI = 0x4000 };

constexpr size_t kFileHeaderSize = 144;
constexpr size_t kObjectHeaderBase = 16; // signature, header size and version, size, type
constexpr size_t kObjectHeader = 32;     // the base and version 1's flags, client, time
constexpr size_t kContainerHeader = 16;  // compression method, unpacked size
constexpr size_t kCanMessage2 = 24;
constexpr size_t kCanFdMessage64 = 40; // before the data
// What a container holds unpacked at most, as Vector's tools write them.
constexpr size_t kContainerData = 128 * 1024;
// zlib's fastest level: the file is a log to be read back, not archived.
constexpr int kCompressionLevel = 1;

// Little-endian fields at p.
inline uint8_t* put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    return p + 2;
}
inline uint8_t* put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
    return p + 4;
}
inline uint8_t* put64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
    return p + 8;
}

uint8_t* putObjectHeaderBase(uint8_t* p, uint16_t headerSize, uint32_t size, uint32_t type) {
    std::memcpy(p, "LOBJ", 4);
    p = put16(p + 4, headerSize);
    p = put16(p, 1); // header version
    p = put32(p, size);
    return put32(p, type);
}

// The first frame's time rounded down to the millisecond, in microseconds.
int64_t startMicros(double startTime) {
    const int64_t us = cFrameText_micros(startTime);
    const int64_t ms = us >= 0 ? us / 1000 : -((999 - us) / 1000);
    return ms * 1000;
}

// SYSTEMTIME: year, month, day of week (0 Sunday), day, hour, minute, second, millisecond.
uint8_t* putSystemTime(uint8_t* p, int64_t us) {
    const int64_t ms = us >= 0 ? us / 1000 : -((999 - us) / 1000);
    const time_t seconds = static_cast<time_t>(ms >= 0 ? ms / 1000 : -((999 - ms) / 1000));
    struct tm t {};
    if (us <= 0 || !gmtime_r(&seconds, &t)) {
        std::memset(p, 0, 16);
        return p + 16;
    }
    const uint16_t fields[8] = {static_cast<uint16_t>(t.tm_year + 1900),
                                static_cast<uint16_t>(t.tm_mon + 1),
                                static_cast<uint16_t>(t.tm_wday),
                                static_cast<uint16_t>(t.tm_mday),
                                static_cast<uint16_t>(t.tm_hour),
                                static_cast<uint16_t>(t.tm_min),
                                static_cast<uint16_t>(t.tm_sec),
                                static_cast<uint16_t>(ms - static_cast<int64_t>(seconds) * 1000)};
    for (uint16_t f : fields)
        p = put16(p, f);
    return p;
}

void fileHeader(uint8_t* p, uint64_t fileSize, uint64_t unpacked, uint64_t objects, int64_t startUs,
                int64_t lastUs) {
    std::memset(p, 0, kFileHeaderSize);
    std::memcpy(p, "LOGG", 4);
    put32(p + 4, kFileHeaderSize);
    // Application 0 (none of Vector's), version 0.0.0; the log format version 2.6.8.1.
    const uint8_t versions[8] = {0, 0, 0, 0, 2, 6, 8, 1};
    std::memcpy(p + 8, versions, sizeof versions);
    put64(p + 16, fileSize);
    put64(p + 24, unpacked);
    put32(p + 32, static_cast<uint32_t>(objects));
    // p + 36: objects read, 0
    putSystemTime(p + 40, startUs);
    putSystemTime(p + 56, lastUs);
}

bool header(std::string* out, double startTime) {
    uint8_t bytes[kFileHeaderSize];
    const int64_t startUs = startMicros(startTime);
    fileHeader(bytes, 0, kFileHeaderSize, 0, startUs, startUs);
    try {
        out->append(reinterpret_cast<const char*>(bytes), sizeof bytes);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

// One object of the frame at p; its size with padding.
size_t putObject(uint8_t* p, const cFrame& f, const uint8_t* data, int64_t startUs) {
    const int64_t offsetUs = cFrameText_micros(f.timestamp) - startUs;
    const uint64_t ns = offsetUs > 0 ? static_cast<uint64_t>(offsetUs) * 1000 : 0;
    const uint32_t id = f.id | (f.can.IDE ? 0x80000000u : 0u);
    uint8_t* start = p;
    if (!f.can.EDL) {
        const uint32_t size = kObjectHeader + kCanMessage2;
        p = putObjectHeaderBase(p, kObjectHeader, size, blfObject_CAN_MESSAGE2);
        p = put32(p, blfTime_ONE_NANS);
        p = put32(p, 0); // client index, object version
        p = put64(p, ns);
        p = put16(p, f.busChannel);
        *p++ = static_cast<uint8_t>((f.can.Dir ? blfCan_TX : 0) | (f.can.RTR ? blfCan_REMOTE : 0));
        *p++ = f.can.DLC;
        p = put32(p, id);
        std::memset(p, 0, 16); // data, frame length, bit count, reserved
        if (!f.can.RTR) std::memcpy(p, data + f.dataOffset, f.dataLength < 8 ? f.dataLength : 8);
        return size; // a multiple of 4: no padding
    }
    const uint32_t length = f.dataLength < 64 ? f.dataLength : 64;
    const uint32_t size = kObjectHeader + kCanFdMessage64 + length;
    p = putObjectHeaderBase(p, kObjectHeader, size, blfObject_CAN_FD_MESSAGE_64);
    p = put32(p, blfTime_ONE_NANS);
    p = put32(p, 0);
    p = put64(p, ns);
    *p++ = f.busChannel;
    *p++ = f.can.DLC;
    *p++ = static_cast<uint8_t>(length);
    *p++ = 0; // tx count
    p = put32(p, id);
    p = put32(p, 0); // frame length
    p = put32(p, blfFd_EDL | (f.can.BRS ? blfFd_BRS : 0u) | (f.can.ESI ? blfFd_ESI : 0u));
    std::memset(p, 0, 24); // bit rates, time offsets, bit count, direction, ext offset, crc
    p[18] = f.can.Dir ? 1 : 0;
    p += 24;
    std::memcpy(p, data + f.dataOffset, length);
    p += length;
    // Objects are followed by size % 4 zero bytes, as Vector's tools write them.
    std::memset(p, 0, size % 4);
    return static_cast<size_t>(p - start) + size % 4;
}

// One compressor per thread, kept for the thread's life.
struct Compressor {
    libdeflate_compressor* c = nullptr;
    ~Compressor() { libdeflate_free_compressor(c); }
};

libdeflate_compressor* compressor() {
    thread_local Compressor kept;
    if (!kept.c) kept.c = libdeflate_alloc_compressor(kCompressionLevel);
    return kept.c;
}

// Packs scratch[0, n) as one container behind the text's `used` bytes.
bool putContainer(cFrameBatch* batch, size_t* used, size_t n) {
    libdeflate_compressor* c = compressor();
    if (!c) return false;
    const size_t bound = libdeflate_zlib_compress_bound(c, n);
    if (!cFrameBatch_textRoom(batch, *used, kObjectHeaderBase + kContainerHeader + bound + 4))
        return false;
    auto* p = reinterpret_cast<uint8_t*>(batch->text.data() + *used);
    uint8_t* body = p + kObjectHeaderBase + kContainerHeader;
    const size_t packed = libdeflate_zlib_compress(c, batch->scratch.data(), n, body, bound);
    if (packed == 0) return false;
    const uint32_t size = static_cast<uint32_t>(kObjectHeaderBase + kContainerHeader + packed);
    uint8_t* q = putObjectHeaderBase(p, kObjectHeaderBase, size, blfObject_LOG_CONTAINER);
    q = put16(q, blfCompression_ZLIB);
    std::memset(q, 0, 6);
    q = put32(q + 6, static_cast<uint32_t>(n));
    std::memset(q, 0, 4);
    std::memset(body + packed, 0, size % 4);
    *used += size + size % 4;
    batch->extra += kObjectHeaderBase + kContainerHeader + n;
    return true;
}

bool format(double startTime, cFrameBatch* batch) {
    const int64_t startUs = startMicros(startTime);
    const uint8_t* data = reinterpret_cast<const uint8_t*>(batch->data.data());
    constexpr size_t kLargestObject = kObjectHeader + kCanFdMessage64 + 64 + 3;
    batch->textLength = 0;
    batch->extra = 0;
    try {
        if (batch->scratch.size() < kContainerData) batch->scratch.resize(kContainerData);
    } catch (const std::bad_alloc&) {
        return false;
    }
    auto* scratch = reinterpret_cast<uint8_t*>(batch->scratch.data());
    size_t used = 0, filled = 0;
    for (size_t i = 0; i < batch->frameCount; ++i) {
        if (kContainerData - filled < kLargestObject) {
            if (!putContainer(batch, &used, filled)) return false;
            filled = 0;
        }
        filled += putObject(scratch + filled, batch->frames[i], data, startUs);
    }
    if (filled > 0 && !putContainer(batch, &used, filled)) return false;
    batch->textLength = used;
    return true;
}

int finish(cIO* out, const cFrameFileEnd* end) {
    errno = 0;
    const int64_t size = cIO_tell(out);
    if (size < 0) return errno != 0 ? errno : cFramePipeline_NO_REASON;
    uint8_t bytes[kFileHeaderSize];
    fileHeader(bytes, static_cast<uint64_t>(size), kFileHeaderSize + end->extra, end->frames,
               startMicros(end->startTime), cFrameText_micros(end->lastTime));
    if (cIO_seek(out, 0, cIO_SEEK_SET) != 0 ||
        cIO_write(out, bytes, sizeof bytes) != static_cast<int64_t>(sizeof bytes))
        return errno != 0 ? errno : cFramePipeline_NO_REASON;
    return 0;
}

} // namespace

const cFrameFormat cFrameFormat_blf = {
    cOutputFormat_BLF, "blf", "_CAN.blf", false, header, format, finish};
