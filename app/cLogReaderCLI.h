#pragma once
// The command line shared by all converters: the common options, the password file, the
// common input root and the input and output file systems. A converter's command-line
// object embeds this one as its first member and adds its own options through the
// extension table.
//
// cLogReaderOptions, what the driver reads:
//   bool deleteConverted;     remove each input file that was converted
//   bool noAppendRoot;        do not add "_out" to folder inputs
//   bool nonInteractive;      no progress line, even on a terminal
//   int64_t bufferSize;       read buffer per input file; -1 the whole file, 0 none
//   uint32_t jobs;            log files converted at once; 0 one per online processor
//   cPasswordStore passwords; device passwords for encrypted files
//   bool update;              skip a log file whose trace is at least as new as it
//
// cLogReaderCLI:
//   const cLogReaderCLI_vtable* vt;  extension table, all slots empty after init
//   cLogReaderOptions options;
//   std::string root;                common input root, ends in "/"
//   std::vector<std::string> inputs; normalised while parsing, relative to root afterwards
//   std::vector<std::string> passwordFiles;     "password-file" values, normalised (0 or 1)
//   std::vector<std::string> outputDirectories; "output-directory" values, normalised (0 or 1)
//   cFS* inputFs;                    rooted at root; owned
//   cFS* outputFs;                   owned; the same object as inputFs without
//                                    "output-directory"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/cArgParser.h"
#include "app/cExitStatus.h"
#include "app/cPasswordStore.h"
#include "fs/cFS.h"

struct cLogReaderCLI;

struct cLogReaderCLI_vtable {
    // Appends the converter's entries to the option list; false fails the parse at once.
    bool (*addOptions)(cLogReaderCLI* cli, cArgTable* options);
    // Last step of a parse that otherwise succeeded; its result is the parse's.
    bool (*afterParse)(cLogReaderCLI* cli);
    // Releases the converter's own fields; runs first in cLogReaderCLI_drop.
    void (*drop)(cLogReaderCLI* cli);
};

struct cLogReaderOptions {
    bool deleteConverted;
    bool noAppendRoot;
    bool nonInteractive;
    int64_t bufferSize;
    uint32_t jobs;
    cPasswordStore passwords;
    bool update = false;
    // A trace made from another log may be replaced (without it, such a file fails).
    bool overwrite = false;
};

struct cLogReaderCLI {
    const cLogReaderCLI_vtable* vt;
    cLogReaderOptions options;
    std::string root;
    std::vector<std::string> inputs;
    std::vector<std::string> passwordFiles;
    std::vector<std::string> outputDirectories;
    cFS* inputFs;
    cFS* outputFs;
};

// Each file in flight holds a converter and what one file holds: a bound on what "jobs"
// may ask for.
constexpr int32_t cLogReaderCLI_MAX_JOBS = 256;

// The name in the usage line and in front of every error line.
extern const char* const cLogReaderCLI_programName;

bool cLogReaderCLI_init(cLogReaderCLI* cli);
// True when the run may start. Help, version and errors are printed on standard output,
// except a missing or non-numeric value and a verbosity out of range, which are logged
// (status 130 or 131). "-h" is taken as "--help". *status is set as the exit status of a
// run that ends here (left alone otherwise).
bool cLogReaderCLI_parse(cLogReaderCLI* cli, int argc, const char* const* argv, int* status);
void cLogReaderCLI_drop(cLogReaderCLI* cli);

// The root of one input: up to and including the slash before its last component (a final
// slash does not count). False when there is none (nothing above the file-system root).
bool cLogReaderCLI_findRoot(std::string_view path, std::string_view* root);
// Finds the common root of the inputs, makes them relative and creates the file systems.
bool cLogReaderCLI_setupInputs(cLogReaderCLI* cli, int* status);

// Check callback of the path options: normalises each value into the list (user); 3 when
// the list cannot grow.
int cLogReaderCLI_folderCheckFn(cArgOption* option, void* list);
void cLogReaderCLI_folderErrorFn(cArgOption* option, void* list, std::string* errorText, int code,
                                 const char* value, const char* programName);
