// The walk of the driver: visits the input paths in command-line order and the entries of
// each folder in name order, depth first, and hands every log file to the job pool in that
// order. The pipeline of one file is in cLogReaderFile.cpp.

#include "app/cLogReader.h"

#include <cassert>
#include <cerrno>
#include <cstring>
#include <new>

#include "app/cLogReaderCLI.h"
#include "app/cLogReaderState.h"
#include "support/log.h"

namespace {

// Files waiting for their commit beyond those being converted: enough to keep every worker
// busy behind a slow file, few enough that their held log lines stay small.
constexpr unsigned kWindowPerWorker = 4;

std::string childPath(const std::string& parent, const std::string& name) {
    std::string child = parent;
    if (!child.empty() && child.back() != '/') child += '/';
    child += name;
    return child;
}

uint32_t handleInputPath(cLogReader* reader, const std::string& input, const std::string& output,
                         const cFS_identity* listed);

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
            return cExitStatus_OK;
        }
        if (!reader->walkedFolders.emplace(here.device, here.inode).second) {
            ZF_LOGW("Skipped folder %.*s: walked already through another path in this run",
                    (int)input.size(), input.data());
            return cExitStatus_OK;
        }
    }
    cFS_entrySet entries;
    if (!cFS_list(reader->inputFs, input, &entries)) {
        ZF_LOGE("Could not list folder %.*s: %s", (int)input.size(), input.data(),
                std::strerror(errno));
        // Counted with the files: whatever logs it holds were not converted.
        cRunReport_file folder;
        cRunReport_fileStart(&folder, input, true, 0);
        cRunReport_fileEnd(&folder, cExitStatus_CONVERSION_FAILED);
        return cExitStatus_CONVERSION_FAILED;
    }
    if (identified) reader->walkPath.push_back(here);
    // What each entry is as it is listed: the walk may reach it only after other files'
    // deletions (see waitIfMetAgain).
    const bool identifyEntries = reader->capturing && reader->options->deleteConverted;
    std::vector<std::pair<std::string, cFS_identity>> listing;
    for (const cFS_entry& e : entries) {
        cFS_identity id{};
        // One gone between the listing and this look stays unknown; the walk finds it missing
        // when it gets there, as a walk one file after the other does.
        if (identifyEntries && !cFS_identify(reader->inputFs, childPath(input, e.name), true, &id))
            id = cFS_identity{};
        listing.emplace_back(e.name, id);
    }
    uint32_t code = cExitStatus_OK;
    for (const auto& [name, id] : listing)
        code |= handleInputPath(reader, childPath(input, name), childPath(output, name),
                                identifyEntries ? &id : nullptr);
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

// Lets every file handed over finish, with its lines and its deletion.
void drain(cLogReader* reader) {
    cLogReader_submitLines(reader);
    cJobPool_wait(reader->pool);
}

// With several jobs and -d the walk runs ahead of the conversions, so it may meet a file
// again (through a link beside it, or named twice) before its first conversion deleted it,
// where a walk one file after the other would meet it after the deletion. Such a file waits
// for everything before it, and is then looked at as that walk would look at it (gone: "Could
// not find", as with one job). listed: the identity the folder listing saw, or null for an
// input named on the command line (looked up again as given).
void waitIfMetAgain(cLogReader* reader, const std::string& input, const cFS_identity* listed) {
    if (!reader->capturing || !reader->options->deleteConverted) return;
    cFS_identity named{};
    if (!listed && !cFS_identify(reader->inputFs, input, true, &named)) return;
    const cFS_identity& id = listed ? *listed : named;
    if (id.type != cFS_TYPE_FILE) return;
    if (reader->handedOver.emplace(id.device, id.inode).second) return;
    drain(reader);
}

uint32_t handleFile(cLogReader* reader, const std::string& input, const std::string& output,
                    uint64_t size) {
    if (!cLogReader_isLogExtension(cFS_getExtension(input))) {
        cRunReport_file other;
        cRunReport_fileStart(&other, input, false, size);
        cRunReport_fileEnd(&other, cExitStatus_OK);
        return cExitStatus_OK;
    }
    std::string base = output;
    std::string_view outExt = cFS_getExtension(output);
    if (!outExt.empty())
        base.resize(base.size() >= outExt.size() + 1 ? base.size() - outExt.size() - 1 : 0);
    // Its code reaches the run's result through its commit.
    cLogReader_submitFile(reader, input, base, size);
    return cExitStatus_OK;
}

uint32_t handleInputPath(cLogReader* reader, const std::string& input, const std::string& output,
                         const cFS_identity* listed) {
    waitIfMetAgain(reader, input, listed);
    cFS_statRecord st{};
    if (!cFS_stat(reader->inputFs, input, &st)) {
        ZF_LOGF("Error during stat of %.*s, exiting", (int)input.size(), input.data());
        // The path was not converted: say so in the exit status.
        return cExitStatus_BAD_PATH;
    }
    switch (st.type) {
    case cFS_TYPE_FOLDER:
        return walkFolder(reader, input, output);
    case cFS_TYPE_MISSING:
        ZF_LOGW("Could not find input file/folder %.*s", (int)input.size(), input.data());
        return cExitStatus_MISSING;
    case cFS_TYPE_FILE:
        return handleFile(reader, input, output, st.size);
    default:
        // Only a path named on the command line gets here: listings hold files and folders.
        ZF_LOGE("Not converted: %.*s is neither a regular file nor a folder (a FIFO, device or "
                "socket)",
                (int)input.size(), input.data());
        return cExitStatus_BAD_PATH;
    }
}

uint32_t processInputs(cLogReader* reader, const std::vector<std::string>& inputs) {
    uint32_t total = cExitStatus_OK;
    for (const std::string& input : inputs) {
        std::string output = input;
        if (!reader->options->noAppendRoot) {
            cFS_statRecord st{};
            if (!cFS_stat(reader->inputFs, input, &st)) {
                ZF_LOGF("Could not query %.*s for information", (int)input.size(), input.data());
                // The files handed over before still finish, as they would have one by one.
                drain(reader);
                std::lock_guard<std::mutex> guard(reader->lock);
                reader->filesCode = cExitStatus_OK;
                return cExitStatus_BAD_PATH;
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
            total |= cExitStatus_CONVERSION_FAILED;
            continue;
        }
        total |= handleInputPath(reader, input, output, nullptr);
    }
    drain(reader);
    std::lock_guard<std::mutex> guard(reader->lock);
    return total | reader->filesCode;
}

} // namespace

cLogReader* cLogReader_ctor(cFS* inputFs, cFS* outputFs, bool createDirs,
                            const cLogReaderOptions* options, cBusLayer* converter) {
    if (!inputFs || !outputFs || !options || !converter) return nullptr;
    cLogReader* reader = new (std::nothrow) cLogReader;
    if (!reader) return nullptr;
    reader->inputFs = inputFs;
    reader->outputFs = outputFs;
    reader->createDirs = createDirs;
    reader->options = options;
    reader->freeConverters.push_back(converter);
    return reader;
}

void cLogReader_addConverter(cLogReader* reader, cBusLayer* converter) {
    assert(reader && converter);
    reader->freeConverters.push_back(converter);
}

void cLogReader_dtor(cLogReader* reader) {
    delete reader;
}

uint32_t cLogReader_process(cLogReader* reader, const std::vector<std::string>& inputs) {
    if (!reader) return cExitStatus_OK;
    // As many files at once as asked for, and no more than there are converters for them.
    unsigned workers = cJobPool_workersFor(reader->options->jobs);
    if (workers > reader->freeConverters.size())
        workers = static_cast<unsigned>(reader->freeConverters.size());
    reader->pool = cJobPool_ctor(workers, workers * kWindowPerWorker);
    if (!reader->pool) return cExitStatus_CONVERSION_FAILED;
    // With workers, files log into buffers written out in visiting order; the walk's own
    // lines must wait for their place too.
    reader->capturing = workers > 1;
    if (reader->capturing) zf_log_capture_begin(&reader->walkLines);
    const uint32_t total = processInputs(reader, inputs);
    if (reader->capturing) {
        zf_log_capture_end();
        zf_log_output_block(reader->walkLines);
        reader->walkLines.clear();
    }
    reader->capturing = false;
    cJobPool_dtor(reader->pool);
    reader->pool = nullptr;
    return total;
}
