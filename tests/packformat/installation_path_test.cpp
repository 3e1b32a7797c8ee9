// The names a patch may write or delete.
#include "packformat/installation_path.h"

#include <gtest/gtest.h>

using packformat::isInstallationPath;

TEST(InstallationPath, NamesOutsideTheGameFolderAreRefused) {
    const char* refused[] = {
        "/etc/passwd",
        "\\Windows\\x.dll",
        "\\\\server\\share\\x",
        "C:\\x.txt",
        "c:x.txt",
        "a/b:stream",
        "..\\x.txt",
        "../x.txt",
        "ext/../../x.txt",
        "ext\\..",
        "..",
        "...\\x",
        ".. \\x",
        "ext/. ./x",
        "",
        "ext/./c",
        ".",
    };
    const char* accepted[] = {"x.txt", "ext\\a.txt", "ext/sub/b.bin", "a..b", ".hidden", "..name", "a.b.c"};
    for (const char* name : refused) {
        const char* why = nullptr;
        EXPECT_FALSE(isInstallationPath(name, &why)) << name;
        EXPECT_STRNE(why, "") << name;
    }
    for (const char* name : accepted) {
        const char* why = nullptr;
        EXPECT_TRUE(isInstallationPath(name, &why)) << name;
        EXPECT_STREQ(why, "") << name;
    }
}

TEST(InstallationPath, DeviceNamesAndDroppedEndingsAreRefused) {
    // Each opens a device, or names the same file as another name, on Windows.
    const char* refused[] = {
        "NUL",        "nul",           "Con",         "prn",           "AUX",       "nul.txt", "NUL.tar.gz",
        "nul .txt",   "sub\\COM1.txt", "sub/lpt9",    "com1",          "COM9.dat",  "LPT1",    "lPt5.log",
        "COM0",       "a/CONIN$",      "conout$.txt", "COM\xB9",       "lpt\xB2.x", "x.txt.",  "x.txt ",
        "sub./x.txt", "sub /x.txt",    "sub\\x\\",    "a\\nul\\b.txt",
    };
    const char* accepted[] = {
        "NULL",     "nul_x.txt", "CONSOLE.txt",    "COM10", "COM",         "LPT",           "COMA.txt", "xcon",
        "AUXI.dat", "lpt12",     "sub\\COM1x.txt", "a.nul", "con-fig.ini", "sub\\.profile", "COM\xB4",
    };
    for (const char* name : refused) {
        const char* why = nullptr;
        EXPECT_FALSE(isInstallationPath(name, &why)) << name;
        EXPECT_STRNE(why, "") << name;
    }
    for (const char* name : accepted) EXPECT_TRUE(isInstallationPath(name)) << name;
}
