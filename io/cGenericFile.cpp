#include "io/cGenericFile.h"

#include <cstring>

#include "io/cSerializer.h"

bool cGenericFile_readHeader(cIO* io, cGenericFile* header) {
    if (io == nullptr || header == nullptr) return false;
    if (cIO_seek(io, 0, cIO_SEEK_SET) != 0) return false;
    cSerializer ser = cSerializer_ctor(io);
    // Field order as stored: flags, then type, then version.
    bool ok =
        cSerializer_readRaw(&ser, header->magic, sizeof header->magic) &&
        cSerializer_readU8(&ser, &header->flag) && cSerializer_readU8(&ser, &header->footerFlag) &&
        cSerializer_readU8(&ser, &header->type) && cSerializer_readU8(&ser, &header->version) &&
        cSerializer_readU32_BE(&ser, &header->serialNumber);
    return ok && std::memcmp(header->magic, cGenericFile_MAGIC, sizeof cGenericFile_MAGIC) == 0;
}

bool cGenericFile_isLogStart(const uint8_t* bytes, uint64_t n) {
    static constexpr char kFinalised[] = "MDF     ";
    static constexpr char kUnfinalised[] = "UnFinMF ";
    if (bytes == nullptr || n < 8) return false;
    if (std::memcmp(bytes, kFinalised, 8) == 0 || std::memcmp(bytes, kUnfinalised, 8) == 0)
        return true;
    return n >= sizeof cGenericFile_MAGIC &&
           std::memcmp(bytes, cGenericFile_MAGIC, sizeof cGenericFile_MAGIC) == 0;
}
