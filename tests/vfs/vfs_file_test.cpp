// Reading files: the stream functions on stored and loose files alike, direct access to mapped
// bytes, views at and off the 64 KiB boundary, a failing view, and many readers at once.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/fault_env.h"
#include "tests/support/temp_dir.h"
#include "tests/vfs/store_builder.h"
#include "vfs/vfs_exports.h"
#include "vfs/vfs_file.h"
#include "vfs/vfs_store.h"

namespace {

// Runs each stream test on a stored file and on the same bytes as a loose file.
class StreamTest : public ::testing::TestWithParam<bool> {
protected:
    TempDir dir;
    ScopedCurrentDir cd{dir.path()};
    VfsStoreRef store = nullptr;
    VFileRef file = nullptr;

    void TearDown() override {
        VCloseFile(file);
        CloseVFS(store);
    }
    bool loose() const { return GetParam(); }
    void openWith(const std::string& bytes) {
        StoreBuilder b;
        size_t p = b.addPack("GAME0.VFS");
        b.addFile(p, "lead-in", "some bytes before the file");
        b.addFile(p, "f.bin", loose() ? "stored copy, not read" : bytes);
        b.write();
        if (loose()) {
            ASSERT_TRUE(writeFileBytes("f.bin", bytes));
        }
        store = OpenVFS("data.idx", 0);
        ASSERT_NE(store, nullptr);
        file = VOpenFile("f.bin", store);
        ASSERT_NE(file, nullptr);
        ASSERT_EQ(vfgetsize(file), static_cast<int32_t>(bytes.size()));
    }
};

TEST_P(StreamTest, ReadCountsWholeItemsAndStopsAtTheEnd) {
    std::string bytes = patternBytes(22, 7);
    openWith(bytes);
    char buffer[32];
    ASSERT_EQ(vfread(buffer, 4, 3, file), 3u);
    EXPECT_EQ(std::string(buffer, 12), bytes.substr(0, 12));
    EXPECT_EQ(vftell(file), 12);
    // 10 bytes left: 3 items of 4 copy all 10 and count 2.
    std::memset(buffer, 0, sizeof buffer);
    ASSERT_EQ(vfread(buffer, 4, 3, file), 2u);
    EXPECT_EQ(std::string(buffer, 10), bytes.substr(12, 10));
    EXPECT_EQ(vftell(file), 22);
    EXPECT_EQ(vfeof(file), 1);
    EXPECT_EQ(vfread(buffer, 4, 3, file), 0u);
    // An item size of 0 reads nothing.
    EXPECT_EQ(vfseek(file, 0, 0), 0);
    EXPECT_EQ(vfread(buffer, 0, 5, file), 0u);
    EXPECT_EQ(vftell(file), 0);
}

TEST_P(StreamTest, SeekClampsIntoTheFile) {
    openWith(patternBytes(50, 3));
    struct Case {
        int32_t offset, origin, position;
    } cases[] = {
        {100, 0, 50}, {-5, 2, 45}, {3, 9, 45},  // an unknown origin leaves the position alone
        {-80, 1, 0},  {10, 0, 10}, {5, 1, 15}, {-100, 0, 0}, {7, 2, 50}, {-50, 2, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(vfseek(file, c.offset, c.origin), 0) << c.offset << "," << c.origin;
        EXPECT_EQ(vftell(file), c.position) << c.offset << "," << c.origin;
    }
    EXPECT_EQ(vfseek(file, 45, 0), 0);
    char tail[8];
    EXPECT_EQ(vfread(tail, 1, 8, file), 5u);
    EXPECT_EQ(std::string(tail, 5), patternBytes(50, 3).substr(45));
}

TEST_P(StreamTest, DirectAccessOnlyForStoredFiles) {
    std::string bytes = patternBytes(300, 11);
    openWith(bytes);
    uint32_t size = 12345;
    const void* before = vfgetdata(&size, file);
    if (loose()) {
        EXPECT_EQ(before, nullptr);
        EXPECT_EQ(size, 12345u);
        return;
    }
    ASSERT_NE(before, nullptr);
    EXPECT_EQ(size, 300u);
    EXPECT_EQ(std::memcmp(before, bytes.data(), bytes.size()), 0);
    char buffer[100];
    vfread(buffer, 1, 100, file);
    EXPECT_EQ(vfgetdata(nullptr, file), before);
}

INSTANTIATE_TEST_SUITE_P(StoredAndLoose, StreamTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Loose" : "Stored"; });

class FileTest : public ::testing::Test {
protected:
    TempDir dir;
    ScopedCurrentDir cd{dir.path()};
};

TEST_F(FileTest, EmptyStoredFileIsAtItsEndAtOnce) {
    StoreBuilder b;
    size_t p = b.addPack("GAME0.VFS");
    b.addFile(p, "before", "x");
    b.addFile(p, "empty", "");
    b.write();
    VfsStoreRef store = OpenVFS("data.idx", 0);
    ASSERT_NE(store, nullptr);
    VFileRef f = VOpenFile("empty", store);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(vfeof(f), 1);
    char c;
    EXPECT_EQ(vfread(&c, 1, 1, f), 0u);
    uint32_t size = 99;
    EXPECT_NE(vfgetdata(&size, f), nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(VGetFileLength(store, "empty"), 0);
    VCloseFile(f);
    CloseVFS(store);
}

TEST_F(FileTest, FilesAtAndOffTheViewBoundaryReadRight) {
    StoreBuilder b;
    size_t p = b.addPack("GAME0.VFS");
    b.addFile(p, "head", "h");
    b.padTo(p, 65536);
    b.addFile(p, "aligned", patternBytes(70000, 1));  // crosses the next boundary
    b.padTo(p, 3 * 65536 + 5);
    b.addFile(p, "off", patternBytes(10, 2));
    b.write();
    VfsStoreRef store = OpenVFS("data.idx", 0);
    ASSERT_NE(store, nullptr);
    struct Case {
        const char* path;
        uint32_t delta;
        std::string bytes;
    } cases[] = {{"aligned", 0, patternBytes(70000, 1)}, {"off", 5, patternBytes(10, 2)}, {"head", 0, "h"}};
    for (const Case& c : cases) {
        VFileRef f = VOpenFile(c.path, store);
        ASSERT_NE(f, nullptr) << c.path;
        EXPECT_EQ(reinterpret_cast<vfs::VFile*>(f)->viewDelta, c.delta) << c.path;
        std::string got(c.bytes.size(), '\0');
        EXPECT_EQ(vfread(got.data(), 1, static_cast<uint32_t>(got.size()), f), got.size());
        EXPECT_EQ(got, c.bytes) << c.path;
        VCloseFile(f);
    }
    CloseVFS(store);
}

TEST_F(FileTest, FilesStayReadableAfterTheStoreIsClosed) {
    StoreBuilder b;
    size_t p = b.addPack("GAME0.VFS");
    b.addFile(p, "a", patternBytes(5000, 4));
    b.write();
    ASSERT_TRUE(writeFileBytes("loose", "loose bytes"));
    VfsStoreRef store = OpenVFS("data.idx", 0);
    ASSERT_NE(store, nullptr);
    VFileRef stored = VOpenFile("a", store);
    VFileRef loose = VOpenFile("loose", store);
    ASSERT_NE(stored, nullptr);
    ASSERT_NE(loose, nullptr);
    CloseVFS(store);
    std::string got(5000, '\0');
    EXPECT_EQ(vfread(got.data(), 1000, 5, stored), 5u);
    EXPECT_EQ(got, patternBytes(5000, 4));
    char text[11];
    EXPECT_EQ(vfread(text, 1, 11, loose), 11u);
    EXPECT_EQ(std::string(text, 11), "loose bytes");
    VCloseFile(stored);
    VCloseFile(loose);
    VCloseFile(nullptr);
    CloseVFS(nullptr);
}

TEST_F(FileTest, AViewThatCannotBeMappedOpensNothing) {
    StoreBuilder b;
    size_t p = b.addPack("GAME0.VFS");
    b.addFile(p, "a", "abc");
    b.write();
    FaultEnv env;
    vfs::VfsStore* store = vfs::openStore(env, "data.idx");
    ASSERT_NE(store, nullptr);
    // The packs are mapped; from here on no view of them can be (as when the address space is
    // exhausted).
    env.failCalls(FaultEnv::Map);
    EXPECT_TRUE(vfs::fileExistsInPacks(store, "a"));
    EXPECT_EQ(vfs::openFile("a", store), nullptr);
    vfs::closeStore(store);
}

TEST_F(FileTest, ManyThreadsReadOneStore) {
    constexpr int Files = 64;
    StoreBuilder b;
    size_t p0 = b.addPack("GAME0.VFS");
    size_t p1 = b.addPack("GAME1.VFS");
    for (int i = 0; i < Files; ++i) {
        b.addFile(i % 2 ? p1 : p0, "file" + std::to_string(i), patternBytes(1000 + 97 * i, i));
    }
    b.write();
    VfsStoreRef store = OpenVFS("data.idx", 0);
    ASSERT_NE(store, nullptr);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 20; ++round) {
                for (int i = t; i < Files; i += 3) {
                    std::string path = "file" + std::to_string(i);
                    VFileRef f = VOpenFile(path.c_str(), store);
                    if (!f) {
                        ++wrong;
                        continue;
                    }
                    std::string got(static_cast<size_t>(vfgetsize(f)), '\0');
                    // Read in uneven chunks so positions interleave between threads.
                    size_t at = 0;
                    while (at < got.size()) {
                        uint32_t n = vfread(&got[at], 1, 333, f);
                        if (n == 0) break;
                        at += n;
                    }
                    if (got != patternBytes(1000 + 97 * i, i) || VGetFileLength(store, path.c_str()) != vfgetsize(f)) {
                        ++wrong;
                    }
                    VCloseFile(f);
                }
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);
    CloseVFS(store);
}

TEST(Exports, ConstantAnswers) {
    const char* name = nullptr;
    EXPECT_EQ(VGetVfsCount(0), 1);
    EXPECT_EQ(VGetVfsNames(0, &name, 0, 0), 1);
    EXPECT_STREQ(name, "data.brf");
    EXPECT_EQ(VGetVfsNames(0, nullptr, 0, 0), 1);
    EXPECT_EQ(VGetCurVersion(0), 3);
    EXPECT_EQ(VGetStdVersion(0), 1);
    EXPECT_EQ(VGetFileNames(1, 2, 3, 4, 5), 0);
    EXPECT_FALSE(VSetFileInfo(1, 2, 3));
    EXPECT_EQ(VAddFile(1, 2, 3, 4, 5, 6, 7, 8, 9), 0);
    EXPECT_FALSE(VAddVfs(1, 2));
    EXPECT_EQ(VRemoveFile(1, 2), 0);
    EXPECT_EQ(VTestFile(1, 2), 1);
    EXPECT_EQ(VGetError(), 0);
    EXPECT_EQ(ComputeCrc(1, 2), 0);
    VGetFileInfo(1, 2, 3, 4);
    VSetCurVersion(1, 2);
    VSetStdVersion(1, 2);
    VClearBlankAll(1, 2);
}

TEST(Exports, NullStoresAndFilesGiveFailureValues) {
    EXPECT_EQ(VOpenFile("a", nullptr), nullptr);
    EXPECT_FALSE(VFileExists(nullptr, "a"));
    EXPECT_FALSE(VFileExistsInVfs(nullptr, "a"));
    EXPECT_EQ(VGetFileLength(nullptr, "a"), 0);
    EXPECT_EQ(VGetFileCount(nullptr, "GAME0.VFS"), 0);
    EXPECT_EQ(VGetTotFileCount(nullptr), 0);
    EXPECT_EQ(vfgetsize(nullptr), 0);
    EXPECT_EQ(vSetReadPath(nullptr, 1), 0);
}

TEST_F(FileTest, WriteLikeExportsLeaveTheStoreAlone) {
    StoreBuilder b;
    size_t p = b.addPack("GAME0.VFS");
    b.addFile(p, "a", "abc");
    b.write();
    std::string index = readFileBytes("data.idx"), pack = readFileBytes("GAME0.VFS");
    VfsStoreRef store = OpenVFS("data.idx", 0);
    ASSERT_NE(store, nullptr);
    uintptr_t s = reinterpret_cast<uintptr_t>(store);
    uintptr_t path = reinterpret_cast<uintptr_t>("a");
    EXPECT_EQ(VAddFile(s, path, path, 3, 0, 0, 0, 0, 0), 0);
    EXPECT_EQ(VRemoveFile(s, path), 0);
    VClearBlankAll(s, 0);
    EXPECT_FALSE(VSetFileInfo(s, path, 0));
    EXPECT_TRUE(VFileExistsInVfs(store, "a"));
    CloseVFS(store);
    EXPECT_EQ(readFileBytes("data.idx"), index);
    EXPECT_EQ(readFileBytes("GAME0.VFS"), pack);
}

}  // namespace
