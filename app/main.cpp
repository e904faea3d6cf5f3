// Program entry: parse the command line, then convert every input with the trace writer.

#include "app/cLogReader.h"
#include "app/cLogReaderCLI.h"
#include "app/cRunReport.h"
#include "converter/cPeakConverter.h"
#include "converter/cPeakConverterCLI.h"
#include "support/log.h"

#include <unistd.h>

namespace {

// What the trace writer kept of the file that just ended.
bool traceOf(void* converter, std::string* traceName, uint64_t* frames) {
    const cPeakConverter* c = static_cast<const cPeakConverter*>(converter);
    *traceName = c->outputName;
    *frames = c->outputCreated ? c->messageNumber - 1 : 0;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    cPeakConverterCLI* cli = cPeakConverterCLI_ctor();
    if (!cli) return cLogReaderCLI_STATUS_NO_MEMORY;

    int status = 0;
    if (!cLogReaderCLI_parse(&cli->cli, argc, argv, &status)) {
        cPeakConverterCLI_dtor(cli);
        return status;
    }

    // Not being able to start the conversion is a failure, never a successful empty run.
    cPeakConverter* converter =
        cPeakConverter_ctor(cli->cli.outputFs, cPeakConverterCLI_getFormat(cli));
    if (!converter) {
        ZF_LOGF("Could not create the trace converter");
        cPeakConverterCLI_dtor(cli);
        return cLogReaderCLI_STATUS_NO_MEMORY;
    }
    cLogReader* reader = cLogReader_ctor(cli->cli.inputFs, cli->cli.outputFs, true,
                                         &cli->cli.options, &converter->layer);
    if (!reader) {
        ZF_LOGF("Could not create the conversion driver");
        cPeakConverter_dtor(converter);
        cPeakConverterCLI_dtor(cli);
        return cLogReaderCLI_STATUS_NO_MEMORY;
    }

    cRunReport_setTraceQuery(traceOf, converter);
    cRunReport_begin(!cli->cli.options.nonInteractive && isatty(2));
    status = static_cast<int>(cLogReader_process(reader, cli->cli.inputs));
    cRunReport_end();
    cRunReport_setTraceQuery(nullptr, nullptr);

    // The driver and the converter borrow the file systems that the command line owns.
    cLogReader_dtor(reader);
    cPeakConverter_dtor(converter);
    cPeakConverterCLI_dtor(cli);
    return status;
}
