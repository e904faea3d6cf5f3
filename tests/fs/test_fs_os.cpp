// Operating-system backend on a scratch folder, and path normalisation.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

#include "fs/cFS.h"
#include "fs/cFS_os.h"
#include "io/cIO.h"
#include "support/log.h"

namespace {

std::vector<std::string> g_lines;
void captureLine(const char* line, int length) {
    g_lines.emplace_back(line, (size_t)length);
}

struct OsFs : ::testing::Test {
    std::string dir, cwd, oldCwd;
    cFS* fs = nullptr;
    void SetUp() override {
        char tmpl[] = "/tmp/kv_fs_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        ASSERT_TRUE(cFS_os_getCwd(&oldCwd));
        ASSERT_EQ(chdir(tmpl), 0);
        ASSERT_TRUE(cFS_os_getCwd(&cwd));
        dir = tmpl;
        fs = cFS_os_ctor(dir);
        ASSERT_NE(fs, nullptr);
        g_lines.clear();
        zf_log_set_output_callback(captureLine);
    }
    void TearDown() override {
        zf_log_set_output_callback(nullptr);
        cFS_dtor(fs);
        EXPECT_EQ(chdir(oldCwd.c_str()), 0);
        EXPECT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0);
    }
    void touch(const std::string& name) {
        FILE* f = fopen((dir + "/" + name).c_str(), "wb");
        ASSERT_NE(f, nullptr) << name;
        fputs("abc", f);
        fclose(f);
    }
    std::string normalized(std::string p) {
        cFS_os_normalizePath(&p);
        return p;
    }
};

} // namespace

TEST_F(OsFs, StatAndConstruction) {
    touch("file.MF4");
    const struct {
        std::string_view path;
        bool ok;
        cFS_statRecord st; // {9, 9}: left as it was
    } cases[] = {
        // clang-format off
        {"file.MF4", true, {cFS_TYPE_FILE, 3}}, {"", true, {cFS_TYPE_FOLDER, 0}},
        {"nothing", true, {cFS_TYPE_MISSING, 0}}, {"/../../dev/null", true, {cFS_TYPE_OTHER, 0}},
        // Below a regular file the system reports "not a directory": a failure.
        {"file.MF4/below", false, {9, 9}},
        // A NUL byte would name another path at the system call.
        {std::string_view("file.MF4\0x", 10), false, {9, 9}},
        // clang-format on
    };
    for (const auto& c : cases) {
        cFS_statRecord st{9, 9};
        EXPECT_EQ(cFS_stat(fs, c.path, &st), c.ok) << c.path;
        EXPECT_TRUE(st.type == c.st.type && st.size == c.st.size) << c.path;
    }
    EXPECT_FALSE(cFS_os_ctor(dir + "/file.MF4") || cFS_os_ctor(dir + "/missing") ||
                 cFS_os_ctor("") || cFS_os_getCwd(nullptr));
    EXPECT_TRUE(cFS_os_isPathAbsolute("/x"));
    EXPECT_FALSE(cFS_os_isPathAbsolute("x/") || cFS_os_isPathAbsolute(""));
}

TEST_F(OsFs, ListsFilesAndFoldersInByteOrder) {
    for (const char* n : {"b.MF4", "A.MF4", "a.mf4", "with space.mf4", "\xc3\xa9t\xc3\xa9.mf4"})
        touch(n);
    ASSERT_EQ(mkdir("sub", 0700), 0);
    ASSERT_EQ(symlink("sub", "link"), 0);
    ASSERT_EQ(symlink("gone", "dangling"), 0); // its stat fails: left out
    int s = socket(AF_UNIX, SOCK_STREAM, 0);   // neither file nor folder: left out
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, "sock");
    ASSERT_EQ(bind(s, (sockaddr*)&addr, sizeof addr), 0);
    cFS_entrySet set;
    cFS_ls(fs, "", &set);
    close(s);
    std::string got; // name, type, size
    for (const cFS_entry& e : set)
        got += e.name + " " + std::to_string(e.type) + " " + std::to_string(e.size) + ",";
    EXPECT_EQ(got, "A.MF4 1 3,a.mf4 1 3,b.MF4 1 3,link 2 0,sub 2 0,with space.mf4 1 3,"
                   "\xc3\xa9t\xc3\xa9.mf4 1 3,");
    cFS_entrySet none;
    cFS_ls(fs, "b.MF4", &none);
    cFS_ls(fs, "missing", &none);
    EXPECT_TRUE(none.empty());
}

TEST_F(OsFs, MkdirsRemoveAndOpen) {
    ASSERT_TRUE(cFS_mkdirs(fs, "dev1/day2"));
    struct stat st;
    ASSERT_EQ(stat("dev1/day2", &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    cIO* w = cFS_open(fs, "dev1/day2/o.trc", cFS_ACCESS_WRITE | cFS_ACCESS_FLAG4);
    EXPECT_EQ(cIO_write(w, "hello", 5), 5);
    cIO_close(w);
    EXPECT_FALSE(cFS_mkdir(fs, "dev1/day2/o.trc"));
    for (uint32_t flags : {1u, 5u, 3u}) { // read, read with bit 2, read and write
        cIO* r = cFS_open(fs, "dev1/day2/o.trc", flags);
        char b[8] = {};
        EXPECT_EQ(cIO_read(r, b, 8), 5) << flags;
        EXPECT_EQ(cIO_write(r, "x", 1), flags & 2 ? 1 : cIO_UNSUPPORTED) << flags;
        cIO_close(r);
    }
    EXPECT_EQ(cFS_open(fs, "dev1/day2/o.trc", cFS_ACCESS_FLAG4), nullptr);
    EXPECT_FALSE(cFS_remove(fs, "dev1/day2")); // not empty
    EXPECT_TRUE(cFS_remove(fs, "dev1/day2/o.trc") && cFS_remove(fs, "dev1/day2"));
    EXPECT_FALSE(cFS_remove(fs, "dev1/day2"));
}

TEST_F(OsFs, NormalizePath) {
    ASSERT_EQ(mkdir("logs", 0700) | mkdir("logs/dev1", 0700) | mkdir("x", 0700), 0);
    touch("x/y.MF4");
    touch("file.MF4");
    const std::string cases[][2] = {
        // clang-format off
        {"logs\\dev1", cwd + "/logs/dev1/"}, {"logs/dev1/", cwd + "/logs/dev1/"},
        {cwd + "//x///y.MF4", cwd + "/x//y.MF4"}, {"no dir/a.mf4", cwd + "/no dir/a.mf4"},
        {"a//b/../c", cwd + "/a/b/../c"}, {"", cwd + "/"}, {"..", ""}, {"/", "/"},
        // clang-format on
    };
    for (auto& c : cases)
        EXPECT_EQ(normalized(c[0]), c[1]) << c[0];
    EXPECT_TRUE(g_lines.empty());

    std::string bad = cwd + "/file.MF4/";
    EXPECT_EQ(normalized(bad), bad);
    ASSERT_EQ(g_lines.size(), 1u);
    EXPECT_NE(g_lines[0].find(" E Could not stat path " + bad + "\n"), std::string::npos);

    ASSERT_EQ(chdir("/"), 0);
    EXPECT_EQ(normalized("kv_surely_missing"), "//kv_surely_missing");
    cFS_os_normalizePath(nullptr);
}
