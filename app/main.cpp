// Program entry: parse the command line, then convert every input with the frame writer of
// the format chosen.

#include "app/cJobPool.h"
#include "app/cLogReader.h"
#include "app/cLogReaderCLI.h"
#include "app/cPeakConverterCLI.h"
#include "app/cRunReport.h"
#include "converter/cFrameWriter.h"
#include "fs/cFS_os.h"
#include "fs/cFS_tempGuard.h"
#include "support/log.h"

#include <csignal>
#include <unistd.h>
#include <vector>

namespace {

// One frame writer per file converted at once; the first is the driver's own.
// They borrow the output file system, so they go before the command line that owns it.
struct Converters {
    std::vector<cFrameWriter*> all;
    void destroy() {
        for (cFrameWriter* c : all)
            cFrameWriter_dtor(c);
        all.clear();
    }
};

} // namespace

int main(int argc, char** argv) {
    // Before anything opens a file: a trace must never get descriptor 2 (the log's) or 0, 1.
    // A reader of the log that goes away (| head) ends no conversion; only its lines are lost.
    // A signal that ends the run removes every trace still under its temporary name.
    if (!cFS_os_holdStandardDescriptors()) return cExitStatus_CONVERSION_FAILED;
    signal(SIGPIPE, SIG_IGN);
    cFS_tempGuard_install();

    cPeakConverterCLI* cli = cPeakConverterCLI_ctor();
    if (!cli) return cExitStatus_NO_MEMORY;

    int status = 0;
    if (!cLogReaderCLI_parse(&cli->cli, argc, argv, &status)) {
        cPeakConverterCLI_dtor(cli);
        return status;
    }

    // Not being able to start the conversion is a failure, never a successful empty run.
    Converters converters;
    const unsigned jobs = cJobPool_workersFor(cli->cli.options.jobs);
    for (unsigned i = 0; i < jobs; ++i) {
        cFrameWriter* c = cFrameWriter_ctor(cli->cli.outputFs, cPeakConverterCLI_getFormat(cli));
        if (!c) {
            ZF_LOGF("Could not create the trace converter");
            converters.destroy();
            cPeakConverterCLI_dtor(cli);
            return cExitStatus_NO_MEMORY;
        }
        converters.all.push_back(c);
    }
    // One file at a time: its frames are encoded on the second processor while the next
    // messages are read. Several files at once keep the processors busy as they are.
    if (jobs == 1 && cJobPool_workersFor(0) > 1) cFrameWriter_startHelper(converters.all[0]);
    cLogReader* reader = cLogReader_ctor(cli->cli.inputFs, cli->cli.outputFs, true,
                                         &cli->cli.options, &converters.all[0]->layer);
    if (!reader) {
        ZF_LOGF("Could not create the conversion driver");
        converters.destroy();
        cPeakConverterCLI_dtor(cli);
        return cExitStatus_NO_MEMORY;
    }
    for (unsigned i = 1; i < jobs; ++i)
        cLogReader_addConverter(reader, &converters.all[i]->layer);

    cRunReport_begin(!cli->cli.options.nonInteractive && isatty(2));
    status = static_cast<int>(cLogReader_process(reader, cli->cli.inputs));
    cRunReport_end();

    // The driver and the converter borrow the file systems that the command line owns.
    cLogReader_dtor(reader);
    converters.destroy();
    cPeakConverterCLI_dtor(cli);
    return status;
}
