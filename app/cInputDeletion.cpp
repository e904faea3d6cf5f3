#include "app/cInputDeletion.h"

#include <cassert>
#include <cerrno>
#include <cinttypes>
#include <cstring>

#include "support/log.h"

namespace {

// Both the trace and the folder entry that names it must survive a power loss before the
// only other copy of the frames goes.
bool flushTrace(cFS* outputFs, std::string_view trace) {
    return cFS_sync(outputFs, trace) && cFS_sync(outputFs, cFS_getParentFolder(trace));
}

} // namespace

cInputDeletion_result cInputDeletion_run(const cInputDeletion* d, std::string_view input,
                                         const cFS_identity* converted) {
    using R = cInputDeletion_result;
    assert(d && d->inputFs && d->outputFs);
    const int n = static_cast<int>(input.size());
    const char* in = input.data();
    if (!d->held) {
        ZF_LOGW("Kept %.*s: the converter does not tell what its output holds", n, in);
        return R::KEPT;
    }
    const cBusLayerFileSummary& held = *d->held;
    if (held.framesReceived == 0) {
        ZF_LOGW("Kept %.*s: it holds no CAN data or remote frames, so no trace holds it", n, in);
        return R::KEPT;
    }
    if (held.framesWritten < held.framesReceived) {
        ZF_LOGW("Kept %.*s: %" PRIu64 " of its %" PRIu64
                " CAN frames are not in the trace (CAN FD frames do not fit trace version 1.1)",
                n, in, held.framesReceived - held.framesWritten, held.framesReceived);
        return R::KEPT;
    }
    if (held.outputPath.empty()) {
        ZF_LOGW("Kept %.*s: its trace is not in place", n, in);
        return R::KEPT;
    }
    if (!flushTrace(d->outputFs, held.outputPath)) {
        ZF_LOGE("Kept %.*s: could not flush its trace %s to disk: %s", n, in,
                held.outputPath.c_str(), std::strerror(errno));
        return R::FAILED;
    }
    // Replaced, appended to or rewritten while it was read: the trace is not of this file.
    cFS_identity now{};
    if (!converted || !cFS_identify(d->inputFs, input, true, &now) ||
        !cFS_identity_unchanged(*converted, now)) {
        ZF_LOGW("Kept %.*s: the file changed while it was converted", n, in);
        return R::KEPT;
    }
    if (!cFS_remove(d->inputFs, input)) {
        ZF_LOGE("Could not remove input file after conversion: %.*s: %s", n, in,
                std::strerror(errno));
        return R::FAILED;
    }
    return R::DELETED;
}
