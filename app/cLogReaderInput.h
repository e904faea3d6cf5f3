#pragma once
// A log file's content as the driver reads it: its compressed and encrypted containers
// unwrapped, and the header fields that tell which device, session and split it is. The
// pipeline of one file uses it with a word for every problem; update mode uses it without
// one, for a log converted in an earlier run. Not for use outside the driver.

#include <cstdint>
#include <string>

#include "app/cLogReaderState.h"
#include "app/cPasswordStore.h"
#include "app/cRunReport.h"
#include "io/cIO.h"
#include "mdf/cMdf.h"

// Unwraps containers of the file named input until its content is no container. All
// unwrapped content, of every file being converted, draws on the run's memory budget; the
// key derivation of the file's encrypted layers, at any depth, on one iteration limit;
// content that is no log file is refused after its first bytes. An encrypted layer is opened
// with the device's password from store, or with the raw spelling of it when that differs
// and the decoded one does not open it (a password file written before escapes were read).
// report: where each container and each problem is told (logged, and kept in the file's
// record; a failed decryption names the device and the entry tried, never the password);
// null: nothing is told. Gives cExitStatus_OK with *stream the content, or the file's exit
// status with *stream closed and set to null.
[[nodiscard]] uint32_t cLogReaderInput_unwrap(const cPasswordStore* store, const std::string& input,
                                              cIO** stream, cRunReport_file* report);

// What reading a header found.
enum class cLogReaderHeader : uint8_t {
    COMPLETE,   // serial number, session and split
    NO_ID,      // the ID block cannot be had
    NO_HD,      // the HD block cannot be had
    INCOMPLETE, // one of the three is missing (or zero)
};

// Fills serial number, session and split of info from the open file.
cLogReaderHeader cLogReaderHeader_read(cMdf* mdf, cLogReaderFileInfo* info);
