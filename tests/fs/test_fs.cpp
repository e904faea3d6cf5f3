// File-system interface over a scripted backend: path joining, listings, folder creation
// and the path text operations.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "fs/cFS.h"

namespace {

// A backend that answers from a table of paths and records every call it gets.
struct Fake {
    cFS fs;
    std::map<std::string, cFS_statRecord> nodes;
    std::map<std::string, std::vector<cFS_entry>> listings;
    std::vector<std::string> calls;
    bool failStat = false;
    int dtors = 0;
};

Fake* fakeOf(cFS* fs) {
    return reinterpret_cast<Fake*>(fs);
}

void fakeDtor(cFS* fs) {
    fakeOf(fs)->dtors++;
}
bool fakeStat(cFS* fs, std::string_view p, cFS_statRecord* out) {
    Fake* f = fakeOf(fs);
    f->calls.push_back("stat " + std::string(p));
    if (f->failStat) return false;
    auto it = f->nodes.find(std::string(p));
    *out = it == f->nodes.end() ? cFS_statRecord{cFS_TYPE_MISSING, 0} : it->second;
    return true;
}
void fakeLs(cFS* fs, std::string_view p, cFS_entrySet* set) {
    Fake* f = fakeOf(fs);
    f->calls.push_back("ls " + std::string(p));
    auto it = f->listings.find(std::string(p));
    if (it == f->listings.end()) return;
    for (const cFS_entry& e : it->second)
        set->insert(e);
}
bool fakeMkdir(cFS* fs, std::string_view p) {
    Fake* f = fakeOf(fs);
    f->calls.push_back("mkdir " + std::string(p));
    f->nodes[std::string(p)] = {cFS_TYPE_FOLDER, 0};
    return true;
}
bool fakeRm(cFS* fs, std::string_view p) {
    fakeOf(fs)->calls.push_back("rm " + std::string(p));
    return true;
}
const cFS_vtable kFakeTable = {fakeDtor, fakeStat, fakeLs, fakeMkdir, fakeRm, nullptr};

struct FakeFs : ::testing::Test {
    Fake f;
    void root(const char* r) {
        ASSERT_TRUE(cFS_init(&f.fs, r));
        f.fs.vt = &kFakeTable;
    }
    std::vector<std::string> mkdirCalls() const {
        std::vector<std::string> out;
        for (const std::string& c : f.calls)
            if (c.rfind("mkdir ", 0) == 0) out.push_back(c.substr(6));
        return out;
    }
};

std::vector<std::string> names(const cFS_entrySet& set) {
    std::vector<std::string> out;
    for (const cFS_entry& e : set)
        out.push_back(e.name);
    return out;
}

} // namespace

TEST(FsBase, InertTableAndNullObjects) {
    cFS* fs = cFS_ctor("/r");
    ASSERT_NE(fs, nullptr);
    EXPECT_EQ(fs->root, "/r");
    cFS_statRecord st{7, 7};
    EXPECT_FALSE(cFS_stat(fs, "x", &st));
    EXPECT_FALSE(cFS_stat(fs, "x", nullptr));
    EXPECT_FALSE(cFS_mkdir(fs, "x"));
    EXPECT_FALSE(cFS_mkdirs(fs, "x/y"));
    EXPECT_FALSE(cFS_remove(fs, "x"));
    EXPECT_EQ(cFS_open(fs, "x", cFS_ACCESS_READ), nullptr);
    cFS_entrySet set;
    cFS_ls(fs, "", &set);
    EXPECT_TRUE(set.empty());
    cFS_dtor(fs);

    EXPECT_FALSE(cFS_init(nullptr, "r"));
    EXPECT_FALSE(cFS_stat(nullptr, "x", &st));
    EXPECT_FALSE(cFS_remove(nullptr, "x"));
    EXPECT_EQ(cFS_open(nullptr, "x", 1), nullptr);
    cFS_ls(nullptr, "x", &set);
    cFS_drop(nullptr);
    cFS_dtor(nullptr);
}

TEST_F(FakeFs, JoinsRootAndPath) {
    struct {
        const char* root;
        const char* path;
        const char* full;
    } cases[] = {
        {"/r", "p/q", "/r/p/q"}, {"/r", "", "/r"}, {"", "p", "p"},
        {"/r", "/p", "/r//p"},   {"", "", ""},
    };
    for (auto& c : cases) {
        f.calls.clear();
        root(c.root);
        cFS_statRecord st;
        cFS_stat(&f.fs, c.path, &st);
        cFS_remove(&f.fs, c.path);
        ASSERT_EQ(f.calls.size(), 2u);
        EXPECT_EQ(f.calls[0], std::string("stat ") + c.full) << c.root << "|" << c.path;
        EXPECT_EQ(f.calls[1], std::string("rm ") + c.full);
    }
    cFS_drop(&f.fs);
    EXPECT_EQ(f.dtors, 1);
    EXPECT_TRUE(f.fs.root.empty());
}

TEST_F(FakeFs, MkdirsCreatesOutermostFirstAndSkipsExistingFolders) {
    root("/data/out");
    EXPECT_TRUE(cFS_mkdirs(&f.fs, "dev1/day2"));
    EXPECT_EQ(mkdirCalls(), (std::vector<std::string>{"/data/out//dev1", "/data/out//dev1/day2"}));

    f.calls.clear();
    f.nodes.erase("/data/out//dev1/day2");
    EXPECT_TRUE(cFS_mkdirs(&f.fs, "dev1//day2/"));
    EXPECT_EQ(mkdirCalls(), (std::vector<std::string>{"/data/out//dev1/day2"}));

    f.calls.clear();
    EXPECT_TRUE(cFS_mkdirs(&f.fs, ""));
    EXPECT_TRUE(cFS_mkdirs(&f.fs, "///"));
    EXPECT_TRUE(f.calls.empty());

    f.nodes["/data/out//file"] = {cFS_TYPE_FILE, 3};
    f.nodes["/data/out//odd"] = {cFS_TYPE_OTHER, 0};
    EXPECT_FALSE(cFS_mkdir(&f.fs, "/file"));
    EXPECT_FALSE(cFS_mkdirs(&f.fs, "file/below"));
    EXPECT_FALSE(cFS_mkdir(&f.fs, "/odd"));
    EXPECT_TRUE(mkdirCalls().empty());

    f.failStat = true;
    EXPECT_FALSE(cFS_mkdir(&f.fs, "/new"));
    EXPECT_TRUE(mkdirCalls().empty());
    cFS_drop(&f.fs);
}

TEST_F(FakeFs, MkdirsWithoutRootKeepsRelativePathsRelative) {
    root("");
    EXPECT_TRUE(cFS_mkdirs(&f.fs, "a/b"));
    EXPECT_EQ(mkdirCalls(), (std::vector<std::string>{"a", "a/b"}));
    f.calls.clear();
    EXPECT_TRUE(cFS_mkdirs(&f.fs, "/x/y"));
    EXPECT_EQ(mkdirCalls(), (std::vector<std::string>{"/x", "/x/y"}));
    cFS_drop(&f.fs);
}

TEST_F(FakeFs, ListingIsByteOrderedAddsToTheSetAndStripsTheRoot) {
    root("base");
    f.listings["base/d"] = {{"b.MF4", 1, 3}, {"A.MF4", 1, 1},      {"a.mf4", 1, 2}, {"a.b", 1, 0},
                            {"B", 2, 0},     {"base/inner", 1, 9}, {"a.mf4", 1, 99}};
    cFS_entrySet set;
    set.insert({"0kept", 1, 0});
    cFS_ls(&f.fs, "d", &set);
    EXPECT_EQ(names(set),
              (std::vector<std::string>{"0kept", "A.MF4", "B", "a.b", "a.mf4", "b.MF4", "inner"}));
    EXPECT_EQ(set.find({"a.mf4", 0, 0})->size, 2u); // the first one stays
    cFS_drop(&f.fs);
}

TEST_F(FakeFs, RecursiveListingNamesEntriesBelowThePath) {
    root("/r");
    f.listings["/r/top"] = {{"sub", 2, 0}, {"x.mf4", 1, 5}, {"sock", 0, 0}};
    f.listings["/r/top/sub"] = {{"y.mf4", 1, 6}};
    cFS_entrySet set;
    cFS_ls_recursive(&f.fs, "top", &set);
    EXPECT_EQ(names(set), (std::vector<std::string>{"top/sub", "top/sub/y.mf4", "top/x.mf4"}));

    // A folder that contains itself (a link loop) still ends.
    f.listings["/r/loop"] = {{"l", 2, 0}};
    std::string p = "/r/loop";
    for (int i = 0; i < 100; ++i)
        f.listings[p += "/l"] = {{"l", 2, 0}};
    cFS_entrySet loop;
    cFS_ls_recursive(&f.fs, "loop", &loop);
    EXPECT_GT(loop.size(), 10u);
    EXPECT_LT(loop.size(), 100u);
    cFS_drop(&f.fs);
}

TEST(FsPath, RelativeToAbsolute) {
    cFS* fs = cFS_ctor("/root");
    std::string out = "x:";
    cFS_relativeToAbsolutePath(fs, "a/b", &out);
    EXPECT_EQ(out, "x:/root/a/b");
    out.clear();
    cFS_relativeToAbsolutePath(fs, "", &out);
    EXPECT_EQ(out, "/root");
    out.clear();
    cFS_relativeToAbsolutePath(fs, "..", &out);
    EXPECT_EQ(out, "");
    cFS_relativeToAbsolutePath(fs, "a", nullptr);
    cFS_dtor(fs);
    cFS* bare = cFS_ctor("");
    cFS_relativeToAbsolutePath(bare, "a", &out);
    EXPECT_EQ(out, "a");
    cFS_dtor(bare);
}

TEST(FsPath, TextPieces) {
    struct {
        const char* path;
        const char* file;
        const char* ext;
        const char* base;
        const char* parent;
    } cases[] = {
        {"a/b/c.mf4", "c.mf4", "mf4", "c", "a/b/"},
        {"a/b/", "", "", "", "a/b/"},
        {"", "", "", "", ""},
        {"c.tar.gz", "c.tar.gz", "gz", "c.tar", ""},
        {"name.", "name.", "", "name.", ""},
        {"MF4", "MF4", "MF4", "MF4", ""},
        {"/abc", "abc", "abc", "abc", "/"},
        {"x.mf4", "x.mf4", "mf4", "x", ""},
        {"d.ir/file", "file", "file", "file", "d.ir/"},
        {".hidden", ".hidden", "hidden", "", ""},
    };
    for (auto& c : cases) {
        EXPECT_EQ(cFS_getFileName(c.path), c.file) << c.path;
        EXPECT_EQ(cFS_getExtension(c.path), c.ext) << c.path;
        EXPECT_EQ(cFS_getBaseName(c.path), c.base) << c.path;
        EXPECT_EQ(cFS_getParentFolder(c.path), c.parent) << c.path;
    }
    std::string_view src = "p/q.r";
    EXPECT_EQ(cFS_getExtension(src).data(), src.data() + 4); // a view into the argument
}
