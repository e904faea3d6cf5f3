#include "io/cGenericFileCompressed.h"

#include <cstring>
#include <new>

#include "io/cIO_crc32.h"
#include "io/cIO_heatshrink.h"
#include "io/cIO_memoryAlloc.h"
#include "io/cIO_scoped.h"
#include "io/cSerializer.h"
#include "support/log.h"

namespace {

// Pulls the decoder dry straight into the memory stream; a read error anywhere below is a
// failure, not an early end.
bool decodeAll(cIO* decoder, cIO* memory, bool logContentOnly) {
    constexpr uint64_t kChunk = 256 * 1024;
    uint64_t stored = 0;
    for (;;) {
        uint8_t* room = cIO_memoryAlloc_spare(memory, kChunk);
        if (room == nullptr) {
            ZF_LOGE("No room for more than %llu bytes of unwrapped data",
                    static_cast<unsigned long long>(stored));
            return false;
        }
        // The first piece is just enough to tell what the content is.
        const uint64_t want = stored == 0 ? cGenericFile_LOG_START_SIZE : kChunk;
        int64_t got = cIO_read(decoder, room, want);
        if (got < 0) {
            ZF_LOGE("Could not read compressed data after %llu decompressed bytes",
                    static_cast<unsigned long long>(stored));
            return false;
        }
        if (got == 0) return true;
        if (stored == 0 && logContentOnly && !cGenericFile_isLogStart(room, uint64_t(got))) {
            ZF_LOGE("The decompressed content is not an MDF 4 file or log container");
            return false;
        }
        cIO_memoryAlloc_commit(memory, uint64_t(got));
        stored += uint64_t(got);
    }
}

// Room for what the payload likely unpacks to, as far as the budget has it, taken at once so
// that a usual file is written into one block that never moves. Content past it grows the
// block (the allocator remaps a large block rather than copy it); room left over is given
// back once the content is complete. Pages are set up by the decoder's own writes: a second
// thread setting them up ahead of it was measured slower on a busy two-processor machine
// (256 MiB of records: 1.75 s against 3.05 s, medians of three).
void reserveOutput(cIO* memory, int64_t inputSize, cMemoryBudget* budget) {
    constexpr uint64_t kLikelyRatio = 8;
    const uint64_t unused = cMemoryBudget_available(budget);
    const uint64_t room =
        uint64_t(inputSize) > unused / kLikelyRatio ? unused : uint64_t(inputSize) * kLikelyRatio;
    if (room > 0) (void)cIO_memoryAlloc_spare(memory, room); // where it fails, growth follows
}

// Every layer built so far; closed outermost first.
struct Chain {
    cIO* decoder = nullptr;
    cIO* crc = nullptr;
    cIO* window = nullptr;
    // Read-only layers over the input, closed once their content is taken or refused.
    void close() {
        (void)cIO_close(decoder);
        (void)cIO_close(crc);
        (void)cIO_close(window);
        decoder = crc = window = nullptr;
    }
};

bool checkFooter(cIO* input, int64_t inputSize, uint32_t computed) {
    uint8_t raw[cGenericFileCompressed_FOOTER_SIZE];
    int64_t got = -1;
    if (inputSize >= cGenericFileCompressed_PAYLOAD_OFFSET + cGenericFileCompressed_FOOTER_SIZE &&
        cIO_seek(input, inputSize - cGenericFileCompressed_FOOTER_SIZE, cIO_SEEK_SET) >= 0)
        got = cIO_readFully(input, raw, sizeof raw);
    if (got != int64_t(sizeof raw)) {
        ZF_LOGE("Expected to read out CRC from footer, but found none");
        return false;
    }
    uint32_t footer =
        uint32_t(raw[0]) << 24 | uint32_t(raw[1]) << 16 | uint32_t(raw[2]) << 8 | uint32_t(raw[3]);
    if (footer != computed) {
        ZF_LOGE("Could not validate checksum, expected %08X but found %08X", footer, computed);
        return false;
    }
    return true;
}

uint8_t windowBitsOf(uint32_t windowField) {
    return windowField == 0 ? 0 : uint8_t(__builtin_ctz(windowField));
}

} // namespace

cIO* cGenericFile_compressed_open(cIO* input, const cGenericFile* header,
                                  cGenericFile_budget* budget) {
    if (input == nullptr || header == nullptr) return nullptr;
    if (header->type != cGenericFile_TYPE_COMPRESSED || header->version != cGenericFile_VERSION)
        return nullptr;
    if (!((header->flag == 1 && header->footerFlag == 1) ||
          (header->flag == 0 && header->footerFlag == 0)))
        return nullptr;
    const bool hasFooter = header->footerFlag == 1;

    cIO* memory = nullptr;
    Chain chain;
    auto fail = [&]() -> cIO* {
        chain.close();
        (void)cIO_close(memory); // a memory stream: its close cannot fail
        return nullptr;
    };

    if (cIO_seek(input, cGenericFileCompressed_LOOKAHEAD_OFFSET, cIO_SEEK_SET) !=
        cGenericFileCompressed_LOOKAHEAD_OFFSET)
        return fail();
    cSerializer ser = cSerializer_ctor(input);
    uint32_t lookaheadField = 0, windowField = 0;
    if (!cSerializer_readU32_BE(&ser, &lookaheadField) ||
        !cSerializer_readU32_BE(&ser, &windowField))
        return fail();

    cGenericFile_budget own;
    if (budget == nullptr) budget = &own;
    cMemoryBudget* memoryBudget = budget->memory ? budget->memory : cMemoryBudget_run();
    memory = cIO_memoryAlloc_ctorIn(memoryBudget);
    if (memory == nullptr) return fail();

    const int64_t inputSize = cIO_getSize(input);
    if (inputSize < 0) return fail();
    int64_t payloadEnd = -1;
    if (hasFooter) {
        payloadEnd = inputSize - cGenericFileCompressed_FOOTER_SIZE;
        if (payloadEnd < cGenericFileCompressed_PAYLOAD_OFFSET) {
            ZF_LOGE("Expected to read out CRC from footer, but found none");
            return fail();
        }
    }
    chain.window = cIO_scoped_ctor(input, cGenericFileCompressed_PAYLOAD_OFFSET, payloadEnd);
    if (chain.window == nullptr || cIO_seek(chain.window, 0, cIO_SEEK_SET) != 0) return fail();
    chain.crc = cIO_crc32_ctor(chain.window);
    if (chain.crc == nullptr) return fail();
    chain.decoder =
        cIO_heatshrink_open(chain.crc, windowBitsOf(windowField), uint8_t(lookaheadField & 0xFF));
    if (chain.decoder == nullptr) return fail();

    reserveOutput(memory, inputSize, memoryBudget);
    if (!decodeAll(chain.decoder, memory, budget->logContentOnly)) return fail();
    cIO_memoryAlloc_fit(memory);
    const uint32_t computed = cIO_crc32_getCRC(chain.crc);
    chain.close();

    if (hasFooter && !checkFooter(input, inputSize, computed)) return fail();
    return cIO_memoryAlloc_seal(memory);
}
