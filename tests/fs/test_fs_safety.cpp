// Exclusive creation and rename never through a link, folder paths below the root, and the
// temporary file removed when a signal ends the run.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

#include "fs/cFS.h"
#include "fs/cFS_os.h"
#include "fs/cFS_tempGuard.h"
#include "io/cIO.h"

namespace {

struct Scratch {
    std::string dir;
    cFS* fs = nullptr;
    Scratch() {
        char tmpl[] = "/tmp/kv_fs_safety_XXXXXX";
        if (mkdtemp(tmpl)) dir = tmpl;
        fs = cFS_os_ctor(dir);
    }
    ~Scratch() {
        cFS_dtor(fs);
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    std::string operator/(const std::string& rel) const { return dir + "/" + rel; }
    void write(const std::string& rel, const std::string& text) const {
        std::ofstream(*this / rel, std::ios::binary) << text;
    }
    std::string read(const std::string& rel) const {
        std::ifstream in(*this / rel);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

} // namespace

TEST(FsSafety, CreateNewNeverOverwritesAndRenameReplacesLinks) {
    Scratch s;
    ASSERT_NE(s.fs, nullptr);
    s.write("victim", "keep me");
    std::filesystem::create_symlink("victim", s / "link");
    std::filesystem::create_symlink("missing", s / "dangling");
    for (const char* taken : {"victim", "link", "dangling"}) {
        errno = 0;
        EXPECT_EQ(cFS_createNew(s.fs, taken), nullptr) << taken;
        EXPECT_EQ(errno, EEXIST) << taken;
    }
    EXPECT_FALSE(std::filesystem::exists(s / "missing")); // not created through the link
    EXPECT_EQ(s.read("victim"), "keep me");

    cIO* io = cFS_createNew(s.fs, "new");
    ASSERT_NE(io, nullptr);
    ASSERT_TRUE(cIO_write(io, "trace", 5) == 5 && cIO_close(io) == 0);
    ASSERT_TRUE(cFS_rename(s.fs, "new", "link"));
    EXPECT_FALSE(std::filesystem::is_symlink(s / "link"));
    EXPECT_EQ(s.read("link"), "trace");
    EXPECT_EQ(s.read("victim"), "keep me");
    EXPECT_TRUE(cFS_sync(s.fs, "link") && cFS_sync(s.fs, ""));
    EXPECT_FALSE(cFS_rename(s.fs, "new", "again"));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(cFS_sync(s.fs, "new"));
}

TEST(FsSafety, FolderPathsStayBelowTheRoot) {
    Scratch s;
    std::filesystem::create_directories(s / "out/a/b");
    std::filesystem::create_directory(s / "elsewhere");
    std::filesystem::create_directory_symlink("../../elsewhere", s / "out/a/link");
    cFS* out = cFS_os_ctor(s / "out");
    ASSERT_NE(out, nullptr);
    std::string unsafe = "?";
    // Path, and the first unsafe part ("" when safe); a folder not there yet is safe.
    for (auto [path, first] : {std::pair{"a/b/", ""},
                               {"", ""},
                               {"a/new/deeper/", ""},
                               {"a/link/x/", "a/link"},
                               {"a/../../x/", "a/.."},
                               {"../", ".."}}) {
        EXPECT_EQ(cFS_isFolderPathSafe(out, path, &unsafe), *first == 0) << path;
        EXPECT_EQ(unsafe, first) << path;
    }
    cFS_dtor(out);
    // A link as the root itself is the user's choice.
    cFS* viaLink = cFS_os_ctor(s / "out/a/link");
    ASSERT_NE(viaLink, nullptr);
    EXPECT_TRUE(cFS_isFolderPathSafe(viaLink, "x/", &unsafe));
    cFS_dtor(viaLink);
}

// The temporary file goes when a signal ends the process, and the process still ends by
// that signal; one already renamed or removed is left alone.
TEST(FsSafety, SignalRemovesTheGuardedFile) {
    for (bool renamed : {false, true}) {
        Scratch s;
        const pid_t pid = fork();
        if (pid == 0) {
            cFS_tempGuard_install();
            cIO* io = cFS_createNew(s.fs, "tmp");
            if (!io || cIO_close(io) != 0) _exit(2);
            if (renamed && !cFS_rename(s.fs, "tmp", "final")) _exit(3);
            if (renamed) s.write("tmp", "a new file of that name");
            raise(SIGTERM);
            _exit(4);
        }
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status)) << status;
        EXPECT_EQ(WTERMSIG(status), SIGTERM);
        EXPECT_EQ(std::filesystem::exists(s / "tmp"), renamed);
        EXPECT_EQ(std::filesystem::exists(s / "final"), renamed);
    }
}
