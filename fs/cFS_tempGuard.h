#pragma once
// Removes the files being written under their temporary names when SIGINT, SIGTERM or
// SIGHUP ends the run, then lets the signal end the process as it would have without us
// (the exit status shows the signal). Holds up to 64 files at once, one per file being
// converted; a file beyond them, or with a longer path than the guard has room for, stays
// behind after a signal under its temporary name, as after SIGKILL.
//
// Several threads may be creating files when the signal comes. A file is therefore entered
// before it is created: once the signal is being handled, no new file is entered (the
// creation is called off), and the handler waits a moment for the creations under way.

// Installs the handlers. A signal the run was started with ignored (nohup) stays ignored.
void cFS_tempGuard_install();
// Enters fullPath, a file about to be created under a temporary name. False when the run is
// being ended by a signal: the file must not be created. *ticket is for _created; -1 when
// the file could not be entered and goes unguarded.
[[nodiscard]] bool cFS_tempGuard_enter(const char* fullPath, int* ticket);
// The creation entered with ticket is over: created or not.
void cFS_tempGuard_created(int ticket, bool created);
// The file at fullPath got its final name or was removed: nothing to remove any more.
void cFS_tempGuard_disarm(const char* fullPath);
