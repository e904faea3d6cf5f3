#include "fs/cFS_os.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "fs/cFS_osTemp.h"
#include "io/cIO_file.h"
#include "support/log.h"

namespace {

// System calls want a NUL-terminated copy. A view holding a NUL byte would name a
// different, shorter path there, so it is refused instead.
bool cFS_os_cPath(std::string_view path, std::string* out) {
    if (path.find('\0') != std::string_view::npos) return false;
    out->assign(path.data(), path.size());
    return true;
}

void fs_dtor(cFS*) {}

bool fs_stat(cFS*, std::string_view path, cFS_statRecord* out) {
    if (!out) return false;
    std::string p;
    if (!cFS_os_cPath(path, &p)) return false;
    struct stat st;
    if (stat(p.c_str(), &st) != 0) {
        if (errno != ENOENT) return false;
        out->type = cFS_TYPE_MISSING;
        out->size = 0;
        return true;
    }
    if (S_ISREG(st.st_mode)) {
        out->type = cFS_TYPE_FILE;
        out->size = (uint64_t)st.st_size;
    } else {
        out->type = S_ISDIR(st.st_mode) ? cFS_TYPE_FOLDER : cFS_TYPE_OTHER;
        out->size = 0;
    }
    return true;
}

// The entries of a folder that are files or folders (links followed). False, with errno
// set, when the folder cannot be read or an entry cannot be looked at: a listing with holes
// would skip those files in silence. An entry that vanished meanwhile (or a dangling link)
// is no file and is left out.
bool fs_list(cFS* fs, std::string_view path, cFS_entrySet* set) {
    std::string p;
    if (!cFS_os_cPath(path, &p)) {
        errno = EINVAL;
        return false;
    }
    DIR* dir = opendir(p.c_str());
    if (!dir) return false;
    std::string full;
    int failure = 0;
    for (;;) {
        errno = 0;
        struct dirent* d = readdir(dir);
        if (!d) {
            failure = errno;
            break;
        }
        if (strcmp(d->d_name, ".") == 0 || strcmp(d->d_name, "..") == 0) continue;
        full.assign(p);
        full += '/';
        full += d->d_name;
        cFS_statRecord st{};
        if (!fs_stat(fs, full, &st)) {
            failure = errno;
            break;
        }
        if (st.type != cFS_TYPE_FILE && st.type != cFS_TYPE_FOLDER) continue;
        set->insert(cFS_entry{d->d_name, st.type, st.size});
    }
    closedir(dir);
    errno = failure;
    return failure == 0;
}

// The listing of the interface, where a folder that cannot be read looks empty.
void fs_ls(cFS* fs, std::string_view path, cFS_entrySet* set) {
    if (!set) return;
    cFS_entrySet found;
    if (fs_list(fs, path, &found)) set->merge(found);
}

// Made from the root down (see cFS_osTemp_openParent), never through a link.
bool fs_mkdir(cFS* fs, std::string_view path) {
    std::string p, leaf;
    if (!cFS_os_cPath(path, &p)) return false;
    const int folder = cFS_osTemp_openParent(fs ? fs->root : std::string(), p, &leaf);
    if (folder < 0) return false;
    const bool made = mkdirat(folder, leaf.c_str(), 0700) == 0;
    const int reason = errno;
    close(folder);
    errno = reason;
    return made;
}

bool fs_rm(cFS*, std::string_view path) {
    std::string p;
    return cFS_os_cPath(path, &p) && cFS_osTemp_remove(p);
}

bool fs_identify(cFS*, std::string_view path, bool followLinks, cFS_identity* out) {
    std::string p;
    if (!cFS_os_cPath(path, &p)) {
        errno = EINVAL;
        return false;
    }
    struct stat st;
    if ((followLinks ? stat(p.c_str(), &st) : lstat(p.c_str(), &st)) != 0) return false;
    out->isLink = S_ISLNK(st.st_mode);
    out->type = S_ISREG(st.st_mode)   ? cFS_TYPE_FILE
                : S_ISDIR(st.st_mode) ? cFS_TYPE_FOLDER
                                      : cFS_TYPE_OTHER;
    out->device = static_cast<uint64_t>(st.st_dev);
    out->inode = static_cast<uint64_t>(st.st_ino);
    out->size = static_cast<uint64_t>(st.st_size);
    out->modifiedNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return true;
}

// The new file is guarded until it is renamed or removed: a signal that ends the run
// takes it away.
cIO* fs_createNew(cFS* fs, std::string_view path) {
    std::string p;
    if (!cFS_os_cPath(path, &p)) {
        errno = EINVAL;
        return nullptr;
    }
    return cFS_osTemp_createNamed(fs->root, p);
}

cIO* fs_createTemp(cFS* fs, std::string_view path) {
    std::string p;
    if (!cFS_os_cPath(path, &p)) {
        errno = EINVAL;
        return nullptr;
    }
    return cFS_osTemp_create(fs->root, p);
}

bool fs_rename(cFS* fs, std::string_view from, std::string_view to) {
    std::string f, t;
    if (!cFS_os_cPath(from, &f) || !cFS_os_cPath(to, &t)) {
        errno = EINVAL;
        return false;
    }
    return cFS_osTemp_rename(fs->root, f, t);
}

bool fs_sync(cFS*, std::string_view path) {
    std::string p;
    if (!cFS_os_cPath(path, &p)) {
        errno = EINVAL;
        return false;
    }
    const int fd = open(p.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = fsync(fd) == 0;
    const int reason = errno;
    close(fd);
    errno = reason;
    return synced;
}

// Links are not followed: a tag goes on the file the path names itself.
bool fs_getTag(cFS*, std::string_view path, const char* name, std::string* value) {
    std::string p;
    if (!cFS_os_cPath(path, &p)) {
        errno = EINVAL;
        return false;
    }
    char text[4096];
    const ssize_t n = lgetxattr(p.c_str(), name, text, sizeof text);
    if (n < 0) return false;
    value->assign(text, static_cast<size_t>(n));
    return true;
}

bool fs_setTag(cFS*, std::string_view path, const char* name, std::string_view value) {
    std::string p;
    if (!cFS_os_cPath(path, &p)) {
        errno = EINVAL;
        return false;
    }
    return lsetxattr(p.c_str(), name, value.data(), value.size(), 0) == 0;
}

cIO* fs_open(cFS*, std::string_view path, uint32_t flags) {
    cIO_fileMode mode;
    switch (flags & 3) {
    case 3:
        mode = cIO_FILE_UPDATE;
        break;
    case 1:
        mode = cIO_FILE_READ;
        break;
    case 2:
        mode = cIO_FILE_WRITE;
        break;
    default:
        return nullptr;
    }
    std::string p;
    if (!cFS_os_cPath(path, &p)) return nullptr;
    return cIO_file_open(p.c_str(), mode);
}

const cFS_vtable kOsTable = {fs_dtor, fs_stat,       fs_ls,        fs_mkdir,  fs_rm,
                             fs_open, fs_identify,   fs_createNew, fs_rename, fs_sync,
                             fs_list, fs_createTemp, fs_getTag,    fs_setTag};

constexpr size_t kCwdRoom = 2048;

} // namespace

bool cFS_os_holdStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free number: the ones below are open by now.
        const int got = open("/dev/null", O_RDWR);
        if (got == fd) continue;
        if (got >= 0) close(got);
        return false;
    }
    return true;
}

cFS* cFS_os_ctor(std::string_view root) {
    cFS* fs = cFS_ctor(root);
    if (!fs) return nullptr;
    fs->vt = &kOsTable;
    cFS_statRecord st{};
    if (!fs_stat(fs, root, &st) || st.type != cFS_TYPE_FOLDER) {
        cFS_dtor(fs);
        return nullptr;
    }
    return fs;
}

bool cFS_os_getCwd(std::string* out) {
    if (!out) return false;
    out->clear();
    out->resize(kCwdRoom);
    if (!getcwd(out->data(), kCwdRoom)) {
        out->clear();
        return false;
    }
    out->resize(strlen(out->c_str()));
    return true;
}

bool cFS_os_isPathAbsolute(std::string_view path) {
    return !path.empty() && path[0] == '/';
}

void cFS_os_normalizePath(std::string* path) {
    if (!path) return;
    // A backslash is an ordinary character of a name here, never a separator: "a\b.MF4"
    // is one file in the working directory, not b.MF4 in folder a.
    std::string& p = *path;
    if (p.size() > 1) {
        std::string once;
        once.reserve(p.size());
        for (size_t i = 0; i < p.size(); ++i) {
            once += p[i];
            if (p[i] == '/' && i + 1 < p.size() && p[i + 1] == '/') ++i;
        }
        p.swap(once);
    }
    if (!cFS_os_isPathAbsolute(p)) {
        std::string cwd;
        if (!cFS_os_getCwd(&cwd)) return;
        cFS* here = cFS_os_ctor(cwd);
        if (!here) return;
        std::string absolute;
        cFS_relativeToAbsolutePath(here, p, &absolute);
        cFS_dtor(here);
        p.swap(absolute);
    }
    cFS_statRecord st{};
    if (!fs_stat(nullptr, p, &st)) {
        ZF_LOGE("Could not stat path %s", p.c_str());
        return;
    }
    if (st.type == cFS_TYPE_FOLDER && (p.empty() || p.back() != '/')) p += '/';
}
