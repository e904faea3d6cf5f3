// Operating-system backend on a scratch folder, and path normalisation.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
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

void touch(const std::string& path, const char* text) {
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    fputs(text, f);
    fclose(f);
}

struct OsFs : ::testing::Test {
    std::string dir; // scratch folder, no trailing slash
    std::string oldCwd;
    void SetUp() override {
        char tmpl[] = "/tmp/kv_fs_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        ASSERT_TRUE(cFS_os_getCwd(&oldCwd));
        g_lines.clear();
        zf_log_set_output_callback(captureLine);
    }
    void TearDown() override {
        zf_log_set_output_callback(nullptr);
        if (chdir(oldCwd.c_str()) != 0) ADD_FAILURE() << "cannot return to " << oldCwd;
        std::string cmd = "rm -rf '" + dir + "'";
        if (system(cmd.c_str()) != 0) ADD_FAILURE() << "cleanup failed";
    }
    std::string normalized(std::string p) {
        cFS_os_normalizePath(&p);
        return p;
    }
};

} // namespace

TEST_F(OsFs, ConstructsOnlyOnAFolder) {
    touch(dir + "/f", "x");
    cFS* fs = cFS_os_ctor(dir);
    ASSERT_NE(fs, nullptr);
    EXPECT_EQ(fs->root, dir);
    cFS_dtor(fs);
    EXPECT_EQ(cFS_os_ctor(dir + "/f"), nullptr);
    EXPECT_EQ(cFS_os_ctor(dir + "/missing"), nullptr);
    EXPECT_EQ(cFS_os_ctor(""), nullptr);
}

TEST_F(OsFs, StatTypesAndFailures) {
    touch(dir + "/file.MF4", "12345");
    cFS* fs = cFS_os_ctor(dir);
    ASSERT_NE(fs, nullptr);
    cFS_statRecord st{};
    ASSERT_TRUE(cFS_stat(fs, "file.MF4", &st));
    EXPECT_EQ(st.type, cFS_TYPE_FILE);
    EXPECT_EQ(st.size, 5u);
    ASSERT_TRUE(cFS_stat(fs, "", &st));
    EXPECT_EQ(st.type, cFS_TYPE_FOLDER);
    EXPECT_EQ(st.size, 0u);
    ASSERT_TRUE(cFS_stat(fs, "nothing", &st));
    EXPECT_EQ(st.type, cFS_TYPE_MISSING);
    EXPECT_EQ(st.size, 0u);
    cFS_statRecord other{};
    cFS* devFs = cFS_os_ctor("/dev");
    ASSERT_TRUE(cFS_stat(devFs, "null", &other));
    EXPECT_EQ(other.type, cFS_TYPE_OTHER);
    cFS_dtor(devFs);

    // Below a regular file: the system reports "not a directory", which is a failure.
    cFS_statRecord keep{9, 9};
    EXPECT_FALSE(cFS_stat(fs, "file.MF4/below", &keep));
    EXPECT_EQ(keep.type, 9u);
    EXPECT_EQ(keep.size, 9u);
    // A NUL byte would name another path at the system call.
    EXPECT_FALSE(cFS_stat(fs, std::string_view("file.MF4\0x", 10), &keep));
    cFS_dtor(fs);
}

TEST_F(OsFs, ListsFilesAndFoldersInByteOrder) {
    for (const char* n : {"b.MF4", "A.MF4", "a.mf4", "with space.mf4", "\xc3\xa9t\xc3\xa9.mf4"})
        touch(dir + "/" + n, "abc");
    ASSERT_EQ(mkdir((dir + "/sub").c_str(), 0700), 0);
    // A socket is neither file nor folder and is left out.
    int s = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(s, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::string sock = dir + "/sock";
    ASSERT_LT(sock.size(), sizeof addr.sun_path);
    std::strcpy(addr.sun_path, sock.c_str());
    ASSERT_EQ(bind(s, (sockaddr*)&addr, sizeof addr), 0);
    // A dangling link fails its stat and is left out too.
    ASSERT_EQ(symlink((dir + "/gone").c_str(), (dir + "/dangling").c_str()), 0);
    ASSERT_EQ(symlink((dir + "/sub").c_str(), (dir + "/link").c_str()), 0);

    cFS* fs = cFS_os_ctor(dir);
    cFS_entrySet set;
    cFS_ls(fs, "", &set);
    close(s);
    std::vector<std::string> got;
    for (const cFS_entry& e : set)
        got.push_back(e.name);
    EXPECT_EQ(got, (std::vector<std::string>{"A.MF4", "a.mf4", "b.MF4", "link", "sub",
                                             "with space.mf4", "\xc3\xa9t\xc3\xa9.mf4"}));
    EXPECT_EQ(set.find({"link", 0, 0})->type, cFS_TYPE_FOLDER);
    EXPECT_EQ(set.find({"b.MF4", 0, 0})->size, 3u);

    // Listing something that is not a readable folder leaves the set alone.
    cFS_entrySet none;
    cFS_ls(fs, "b.MF4", &none);
    cFS_ls(fs, "missing", &none);
    EXPECT_TRUE(none.empty());
    cFS_dtor(fs);
}

TEST_F(OsFs, UnreadableFolderLooksEmpty) {
    ASSERT_EQ(mkdir((dir + "/locked").c_str(), 0700), 0);
    touch(dir + "/locked/x.mf4", "1");
    touch(dir + "/open.mf4", "1");
    ASSERT_EQ(chmod((dir + "/locked").c_str(), 0), 0);
    ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
    // Permissions do not bind root, so the listing runs in a child without privileges.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
        cFS* fs = cFS_os_ctor(dir);
        if (!fs) _exit(4);
        cFS_entrySet set;
        cFS_ls(fs, "locked", &set);
        cFS_ls(fs, "", &set);
        bool ok = set.size() == 2 && set.count({"open.mf4", 0, 0}) == 1;
        cFS_dtor(fs);
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    chmod((dir + "/locked").c_str(), 0700);
}

TEST_F(OsFs, MkdirsRemoveAndOpen) {
    cFS* fs = cFS_os_ctor(dir);
    ASSERT_TRUE(cFS_mkdirs(fs, "dev1/day2"));
    struct stat st;
    ASSERT_EQ(stat((dir + "/dev1/day2").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(cFS_mkdirs(fs, "dev1/day2"));

    cIO* w = cFS_open(fs, "dev1/day2/out.trc", cFS_ACCESS_WRITE | cFS_ACCESS_FLAG4);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(cIO_write(w, "hello", 5), 5);
    EXPECT_EQ(cIO_read(w, nullptr, 0), cIO_UNSUPPORTED);
    cIO_close(w);
    EXPECT_FALSE(cFS_mkdir(fs, "dev1/day2/out.trc"));

    cIO* r = cFS_open(fs, "dev1/day2/out.trc", cFS_ACCESS_READ | cFS_ACCESS_FLAG4);
    ASSERT_NE(r, nullptr);
    char b[8] = {};
    EXPECT_EQ(cIO_read(r, b, 8), 5);
    EXPECT_STREQ(b, "hello");
    EXPECT_EQ(cIO_write(r, "x", 1), cIO_UNSUPPORTED);
    cIO_close(r);
    cIO* rw = cFS_open(fs, "dev1/day2/out.trc", cFS_ACCESS_READ | cFS_ACCESS_WRITE);
    ASSERT_NE(rw, nullptr);
    EXPECT_EQ(cIO_write(rw, "J", 1), 1);
    cIO_close(rw);
    EXPECT_EQ(cFS_open(fs, "dev1/day2/out.trc", cFS_ACCESS_FLAG4), nullptr);
    EXPECT_EQ(cFS_open(fs, "dev1/nothing", cFS_ACCESS_READ), nullptr);

    EXPECT_FALSE(cFS_remove(fs, "dev1/day2")); // not empty
    EXPECT_TRUE(cFS_remove(fs, "dev1/day2/out.trc"));
    EXPECT_TRUE(cFS_remove(fs, "dev1/day2"));
    EXPECT_FALSE(cFS_remove(fs, "dev1/day2"));
    cFS_dtor(fs);
}

TEST_F(OsFs, WorkingDirectoryAndAbsolutePaths) {
    ASSERT_EQ(chdir(dir.c_str()), 0);
    std::string cwd = "stale";
    ASSERT_TRUE(cFS_os_getCwd(&cwd));
    char real[4096];
    ASSERT_NE(realpath(dir.c_str(), real), nullptr);
    EXPECT_EQ(cwd, real);
    EXPECT_EQ(cwd.size(), strlen(cwd.c_str()));
    EXPECT_FALSE(cFS_os_getCwd(nullptr));
    EXPECT_TRUE(cFS_os_isPathAbsolute("/x"));
    EXPECT_FALSE(cFS_os_isPathAbsolute("x/"));
    EXPECT_FALSE(cFS_os_isPathAbsolute(""));
}

TEST_F(OsFs, NormalizePath) {
    ASSERT_EQ(mkdir((dir + "/logs").c_str(), 0700), 0);
    ASSERT_EQ(mkdir((dir + "/logs/dev1").c_str(), 0700), 0);
    ASSERT_EQ(mkdir((dir + "/x").c_str(), 0700), 0);
    touch(dir + "/x/y.MF4", "1");
    touch(dir + "/file.MF4", "1");
    ASSERT_EQ(chdir(dir.c_str()), 0);
    std::string cwd;
    ASSERT_TRUE(cFS_os_getCwd(&cwd));

    EXPECT_EQ(normalized("logs\\dev1"), cwd + "/logs/dev1/");
    EXPECT_EQ(normalized("logs/dev1/"), cwd + "/logs/dev1/");
    EXPECT_EQ(normalized(cwd + "//x///y.MF4"), cwd + "/x//y.MF4");
    EXPECT_EQ(normalized("missing dir/a.mf4"), cwd + "/missing dir/a.mf4");
    EXPECT_EQ(normalized("a//b/../c"), cwd + "/a/b/../c");
    EXPECT_EQ(normalized(""), cwd + "/");
    EXPECT_EQ(normalized(".."), "");
    EXPECT_EQ(normalized("/"), "/");
    EXPECT_TRUE(g_lines.empty());

    std::string bad = cwd + "/file.MF4/";
    EXPECT_EQ(normalized(bad), bad);
    ASSERT_EQ(g_lines.size(), 1u);
    std::string line = g_lines[0];
    EXPECT_NE(line.find(" E Could not stat path " + bad + "\n"), std::string::npos) << line;

    ASSERT_EQ(chdir("/"), 0);
    EXPECT_EQ(normalized("kv_surely_missing_name"), "//kv_surely_missing_name");
    cFS_os_normalizePath(nullptr);
}
