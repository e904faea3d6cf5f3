#include "app/cPeakConverterCLI.h"

#include <new>

#include "converter/cFrameFormat.h"

namespace {

const cLogReaderCLI_vtable peakCliTable = {cPeakConverterCLI_addOptions, nullptr, nullptr};

} // namespace

cPeakConverterCLI* cPeakConverterCLI_ctor() {
    cPeakConverterCLI* cli = new (std::nothrow) cPeakConverterCLI{};
    if (!cli) return nullptr;
    if (!cLogReaderCLI_init(&cli->cli)) {
        delete cli;
        return nullptr;
    }
    cli->cli.vt = &peakCliTable;
    cli->traceFormat = 0;
    return cli;
}

void cPeakConverterCLI_dtor(cPeakConverterCLI* cli) {
    if (!cli) return;
    cLogReaderCLI_drop(&cli->cli);
    delete cli;
}

uint32_t cPeakConverterCLI_getFormat(const cPeakConverterCLI* cli) {
    return cli ? cli->traceFormat : 0;
}

bool cPeakConverterCLI_addOptions(cLogReaderCLI* cli, cArgTable* options) {
    cArgOption* option = cArgOption_ctor(
        &cArgKind_text, 'f', "trace-format", "{version1,version2,asc,blf,candump,csv}",
        "which output format to write: PEAK trace 1.1 or 2.1, Vector ASC or BLF, candump log "
        "or CSV; defaults to trace 2.1",
        0, 1);
    if (!option) return true;
    option->checkFn = cPeakConverterCLI_checkFn;
    option->errorFn = cPeakConverterCLI_errorFn;
    option->user = cli; // the shared part is the first member
    cArgTable_add(options, option);
    return true;
}

int cPeakConverterCLI_checkFn(cArgOption* option, void* user) {
    auto* cli = static_cast<cPeakConverterCLI*>(user);
    if (!option || !cli) return 1;
    if (option->values.empty()) {
        cli->traceFormat = cOutputFormat_TRACE_2_1;
        return 0;
    }
    const cFrameFormat* format = cFrameFormat_byName(option->values.front());
    if (!format) return 1;
    cli->traceFormat = format->id;
    return 0;
}

void cPeakConverterCLI_errorFn(cArgOption* option, void*, std::string* errorText, int, const char*,
                               const char*) {
    if (!option || !errorText) return;
    const std::string value = option->values.empty() ? "" : option->values.front();
    *errorText += "invalid value \"" + value + "\" to option " +
                  cArgOption_syntax(option, "|", nullptr) + "\n";
}
