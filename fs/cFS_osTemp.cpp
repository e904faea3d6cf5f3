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
    int folderFd;               // the folder it is in, opened from the root down
    std::string leaf;           // its name in that folder
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
void sweepStaleTemps(const std::string& folder, int folderFd) {
    if (!sweptFolders.insert(folder).second) return;
    const int listFd = fcntl(folderFd, F_DUPFD_CLOEXEC, 3);
    DIR* dir = listFd >= 0 ? fdopendir(listFd) : nullptr;
    if (!dir) {
        if (listFd >= 0) close(listFd);
        return; // creating the file will tell why
    }
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
        if (fstatat(folderFd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
            continue;
        if (unlinkat(folderFd, d->d_name, 0) == 0)
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

// Caller holds tempLock; takes folderFd over.
cIO* createNamed(const std::string& p, int folderFd, const std::string& leaf) {
    cFS_tempGuard_entry* entry = nullptr;
    if (!cFS_tempGuard_enter(p.c_str(), &entry)) {
        const int reason = errno;
        close(folderFd);
        errno = reason;
        return nullptr;
    }
    // The same permissions as any new file: 0666 less the umask. Nothing that has the name
    // already, a link included, is ever written through.
    const int fd =
        openat(folderFd, leaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    cIO* io = fd >= 0 ? cIO_file_writeTo(fd) : nullptr;
    const int reason = errno;
    if (fd >= 0 && !io) unlinkat(folderFd, leaf.c_str(), 0);
    cFS_tempGuard_created(entry, io != nullptr);
    if (io)
        tempFiles[p] = TempFile{-1, entry, folderFd, leaf};
    else
        close(folderFd);
    errno = reason;
    return io;
}

// Caller holds tempLock; takes folderFd over.
cIO* createUnnamedOrNamed(const std::string& p, int folderFd, const std::string& leaf) {
    std::string folder(cFS_getParentFolder(p));
    if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    sweepStaleTemps(folder, folderFd);
    if (unnamedFilesPossible()) {
        const int fd = openat(folderFd, ".", O_WRONLY | O_TMPFILE | O_CLOEXEC, 0666);
        if (fd >= 0) {
            const int linkFd = fcntl(fd, F_DUPFD_CLOEXEC, 3);
            cIO* io = linkFd >= 0 ? cIO_file_writeTo(fd) : nullptr;
            if (!io) {
                const int reason = errno;
                if (linkFd >= 0)
                    close(linkFd);
                else
                    close(fd);
                close(folderFd);
                errno = reason;
                return nullptr;
            }
            tempFiles[p] = TempFile{linkFd, nullptr, folderFd, leaf};
            return io;
        }
        // Anything but "not supported here" is the real reason (EACCES, EROFS, ENOSPC...).
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            const int reason = errno;
            close(folderFd);
            errno = reason;
            return nullptr;
        }
    }
    return createNamed(p, folderFd, leaf);
}

// A file made without a name gets its temporary one, guarded as a named one is.
// Caller holds tempLock.
bool giveName(const std::string& path, TempFile* file) {
    cFS_tempGuard_entry* entry = nullptr;
    if (!cFS_tempGuard_enter(path.c_str(), &entry)) return false;
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", file->linkFd);
    const bool linked =
        linkat(AT_FDCWD, self, file->folderFd, file->leaf.c_str(), AT_SYMLINK_FOLLOW) == 0;
    const int reason = errno;
    cFS_tempGuard_created(entry, linked);
    errno = reason;
    if (!linked) return false;
    close(file->linkFd);
    file->linkFd = -1;
    file->guard = entry;
    return true;
}

// Caller holds tempLock.
void forget(std::map<std::string, TempFile>::iterator temp) {
    if (temp->second.linkFd >= 0) close(temp->second.linkFd);
    close(temp->second.folderFd);
    cFS_tempGuard_disarm(temp->second.guard);
    tempFiles.erase(temp);
}

} // namespace

int cFS_osTemp_openParent(const std::string& root, const std::string& path, std::string* leaf) {
    std::string_view rest = path;
    const size_t cut = rest.rfind('/');
    leaf->assign(cut == std::string_view::npos ? rest : rest.substr(cut + 1));
    if (root.empty() || rest.substr(0, root.size()) != root) {
        // Not below the root: the system resolves the folder as it is named.
        std::string folder(cut == std::string_view::npos ? "." : rest.substr(0, cut + 1));
        return open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); // the user's choice
    rest = rest.substr(0, cut + 1).substr(root.size());
    size_t at = 0;
    while (fd >= 0 && at < rest.size()) {
        size_t end = rest.find('/', at);
        if (end == std::string_view::npos) end = rest.size();
        const std::string piece(rest.substr(at, end - at));
        at = end + 1;
        if (piece.empty() || piece == ".") continue;
        // ".." would climb above the root: refused as a link is.
        const int next = piece == ".." ? (errno = ELOOP, -1)
                                       : openat(fd, piece.c_str(),
                                                O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int reason = errno;
        close(fd);
        errno = reason;
        fd = next;
    }
    return fd;
}

cIO* cFS_osTemp_create(const std::string& root, const std::string& path) {
    std::string leaf;
    const int folderFd = cFS_osTemp_openParent(root, path, &leaf);
    if (folderFd < 0) return nullptr;
    std::lock_guard<std::mutex> guard(tempLock);
    return createUnnamedOrNamed(path, folderFd, leaf);
}

cIO* cFS_osTemp_createNamed(const std::string& root, const std::string& path) {
    std::string leaf;
    const int folderFd = cFS_osTemp_openParent(root, path, &leaf);
    if (folderFd < 0) return nullptr;
    std::lock_guard<std::mutex> guard(tempLock);
    return createNamed(path, folderFd, leaf);
}

bool cFS_osTemp_rename(const std::string& root, const std::string& from, const std::string& to) {
    std::string toLeaf;
    const int toFd = cFS_osTemp_openParent(root, to, &toLeaf);
    if (toFd < 0) return false;
    std::lock_guard<std::mutex> guard(tempLock);
    auto temp = tempFiles.find(from);
    std::string fromLeaf;
    int fromFd = -1;
    if (temp != tempFiles.end()) {
        if (temp->second.linkFd >= 0 && !giveName(from, &temp->second)) {
            const int reason = errno;
            close(toFd);
            errno = reason;
            return false;
        }
        fromFd = fcntl(temp->second.folderFd, F_DUPFD_CLOEXEC, 3);
        fromLeaf = temp->second.leaf;
    } else {
        fromFd = cFS_osTemp_openParent(root, from, &fromLeaf);
    }
    const bool renamed =
        fromFd >= 0 && renameat(fromFd, fromLeaf.c_str(), toFd, toLeaf.c_str()) == 0;
    const int reason = errno;
    if (fromFd >= 0) close(fromFd);
    close(toFd);
    if (renamed && temp != tempFiles.end()) forget(temp);
    errno = reason;
    return renamed;
}

bool cFS_osTemp_remove(const std::string& path) {
    std::lock_guard<std::mutex> guard(tempLock);
    auto temp = tempFiles.find(path);
    if (temp == tempFiles.end()) return remove(path.c_str()) == 0;
    // One that never got its name goes with its descriptors.
    if (temp->second.linkFd < 0 && unlinkat(temp->second.folderFd, temp->second.leaf.c_str(), 0))
        return false;
    forget(temp);
    return true;
}
