#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "fs/cFS.h"

namespace {

using Names = std::vector<std::string>;

// Answers listings from a table of paths (the cFS comes first); every path is missing.
struct Fake {
    cFS fs;
    std::map<std::string, std::vector<cFS_entry>> listings;
};
const cFS_vtable kFakeTable = {[](cFS*) {},
                               [](cFS*, std::string_view, cFS_statRecord* out) {
                                   *out = {cFS_TYPE_MISSING, 0};
                                   return true;
                               },
                               [](cFS* fs, std::string_view p, cFS_entrySet* set) {
                                   for (const cFS_entry& e :
                                        reinterpret_cast<Fake*>(fs)->listings[std::string(p)])
                                       set->insert(e);
                               },
                               [](cFS*, std::string_view) { return false; },
                               nullptr,
                               nullptr};

struct FakeFs : ::testing::Test {
    Fake f;
    void root(const char* r) {
        cFS_init(&f.fs, r);
        f.fs.vt = &kFakeTable;
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
