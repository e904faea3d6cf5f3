#pragma once
// The program's exit status: the result codes of the input paths, OR-ed over all inputs,
// and the statuses of a run that ends before any conversion.
//
// The codes up to 8 are bits, so that the status of a run tells every kind of failure it
// met. Two values carry two causes each, as the user documentation lists them:
//   1    an input path is missing, or the password file named on the command line is
//        unusable (the latter ends the run before any input is looked at);
//   129  a path that is neither file nor folder or cannot be queried, or a run that could
//        not start for want of memory (option table, converters, driver). The first is
//        OR-ed with other inputs' codes, the second ends the run before any input.
// The command-line statuses from 130 on end the run by themselves.

#include <cstdint>

enum cExitStatus : uint32_t {
    cExitStatus_OK = 0, // converted or skipped by rule; help, version
    cExitStatus_MISSING = 1,
    cExitStatus_PASSWORD_FILE = 1,
    cExitStatus_DECRYPT_FAILED = 2,
    cExitStatus_DECOMPRESS_FAILED = 4,
    cExitStatus_CONVERSION_FAILED = 8, // any other failure of a log file
    cExitStatus_BAD_PATH = 129,
    cExitStatus_NO_MEMORY = 129,
    cExitStatus_MISSING_VALUE = 130, // an option without its value
    cExitStatus_BAD_NUMBER = 131,    // a value that is no number; a verbosity out of range
    cExitStatus_NO_ROOT = 132,       // the inputs have no common folder
    cExitStatus_BAD_ARGUMENTS = 134, // any other command-line error
};
