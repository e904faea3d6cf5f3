#include "app/cLogReaderCLI.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <set>
#include <sys/stat.h>
#include <utility>
#include <vector>

#include "app/buildinfo.h"
#include "app/cRunReport.h"
#include "fs/cFS_os.h"
#include "support/log.h"

const char* const cLogReaderCLI_programName = "kelvane";

namespace {

const cLogReaderCLI_vtable emptyTable = {nullptr, nullptr, nullptr};

// Where the folderCheckFn code 3 comes from.
constexpr int folderNoMemory = 3;

// The shared entries, in the order they are parsed and listed.
struct Entries {
    cArgOption* help;
    cArgOption* version;
    cArgOption* verbosity;
    cArgOption* nonInteractive;
    cArgOption* deleteConverted;
    cArgOption* overwrite;
    cArgOption* noAppendRoot;
    cArgOption* buffer;
    cArgOption* jobs;
    cArgOption* update;
    cArgOption* report;
    cArgOption* passwordFile;
    cArgOption* outputDirectory;
    cArgOption* inputFiles;
    cArgOption* inputs;
};

// Appends the entry; null (and the whole table marked broken) when it cannot be had.
cArgOption* addEntry(cArgTable* table, bool* complete, cArgOption* option) {
    if (!option || !cArgTable_add(table, option)) {
        *complete = false;
        return nullptr;
    }
    return option;
}

cArgOption* pathEntry(cArgTable* table, bool* complete, char shortName, const char* longName,
                      const char* placeholder, const char* glossary, int minCount, int maxCount,
                      std::vector<std::string>* list) {
    cArgOption* option = addEntry(table, complete,
                                  cArgOption_ctor(&cArgKind_text, shortName, longName, placeholder,
                                                  glossary, minCount, maxCount));
    if (option) {
        option->checkFn = cLogReaderCLI_folderCheckFn;
        option->errorFn = cLogReaderCLI_folderErrorFn;
        option->user = list;
    }
    return option;
}

// Returns 0 when the table is complete, 1 when an entry could not be made, 2 when the
// converter refused its options.
int buildTable(cLogReaderCLI* cli, cArgTable* table, int argc, Entries* e) {
    bool complete = true;
    e->help = addEntry(
        table, &complete,
        cArgOption_ctor(&cArgKind_literal, 0, "help", "", "display this help and exit", 0, 1));
    e->version = addEntry(table, &complete,
                          cArgOption_ctor(&cArgKind_literal, 'v', "version", "",
                                          "display tool version and exit", 0, 1));
    e->verbosity = addEntry(
        table, &complete,
        cArgOption_ctor(&cArgKind_int, 0, "verbosity", "<n>",
                        "verbosity of logging messages from 0 to 5, with 0 being fatal messages "
                        "only, 4 and 5 being all messages including debug information. defaults "
                        "to 3",
                        0, 1));
    e->nonInteractive = addEntry(table, &complete,
                                 cArgOption_ctor(&cArgKind_literal, 0, "non-interactive", "",
                                                 "does not print any progress output", 0, 1));
    e->deleteConverted =
        addEntry(table, &complete,
                 cArgOption_ctor(&cArgKind_literal, 'd', "delete-converted", "",
                                 "deletes files after conversion if specified", 0, 1));
    e->overwrite =
        addEntry(table, &complete,
                 cArgOption_ctor(&cArgKind_literal, 0, "overwrite", "",
                                 "replaces a trace even when another log made it", 0, 1));
    e->noAppendRoot =
        addEntry(table, &complete,
                 cArgOption_ctor(&cArgKind_literal, 'X', "no-append-root", "",
                                 "do not add \"_out\" when converting folders", 0, 1));
    e->buffer = addEntry(
        table, &complete,
        cArgOption_ctor(&cArgKind_int, 'b', "buffer", "<n>",
                        "buffer size in bytes. 0 disables and -1 takes entire file", 0, 1));
    e->jobs = addEntry(table, &complete,
                       cArgOption_ctor(&cArgKind_int, 'j', "jobs", "<n>",
                                       "number of log files converted at once, 0 for one per "
                                       "online processor. defaults to 1",
                                       0, 1));
    e->update = addEntry(table, &complete,
                         cArgOption_ctor(&cArgKind_literal, 'u', "update", "",
                                         "convert only log files whose trace is missing or older "
                                         "than the log",
                                         0, 1));
    e->report = addEntry(table, &complete,
                         cArgOption_ctor(&cArgKind_text, 0, "report", "<file>",
                                         "write one JSON line per log file to this file, - for "
                                         "standard output",
                                         0, 1));
    e->passwordFile = pathEntry(
        table, &complete, 'p', "password-file", "<file>",
        "where to find device passwords for encrypted files, defaults to \"passwords.json\"", 0, 1,
        &cli->passwordFiles);
    if (cli->vt && cli->vt->addOptions && !cli->vt->addOptions(cli, table)) return 2;
    e->outputDirectory =
        pathEntry(table, &complete, 'O', "output-directory", "<file>",
                  "where to place the converted files", 0, 1, &cli->outputDirectories);
    e->inputFiles =
        addEntry(table, &complete,
                 cArgOption_ctor(&cArgKind_literal, 'i', "input-files=<file(s)/folder(s)>", "",
                                 "list of input files/folders, must have common root", 0, 1));
    e->inputs = pathEntry(table, &complete, 0, nullptr, "file(s)/folder(s)", "", 1,
                          argc > 1 ? argc - 1 : 0, &cli->inputs);
    return complete ? 0 : 1;
}

void printUsage(const cArgTable* table) {
    std::string text = std::string("Usage: ") + cLogReaderCLI_programName +
                       cArgTable_syntaxLine(table) + "\n\n" + cArgTable_glossary(table);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void printVersion() {
    std::printf("Version: %s\n", kelvane_buildVersion);
    std::printf("Build date: %s\n", kelvane_buildDate);
    std::printf("GIT SHA: %s%s\n", kelvane_buildSha, kelvane_buildShaSuffix);
    std::fflush(stdout);
}

// Verbosity 0..5 to the log's output level.
int verbosityLevel(int32_t verbosity) {
    static const int levels[] = {ZF_LOG_FATAL, ZF_LOG_ERROR,   ZF_LOG_WARN,
                                 ZF_LOG_INFO,  ZF_LOG_VERBOSE, ZF_LOG_VERBOSE};
    return levels[verbosity];
}

// "-b|--buffer": how the error lines name an option.
std::string optionName(const cArgOption* option) {
    return option ? cArgOption_name(option, "|") : "option";
}

// "-h" is the common spelling of help. It has no entry of its own, so that the usage text
// stays as it is: the parser records it as an unknown option letter.
bool askedForHelpShort(const cArgTable* table) {
    for (const cArgErrorRecord& record : table->errors)
        if (record.error == cArg_ERR_UNKNOWN_SHORT && record.value == "h") return true;
    return false;
}

// The run report is opened before anything is converted: a run that cannot keep its record
// does not start.
bool openReport(cLogReaderCLI* cli, const std::string& path, int* status) {
    std::string reason;
    if (!cRunReport_openRecords(path, &reason)) {
        ZF_LOGE("Could not write the run report %s: %s", path.c_str(), reason.c_str());
        *status = cExitStatus_BAD_ARGUMENTS;
        return false;
    }
    cRunReport_setRoots(cli->root, cli->outputFs->root);
    return true;
}

// Everything after the table is built: help, version, errors, then the settings.
bool interpret(cLogReaderCLI* cli, const cArgTable* table, const Entries& e, int argc,
               int* status) {
    if (e.help->count > 0 || argc <= 1 || askedForHelpShort(table)) {
        printUsage(table);
        return false;
    }
    if (e.version->count > 0) {
        printVersion();
        *status = 0;
        return false;
    }
    if (!table->errors.empty()) {
        // Only the first error decides. The two value errors have a status of their own and
        // are told through the log, leaving standard output empty.
        const cArgErrorRecord& first = table->errors.front();
        if (first.error == cArg_ERR_BADINT) {
            ZF_LOGE("%s: \"%s\" is not a number", optionName(first.option).c_str(),
                    first.value.c_str());
            *status = cExitStatus_BAD_NUMBER;
            return false;
        }
        if (first.error == cArg_ERR_MISSING_VALUE) {
            ZF_LOGE("%s needs a value", optionName(first.option).c_str());
            *status = cExitStatus_MISSING_VALUE;
            return false;
        }
        std::string text;
        cArgTable_errorText(table, cLogReaderCLI_programName, &text);
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
        *status = cExitStatus_BAD_ARGUMENTS;
        return false;
    }
    int level = ZF_LOG_INFO;
    if (e.verbosity->count > 0) {
        const int32_t verbosity = e.verbosity->ints.front();
        if (verbosity < 0 || verbosity > 5) {
            ZF_LOGE("verbosity %d is outside 0 to 5", static_cast<int>(verbosity));
            *status = cExitStatus_BAD_NUMBER;
            return false;
        }
        level = verbosityLevel(verbosity);
    }
    zf_log_set_output_level(level);

    cli->options.deleteConverted = e.deleteConverted->count > 0;
    cli->options.overwrite = e.overwrite->count > 0;
    cli->options.noAppendRoot = e.noAppendRoot->count > 0;
    cli->options.nonInteractive = e.nonInteractive->count > 0;
    cli->options.bufferSize = e.buffer->count > 0 ? e.buffer->ints.front() : -1;
    cli->options.jobs = 1;
    if (e.jobs->count > 0) {
        const int32_t jobs = e.jobs->ints.front();
        if (jobs < 0 || jobs > cLogReaderCLI_MAX_JOBS) {
            ZF_LOGE("%s: %d is outside 0 to %d", optionName(e.jobs).c_str(), static_cast<int>(jobs),
                    cLogReaderCLI_MAX_JOBS);
            *status = cExitStatus_BAD_NUMBER;
            return false;
        }
        cli->options.jobs = static_cast<uint32_t>(jobs);
    }

    const bool explicitPasswords = !cli->passwordFiles.empty();
    std::string passwordPath = explicitPasswords ? cli->passwordFiles.front() : "passwords.json";
    if (!explicitPasswords) cFS_os_normalizePath(&passwordPath);
    if (!cPasswordStore_load(&cli->options.passwords, passwordPath, explicitPasswords, status))
        return false;
    ZF_LOGI("%ld password(s) loaded",
            static_cast<long>(cPasswordStore_count(&cli->options.passwords)));

    if (!cLogReaderCLI_setupInputs(cli, status)) return false;
    cli->options.update = e.update->count > 0;
    if (e.report->count > 0 && !openReport(cli, e.report->values.front(), status)) return false;
    if (cli->vt && cli->vt->afterParse) return cli->vt->afterParse(cli);
    return true;
}

} // namespace

bool cLogReaderCLI_init(cLogReaderCLI* cli) {
    if (!cli) return true;
    cli->vt = &emptyTable;
    cli->options.deleteConverted = false;
    cli->options.overwrite = false;
    cli->options.noAppendRoot = false;
    cli->options.nonInteractive = false;
    cli->options.bufferSize = -1;
    cli->options.jobs = 1;
    cli->options.update = false;
    cli->options.passwords.entries.clear();
    cli->root.clear();
    cli->inputs.clear();
    cli->passwordFiles.clear();
    cli->outputDirectories.clear();
    cli->inputFs = nullptr;
    cli->outputFs = nullptr;
    return true;
}

bool cLogReaderCLI_parse(cLogReaderCLI* cli, int argc, const char* const* argv, int* status) {
    if (!cli || !status) return false;
    try {
        cArgTable table{};
        Entries entries{};
        const int built = buildTable(cli, &table, argc, &entries);
        if (built == 2) return false;
        if (built == 1) {
            *status = cExitStatus_NO_MEMORY;
            return false;
        }
        cArgTable_parse(&table, argc, argv);
        return interpret(cli, &table, entries, argc, status);
    } catch (const std::bad_alloc&) {
        ZF_LOGF("Out of memory while reading the command line");
        *status = cExitStatus_NO_MEMORY;
        return false;
    }
}

void cLogReaderCLI_drop(cLogReaderCLI* cli) {
    if (!cli) return;
    if (cli->vt && cli->vt->drop) cli->vt->drop(cli);
    cPasswordStore_drop(&cli->options.passwords);
    cli->root.clear();
    cli->inputs.clear();
    cli->passwordFiles.clear();
    cli->outputDirectories.clear();
    if (cli->outputFs && cli->outputFs != cli->inputFs) cFS_dtor(cli->outputFs);
    if (cli->inputFs) cFS_dtor(cli->inputFs);
    cli->inputFs = nullptr;
    cli->outputFs = nullptr;
}

int cLogReaderCLI_folderCheckFn(cArgOption* option, void* list) {
    if (!option || !list) return 0;
    auto* paths = static_cast<std::vector<std::string>*>(list);
    int result = 0;
    for (const std::string& value : option->values) {
        try {
            std::string path = value;
            cFS_os_normalizePath(&path);
            paths->push_back(std::move(path));
        } catch (const std::bad_alloc&) {
            result = folderNoMemory; // this path is lost; the others still go in
        }
    }
    return result;
}

void cLogReaderCLI_folderErrorFn(cArgOption* option, void*, std::string* errorText, int code,
                                 const char* value, const char*) {
    if (!errorText) return;
    if (code == folderNoMemory)
        *errorText += "internal error, could not allocate memory";
    else
        cArgOption_defaultErrorText(option, code, value, errorText);
    *errorText += '\n';
}

bool cLogReaderCLI_findRoot(std::string_view path, std::string_view* root) {
    const ptrdiff_t n = static_cast<ptrdiff_t>(path.size());
    ptrdiff_t i = n - 1;
    if (n > 1 && path[n - 1] == '/') i = n - 2; // a final slash ends no component
    if (i < 1) return false;
    while (i > 0 && path[i] != '/')
        --i;
    if (i == 0) return false; // the character at 0 is never looked at
    if (root) *root = path.substr(0, static_cast<size_t>(i) + 1);
    return true;
}

namespace {

// Why a folder cannot serve as a file system's root, in the system's words where it has any.
const char* whyNoFolder(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return std::strerror(errno);
    return S_ISDIR(st.st_mode) ? "it cannot be used" : "it is not a folder";
}

// Device and inode of a folder; false when it cannot be looked at.
bool folderIdentity(const std::string& path, std::pair<dev_t, ino_t>* id) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    *id = {st.st_dev, st.st_ino};
    return true;
}

// "./logs/a" and "logs/b", or "../logs/a" typed inside logs, name the same folder in
// different words. Roots that differ only so are one root; roots that cannot be looked at
// are compared by their text alone.
bool sameFolder(const std::set<std::string_view>& roots) {
    std::pair<dev_t, ino_t> first{}, other{};
    if (!folderIdentity(std::string(*roots.begin()), &first)) return false;
    for (std::string_view root : roots)
        if (!folderIdentity(std::string(root), &other) || other != first) return false;
    return true;
}

bool setupInputs(cLogReaderCLI* cli, int* status) {
    std::set<std::string_view> roots;
    std::vector<size_t> rootLengths;
    for (const std::string& input : cli->inputs) {
        std::string_view root;
        if (!cLogReaderCLI_findRoot(input, &root)) {
            ZF_LOGF("Could not find root for %.*s", static_cast<int>(input.size()), input.data());
            *status = cExitStatus_NO_ROOT;
            return false;
        }
        roots.insert(root);
        rootLengths.push_back(root.size());
    }
    if (roots.empty() || (roots.size() > 1 && !sameFolder(roots))) {
        ZF_LOGF("No common root detected for all inputs");
        *status = cExitStatus_NO_ROOT;
        return false;
    }
    // The first input's spelling names the root; every input keeps the name below its own.
    std::string_view firstRoot;
    if (!cLogReaderCLI_findRoot(cli->inputs.front(), &firstRoot)) return false;
    cli->root = std::string(firstRoot);
    for (size_t i = 0; i < cli->inputs.size(); ++i)
        cli->inputs[i].erase(0, rootLengths[i]);

    // Neither failure below may look like a successful run.
    cli->inputFs = cFS_os_ctor(cli->root);
    if (!cli->inputFs) {
        ZF_LOGE("Could not open input folder %s: %s", cli->root.c_str(), whyNoFolder(cli->root));
        *status = cExitStatus_BAD_ARGUMENTS;
        return false;
    }
    cli->outputFs = cli->inputFs;
    if (!cli->outputDirectories.empty()) {
        const std::string& output = cli->outputDirectories.front();
        cFS* outputFs = cFS_os_ctor(output);
        if (!outputFs) {
            ZF_LOGE("Invalid output path: %s: %s", output.c_str(), whyNoFolder(output));
            *status = cExitStatus_BAD_ARGUMENTS;
            return false;
        }
        cli->outputFs = outputFs;
    }
    return true;
}

} // namespace

bool cLogReaderCLI_setupInputs(cLogReaderCLI* cli, int* status) {
    if (!cli || !status) return false;
    try {
        return setupInputs(cli, status);
    } catch (const std::bad_alloc&) {
        ZF_LOGF("Out of memory while reading the command line");
        *status = cExitStatus_NO_MEMORY;
        return false;
    }
}
