#include "app/cLogReaderInput.h"

#include <cstdlib>

#include "app/cExitStatus.h"
#include "io/cGenericFile.h"
#include "io/cGenericFileCompressed.h"
#include "io/cGenericFileEncrypted.h"
#include "io/cMemoryBudget.h"
#include "mdf/cMdfBlock_HD.h"
#include "mdf/cMdfBlock_ID.h"
#include "support/log.h"

namespace {

// The device's password, or its raw spelling when the decoded one does not open the layer.
cIO* openEncrypted(cIO* stream, const cGenericFile& header, const cPasswordStore_choice& choice,
                   cGenericFile_budget* budget, cGenericFileEncrypted_failure* why) {
    const cGenericFile_budget before = *budget;
    cIO* inner = cGenericFile_encrypted_open(stream, &header, choice.password->data(),
                                             choice.password->size(), budget, why);
    if (!inner && choice.raw && *why == cGenericFileEncrypted_failure::NOT_AUTHENTIC) {
        *budget = before;
        inner = cGenericFile_encrypted_open(stream, &header, choice.raw->data(), choice.raw->size(),
                                            budget, why);
    }
    return inner;
}

// What a failed decryption tells after the file's name. Only a tag that does not match
// speaks of the password: a layer refused before its key was tried says why instead.
const char* decryptFailure(cGenericFileEncrypted_failure why) {
    switch (why) {
    case cGenericFileEncrypted_failure::OVER_LIMIT:
        return "its key derivation asks for more iterations than one input may use";
    case cGenericFileEncrypted_failure::NO_MEMORY:
        return "no memory for its content";
    case cGenericFileEncrypted_failure::REFUSED:
        return "its container header is not one this program reads, or the file is too short";
    case cGenericFileEncrypted_failure::NONE:
    case cGenericFileEncrypted_failure::NOT_AUTHENTIC:
        break;
    }
    return nullptr;
}

cIO* decrypt(const cPasswordStore* store, const char* in, cIO* stream, const cGenericFile& header,
             cGenericFile_budget* budget, cRunReport_file* report) {
    const cPasswordStore_choice choice = cPasswordStore_choose(store, header.serialNumber);
    if (!choice.password) {
        if (!report) return nullptr;
        if (!store->fileRead && !store->path.empty())
            cRunReport_error(report,
                             "No password found for device %08X of %s: there is no password file "
                             "at %s (name one with -p)",
                             header.serialNumber, in, store->path.c_str());
        else
            cRunReport_error(report, "No password found for device %08X of %s", header.serialNumber,
                             in);
        return nullptr;
    }
    cGenericFileEncrypted_failure why = cGenericFileEncrypted_failure::NONE;
    cIO* inner = openEncrypted(stream, header, choice, budget, &why);
    if (inner || !report) return inner;
    if (const char* reason = decryptFailure(why))
        cRunReport_error(report, "Could not decrypt file %s: %s", in, reason);
    else
        cRunReport_error(report,
                         "Could not decrypt file %s: the password of entry \"%s\" is wrong for "
                         "device %08X, or the file is damaged",
                         in, choice.entry.c_str(), header.serialNumber);
    return nullptr;
}

// strtoul with base 10, truncated to 32 bits; text that is no number gives 0.
uint32_t parseUnsigned(const std::string& text) {
    return static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 10));
}

} // namespace

uint32_t cLogReaderInput_unwrap(const cPasswordStore* store, const std::string& input, cIO** stream,
                                cRunReport_file* report) {
    const char* in = input.c_str();
    cGenericFile_budget budget;
    budget.logContentOnly = true;
    for (bool outermost = true;; outermost = false) {
        cGenericFile header;
        if (!cGenericFile_readHeader(*stream, &header)) {
            // A plain input: the blocks containers left for reuse are not needed now.
            if (outermost) cMemoryBudget_releaseKept(cMemoryBudget_run());
            return cExitStatus_OK;
        }
        cIO* inner = nullptr;
        uint32_t failure = cExitStatus_OK;
        if (header.type == cGenericFile_TYPE_COMPRESSED) {
            if (report) {
                ZF_LOGI("Found compressed file %s", in);
                cRunReport_container(report, "compressed");
            }
            inner = cGenericFile_compressed_open(*stream, &header, &budget);
            if (!inner) {
                if (report) cRunReport_error(report, "Could not decompress file %s", in);
                failure = cExitStatus_DECOMPRESS_FAILED;
            }
        } else if (header.type == cGenericFile_TYPE_ENCRYPTED) {
            if (report) {
                ZF_LOGI("Found encrypted file %s of device %08X", in, header.serialNumber);
                cRunReport_container(report, "encrypted");
            }
            inner = decrypt(store, in, *stream, header, &budget, report);
            if (!inner) failure = cExitStatus_DECRYPT_FAILED;
        } else {
            failure = cExitStatus_CONVERSION_FAILED;
        }
        // A mapped file that shrank while it was unwrapped fails here.
        if (cIO_close(*stream) != 0 && failure == cExitStatus_OK)
            failure = cExitStatus_CONVERSION_FAILED;
        *stream = inner;
        if (failure != cExitStatus_OK) {
            // Content read only, and the file has failed already: its close changes nothing.
            (void)cIO_close(inner);
            *stream = nullptr;
            return failure;
        }
    }
}

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
