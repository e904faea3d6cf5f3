#include "fs/cFS.h"

#include <atomic>
#include <cassert>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <new>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

void cFS_dtorDummy(cFS*) {}
bool cFS_statDummy(cFS*, std::string_view, cFS_statRecord*) {
    return false;
}
void cFS_lsDummy(cFS*, std::string_view, cFS_entrySet*) {}
bool cFS_mkdirDummy(cFS*, std::string_view) {
    return false;
}

const cFS_vtable kBaseTable = {cFS_dtorDummy,  cFS_statDummy, cFS_lsDummy,
                               cFS_mkdirDummy, nullptr,       nullptr};

std::string cFS_fullPath(const cFS* fs, std::string_view path) {
    if (path.empty()) return fs->root;
    if (fs->root.empty()) return std::string(path);
    std::string full;
    full.reserve(fs->root.size() + 1 + path.size());
    full += fs->root;
    full += '/';
    full += path;
    return full;
}

// Backends that hand out names with the root in front get them made relative again.
void cFS_makeNamesRelative(const cFS* fs, cFS_entrySet* set) {
    if (fs->root.empty()) return;
    std::vector<cFS_entry> renamed;
    for (auto it = set->begin(); it != set->end();) {
        std::string_view name = it->name;
        if (name.substr(0, fs->root.size()) != fs->root) {
            ++it;
            continue;
        }
        cFS_entry e = *it;
        e.name.erase(0, fs->root.size());
        if (!e.name.empty() && e.name[0] == '/') e.name.erase(0, 1);
        renamed.push_back(std::move(e));
        it = set->erase(it);
    }
    for (cFS_entry& e : renamed)
        set->insert(std::move(e));
}

// A link that leads back up the tree would make the recursive listing endless.
constexpr int kMaxListDepth = 64;

void cFS_lsRecursiveAt(cFS* fs, std::string_view path, cFS_entrySet* set, int depth) {
    cFS_entrySet here;
    cFS_ls(fs, path, &here);
    for (const cFS_entry& e : here) {
        if (e.type != cFS_TYPE_FILE && e.type != cFS_TYPE_FOLDER) continue;
        std::string name;
        name.reserve(path.size() + 1 + e.name.size());
        name += path;
        if (!path.empty()) name += '/';
        name += e.name;
        set->insert(cFS_entry{name, e.type, e.size});
        if (e.type == cFS_TYPE_FOLDER && depth < kMaxListDepth)
            cFS_lsRecursiveAt(fs, name, set, depth + 1);
    }
}

// The pieces of a path cut at `sep`: the last one, after the final separator.
size_t cFS_lastPieceStart(std::string_view text, char sep) {
    size_t cut = text.rfind(sep);
    return cut == std::string_view::npos ? 0 : cut + 1;
}

} // namespace

bool cFS_init(cFS* fs, std::string_view root) {
    if (!fs) return false;
    fs->vt = &kBaseTable;
    try {
        fs->root.assign(root.data(), root.size());
    } catch (...) {
        return false;
    }
    return true;
}

cFS* cFS_ctor(std::string_view root) {
    cFS* fs = new (std::nothrow) cFS;
    if (!fs) return nullptr;
    if (!cFS_init(fs, root)) {
        delete fs;
        return nullptr;
    }
    return fs;
}

void cFS_drop(cFS* fs) {
    if (!fs) return;
    if (fs->vt && fs->vt->dtor) fs->vt->dtor(fs);
    std::string().swap(fs->root);
}

void cFS_dtor(cFS* fs) {
    if (!fs) return;
    cFS_drop(fs);
    delete fs;
}

bool cFS_stat(cFS* fs, std::string_view path, cFS_statRecord* out) {
    if (!fs || !out || !fs->vt->stat) return false;
    return fs->vt->stat(fs, cFS_fullPath(fs, path), out);
}

void cFS_ls(cFS* fs, std::string_view path, cFS_entrySet* set) {
    if (!fs || !set || !fs->vt->ls) return;
    fs->vt->ls(fs, cFS_fullPath(fs, path), set);
    cFS_makeNamesRelative(fs, set);
}

void cFS_ls_recursive(cFS* fs, std::string_view path, cFS_entrySet* set) {
    if (!fs || !set) return;
    cFS_lsRecursiveAt(fs, path, set, 0);
}

bool cFS_mkdir(cFS* fs, std::string_view path) {
    if (!fs) return false;
    cFS_statRecord st{};
    if (!cFS_stat(fs, path, &st)) return false;
    if (st.type == cFS_TYPE_FOLDER) return true;
    if (st.type != cFS_TYPE_MISSING) return false;
    if (!fs->vt->mkdir) return false;
    if (fs->vt->mkdir(fs, cFS_fullPath(fs, path))) return true;
    // Another run, or another file of this one, may have made it in the meantime. Otherwise
    // the caller gets the reason mkdir gave, not the look's.
    const int reason = errno;
    if (cFS_stat(fs, path, &st) && st.type == cFS_TYPE_FOLDER) return true;
    errno = reason;
    return false;
}

bool cFS_mkdirs(cFS* fs, std::string_view path) {
    if (!fs) return false;
    // Without a root a relative path must stay relative: its prefixes get no leading "/".
    const bool bare = fs->root.empty() && (path.empty() || path[0] != '/');
    std::string prefix;
    size_t at = 0;
    while (at <= path.size()) {
        size_t cut = path.find('/', at);
        if (cut == std::string_view::npos) cut = path.size();
        std::string_view piece = path.substr(at, cut - at);
        at = cut + 1;
        if (piece.empty()) continue;
        if (!(bare && prefix.empty())) prefix += '/';
        prefix += piece;
        if (!cFS_mkdir(fs, prefix)) return false;
    }
    return true;
}

bool cFS_remove(cFS* fs, std::string_view path) {
    if (!fs || !fs->vt->rm) return false;
    return fs->vt->rm(fs, cFS_fullPath(fs, path));
}

cIO* cFS_open(cFS* fs, std::string_view path, uint32_t flags) {
    if (!fs || !fs->vt->open) return nullptr;
    return fs->vt->open(fs, cFS_fullPath(fs, path), flags);
}

bool cFS_identify(cFS* fs, std::string_view path, bool followLinks, cFS_identity* out) {
    assert(fs && out);
    if (!fs->vt->identify) {
        errno = ENOSYS;
        return false;
    }
    return fs->vt->identify(fs, cFS_fullPath(fs, path), followLinks, out);
}

cIO* cFS_createNew(cFS* fs, std::string_view path) {
    assert(fs);
    if (!fs->vt->createNew) {
        errno = ENOSYS;
        return nullptr;
    }
    return fs->vt->createNew(fs, cFS_fullPath(fs, path));
}

cIO* cFS_createTemp(cFS* fs, std::string_view finalPath, std::string* tempName) {
    assert(fs && tempName);
    cIO* (*make)(cFS*, std::string_view) =
        fs->vt->createTemp ? fs->vt->createTemp : fs->vt->createNew;
    if (!make) {
        errno = ENOSYS;
        return nullptr;
    }
    // Short whatever the final name is (that one may be as long as a name can be), and
    // unique among the files of all runs at once.
    static std::atomic<uint64_t> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempName->assign(cFS_getParentFolder(finalPath));
        char name[64];
        std::snprintf(name, sizeof name, ".kelvane-tmp-%ld-%" PRIu64, static_cast<long>(getpid()),
                      counter.fetch_add(1));
        *tempName += name;
        if (cIO* io = make(fs, cFS_fullPath(fs, *tempName))) return io;
        if (errno != EEXIST) break;
    }
    tempName->clear();
    return nullptr;
}

bool cFS_getTag(cFS* fs, std::string_view path, const char* name, std::string* value) {
    assert(fs && name && value);
    if (!fs->vt->getTag) {
        errno = ENOTSUP;
        return false;
    }
    return fs->vt->getTag(fs, cFS_fullPath(fs, path), name, value);
}

bool cFS_setTag(cFS* fs, std::string_view path, const char* name, std::string_view value) {
    assert(fs && name);
    if (!fs->vt->setTag) {
        errno = ENOTSUP;
        return false;
    }
    return fs->vt->setTag(fs, cFS_fullPath(fs, path), name, value);
}

bool cFS_rename(cFS* fs, std::string_view from, std::string_view to) {
    assert(fs);
    if (!fs->vt->rename) {
        errno = ENOSYS;
        return false;
    }
    return fs->vt->rename(fs, cFS_fullPath(fs, from), cFS_fullPath(fs, to));
}

bool cFS_sync(cFS* fs, std::string_view path) {
    assert(fs);
    if (!fs->vt->sync) {
        errno = ENOSYS;
        return false;
    }
    return fs->vt->sync(fs, cFS_fullPath(fs, path));
}

bool cFS_list(cFS* fs, std::string_view path, cFS_entrySet* set) {
    assert(fs && set);
    if (!fs->vt->list) {
        cFS_ls(fs, path, set);
        return true;
    }
    if (!fs->vt->list(fs, cFS_fullPath(fs, path), set)) return false;
    cFS_makeNamesRelative(fs, set);
    return true;
}

bool cFS_canReplaceAtomically(const cFS* fs) {
    return fs && fs->vt->createNew && fs->vt->rename;
}

bool cFS_isFolderPathSafe(cFS* fs, std::string_view folder, std::string* unsafe) {
    assert(fs && unsafe);
    unsafe->clear();
    size_t at = 0;
    while (at < folder.size()) {
        size_t cut = folder.find('/', at);
        if (cut == std::string_view::npos) cut = folder.size();
        std::string_view piece = folder.substr(at, cut - at);
        std::string_view prefix = folder.substr(0, cut);
        at = cut + 1;
        if (piece.empty() || piece == ".") continue;
        bool isLink = false;
        if (piece != "..") {
            if (!fs->vt->identify) return true; // a backend without links
            cFS_identity id{};
            isLink = cFS_identify(fs, prefix, false, &id) && id.isLink;
        }
        if (piece == ".." || isLink) {
            unsafe->assign(prefix);
            return false;
        }
    }
    return true;
}

void cFS_relativeToAbsolutePath(cFS* fs, std::string_view path, std::string* out) {
    if (!fs || !out) return;
    if (path == "..") return;
    if (!fs->root.empty()) {
        *out += fs->root;
        if (!path.empty()) *out += '/';
    }
    *out += path;
}

std::string_view cFS_getFileName(std::string_view path) {
    return path.substr(cFS_lastPieceStart(path, '/'));
}

std::string_view cFS_getExtension(std::string_view path) {
    std::string_view name = cFS_getFileName(path);
    return name.substr(cFS_lastPieceStart(name, '.'));
}

std::string_view cFS_getParentFolder(std::string_view path) {
    return path.substr(0, cFS_lastPieceStart(path, '/'));
}
