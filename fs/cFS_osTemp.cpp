#include "fs/cFS_osTemp.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "fs/cFS.h"
#include "fs/cFS_tempGuard.h"
#include "io/cIO_file.h"
#include "support/log.h"

namespace {

// Files written under a temporary name, by their full temporary path. Where the file system
// allows, the file is made without a name (O_TMPFILE) and gets its temporary name only when
// it is renamed into place, so that no end of the process, SIGKILL and power loss included,
// leaves it behind; linkFd then keeps the file open until that moment. Elsewhere it is made
// under the temporary name at once and guarded (cFS_tempGuard) until it is renamed or removed.
struct TempFile {
    int linkFd;                 // >= 0: the file has no name yet
    cFS_tempGuard_entry* guard; // of the name while it exists
};
std::mutex tempLock;
std::map<std::string, TempFile> tempFiles; // guarded by tempLock
std::set<std::string> sweptFolders;        // guarded by tempLock

constexpr char kTempMark[] = ".kelvane-tmp-";

// The process id in a temporary name ".kelvane-tmp-PID-N" (or an older "NAME.kelvane-tmp-
// PID-N"); 0 when the name is no temporary name of ours.
long tempNameOwner(const char* name) {
    const char* mark = std::strstr(name, kTempMark);
    if (!mark) return 0;
    const char* p = mark + sizeof kTempMark - 1;
    char* end = nullptr;
    const long pid = std::strtol(p, &end, 10);
    if (end == p || *end != '-' || pid <= 0) return 0;
    p = end + 1;
    std::strtoull(p, &end, 10);
    return end != p && *end == '\0' ? pid : 0;
}

bool processAlive(long pid) {
    return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

// The first time a run writes into a folder it removes the temporary files there that
// belong to no living process (a run killed before it could clean up), and says so.
// Caller holds tempLock.
void sweepStaleTemps(const std::string& folder) {
    if (!sweptFolders.insert(folder).second) return;
    DIR* dir = opendir(folder.c_str());
    if (!dir) return; // creating the file will tell why
    const long self = static_cast<long>(getpid());
    std::string full;
    while (struct dirent* d = readdir(dir)) {
        const long owner = tempNameOwner(d->d_name);
        if (owner == 0) continue;
        full.assign(folder);
        full += '/';
        full += d->d_name;
        if (owner == self ? tempFiles.count(full) != 0 : processAlive(owner)) continue;
        struct stat st;
        if (lstat(full.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        if (unlink(full.c_str()) == 0)
            ZF_LOGW("Removed %s: the temporary file of a run that ended before it could "
                    "remove it",
                    full.c_str());
    }
    closedir(dir);
}

// Whether files can be made without a name here: the kernel must know O_TMPFILE and /proc
// must be there to give the file its name later.
bool unnamedFilesPossible() {
    static const bool possible = access("/proc/self/fd", X_OK) == 0;
    return possible;
}

// Caller holds tempLock.
cIO* createNamed(const std::string& p) {
    cFS_tempGuard_entry* entry = nullptr;
    if (!cFS_tempGuard_enter(p.c_str(), &entry)) return nullptr;
    cIO* io = cIO_file_openNew(p.c_str());
    const int reason = errno;
    cFS_tempGuard_created(entry, io != nullptr);
    if (io) tempFiles[p] = TempFile{-1, entry};
    errno = reason;
    return io;
}

// Caller holds tempLock.
cIO* createUnnamedOrNamed(const std::string& p) {
    std::string folder(cFS_getParentFolder(p));
    if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (folder.empty()) folder.push_back('.');
    sweepStaleTemps(folder);
    if (unnamedFilesPossible()) {
        // The same permissions as any new file: 0666 less the umask.
        const int fd = open(folder.c_str(), O_WRONLY | O_TMPFILE | O_CLOEXEC, 0666);
        if (fd >= 0) {
            const int linkFd = fcntl(fd, F_DUPFD_CLOEXEC, 3);
            if (linkFd < 0) {
                const int reason = errno;
                close(fd);
                errno = reason;
                return nullptr;
            }
            cIO* io = cIO_file_writeTo(fd);
            if (!io) {
                const int reason = errno;
                close(linkFd);
                errno = reason;
                return nullptr;
            }
            tempFiles[p] = TempFile{linkFd, nullptr};
            return io;
        }
        // Anything but "not supported here" is the real reason (EACCES, EROFS, ENOSPC...).
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return nullptr;
    }
    return createNamed(p);
}

// A file made without a name gets its temporary one, guarded as a named one is.
// Caller holds tempLock.
bool giveName(const std::string& path, TempFile* file) {
    cFS_tempGuard_entry* entry = nullptr;
    if (!cFS_tempGuard_enter(path.c_str(), &entry)) return false;
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", file->linkFd);
    const bool linked = linkat(AT_FDCWD, self, AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0;
    const int reason = errno;
    cFS_tempGuard_created(entry, linked);
    errno = reason;
    if (!linked) return false;
    close(file->linkFd);
    file->linkFd = -1;
    file->guard = entry;
    return true;
}

} // namespace

cIO* cFS_osTemp_create(const std::string& path) {
    std::lock_guard<std::mutex> guard(tempLock);
    return createUnnamedOrNamed(path);
}

cIO* cFS_osTemp_createNamed(const std::string& path) {
    std::lock_guard<std::mutex> guard(tempLock);
    return createNamed(path);
}

bool cFS_osTemp_rename(const std::string& from, const std::string& to) {
    std::lock_guard<std::mutex> guard(tempLock);
    auto temp = tempFiles.find(from);
    if (temp != tempFiles.end() && temp->second.linkFd >= 0 && !giveName(from, &temp->second))
        return false;
    if (rename(from.c_str(), to.c_str()) != 0) return false;
    if (temp != tempFiles.end()) {
        cFS_tempGuard_disarm(temp->second.guard);
        tempFiles.erase(temp);
    }
    return true;
}

bool cFS_osTemp_remove(const std::string& path) {
    std::lock_guard<std::mutex> guard(tempLock);
    auto temp = tempFiles.find(path);
    if (temp != tempFiles.end() && temp->second.linkFd >= 0) {
        close(temp->second.linkFd);
        tempFiles.erase(temp);
        return true;
    }
    if (remove(path.c_str()) != 0) return false;
    if (temp != tempFiles.end()) {
        cFS_tempGuard_disarm(temp->second.guard);
        tempFiles.erase(temp);
    }
    return true;
}
