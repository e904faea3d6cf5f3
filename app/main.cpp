// Program entry: parse the command line, then convert every input with the trace writer.

#include "app/cLogReader.h"
#include "app/cLogReaderCLI.h"
#include "app/cRunReport.h"
#include "converter/cPeakConverter.h"
#include "converter/cPeakConverterCLI.h"
#include "fs/cFS_tempGuard.h"
#include "support/log.h"

#include <unistd.h>

namespace {

// The driver's word on each log file feeds the run report's per-file line and summary.
void reportFile(void*, const cLogReaderFileReport& report) {
    cRunReport_fileTrace(report.outputPath, report.framesWritten);
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

    // Ctrl-C, kill and a closed terminal leave no half-written trace behind.
    cFS_tempGuard_install();
    cLogReader_setReportFn(reader, reportFile, nullptr);
    cRunReport_begin(!cli->cli.options.nonInteractive && isatty(2));
    status = static_cast<int>(cLogReader_process(reader, cli->cli.inputs));
    cRunReport_end();

    // The driver and the converter borrow the file systems that the command line owns.
    cLogReader_dtor(reader);
    cPeakConverter_dtor(converter);
    cPeakConverterCLI_dtor(cli);
    return status;
}
