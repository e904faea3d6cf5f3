#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "fs/cFS.h"
#include "fs/cFS_os.h"
#include "io/cIO.h"

namespace {

struct OsFs : ::testing::Test {
    std::string dir, oldCwd;
    cFS* fs = nullptr;
    void SetUp() override {
        char tmpl[] = "/tmp/kv_fs_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        ASSERT_TRUE(cFS_os_getCwd(&oldCwd));
        ASSERT_EQ(chdir(tmpl), 0);
        dir = tmpl;
        fs = cFS_os_ctor(dir);
        ASSERT_NE(fs, nullptr);
    }
    void TearDown() override {
        cFS_dtor(fs);
        EXPECT_EQ(chdir(oldCwd.c_str()), 0);
        EXPECT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0);
    }
    void touch(const std::string& name) { std::ofstream(dir + "/" + name) << "abc"; }
};

} // namespace

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
    (void)cIO_close(w);
    EXPECT_FALSE(cFS_mkdir(fs, "dev1/day2/o.trc"));
    for (uint32_t flags : {1u, 5u, 3u}) { // read, read with bit 2, read and write
        cIO* r = cFS_open(fs, "dev1/day2/o.trc", flags);
        char b[8] = {};
        EXPECT_EQ(cIO_read(r, b, 8), 5) << flags;
        EXPECT_EQ(cIO_write(r, "x", 1), flags & 2 ? 1 : cIO_UNSUPPORTED) << flags;
        (void)cIO_close(r);
    }
    EXPECT_EQ(cFS_open(fs, "dev1/day2/o.trc", cFS_ACCESS_FLAG4), nullptr);
    EXPECT_FALSE(cFS_remove(fs, "dev1/day2")); // not empty
    EXPECT_TRUE(cFS_remove(fs, "dev1/day2/o.trc") && cFS_remove(fs, "dev1/day2"));
    EXPECT_FALSE(cFS_remove(fs, "dev1/day2"));
}
