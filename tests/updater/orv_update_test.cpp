// The self-updater as a real program under Windows: it replaces "Talvora.exe" by "launcher.bin"
// beside its own file and starts it. The launcher here is the stand-in client, which records its
// command line in its current directory.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "tests/support/temp_dir.h"
#include "tests/support/windows_process.h"

namespace {

// Runs OrvUpdate.exe from `folder` with `cwd` as its current directory; returns its exit code.
int runUpdater(const std::string& folder, const std::string& cwd, const std::string& arguments = "") {
    return runProcess("\"" + folder + "\\OrvUpdate.exe\"" + arguments, cwd, 90000);
}

// Waits for the started launcher to leave its mark in `cwd`.
std::string startedCommandLine(const std::string& cwd) {
    for (int i = 0; i < 100; ++i) {
        std::string line = readFileBytes(cwd + "\\standin-commandline.txt");
        if (!line.empty()) return line;
        Sleep(100);
    }
    return "";
}

class UpdaterTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string install = dir.file("Jogos Talvora");  // a folder with a space
    std::string elsewhere = dir.file("elsewhere");
    std::string newLauncher = readFileBytes(binFolder() + "\\standin_client.exe");

    void SetUp() override {
        ASSERT_FALSE(newLauncher.empty());
        ASSERT_TRUE(CreateDirectoryA(install.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA(elsewhere.c_str(), nullptr));
        ASSERT_TRUE(CopyFileA((binFolder() + "\\OrvUpdate.exe").c_str(), (install + "\\OrvUpdate.exe").c_str(), FALSE));
    }
    std::string at(const char* name) { return install + "\\" + name; }
};

TEST_F(UpdaterTest, NoDownloadedCopy) {
    ASSERT_TRUE(writeFileBytes(at("Talvora.exe"), "old launcher"));
    DWORD start = GetTickCount();
    EXPECT_EQ(runUpdater(install, elsewhere), -1);
    EXPECT_GE(GetTickCount() - start, 900u);
    EXPECT_EQ(readFileBytes(at("Talvora.exe")), "old launcher");
    Sleep(300);
    EXPECT_FALSE(fileExists(elsewhere + "\\standin-commandline.txt"));
}

TEST_F(UpdaterTest, ReplacesAndStartsTheLauncher) {
    for (bool oldOneThere : {true, false}) {
        DeleteFileA((elsewhere + "\\standin-commandline.txt").c_str());
        if (oldOneThere) {
            ASSERT_TRUE(writeFileBytes(at("Talvora.exe"), "old launcher"));
        } else {
            DeleteFileA(at("Talvora.exe").c_str());
        }
        ASSERT_TRUE(writeFileBytes(at("launcher.bin"), newLauncher));
        // Started from another folder and with arguments: neither changes anything.
        EXPECT_EQ(runUpdater(install, elsewhere, " --ignored arguments"), 0);
        EXPECT_EQ(readFileBytes(at("Talvora.exe")), newLauncher);
        EXPECT_FALSE(fileExists(at("launcher.bin")));
        EXPECT_EQ(startedCommandLine(elsewhere), "\"" + at("Talvora.exe") + "\"");
    }
}

TEST_F(UpdaterTest, LauncherStillInUseForAFewSecondsIsReplacedOnceFree) {
    ASSERT_TRUE(writeFileBytes(at("Talvora.exe"), "old launcher"));
    ASSERT_TRUE(writeFileBytes(at("launcher.bin"), newLauncher));
    // The old launcher holds its file for 4 seconds after starting the updater, longer than the
    // updater's first wait.
    HANDLE held =
        CreateFileA(at("Talvora.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    HANDLE releaser = CreateThread(
        nullptr, 0,
        [](void* h) -> DWORD {
            Sleep(4000);
            CloseHandle(static_cast<HANDLE>(h));
            return 0;
        },
        held, 0, nullptr);
    ASSERT_NE(releaser, nullptr);
    EXPECT_EQ(runUpdater(install, elsewhere), 0);
    WaitForSingleObject(releaser, INFINITE);
    CloseHandle(releaser);
    EXPECT_EQ(readFileBytes(at("Talvora.exe")), newLauncher);
    EXPECT_FALSE(fileExists(at("launcher.bin")));
    EXPECT_EQ(startedCommandLine(elsewhere), "\"" + at("Talvora.exe") + "\"");
}

TEST_F(UpdaterTest, LockedLauncherIsStartedAsItIs) {
    ASSERT_TRUE(writeFileBytes(at("Talvora.exe"), newLauncher));
    std::string replacement = newLauncher + std::string(16, 'x');
    ASSERT_TRUE(writeFileBytes(at("launcher.bin"), replacement));
    // Held open for reading without sharing writes for the whole run: the copy over it fails for 30
    // seconds, then the updater goes on; starting the launcher works.
    HANDLE held =
        CreateFileA(at("Talvora.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    DWORD start = GetTickCount();
    EXPECT_EQ(runUpdater(install, elsewhere), 0);
    EXPECT_GE(GetTickCount() - start, 30000u);
    EXPECT_FALSE(fileExists(at("launcher.bin")));
    EXPECT_EQ(startedCommandLine(elsewhere), "\"" + at("Talvora.exe") + "\"");
    CloseHandle(held);
    EXPECT_EQ(readFileBytes(at("Talvora.exe")), newLauncher);
}

TEST_F(UpdaterTest, FolderTooDeepTouchesNothing) {
    // 244 characters: "\Talvora.exe" no longer fits the 255 characters of a path buffer, while the
    // updater itself can still be started from there.
    std::string deep = install;
    while (deep.size() < 244) {
        deep += "\\" + std::string(std::min<size_t>(40, 243 - deep.size()), 'p');
        ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr)) << deep.size();
    }
    ASSERT_EQ(deep.size(), 244u);
    ASSERT_TRUE(CopyFileA(at("OrvUpdate.exe").c_str(), (deep + "\\OrvUpdate.exe").c_str(), FALSE));
    ASSERT_TRUE(writeFileBytes(deep + "\\launcher.bin", newLauncher));
    EXPECT_EQ(runUpdater(deep, elsewhere), -1);
    EXPECT_TRUE(fileExists(deep + "\\launcher.bin"));
    EXPECT_FALSE(fileExists(deep + "\\Talvora.exe"));
}

}  // namespace
