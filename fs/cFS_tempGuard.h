#pragma once
// Removes the file being written under its temporary name when SIGINT, SIGTERM or SIGHUP
// ends the run, then lets the signal end the process as it would have without us (the
// exit status shows the signal). Holds up to 64 files at once, one per file being converted
// (a file beyond them stays behind after a signal under its temporary name, as after SIGKILL).

// Installs the handlers. A signal the run was started with ignored (nohup) stays ignored.
void cFS_tempGuard_install();
// fullPath: the file just created under a temporary name. Paths longer than the guard's
// room are not guarded (the file then stays behind after a signal, under its temporary
// name, as after SIGKILL).
void cFS_tempGuard_arm(const char* fullPath);
// The file at fullPath got its final name or was removed: nothing to remove any more.
void cFS_tempGuard_disarm(const char* fullPath);
