// The stand-in game client against a real store: it loads OstrelVFS.dll by name, binds the exports
// by name and reads every file; its report lists sizes and hashes.
#include <windows.h>

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <string>

#include "tests/support/temp_dir.h"
#include "tests/support/windows_process.h"
#include "tests/vfs/store_builder.h"

namespace {

// Runs the client in `dir` and returns its exit code.
int runClient(const std::string& dir, const std::string& arguments) {
    return runProcess("\"" + binFolder() + "\\standin_client.exe\" " + arguments, dir);
}

std::string hashLine(const std::string& path, const std::string& bytes) {
    uint64_t h = 14695981039346656037ull;
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 1099511628211ull;
    }
    char tail[64];
    std::snprintf(tail, sizeof tail, " %zu %016" PRIx64 "\n", bytes.size(), h);
    return path + tail;
}

TEST(StandinClient, ReadsAStoreThroughTheLibrary) {
    TempDir dir;
    {
        ScopedCurrentDir cd(dir.path());
        StoreBuilder b;
        size_t p0 = b.addPack("GAME0.VFS");
        size_t p1 = b.addPack("GAME1.VFS");
        b.addFile(p0, "data\\a.txt", "alpha");
        b.addFile(p1, "data\\big.bin", patternBytes(200000, 9));
        b.write();
        ASSERT_TRUE(writeFileBytes("paths.txt", "data/big.bin\r\n"));
    }
    int code = runClient(dir.path(), "--out report.txt --paths paths.txt data/a.txt @TOKEN@ _server 127.0.0.1");
    EXPECT_EQ(code, 0);
    std::string want = "arg @TOKEN@\narg _server\narg 127.0.0.1\nstore 2 files\n" +
                       hashLine("data/big.bin", patternBytes(200000, 9)) + hashLine("data/a.txt", "alpha");
    EXPECT_EQ(readFileBytes(dir.file("report.txt")), want);

    EXPECT_EQ(runClient(dir.path(), "--out missing.txt nothing.txt"), 1);
    EXPECT_EQ(readFileBytes(dir.file("missing.txt")), "store 2 files\nnothing.txt missing\n");
    EXPECT_EQ(runClient(dir.path(), "--index none.idx --out none.txt"), 2);
}

}  // namespace
