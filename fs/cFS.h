#pragma once
// A file system rooted at a folder. Every operation joins root and relative path
// (root + "/" + path when both are non-empty) and calls the backend table.
//   const cFS_vtable* vt; std::string root.
// Path arguments are views (pointer and length, not NUL-terminated).

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <string_view>

#include "io/cIO.h"

enum cFS_type : uint32_t {
    cFS_TYPE_OTHER = 0, // exists, neither regular file nor folder
    cFS_TYPE_FILE = 1,
    cFS_TYPE_FOLDER = 2,
    cFS_TYPE_MISSING = 3,
};

struct cFS_statRecord {
    uint32_t type; // cFS_type
    uint64_t size; // bytes of a regular file, 0 otherwise
};

struct cFS_entry {
    std::string name;
    uint32_t type;
    uint64_t size;
};

// Byte-wise (strcmp) order of the names; a name already present is not inserted again.
struct cFS_entryLess {
    bool operator()(const cFS_entry& a, const cFS_entry& b) const {
        return std::strcmp(a.name.c_str(), b.name.c_str()) < 0;
    }
};
using cFS_entrySet = std::set<cFS_entry, cFS_entryLess>;

// Access flags of open: bit 0 read, bit 1 write; bit 2 is accepted and ignored.
enum { cFS_ACCESS_READ = 1, cFS_ACCESS_WRITE = 2, cFS_ACCESS_FLAG4 = 4 };

// What a path is, told apart finely enough to see that it is still the same file, and
// whether it is a link itself (when asked not to follow one).
struct cFS_identity {
    uint32_t type; // cFS_type of what the path names (other for a link not followed)
    bool isLink;   // the path itself is a symbolic link (only when links are not followed)
    uint64_t device;
    uint64_t inode;
    uint64_t size;
    int64_t modifiedNs; // modification time, nanoseconds on the Unix epoch scale
};

inline bool cFS_identity_sameFile(const cFS_identity& a, const cFS_identity& b) {
    return a.device == b.device && a.inode == b.inode;
}
inline bool cFS_identity_unchanged(const cFS_identity& a, const cFS_identity& b) {
    return cFS_identity_sameFile(a, b) && a.size == b.size && a.modifiedNs == b.modifiedNs;
}

struct cFS;

// The slots after open are capabilities a backend may lack (left empty by default): the callers
// below then say so or fall back as each one describes. Failing slots leave the reason in errno.
struct cFS_vtable {
    void (*dtor)(cFS* fs);
    bool (*stat)(cFS* fs, std::string_view path, cFS_statRecord* out);
    void (*ls)(cFS* fs, std::string_view path, cFS_entrySet* set);
    bool (*mkdir)(cFS* fs, std::string_view path);
    bool (*rm)(cFS* fs, std::string_view path);
    cIO* (*open)(cFS* fs, std::string_view path, uint32_t flags);
    bool (*identify)(cFS* fs, std::string_view path, bool followLinks, cFS_identity* out) = nullptr;
    // A new file for writing; fails when anything (a link included) has the name already.
    cIO* (*createNew)(cFS* fs, std::string_view path) = nullptr;
    // Replaces whatever is at `to` (a link there is replaced, not followed).
    bool (*rename)(cFS* fs, std::string_view from, std::string_view to) = nullptr;
    // Puts the file's or folder's content on the disk.
    bool (*sync)(cFS* fs, std::string_view path) = nullptr;
    // ls that can fail: false when the folder cannot be read.
    bool (*list)(cFS* fs, std::string_view path, cFS_entrySet* set) = nullptr;
    // A new file for writing under a temporary name that nothing has yet; it may have no
    // name on the disk until rename gives it its final one (remove then lets it go).
    cIO* (*createTemp)(cFS* fs, std::string_view path) = nullptr;
    // A named text kept beside a file's bytes (an extended attribute); see cFS_getTag.
    bool (*getTag)(cFS* fs, std::string_view path, const char* name, std::string* value) = nullptr;
    bool (*setTag)(cFS* fs, std::string_view path, const char* name,
                   std::string_view value) = nullptr;
};

struct cFS {
    const cFS_vtable* vt;
    std::string root;
};

bool cFS_init(cFS* fs, std::string_view root); // base (inert) table
cFS* cFS_ctor(std::string_view root);
void cFS_drop(cFS* fs);
void cFS_dtor(cFS* fs);

bool cFS_stat(cFS* fs, std::string_view path, cFS_statRecord* out);
void cFS_ls(cFS* fs, std::string_view path, cFS_entrySet* set);
// Files and folders below path, named "path/name"; stops 64 folders deep (link loops).
void cFS_ls_recursive(cFS* fs, std::string_view path, cFS_entrySet* set);
bool cFS_mkdir(cFS* fs, std::string_view path);
// Creates "/a" then "/a/b" (joined to the root) for "a/b"; without a root a relative path
// gives the relative prefixes "a", "a/b".
bool cFS_mkdirs(cFS* fs, std::string_view path);
bool cFS_remove(cFS* fs, std::string_view path);
cIO* cFS_open(cFS* fs, std::string_view path, uint32_t flags);

// The capabilities. Without the slot: identify, createNew, rename and sync fail (errno
// ENOSYS); list falls back to ls and succeeds.
[[nodiscard]] bool cFS_identify(cFS* fs, std::string_view path, bool followLinks,
                                cFS_identity* out);
[[nodiscard]] cIO* cFS_createNew(cFS* fs, std::string_view path);
[[nodiscard]] bool cFS_rename(cFS* fs, std::string_view from, std::string_view to);
[[nodiscard]] bool cFS_sync(cFS* fs, std::string_view path);
[[nodiscard]] bool cFS_list(cFS* fs, std::string_view path, cFS_entrySet* set);
// A new file for writing that is to replace finalPath: *tempName gets the short hidden name
// beside finalPath (".kelvane-tmp-PID-N") under which cFS_rename puts it into place or
// cFS_remove drops it. Where the backend can, the file has no name on the disk until then.
// Without createTemp the backend's createNew makes it under that name.
[[nodiscard]] cIO* cFS_createTemp(cFS* fs, std::string_view finalPath, std::string* tempName);
// A short text kept beside a file's bytes under a name ("user.kelvane.source"), which the
// bytes do not show. getTag fails with errno ENODATA when the file has none of that name;
// both fail with ENOTSUP where the file system (or the backend) keeps no such texts.
[[nodiscard]] bool cFS_getTag(cFS* fs, std::string_view path, const char* name, std::string* value);
[[nodiscard]] bool cFS_setTag(cFS* fs, std::string_view path, const char* name,
                              std::string_view value);
// True when the backend can write a file under a temporary name and move it into place.
bool cFS_canReplaceAtomically(const cFS* fs);
// Whether writing into `folder` (relative, "a/b/") stays below the root: false, with
// *unsafe set to the first such prefix, when a piece is ".." or a link. The root itself is
// the user's choice and is not looked at; a piece that is missing or cannot be looked at
// passes (writing there fails on its own, with its reason).
[[nodiscard]] bool cFS_isFolderPathSafe(cFS* fs, std::string_view folder, std::string* unsafe);

void cFS_relativeToAbsolutePath(cFS* fs, std::string_view path, std::string* out);

// Pure path text operations; results are views into the argument.
std::string_view cFS_getFileName(std::string_view path);
std::string_view cFS_getExtension(std::string_view path);
std::string_view cFS_getBaseName(std::string_view path);
std::string_view cFS_getParentFolder(std::string_view path);
