#include "app/cTraceSource.h"

#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstring>

#include "support/log.h"

namespace {

constexpr char kTag[] = "user.kelvane.source";

// One "key=value" per line; the input path goes last, as it may hold any byte but a newline
// is the only one that would end its line early (it is cut there: the path is for people).
std::string logKey(const cLogReaderFileInfo& info) {
    char numbers[64];
    std::snprintf(numbers, sizeof numbers, "\nsession=%" PRIu32 "\nsplit=%" PRIu32 "\n",
                  info.session, info.split);
    return "device=" + info.serialNumber + numbers;
}

} // namespace

std::string cTraceSource_record(const cLogReaderFileInfo& info, std::string_view input) {
    return logKey(info) + "input=" + std::string(input.substr(0, input.find('\n')));
}

std::string cTraceSource_describe(std::string_view record) {
    std::string text;
    for (char c : record) {
        if (c == '\n')
            text += ", ";
        else
            text += c;
    }
    return text;
}

cTraceSource_state cTraceSource_check(cFS* outputFs, std::string_view trace,
                                      const cLogReaderFileInfo& info, std::string* other) {
    std::string record;
    if (!cFS_getTag(outputFs, trace, kTag, &record)) return cTraceSource_state::FREE;
    const std::string key = logKey(info);
    if (record.compare(0, key.size(), key) == 0) return cTraceSource_state::SAME_LOG;
    other->swap(record);
    return cTraceSource_state::OTHER_LOG;
}

bool cTraceSource_mark(cFS* outputFs, std::string_view trace, const cLogReaderFileInfo& info,
                       std::string_view input) {
    if (cFS_setTag(outputFs, trace, kTag, cTraceSource_record(info, input))) return true;
    if (errno == ENOTSUP) {
        static std::atomic<bool> told{false};
        if (!told.exchange(true))
            ZF_LOGW("The output file system keeps no extended attributes: traces do not record "
                    "their log, and a trace of another log with the same name is replaced");
        return false;
    }
    ZF_LOGW("Could not record the log of trace %.*s: %s", (int)trace.size(), trace.data(),
            std::strerror(errno));
    return false;
}
