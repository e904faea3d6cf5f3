#include "app/cLogReaderUpdate.h"

#include <sys/stat.h>

#include "app/cExitStatus.h"
#include "app/cLogReaderCLI.h"
#include "app/cLogReaderInput.h"
#include "io/cIO_input.h"

namespace {

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
    if (stream && cLogReaderInput_unwrap(&reader->options->passwords, input, &stream, nullptr) !=
                      cExitStatus_OK)
        return nullptr;
    return stream;
}

} // namespace

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
