#include "mdf/cMdfBlockHeader.h"

#include <cstring>
#include <string>

#include "io/cSerializer.h"
#include "support/log.h"

namespace {

// The ids of the block types, indexed by cMdfBlockType. The identification block has no
// id: it is recognised by its whole 8-byte file identifier.
const char* const kIds[] = {"",     "",     "##CC", "##CG", "##CN", "##DG", "##DT",
                            "##FH", "##HD", "##MD", "##SD", "##SI", "##TX"};
constexpr uint32_t kTypeCount = sizeof kIds / sizeof kIds[0];
const char* const kFileIds[] = {"MDF     ", "UnFinMF "};

uint64_t readLE64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

cMdfBlockType classify(const uint8_t* bytes) {
    for (uint32_t t = MDF_BLOCK_CC; t < kTypeCount; ++t) {
        if (memcmp(bytes, kIds[t], 4) == 0) return static_cast<cMdfBlockType>(t);
    }
    for (const char* id : kFileIds) {
        if (memcmp(bytes, id, 8) == 0) return MDF_BLOCK_ID;
    }
    return MDF_BLOCK_NONE;
}

} // namespace

bool cMdfBlockHeader_load(cIO* stream, cMdfBlockHeader* header) {
    if (!stream || !header) return false;
    uint8_t bytes[cMdfBlockHeader_SIZE];
    if (cIO_readFully(stream, bytes, sizeof bytes) != static_cast<int64_t>(sizeof bytes))
        return false;
    cMdfBlockType type = classify(bytes);
    if (type == MDF_BLOCK_NONE) {
        std::string text(reinterpret_cast<const char*>(bytes), strnlen((const char*)bytes, 8));
        ZF_LOGE("Unable to load block header for type %s", text.c_str());
        return false;
    }
    header->type = type;
    if (type == MDF_BLOCK_ID) {
        // The identification block has no header: its fields start at the file identifier.
        if (cIO_seek(stream, -static_cast<int64_t>(cMdfBlockHeader_SIZE), cIO_SEEK_CUR) < 0) {
            return false;
        }
        header->length = 64;
        header->linkCount = 0;
        return true;
    }
    header->length = readLE64(bytes + 8);
    header->linkCount = readLE64(bytes + 16);
    return true;
}

uint64_t cMdfBlockHeader_getDataSize(const cMdfBlockHeader* header) {
    if (!header) return 0;
    if (header->linkCount > (UINT64_MAX - cMdfBlockHeader_SIZE) / 8) return 0;
    uint64_t fixed = cMdfBlockHeader_SIZE + 8 * header->linkCount;
    return header->length >= fixed ? header->length - fixed : 0;
}
