// The stand-in game client against a real store: it loads OstrelVFS.dll by name, binds the exports
// by name and reads every file; its report lists sizes and hashes. With --hold-all it holds a list of
// files open at once, checks each and sums up what it found and the address space it used.
#include <windows.h>

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

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

std::string holdLine(const std::string& path, size_t length, const std::string& bytes) {
    uint32_t h = 2166136261u;
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 16777619u;
    }
    char tail[32];
    std::snprintf(tail, sizeof tail, "\t%zu\t%08x\n", length, static_cast<unsigned>(h));
    return path + tail;
}

// The value of "key=" in the summary line; -1 when it is not there.
long long summaryValue(const std::string& summary, const std::string& key) {
    size_t at = summary.find(" " + key + "=");
    return at == std::string::npos ? -1 : std::atoll(summary.c_str() + at + key.size() + 2);
}

TEST(StandinClient, HoldsEveryListedFileOpenAndChecksItsBytes) {
    TempDir dir;
    constexpr int Files = 40;
    std::string good = "# path, length, FNV-1a 32\n";
    {
        ScopedCurrentDir cd(dir.path());
        StoreBuilder b;
        size_t packs[2] = {b.addPack("GAME0.VFS"), b.addPack("GAME1.VFS")};
        for (int i = 0; i < Files; ++i) {
            std::string path = "data\\f" + std::to_string(i) + ".bin";
            std::string bytes = patternBytes(i == 7 ? 3000000 : 1000 + 331 * i, i);  // one over 2 MiB
            b.addFile(packs[i % 2], path, bytes);
            good += holdLine(i % 3 ? path : "data/f" + std::to_string(i) + ".bin", bytes.size(), bytes);
        }
        b.write();
        ASSERT_TRUE(writeFileBytes("good.list", good));
        // A wrong checksum, a wrong length and a path the store does not hold, between right lines.
        std::string bad = holdLine("data\\f1.bin", 1331, patternBytes(1331, 2)) +
                          holdLine("data\\f2.bin", 1661, patternBytes(1662, 2)) +
                          holdLine("data\\f3.bin", 1993, patternBytes(1993, 3)) +
                          holdLine("data\\none.bin", 5, "none!") +
                          holdLine("data\\f0.bin", 1000, patternBytes(1000, 0));
        ASSERT_TRUE(writeFileBytes("bad.list", bad));
        ASSERT_TRUE(writeFileBytes("malformed.list", "data\\f0.bin 1000 12345678\n"));
    }

    EXPECT_EQ(runClient(dir.path(), "--hold-all good.list --out good.txt"), 0);
    std::string summary = readFileBytes(dir.file("good.txt"));
    EXPECT_EQ(summary.compare(0, 9, "hold-all "), 0) << summary;
    EXPECT_EQ(summary.back(), '\n');
    EXPECT_EQ(summaryValue(summary, "checked"), Files) << summary;
    EXPECT_EQ(summaryValue(summary, "failed"), 0) << summary;
    // While all were open, the files' bytes were mapped: at least the largest of them.
    EXPECT_GE(summaryValue(summary, "peak-mapped"), 3000000) << summary;
    EXPECT_GE(summaryValue(summary, "peak-address-space"), summaryValue(summary, "peak-mapped")) << summary;
    EXPECT_GT(summaryValue(summary, "peak-working-set"), 0) << summary;

    EXPECT_EQ(runClient(dir.path(), "--hold-all bad.list --out bad.txt"), 1);
    summary = readFileBytes(dir.file("bad.txt"));
    EXPECT_EQ(summaryValue(summary, "checked"), 5) << summary;
    EXPECT_EQ(summaryValue(summary, "failed"), 3) << summary;

    EXPECT_EQ(runClient(dir.path(), "--hold-all malformed.list --out malformed.txt"), 2);
    EXPECT_EQ(runClient(dir.path(), "--hold-all nothing.list --out nothing.txt"), 2);
    EXPECT_EQ(runClient(dir.path(), "--index none.idx --hold-all good.list --out none.txt"), 2);
}

}  // namespace
