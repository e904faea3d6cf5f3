#pragma once
// The files of the operating-system backend that carry a temporary name until they are
// renamed into place or removed. Where the file system allows, such a file is made without
// any name (O_TMPFILE) and gets its temporary name only at the moment it is renamed, so
// that no end of the process, SIGKILL and power loss included, leaves it behind. Elsewhere
// it is made under the temporary name at once, and cFS_tempGuard removes it when a signal
// ends the run. The first time a run makes one in a folder, it removes the temporary files
// there that belong to no living process, and says so. Paths are full, NUL-terminated.
// Not for use outside the backend.

#include <string>

#include "io/cIO.h"

// Files and folders of the output are reached from the root down: every folder below root is
// opened with O_NOFOLLOW|O_DIRECTORY relative to the one above (openat), and the file made,
// renamed or removed relative to its folder's descriptor, so that a link swapped in during
// the run cannot lead a write out of the tree. A path not below root is used as it is.

// The folder holding path, opened that way; *leaf gets the last piece. -1 with errno.
int cFS_osTemp_openParent(const std::string& root, const std::string& path, std::string* leaf);
// A new file for writing under the temporary name path (nothing of that name yet).
cIO* cFS_osTemp_create(const std::string& root, const std::string& path);
// A new file for writing that has the name path at once; fails when anything, a link
// included, has it already.
cIO* cFS_osTemp_createNamed(const std::string& root, const std::string& path);
// rename(from, to), giving from its name first when it has none yet.
bool cFS_osTemp_rename(const std::string& root, const std::string& from, const std::string& to);
// remove(path); a file that never got its name is just let go. A path that is no temporary
// file of ours (an input) is removed as the system resolves it.
bool cFS_osTemp_remove(const std::string& path);
