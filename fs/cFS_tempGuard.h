#pragma once
// Removes the files that carry a temporary name when SIGINT, SIGTERM, SIGHUP, SIGQUIT or
// SIGXFSZ ends the run, then lets the signal end the process as it would have without us
// (the exit status shows the signal). It holds every such file, however many are in flight:
// it grows by one entry whenever all of its entries are taken, and an entry is used again
// once its file got its final name or was removed.
//
// Several threads may be creating files when the signal comes. A file is therefore entered
// before it is created: once the signal is being handled, no new file is entered (the
// creation is called off), and the handler waits a moment for the creations under way.

#include <cstddef>

struct cFS_tempGuard_entry;

// Installs the handlers. A signal the run was started with ignored (nohup) stays ignored.
void cFS_tempGuard_install();
// Enters fullPath, a file about to get that name. False, with errno set, when the file must
// not be made: the run is being ended by a signal (EINTR), or there is no memory for its
// entry (ENOMEM). *entry is for _created and _disarm.
[[nodiscard]] bool cFS_tempGuard_enter(const char* fullPath, cFS_tempGuard_entry** entry);
// The creation entered is over: the name exists (created) or not (the entry is free again).
void cFS_tempGuard_created(cFS_tempGuard_entry* entry, bool created);
// The file of the entry got its final name or was removed: nothing to remove any more.
void cFS_tempGuard_disarm(cFS_tempGuard_entry* entry);
// How many files the guard holds now (for checks that entries are given back).
size_t cFS_tempGuard_held();
