// File-system interface over a scripted backend: path joining, listings, folder creation
// and the path text operations.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "fs/cFS.h"

namespace {

using Names = std::vector<std::string>;

// Answers from a table of paths and records the stat and mkdir calls (the cFS comes first).
struct Fake {
    cFS fs;
    std::map<std::string, uint32_t> types;
    std::map<std::string, std::vector<cFS_entry>> listings;
    Names calls;
    bool failStat = false;
};
Fake* fake(cFS* fs) {
    return reinterpret_cast<Fake*>(fs);
}
const cFS_vtable kFakeTable = {
    [](cFS*) {},
    [](cFS* fs, std::string_view p, cFS_statRecord* out) {
        fake(fs)->calls.push_back("stat " + std::string(p));
        auto it = fake(fs)->types.find(std::string(p));
        *out = {it == fake(fs)->types.end() ? cFS_TYPE_MISSING : it->second, 0};
        return !fake(fs)->failStat;
    },
    [](cFS* fs, std::string_view p, cFS_entrySet* set) {
        for (const cFS_entry& e : fake(fs)->listings[std::string(p)])
            set->insert(e);
    },
    [](cFS* fs, std::string_view p) {
        fake(fs)->calls.push_back("mkdir " + std::string(p));
        fake(fs)->types[std::string(p)] = cFS_TYPE_FOLDER;
        return true;
    },
    nullptr,
    nullptr};

struct FakeFs : ::testing::Test {
    Fake f;
    void root(const char* r) {
        cFS_init(&f.fs, r);
        f.fs.vt = &kFakeTable;
        f.calls.clear();
    }
    // The folders that cFS_mkdirs created, in order.
    Names mkdirs(std::string_view path, bool want = true) {
        f.calls.clear();
        EXPECT_EQ(cFS_mkdirs(&f.fs, path), want) << path;
        Names out;
        for (const std::string& c : f.calls)
            if (c.rfind("mkdir ", 0) == 0) out.push_back(c.substr(6));
        return out;
    }
    void TearDown() override { cFS_drop(&f.fs); }
};

Names names(const cFS_entrySet& set) {
    Names out;
    for (const cFS_entry& e : set)
        out.push_back(e.name);
    return out;
}

} // namespace

TEST(FsBase, InertTableAndNullObjects) {
    cFS* fs = cFS_ctor("/r");
    cFS_statRecord st{};
    EXPECT_FALSE(cFS_stat(fs, "x", &st) || cFS_mkdir(fs, "x") || cFS_remove(fs, "x") ||
                 cFS_init(nullptr, "r") || cFS_stat(nullptr, "", &st));
    EXPECT_EQ(cFS_open(fs, "x", cFS_ACCESS_READ), nullptr);
    cFS_dtor(fs);
}

TEST_F(FakeFs, MkdirsCreatesOutermostFirstAndSkipsWhatExists) {
    root("/data/out");
    cFS_statRecord st;
    cFS_stat(&f.fs, "", &st); // the root itself, without a slash behind it
    EXPECT_EQ(f.calls, (Names{"stat /data/out"}));
    EXPECT_EQ(mkdirs("dev1/day2"), (Names{"/data/out//dev1", "/data/out//dev1/day2"}));
    f.types.erase("/data/out//dev1/day2");
    EXPECT_EQ(mkdirs("dev1//day2/"), (Names{"/data/out//dev1/day2"}));
    EXPECT_TRUE(mkdirs("").empty());
    EXPECT_TRUE(f.calls.empty());
    f.types["/data/out//file"] = cFS_TYPE_FILE;
    f.types["/data/out//odd"] = cFS_TYPE_OTHER;
    EXPECT_TRUE(mkdirs("file/below", false).empty());
    EXPECT_TRUE(mkdirs("odd", false).empty());
    f.failStat = true;
    EXPECT_TRUE(mkdirs("new", false).empty());
    // Without a root a relative path stays relative.
    root("");
    f.failStat = false;
    EXPECT_EQ(mkdirs("a/b"), (Names{"a", "a/b"}));
    EXPECT_EQ(mkdirs("/x/y"), (Names{"/x", "/x/y"}));
}

TEST_F(FakeFs, ListingsAreMadeRelativeAndLoopsEnd) {
    root("base");
    f.listings["base/d"] = {{"b", 1, 3}, {"a.mf4", 1, 2}, {"base/in", 1, 9}, {"a.mf4", 1, 99}};
    cFS_entrySet set{{"0kept", 1, 0}};
    cFS_ls(&f.fs, "d", &set);
    EXPECT_EQ(names(set), (Names{"0kept", "a.mf4", "b", "in"}));
    EXPECT_EQ(set.find({"a.mf4", 0, 0})->size, 2u); // the first one stays

    root("/r");
    f.listings["/r/top"] = {{"sub", 2, 0}, {"x.mf4", 1, 5}, {"sock", 0, 0}};
    f.listings["/r/top/sub"] = {{"y.mf4", 1, 6}};
    cFS_entrySet all;
    cFS_ls_recursive(&f.fs, "top", &all);
    EXPECT_EQ(names(all), (Names{"top/sub", "top/sub/y.mf4", "top/x.mf4"}));
    // A folder that holds itself (a link loop) still ends.
    std::string p = "/r/loop";
    for (int i = 0; i < 100; ++i, p += "/l")
        f.listings[p] = {{"l", 2, 0}};
    cFS_entrySet loop;
    cFS_ls_recursive(&f.fs, "loop", &loop);
    EXPECT_LT(loop.size(), 100u);
}

TEST(FsPath, TextPiecesAndAbsolutePaths) {
    // Pairs of a path and its file name|extension|base name|parent folder.
    const char* cases[] = {"a/b/c.mf4", "c.mf4|mf4|c|a/b/",
                           "a/b/",      "|||a/b/",
                           "",          "|||",
                           "c.tar.gz",  "c.tar.gz|gz|c.tar|",
                           "name.",     "name.||name.|",
                           "MF4",       "MF4|MF4|MF4|",
                           "/abc",      "abc|abc|abc|/",
                           "d.ir/f",    "f|f|f|d.ir/",
                           ".hidden",   ".hidden|hidden||"};
    for (size_t i = 0; i < std::size(cases); i += 2) {
        const char* path = cases[i];
        std::string got = std::string(cFS_getFileName(path)) + "|";
        got += std::string(cFS_getExtension(path)) + "|" + std::string(cFS_getBaseName(path));
        EXPECT_EQ(got + "|" + std::string(cFS_getParentFolder(path)), cases[i + 1]) << path;
    }
    std::string_view src = "p/q.r";
    EXPECT_EQ(cFS_getExtension(src).data(), src.data() + 4); // a view into the argument

    cFS* fs = cFS_ctor("/root");
    std::string out = "x:";
    for (const char* p : {"a/b", "..", ""})
        cFS_relativeToAbsolutePath(fs, p, &out);
    EXPECT_EQ(out, "x:/root/a/b/root");
    cFS_dtor(fs);
}
