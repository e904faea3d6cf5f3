#pragma once
// Operating-system backend of cFS (POSIX stat and lstat, opendir, mkdir 0700, remove, stdio
// files, exclusive creation, rename, fsync, extended attributes) and path normalisation.
// Output files and folders are made, renamed and removed from the root down without
// following links, and temporary files have no name until they are renamed where the file
// system allows (cFS_osTemp); a named one is removed when a signal ends the run before it was
// renamed or removed (cFS_tempGuard). A path holding a NUL byte is refused by every backend
// operation (it would name a different file at the system call).

#include <string>
#include <string_view>

#include "fs/cFS.h"

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, so that no file opened
// later can get one of them: a trace on descriptor 2 would receive every log line. Call it
// before anything else opens a file. False when one stays closed.
[[nodiscard]] bool cFS_os_holdStandardDescriptors();

// Null unless the root itself is an existing folder.
cFS* cFS_os_ctor(std::string_view root);
bool cFS_os_getCwd(std::string* out);
bool cFS_os_isPathAbsolute(std::string_view path);
// One pass of "//" to "/", made absolute against the working directory, "/" appended when
// the path names an existing folder. Backslashes stay as they are.
void cFS_os_normalizePath(std::string* path);
