#include "common/paths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <vector>

#include "tests/support/fault_env.h"
#include "tests/support/temp_dir.h"

using namespace common;

namespace {
// Records the folders it is asked to create, and creates them for real.
class RecordingEnv : public FaultEnv {
public:
    bool createFolder(const char* p) override {
        created.push_back(p);
        return FaultEnv::createFolder(p);
    }
    std::vector<std::string> created;
};
}  // namespace

TEST(LauncherFolder, LastSeparatorOfEitherKind) {
    struct Case {
        const char *program, *folder;
    };
    for (Case c : {Case{"C:\\Games\\X\\Talvora.exe", "C:\\Games\\X"}, Case{"C:\\Talvora.exe", "C:"},
                   Case{"Talvora.exe", "Talvora.exe"}, Case{"D:/Games\\X/Talvora.exe", "D:/Games\\X"}}) {
        EXPECT_EQ(launcherFolderOf(c.program), c.folder);
    }
    std::string own = getLauncherFolder();
    EXPECT_FALSE(own.empty());
    EXPECT_NE(own.back(), '/');
    EXPECT_NE(own.back(), '\\');
}

TEST(FolderOfPath, Cases) {
    EXPECT_EQ(folderOfPath("a/b\\c.txt"), "a/b");
    EXPECT_EQ(folderOfPath("c.txt"), "");
    EXPECT_EQ(folderOfPath("\\c.txt"), "");
}

TEST(CreateFolderPath, ShortestPrefixFirstAndIdempotent) {
    TempDir dir;
    ScopedCurrentDir cd(dir.path());
    RecordingEnv env;
    EXPECT_TRUE(createFolderPath("a/b/c", env));
    EXPECT_EQ(env.created, (std::vector<std::string>{"a", "a/b", "a/b/c"}));
    EXPECT_TRUE(env.isFolder("a/b/c"));
    env.created.clear();
    EXPECT_TRUE(createFolderPath("a/b/c", env));  // all present: nothing changes, still true
    EXPECT_TRUE(env.isFolder("a/b/c"));

    env.created.clear();
    createFolderPath("/x/y", env);  // a separator at index 0 never ends a prefix
    EXPECT_EQ(env.created, (std::vector<std::string>{"/x", "/x/y"}));
    env.created.clear();
    createFolderPath("p/q/", env);  // a trailing separator: tried once more whole
    EXPECT_EQ(env.created, (std::vector<std::string>{"p", "p/q", "p/q/"}));
}

TEST(WriteWholeFile, CreatesFoldersOnlyWhenMissing) {
    TempDir dir;
    ScopedCurrentDir cd(dir.path());
    RecordingEnv env;
    ASSERT_TRUE(writeWholeFile("x/y/z.dat", "abc", 3, env));
    EXPECT_EQ(env.created, (std::vector<std::string>{"x", "x/y"}));
    EXPECT_EQ(readFileBytes("x/y/z.dat"), "abc");
    env.created.clear();
    ASSERT_TRUE(writeWholeFile("x/y/w.dat", "d", 1, env));
    EXPECT_TRUE(env.created.empty());
}

TEST(WriteWholeFile, BytesExactEmptyAndTruncating) {
    TempDir dir;
    ScopedCurrentDir cd(dir.path());
    const std::string raw("\x0A\x0D\x1A\x00\xFF", 5);
    ASSERT_TRUE(writeWholeFile("raw.bin", raw.data(), 5));
    EXPECT_EQ(readFileBytes("raw.bin"), raw);
    ASSERT_TRUE(writeWholeFile("raw.bin", "", 0));
    EXPECT_TRUE(fileExists("raw.bin"));
    EXPECT_EQ(readFileBytes("raw.bin"), "");
}

TEST(WriteWholeFile, FolderPartIsAFile) {
    TempDir dir;
    ScopedCurrentDir cd(dir.path());
    ASSERT_TRUE(writeFileBytes("plain", "keep"));
    EXPECT_FALSE(writeWholeFile("plain/inner.txt", "x", 1));
    EXPECT_EQ(readFileBytes("plain"), "keep");
}

TEST(WriteWholeFile, AFullDiskIsAFailure) {
    TempDir dir;
    ScopedCurrentDir cd(dir.path());
    FaultEnv env;
    env.setDiskSpace(2);
    EXPECT_FALSE(writeWholeFile("full.bin", "abcdef", 6, env));
    FaultEnv refuse;
    refuse.failMutationNumber(1);
    EXPECT_FALSE(writeWholeFile("nope.bin", "abc", 3, refuse));
}

TEST(WriteWholeFile, BackslashesSeparateFoldersOnEveryBuild) {
    // Names in patch files are Windows paths; every build must lay them out as Windows does, so the
    // tools' checks on Linux produce what players get.
    TempDir dir;
    ScopedCurrentDir cd(dir.path());
    platform::Env& env = platform::defaultEnv();
    ASSERT_TRUE(writeWholeFile("sub\\dir\\x.txt", "deep", 4, env));
    EXPECT_EQ(readFileBytes("sub/dir/x.txt"), "deep");
    EXPECT_TRUE(env.exists("sub\\dir\\x.txt"));
    EXPECT_TRUE(env.isFolder("sub\\dir"));
    EXPECT_TRUE(env.copyFile("sub\\dir\\x.txt", "sub\\copy.txt"));
    EXPECT_EQ(readFileBytes("sub/copy.txt"), "deep");
    EXPECT_TRUE(env.replaceFile("sub\\copy.txt", "sub\\dir\\moved.txt"));
    EXPECT_EQ(readFileBytes("sub/dir/moved.txt"), "deep");
    platform::File* f = env.openReadOnly("sub\\dir\\moved.txt");
    EXPECT_NE(f, nullptr);
    env.closeFile(f);
    EXPECT_TRUE(env.deleteFile("sub\\dir\\x.txt"));
    EXPECT_FALSE(fileExists("sub/dir/x.txt"));
    EXPECT_TRUE(env.createFolder("sub\\other"));
    EXPECT_TRUE(std::filesystem::is_directory("sub/other"));
    // Nothing with a backslash in its name appeared beside them.
    std::set<std::string> top;
    for (const auto& e : std::filesystem::directory_iterator(".")) top.insert(e.path().filename().string());
    EXPECT_EQ(top, (std::set<std::string>{"sub"}));
}
