#include "app/cLogReaderUpdate.h"

#include <cstdlib>
#include <sys/stat.h>

#include "app/cLogReaderCLI.h"
#include "io/cGenericFileCompressed.h"
#include "io/cGenericFileEncrypted.h"
#include "io/cIO_input.h"
#include "mdf/cMdfBlock_HD.h"
#include "mdf/cMdfBlock_ID.h"

namespace {

// strtoul with base 10, truncated to 32 bits; text that is no number gives 0.
uint32_t parseUnsigned(const std::string& text) {
    return static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 10));
}

// Modification time of root/relative; false when it cannot be had.
bool modificationTime(const cFS* fs, const std::string& relative, struct timespec* time) {
    std::string path;
    cFS_relativeToAbsolutePath(const_cast<cFS*>(fs), relative, &path);
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    *time = st.st_mtim;
    return true;
}

// The content of the file below its containers, unwrapped without a word: the file was
// converted in an earlier run, and what could go wrong now is told when it is converted
// again. Null when it cannot be had.
cIO* openQuietly(const cLogReader* reader, const std::string& input) {
    cIO* stream = cFS_open(reader->inputFs, input, cFS_ACCESS_READ | cFS_ACCESS_FLAG4);
    if (!stream) return nullptr;
    stream = cIO_input_open(stream, reader->options->bufferSize);
    cGenericFile_budget budget;
    budget.logContentOnly = true;
    cGenericFile header;
    while (stream && cGenericFile_readHeader(stream, &header)) {
        cIO* inner = nullptr;
        if (header.type == cGenericFile_TYPE_COMPRESSED) {
            inner = cGenericFile_compressed_open(stream, &header, &budget);
        } else if (header.type == cGenericFile_TYPE_ENCRYPTED) {
            const cPasswordStore_choice choice =
                cPasswordStore_choose(&reader->options->passwords, header.serialNumber);
            if (choice.password) inner = cLogReaderHeader_decrypt(stream, header, choice, &budget);
        }
        if (cIO_close(stream) != 0) {
            (void)cIO_close(inner); // content read only, and given up
            inner = nullptr;
        }
        stream = inner;
    }
    return stream;
}

} // namespace

cLogReaderHeader cLogReaderHeader_read(cMdf* mdf, cLogReaderFileInfo* info) {
    const cMdfBlock_ID_obj_t* id = carc_cMdfBlock_to_cMdfBlock_ID_obj_t(mdf->root);
    if (!id) return cLogReaderHeader::NO_ID;
    const cMdfBlock_HD_obj_t* hd = carc_cMdfBlock_to_cMdfBlock_HD_obj_t(id->hd);
    if (!hd) return cLogReaderHeader::NO_HD;
    cMdfMetaDataMap meta = cMdf_getMetaData(mdf);
    for (const auto& [path, item] : meta) {
        if (item.name == "serial number")
            info->serialNumber = item.value;
        else if (item.name == "session")
            info->session = parseUnsigned(item.value);
        else if (item.name == "split")
            info->split = parseUnsigned(item.value);
    }
    return !info->serialNumber.empty() && info->session != 0 && info->split != 0
               ? cLogReaderHeader::COMPLETE
               : cLogReaderHeader::INCOMPLETE;
}

cIO* cLogReaderHeader_decrypt(cIO* stream, const cGenericFile& header,
                              const cPasswordStore_choice& choice, cGenericFile_budget* budget) {
    if (!choice.password) return nullptr;
    const cGenericFile_budget before = *budget;
    cIO* inner = cGenericFile_encrypted_open(stream, &header, choice.password->data(),
                                             choice.password->size(), budget);
    if (!inner && choice.raw) {
        *budget = before;
        inner = cGenericFile_encrypted_open(stream, &header, choice.raw->data(), choice.raw->size(),
                                            budget);
    }
    return inner;
}

bool cLogReaderUpdate_upToDate(const cLogReader* reader, const std::string& input,
                               const std::string& base, std::string* trace) {
    if (!reader->options->update) return false;
    const cBusLayer* conv = reader->freeConverters.empty() ? nullptr : reader->freeConverters[0];
    if (!conv || !conv->vt->outputSuffix) return false; // the output's name is not known
    *trace = base + conv->vt->outputSuffix(conv);
    struct timespec in {
    }, out{};
    if (!modificationTime(reader->inputFs, input, &in) ||
        !modificationTime(reader->outputFs, *trace, &out))
        return false;
    return out.tv_sec > in.tv_sec || (out.tv_sec == in.tv_sec && out.tv_nsec >= in.tv_nsec);
}

// A record whose header was read always has a serial number; one standing for a skipped file
// has none, but the skipped file's path.
void cLogReaderUpdate_skipped(cLogReaderFileInfo* previous, const std::string& input) {
    *previous = cLogReaderFileInfo{};
    previous->inputPath = input;
}

void cLogReaderUpdate_resolve(const cLogReader* reader, cLogReaderFileInfo* previous) {
    if (!previous->serialNumber.empty() || previous->inputPath.empty()) return;
    const std::string input = previous->inputPath;
    *previous = cLogReaderFileInfo{};
    cIO* stream = openQuietly(reader, input);
    cMdf* mdf = stream ? cMdf_open(stream) : nullptr;
    cLogReaderFileInfo info{};
    info.inputPath = input;
    if (mdf && cLogReaderHeader_read(mdf, &info) == cLogReaderHeader::COMPLETE) *previous = info;
    cMdf_close(mdf);
    (void)cIO_close(stream); // read only
}
