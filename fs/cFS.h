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

struct cFS;

struct cFS_vtable {
    void (*dtor)(cFS* fs);
    bool (*stat)(cFS* fs, std::string_view path, cFS_statRecord* out);
    void (*ls)(cFS* fs, std::string_view path, cFS_entrySet* set);
    bool (*mkdir)(cFS* fs, std::string_view path);
    bool (*rm)(cFS* fs, std::string_view path);
    cIO* (*open)(cFS* fs, std::string_view path, uint32_t flags);
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
void cFS_relativeToAbsolutePath(cFS* fs, std::string_view path, std::string* out);

// Pure path text operations; results are views into the argument.
std::string_view cFS_getFileName(std::string_view path);
std::string_view cFS_getExtension(std::string_view path);
std::string_view cFS_getBaseName(std::string_view path);
std::string_view cFS_getParentFolder(std::string_view path);
