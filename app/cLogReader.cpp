#include "app/cLogReader.h"

#include <cassert>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>

#include "app/cInputDeletion.h"
#include "app/cLogReaderCLI.h"
#include "app/cPasswordStore.h"
#include "app/cRunReport.h"
#include "io/cGenericFile.h"
#include "io/cGenericFileCompressed.h"
#include "io/cGenericFileEncrypted.h"
#include "io/cIO_input.h"
#include "mdf/cMdf.h"
#include "mdf/cMdfBlock_HD.h"
#include "mdf/cMdfBlock_ID.h"
#include "mdf/cMdfParallelIter.h"
#include "support/log.h"

struct cLogReader {
    cFS* inputFs;
    cFS* outputFs;
    bool createDirs;
    const cLogReaderOptions* options;
    cBusLayer* converter;
    cLogReaderFileInfo previous; // the last file whose header was read
    cMdf* mdf;                   // the file being converted, or null
    // Output base path -> the input whose conversion wrote it in this run: two inputs that
    // map to one trace name would otherwise overwrite each other's trace.
    std::map<std::string, std::string> traceOwners;
    // The folders from the input path down to the one being walked: a link back to one of
    // them would make the walk endless.
    std::vector<cFS_identity> walkPath;
    cLogReader_reportFn reportFn;
    void* reportContext;
};

namespace {

// Loggers name their files with these extensions; the content decides what is inside.
bool isLogExtension(std::string_view ext) {
    if (ext.size() != 3) return false;
    char lower[3];
    for (int i = 0; i < 3; ++i)
        lower[i] = static_cast<char>(std::tolower((unsigned char)ext[i]));
    std::string_view l(lower, 3);
    return l == "mf4" || l == "mfc" || l == "mfe" || l == "mfm";
}

std::string childPath(const std::string& parent, const std::string& name) {
    std::string child = parent;
    if (!child.empty() && child.back() != '/') child += '/';
    child += name;
    return child;
}

// strtoul with base 10, truncated to 32 bits; text that is no number gives 0.
uint32_t parseUnsigned(const std::string& text) {
    return static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 10));
}

bool isContinuation(const cLogReaderFileInfo& prev, const cLogReaderFileInfo& cur) {
    if (prev.serialNumber.empty() || prev.serialNumber != cur.serialNumber) return false;
    if (cur.session == prev.session) return cur.split == prev.split + 1;
    // A session rolls over to the next one after a split count that is a multiple of 256.
    if (cur.session == prev.session + 1)
        return cur.split == prev.split + 1 && (prev.split & 0xFFu) == 0;
    return false;
}

// Unwraps compressed and encrypted containers until the content is no container. All
// unwrapped content of the file, at any depth, draws on one memory budget; content that is
// no log file is refused after its first bytes.
// On failure *stream is closed and set to null and the result code is returned.
uint32_t unwrapContainers(cLogReader* reader, cIO** stream) {
    cGenericFile_budget budget = cGenericFile_budget_make();
    budget.logContentOnly = true;
    for (;;) {
        cGenericFile header;
        if (!cGenericFile_readHeader(*stream, &header)) return cLogReader_OK;
        cIO* inner = nullptr;
        uint32_t failure = cLogReader_OK;
        if (header.type == cGenericFile_TYPE_COMPRESSED) {
            ZF_LOGI("Found compressed file");
            cRunReport_container("compressed");
            inner = cGenericFile_compressed_open(*stream, &header, &budget);
            if (!inner) {
                ZF_LOGE("Could not decompress file");
                failure = cLogReader_DECOMPRESS_FAILED;
            }
        } else if (header.type == cGenericFile_TYPE_ENCRYPTED) {
            ZF_LOGI("Found encrypted file");
            cRunReport_container("encrypted");
            const std::string* password =
                cPasswordStore_getForDevice(&reader->options->passwords, header.serialNumber);
            if (!password) {
                ZF_LOGE("No password found for device %08X", header.serialNumber);
                failure = cLogReader_DECRYPT_FAILED;
            } else {
                inner = cGenericFile_encrypted_open(*stream, &header, password->data(),
                                                    password->size(), &budget);
                if (!inner) {
                    ZF_LOGE("Could not decrypt file");
                    failure = cLogReader_DECRYPT_FAILED;
                }
            }
        } else {
            failure = cLogReader_CONVERSION_FAILED;
        }
        // A mapped file that shrank while it was unwrapped fails here.
        if (cIO_close(*stream) != 0 && failure == cLogReader_OK)
            failure = cLogReader_CONVERSION_FAILED;
        *stream = inner;
        if (failure != cLogReader_OK) {
            cIO_close(inner);
            *stream = nullptr;
            return failure;
        }
    }
}

// Reads serial number, session and split; false when one of them is missing.
bool readFileHeader(cMdf* mdf, cLogReaderFileInfo* info) {
    const cMdfBlock_ID_obj_t* id = carc_cMdfBlock_to_cMdfBlock_ID_obj_t(mdf->root);
    if (!id) {
        ZF_LOGE("Could not read ID block");
    } else {
        const cMdfBlock_HD_obj_t* hd = carc_cMdfBlock_to_cMdfBlock_HD_obj_t(id->hd);
        if (!hd) {
            ZF_LOGE("Could not read HD block");
        } else {
            info->startTime = static_cast<double>(cMdfBlock_HD_getStartTimeNs(hd) / 1000) * 1e-6;
            cMdfMetaDataMap meta = cMdf_getMetaData(mdf);
            for (const auto& [path, item] : meta) {
                if (item.name == "serial number")
                    info->serialNumber = item.value;
                else if (item.name == "session")
                    info->session = parseUnsigned(item.value);
                else if (item.name == "split")
                    info->split = parseUnsigned(item.value);
            }
        }
    }
    return !info->serialNumber.empty() && info->session != 0 && info->split != 0;
}

// Runs newFile, the messages and endFile; true when all of them succeeded.
bool pumpMessages(cLogReader* reader, const cLogReaderFileInfo* info, bool continuation) {
    cBusLayer* conv = reader->converter;
    bool ok = conv->vt->newFile(conv, info, continuation);
    if (!ok) {
        ZF_LOGE("Error on new file");
    } else {
        cMdfParallelIter* it = cMdf_getIter(reader->mdf);
        while (it && it->current) {
            if (!conv->vt->newMsg(conv, it->current)) {
                ZF_LOGE("Error during handle record callback");
                ok = false;
                break;
            }
            cMdfParallelIter_next(it);
        }
        if (!it) ok = false;
        // A finalised file whose records stop before the end of their data is damaged; an
        // unfinalised one may end in a record the logger never finished.
        if (ok && cMdfParallelIter_isDamaged(it) && !reader->mdf->unfinalised) {
            ZF_LOGE("Records end before the end of their data: damaged file");
            ok = false;
        }
        cMdfParallelIter_dtor(it);
    }
    // A conversion already known to have failed is dropped before endFile could give its
    // output the final name, which may hold the trace of an earlier run.
    if (!ok && conv->vt->dropFile) conv->vt->dropFile(conv, info);
    if (!conv->vt->endFile(conv, info)) {
        ZF_LOGE("Error during end file callback");
        ok = false;
    }
    return ok;
}

// Every failed file ends with this line after the message of the step that failed.
uint32_t failFile(const std::string& input, uint32_t code) {
    ZF_LOGE("Error during conversion of %.*s", (int)input.size(), input.data());
    return code;
}

// One trace name per run: the first input converted to it keeps it.
bool traceNameTaken(const cLogReader* reader, const std::string& input, const std::string& base) {
    auto owner = reader->traceOwners.find(base);
    if (owner == reader->traceOwners.end() || owner->second == input) return false;
    ZF_LOGE("Not converted: %.*s would write the trace of %s (both map to %s)", (int)input.size(),
            input.data(), owner->second.c_str(), base.c_str());
    return true;
}

// Nothing is written through a link in the output tree, nor above its root.
bool outputFolderSafe(cLogReader* reader, std::string_view folder) {
    std::string unsafe;
    if (cFS_isFolderPathSafe(reader->outputFs, folder, &unsafe)) return true;
    ZF_LOGE("Output folder %s is a link or leads out of the output folder: nothing is written "
            "there",
            unsafe.c_str());
    return false;
}

// What convertLog found out for the report of the file.
struct FileOutcome {
    cLogReaderOutcome outcome = cLogReaderOutcome::CONVERTED;
    std::string outputPath;
    uint64_t framesWritten = 0;
    bool inputDeleted = false;
};

uint32_t convertLog(cLogReader* reader, const std::string& input, const std::string& base,
                    FileOutcome* report) {
    if (traceNameTaken(reader, input, base)) return failFile(input, cLogReader_CONVERSION_FAILED);
    // Looked at before the folders are made: mkdirs would make them through a link.
    const std::string_view folder = cFS_getParentFolder(base);
    if (!outputFolderSafe(reader, folder)) return failFile(input, cLogReader_CONVERSION_FAILED);
    if (reader->createDirs) cFS_mkdirs(reader->outputFs, folder);

    cLogReaderFileInfo info{input, base, std::string(), 0.0, 0, 0};
    uint32_t code = cLogReader_CONVERSION_FAILED;
    // What the file is before it is read: deleting it later needs it to be still that file.
    cFS_identity identity{};
    const bool identified = cFS_identify(reader->inputFs, input, true, &identity);
    cIO* stream = cFS_open(reader->inputFs, input, cFS_ACCESS_READ | cFS_ACCESS_FLAG4);
    if (!stream) {
        ZF_LOGE("Could not open input file %.*s: %s", (int)input.size(), input.data(),
                std::strerror(errno));
        return failFile(input, code);
    }

    stream = cIO_input_open(stream, reader->options->bufferSize);
    if (!stream) return failFile(input, code);

    code = unwrapContainers(reader, &stream);
    if (code != cLogReader_OK) return failFile(input, code);

    code = cLogReader_CONVERSION_FAILED;
    reader->mdf = cMdf_open(stream);
    if (!reader->mdf) {
        ZF_LOGE("Could not open MDF");
        cIO_close(stream);
        return failFile(input, code);
    }

    bool converted = false;
    bool announced = false; // newFile was called for this file
    bool repeated = false;
    if (!readFileHeader(reader->mdf, &info)) {
        ZF_LOGE("Could not parse file header");
    } else {
        const cLogReaderFileInfo& prev = reader->previous;
        repeated = !prev.serialNumber.empty() && prev.serialNumber == info.serialNumber &&
                   prev.session == info.session && prev.split == info.split;
        bool continuation = isContinuation(prev, info);
        reader->previous = info;
        if (repeated) {
            ZF_LOGW("Repeated input file (%s, %08u, %08u)", info.serialNumber.c_str(), info.session,
                    info.split);
            cRunReport_fileRepeated();
        } else {
            announced = true;
            converted = pumpMessages(reader, &info, continuation);
        }
    }

    cMdf_close(reader->mdf);
    reader->mdf = nullptr;
    if (cIO_close(stream) != 0) {
        ZF_LOGE("Could not close input file after conversion: %.*s", (int)input.size(),
                input.data());
        converted = false;
    }
    if (repeated) {
        report->outcome = cLogReaderOutcome::REPEATED;
        return cLogReader_OK;
    }
    if (!converted) {
        // Whatever the converter finished for this file must not look like a complete
        // conversion of it.
        cBusLayer* conv = reader->converter;
        if (announced && conv->vt->dropFile) conv->vt->dropFile(conv, &info);
        return failFile(input, cLogReader_CONVERSION_FAILED);
    }
    reader->traceOwners.emplace(base, input);
    cBusLayerFileSummary held{};
    cBusLayer* conv = reader->converter;
    if (conv->vt->summary && conv->vt->summary(conv, &held)) {
        report->framesWritten = held.framesWritten;
        report->outputPath = held.outputPath;
        if (held.outputPath.empty()) report->outcome = cLogReaderOutcome::NO_CAN_FRAMES;
    }
    // Only a file whose conversion fully succeeded is ever deleted.
    if (reader->options->deleteConverted) {
        const cInputDeletion deletion{reader->inputFs, reader->outputFs, conv};
        report->inputDeleted =
            cInputDeletion_run(&deletion, input, identified ? &identity : nullptr);
    }
    return cLogReader_OK;
}

uint32_t convertFile(cLogReader* reader, const std::string& input, const std::string& output) {
    if (!isLogExtension(cFS_getExtension(input))) return cLogReader_OK;

    std::string base = output;
    std::string_view outExt = cFS_getExtension(output);
    if (!outExt.empty())
        base.resize(base.size() >= outExt.size() + 1 ? base.size() - outExt.size() - 1 : 0);
    FileOutcome outcome;
    const uint32_t code = convertLog(reader, input, base, &outcome);
    if (reader->reportFn) {
        const cLogReaderFileReport report{
            input, outcome.outputPath,    code ? cLogReaderOutcome::FAILED : outcome.outcome,
            code,  outcome.framesWritten, outcome.inputDeleted};
        reader->reportFn(reader->reportContext, report);
    }
    return code;
}

uint32_t handleInputPath(cLogReader* reader, const std::string& input, const std::string& output);

// Links to folders are followed, except one back to a folder the walk is inside of: that
// one would repeat the walk without end.
uint32_t walkFolder(cLogReader* reader, const std::string& input, const std::string& output) {
    cFS_identity here{};
    const bool identified = cFS_identify(reader->inputFs, input, true, &here);
    if (identified) {
        for (const cFS_identity& above : reader->walkPath) {
            if (!cFS_identity_sameFile(above, here)) continue;
            ZF_LOGW("Skipped folder %.*s: a link back to a folder that holds it", (int)input.size(),
                    input.data());
            return cLogReader_OK;
        }
    }
    cFS_entrySet entries;
    if (!cFS_list(reader->inputFs, input, &entries)) {
        ZF_LOGE("Could not list folder %.*s: %s", (int)input.size(), input.data(),
                std::strerror(errno));
        return cLogReader_CONVERSION_FAILED;
    }
    if (identified) reader->walkPath.push_back(here);
    uint32_t code = cLogReader_OK;
    for (const cFS_entry& e : entries)
        code |= handleInputPath(reader, childPath(input, e.name), childPath(output, e.name));
    if (identified) reader->walkPath.pop_back();
    return code;
}

// ".." in an output path would lead above the output root.
bool leavesOutputRoot(std::string_view output) {
    size_t at = 0;
    while (at <= output.size()) {
        size_t cut = output.find('/', at);
        if (cut == std::string_view::npos) cut = output.size();
        if (output.substr(at, cut - at) == "..") return true;
        at = cut + 1;
    }
    return false;
}

uint32_t handleInputPath(cLogReader* reader, const std::string& input, const std::string& output) {
    cFS_statRecord st{};
    if (!cFS_stat(reader->inputFs, input, &st)) {
        ZF_LOGF("Error during stat of %.*s, exiting", (int)input.size(), input.data());
        // The path was not converted: say so in the exit status.
        return cLogReader_BAD_PATH;
    }
    switch (st.type) {
    case cFS_TYPE_FOLDER:
        return walkFolder(reader, input, output);
    case cFS_TYPE_MISSING:
        ZF_LOGW("Could not find input file/folder %.*s", (int)input.size(), input.data());
        return cLogReader_MISSING;
    case cFS_TYPE_FILE: {
        cRunReport_fileStart(input, isLogExtension(cFS_getExtension(input)), st.size);
        const uint32_t code = convertFile(reader, input, output);
        cRunReport_fileEnd(code);
        return code;
    }
    default:
        return cLogReader_BAD_PATH;
    }
}

} // namespace

cLogReader* cLogReader_ctor(cFS* inputFs, cFS* outputFs, bool createDirs,
                            const cLogReaderOptions* options, cBusLayer* converter) {
    if (!inputFs || !outputFs || !options || !converter) return nullptr;
    return new (std::nothrow)
        cLogReader{inputFs, outputFs, createDirs, options, converter, {{}, {}, {}, 0.0, 0, 0},
                   nullptr, {},       {},         nullptr, nullptr};
}

void cLogReader_setReportFn(cLogReader* reader, cLogReader_reportFn fn, void* context) {
    assert(reader);
    reader->reportFn = fn;
    reader->reportContext = context;
}

void cLogReader_dtor(cLogReader* reader) {
    delete reader;
}

uint32_t cLogReader_process(cLogReader* reader, const std::vector<std::string>& inputs) {
    if (!reader) return cLogReader_OK;
    uint32_t total = cLogReader_OK;
    for (const std::string& input : inputs) {
        std::string output = input;
        if (!reader->options->noAppendRoot) {
            cFS_statRecord st{};
            if (!cFS_stat(reader->inputFs, input, &st)) {
                ZF_LOGF("Could not query %.*s for information", (int)input.size(), input.data());
                return cLogReader_BAD_PATH;
            }
            if (st.type == cFS_TYPE_FOLDER) {
                size_t slash = output.find('/');
                if (slash == std::string::npos)
                    output += "_out";
                else
                    output.insert(slash, "_out");
            }
        }
        if (leavesOutputRoot(output)) {
            ZF_LOGE("Not converted: %.*s would be written outside the output folder",
                    (int)input.size(), input.data());
            total |= cLogReader_CONVERSION_FAILED;
            continue;
        }
        total |= handleInputPath(reader, input, output);
    }
    return total;
}
