#pragma once
// Where a trace came from, kept beside it as an extended attribute ("user.kelvane.source")
// that leaves its bytes as they are: the device serial number, session and split of the log,
// and the full path of the input it was read from. Loggers reuse file names, so two logs may map to
// one trace name in different runs; a trace is replaced only by a trace of the same log (same
// device, session and split), unless the user asks for it ("overwrite"). Where the output
// file system keeps no extended attributes this is said once, and a trace is replaced as
// any file would be.

#include <string>
#include <string_view>

#include "bus/cBusLayer.h"
#include "fs/cFS.h"

enum class cTraceSource_state {
    FREE,      // nothing has the name, or what has it records no source
    SAME_LOG,  // a trace of this log: may be replaced
    OTHER_LOG, // a trace of another log
};

// The record of the log behind info, read from input, as it is kept.
std::string cTraceSource_record(const cLogReaderFileInfo& info, std::string_view input);
// The record told in one line: "device=..., session=..., split=..., input=...".
std::string cTraceSource_describe(std::string_view record);
// What has the name trace (relative to the output root) now; for OTHER_LOG, *other gets that
// trace's record.
cTraceSource_state cTraceSource_check(cFS* outputFs, std::string_view trace,
                                      const cLogReaderFileInfo& info, std::string* other);
// Records info's log, read from input, as the source of the trace in place; false, with a
// warning, when the record could not be kept (said once for a file system that keeps none).
bool cTraceSource_mark(cFS* outputFs, std::string_view trace, const cLogReaderFileInfo& info,
                       std::string_view input);
