// Exclusive creation and rename never through a link, folder paths below the root, and the
// temporary file removed when a signal ends the run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
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

namespace {

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

// A temporary file is short-named whatever its final name (here one of 254 bytes), has no
// name at all on the disk until it is renamed into place where the file system allows, and
// leaves nothing when it is removed instead.
TEST(FsSafety, TemporaryFilesStayOutOfSightUntilRenamed) {
    Scratch s;
    std::filesystem::create_directory(s / "out");
    const std::string final = "out/" + std::string(246, 'x') + "_CAN.trc";
    std::string temp;
    cIO* io = cFS_createTemp(s.fs, final, &temp);
    ASSERT_NE(io, nullptr) << std::strerror(errno);
    EXPECT_EQ(temp.rfind("out/.kelvane-tmp-", 0), 0u) << temp;
    EXPECT_LT(temp.size(), 64u);
    ASSERT_TRUE(cIO_write(io, "trace", 5) == 5 && cIO_close(io) == 0);
    if (namesIn(s / "out").empty()) {
        std::printf("[ info ] temporary files have no name here (O_TMPFILE)\n");
    } else {
        EXPECT_EQ(namesIn(s / "out"), std::vector<std::string>{temp.substr(4)});
    }
    ASSERT_TRUE(cFS_rename(s.fs, temp, final));
    EXPECT_EQ(namesIn(s / "out"), std::vector<std::string>{final.substr(4)});
    EXPECT_EQ(s.read(final), "trace");

    io = cFS_createTemp(s.fs, "out/other_CAN.trc", &temp);
    ASSERT_NE(io, nullptr);
    ASSERT_EQ(cIO_close(io), 0);
    EXPECT_TRUE(cFS_remove(s.fs, temp));
    EXPECT_EQ(namesIn(s / "out"), std::vector<std::string>{final.substr(4)});
    EXPECT_FALSE(cFS_rename(s.fs, temp, "out/other_CAN.trc"));

    // A folder that cannot take the file gives the system's reason.
    EXPECT_EQ(cFS_createTemp(s.fs, "missing/x_CAN.trc", &temp), nullptr);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_TRUE(temp.empty());
}

// Every file renamed or removed gives its guard entry back, however many went through, and
// the guard holds as many at once as there are: all of them go on a signal, and the process
// still ends by that signal. A file already renamed is left alone, and so is a new file that
// took its old name.
TEST(FsSafety, GuardHoldsEveryFileInFlightAndGivesEntriesBack) {
    Scratch s;
    const size_t before = cFS_tempGuard_held();
    for (int i = 0; i < 300; ++i) {
        const std::string name = "f" + std::to_string(i);
        cIO* io = cFS_createNew(s.fs, name);
        ASSERT_NE(io, nullptr);
        ASSERT_EQ(cIO_close(io), 0);
        std::string temp;
        cIO* unnamed = cFS_createTemp(s.fs, name + ".trc", &temp);
        ASSERT_NE(unnamed, nullptr);
        ASSERT_EQ(cIO_close(unnamed), 0);
        if (i % 2) {
            ASSERT_TRUE(cFS_remove(s.fs, name));
            ASSERT_TRUE(cFS_rename(s.fs, temp, name + ".trc"));
        } else {
            ASSERT_TRUE(cFS_rename(s.fs, name, name + ".kept"));
            ASSERT_TRUE(cFS_remove(s.fs, temp));
        }
    }
    EXPECT_EQ(cFS_tempGuard_held(), before);

    const pid_t pid = fork();
    if (pid == 0) {
        const rlimit noCore{0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        cFS_tempGuard_install();
        cIO* renamed = cFS_createNew(s.fs, "tmp");
        if (!renamed || cIO_close(renamed) != 0 || !cFS_rename(s.fs, "tmp", "final")) _exit(2);
        s.write("tmp", "a new file of that name");
        for (int i = 0; i < 300; ++i) {
            cIO* io = cFS_createNew(s.fs, "open" + std::to_string(i));
            if (!io || cIO_close(io) != 0) _exit(2);
        }
        if (cFS_tempGuard_held() != before + 300) _exit(3);
        raise(SIGQUIT);
        _exit(4);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), SIGQUIT);
    for (const std::string& name : namesIn(s.dir))
        EXPECT_EQ(name.rfind("open", 0), std::string::npos) << name;
    EXPECT_TRUE(std::filesystem::exists(s / "tmp") && std::filesystem::exists(s / "final"));
}

// Below the root every folder is entered without following a link: a folder swapped for a
// link to elsewhere after any check of the path leads no file, folder or rename out of the
// tree (the root itself may be a link: the user chose it).
TEST(FsSafety, NothingIsMadeThroughALinkBelowTheRoot) {
    Scratch s;
    std::filesystem::create_directories(s / "out/a");
    std::filesystem::create_directory(s / "elsewhere");
    cFS* out = cFS_os_ctor(s / "out");
    ASSERT_NE(out, nullptr);
    std::string kept;
    cIO* io = cFS_createTemp(out, "a/kept_CAN.trc", &kept);
    ASSERT_NE(io, nullptr);
    ASSERT_EQ(cIO_close(io), 0);
    // The swap: a becomes a link to elsewhere.
    std::filesystem::rename(s / "out/a", s / "out/real");
    std::filesystem::create_directory_symlink("../elsewhere", s / "out/a");

    std::string temp;
    EXPECT_EQ(cFS_createTemp(out, "a/x_CAN.trc", &temp), nullptr);
    EXPECT_EQ(cFS_createNew(out, "a/y"), nullptr);
    EXPECT_FALSE(cFS_mkdir(out, "a/sub"));
    EXPECT_FALSE(cFS_rename(out, kept, "a/kept_CAN.trc"));
    io = cFS_createNew(out, "z");
    ASSERT_NE(io, nullptr);
    ASSERT_EQ(cIO_close(io), 0);
    EXPECT_FALSE(cFS_rename(out, "z", "a/z"));
    EXPECT_EQ(namesIn(s / "elsewhere"), std::vector<std::string>{});
    // The file made before the swap went on with its folder: it still goes where it was made.
    EXPECT_TRUE(cFS_remove(out, kept));
    EXPECT_TRUE(cFS_remove(out, "z"));
    cFS_dtor(out);

    cFS* viaLink = cFS_os_ctor(s / "out/a");
    ASSERT_NE(viaLink, nullptr);
    EXPECT_TRUE(cFS_mkdir(viaLink, "chosen"));
    EXPECT_EQ(namesIn(s / "elsewhere"), std::vector<std::string>{"chosen"});
    cFS_dtor(viaLink);
}
