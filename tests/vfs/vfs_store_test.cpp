// Opening stores and looking paths up, through the exported interface.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/env.h"
#include "tests/support/temp_dir.h"
#include "tests/vfs/store_builder.h"
#include "vfs/vfs_exports.h"

namespace {

class StoreTest : public ::testing::Test {
protected:
    TempDir dir;
    ScopedCurrentDir cd{dir.path()};
    VfsStoreRef store = nullptr;

    void TearDown() override { CloseVFS(store); }

    VfsStoreRef open(const StoreBuilder& b) {
        b.write();
        store = OpenVFS("data.idx", 0);
        return store;
    }
    std::string read(const char* path) {
        VFileRef f = VOpenFile(path, store);
        if (!f) return "<none>";
        std::string out(static_cast<size_t>(vfgetsize(f)), '\0');
        uint32_t got = vfread(out.data(), 1, static_cast<uint32_t>(out.size()), f);
        VCloseFile(f);
        return got == out.size() ? out : "<short>";
    }
};

TEST_F(StoreTest, MissingIndexGivesNoStore) {
    EXPECT_EQ(OpenVFS("no-such.idx", 0), nullptr);
    EXPECT_EQ(OpenVFS(nullptr, 0), nullptr);
}

TEST_F(StoreTest, StoreWithoutPacksAnswersNothing) {
    ASSERT_TRUE(writeFileBytes("data.idx", std::string("\x07\0\0\0\x55", 5)));
    store = OpenVFS("data.idx", 0);
    ASSERT_NE(store, nullptr);
    EXPECT_FALSE(VFileExistsInVfs(store, "a.txt"));
    EXPECT_FALSE(VFileExists(store, "a.txt"));
    EXPECT_EQ(VGetTotFileCount(store), 0);
    EXPECT_EQ(VGetFileCount(store, "GAME0.VFS"), 0);
    EXPECT_EQ(VGetFileLength(store, "a.txt"), 0);  // no packs: 0, not -1
    EXPECT_EQ(VOpenFile("a.txt", store), nullptr);
}

TEST_F(StoreTest, MalformedIndexesGiveNoStore) {
    StoreBuilder b;
    size_t p = b.addPack("GAME0.VFS");
    b.addFile(p, "a.txt", "hello");
    b.write();
    std::vector<uint8_t> good = b.indexBytes();
    std::string goodText(good.begin(), good.end());

    struct Case {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"empty", ""},
        {"header cut", goodText.substr(0, 3)},
        {"table cut", goodText.substr(0, goodText.size() - 1)},
        {"bytes left over", goodText + "x"},
        {"name length 0", std::string("\1\0\0\0\x54\0\0\0\0\0", 10)},
        {"name length 32", std::string("\1\0\0\0\x54\x20", 6) + std::string(32, 'A') + std::string(4, '\0')},
        {"count past the end", std::string("\1\0\0\0\x54\1A\x10\0\0\0", 11)},
        {"name starting with a zero byte", std::string("\1\0\0\0\x54\2\0A\0\0\0\0", 12)},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(writeFileBytes("bad.idx", c.bytes));
        VfsStoreRef s = OpenVFS("bad.idx", 0);
        EXPECT_EQ(s, nullptr) << c.what;
        CloseVFS(s);
    }
    store = OpenVFS("data.idx", 0);
    ASSERT_NE(store, nullptr);
    EXPECT_EQ(read("a.txt"), "hello");
}

TEST_F(StoreTest, EveryFormOfAPathFindsTheSameEntry) {
    StoreBuilder b;
    size_t p = b.addPack("GAME0.VFS");
    b.addFile(p, "DATA\\LIST.TXT", "list");
    ASSERT_NE(open(b), nullptr);
    for (const char* path : {"data/list.txt", "DATA\\LIST.TXT", " data\\\\list.txt ", "Data/List.Txt"}) {
        EXPECT_TRUE(VFileExistsInVfs(store, path)) << path;
        EXPECT_EQ(VGetFileLength(store, path), 4) << path;
        EXPECT_EQ(read(path), "list") << path;
    }
    // Two slashes stay two separators, so this is another path.
    EXPECT_FALSE(VFileExistsInVfs(store, "data//list.txt"));
    EXPECT_EQ(VGetFileLength(store, "data//list.txt"), -1);
}

TEST_F(StoreTest, HighBytesInPathsAreHashedAsSigned) {
    StoreBuilder b;
    size_t p = b.addPack("GAME0.VFS");
    b.addFile(p, "m\xE9todo\\\xC7\xC3O.dat", "acentos");
    ASSERT_NE(open(b), nullptr);
    EXPECT_EQ(read("M\xE9TODO/\xC7\xC3o.DAT"), "acentos");
    // Only a-z are upper-cased: a lower-case accented letter is another byte.
    EXPECT_FALSE(VFileExistsInVfs(store, "m\xC9todo\\\xC7\xC3O.dat"));
}

TEST_F(StoreTest, FirstOccurrenceOfAKeyWins) {
    StoreBuilder b;
    size_t p0 = b.addPack("GAME0.VFS");
    size_t p1 = b.addPack("GAME1.VFS");
    b.addFile(p0, "twice.txt", "first");
    b.addFile(p0, "twice.txt", "second");
    b.addFile(p1, "twice.txt", "third");
    b.addFile(p1, "later.txt", "pack one");
    b.addFile(p0, "later.txt", "pack zero");
    ASSERT_NE(open(b), nullptr);
    EXPECT_EQ(read("twice.txt"), "first");
    EXPECT_EQ(read("later.txt"), "pack zero");
    EXPECT_EQ(VGetTotFileCount(store), 5);  // duplicates count
    EXPECT_EQ(VGetFileCount(store, "GAME0.VFS"), 3);
    EXPECT_EQ(VGetFileCount(store, "GAME1.VFS"), 2);
    EXPECT_EQ(VGetFileCount(store, "game0.vfs"), 0);  // names compare exactly
    EXPECT_EQ(VGetFileCount(store, "GAME2.VFS"), 0);
}

TEST_F(StoreTest, MasksPastTheirRepeatPointsReadBack) {
    // 65 packs (the count mask repeats at 64), the last with 40 entries (key, offset and length masks
    // repeat at 16, 32 and 4 entries).
    StoreBuilder b;
    for (int i = 0; i < 65; ++i) {
        size_t p = b.addPack("P" + std::to_string(i) + ".VFS");
        b.addFile(p, "pack" + std::to_string(i) + ".bin", patternBytes(10 + i, i));
    }
    for (int j = 0; j < 40; ++j) b.addFile(64, "entry" + std::to_string(j), patternBytes(100 + j, 1000 + j));
    ASSERT_NE(open(b), nullptr);
    EXPECT_EQ(VGetTotFileCount(store), 65 + 40);
    EXPECT_EQ(VGetFileCount(store, "P64.VFS"), 41);
    for (int i = 0; i < 65; ++i) {
        std::string path = "pack" + std::to_string(i) + ".bin";
        EXPECT_EQ(read(path.c_str()), patternBytes(10 + i, i)) << path;
    }
    for (int j = 0; j < 40; ++j) {
        std::string path = "entry" + std::to_string(j);
        EXPECT_EQ(read(path.c_str()), patternBytes(100 + j, 1000 + j)) << path;
    }
}

TEST_F(StoreTest, UnreadablePacksAreSteppedOver) {
    // A missing pack and an empty pack file (which cannot be mapped) between readable ones: their
    // tables are skipped and the packs after them are still read right.
    StoreBuilder b;
    size_t p0 = b.addPack("GAME0.VFS");
    size_t p1 = b.addPack("GAME1.VFS");
    size_t p2 = b.addPack("GAME2.VFS");
    size_t p3 = b.addPack("GAME3.VFS");
    b.addFile(p0, "zero.txt", "0");
    b.addFile(p1, "one.txt", "11");
    b.addFile(p1, "one-b.txt", "111");
    b.addFile(p2, "empty.txt", "");
    b.addFile(p3, "three.txt", "3333");
    b.leaveOut(p1);
    ASSERT_NE(open(b), nullptr);
    EXPECT_EQ(read("zero.txt"), "0");
    EXPECT_EQ(read("three.txt"), "3333");
    EXPECT_FALSE(VFileExistsInVfs(store, "one.txt"));
    EXPECT_FALSE(VFileExistsInVfs(store, "empty.txt"));
    EXPECT_EQ(VGetFileLength(store, "one.txt"), -1);
    EXPECT_EQ(VGetFileCount(store, "GAME1.VFS"), 0);
    EXPECT_EQ(VGetFileCount(store, "GAME2.VFS"), 0);
    EXPECT_EQ(VGetTotFileCount(store), 2);
}

TEST_F(StoreTest, StoreWhoseOnlyPackIsMissingCountsNothing) {
    StoreBuilder b;
    size_t p = b.addPack("GAME0.VFS");
    b.addFile(p, "a", "a");
    b.leaveOut(p);
    ASSERT_NE(open(b), nullptr);
    EXPECT_EQ(VGetTotFileCount(store), 0);
    EXPECT_EQ(VGetFileLength(store, "a"), -1);
}

TEST_F(StoreTest, NegativeEntryCountsAreReportedAsStated) {
    // A pack whose index states a negative count lists nothing, but the counts report the number
    // as the index states it, and the total sums the stated counts in 32 bits.
    struct Case {
        int32_t first;
        int32_t second;
        int32_t total;
    } cases[] = {
        {-3, 2, -1},
        {-1, 0, -1},
        {INT32_MIN, -1, INT32_MAX},
    };
    for (const Case& c : cases) {
        StoreBuilder b;
        size_t p0 = b.addPack("GAME0.VFS");
        size_t p1 = b.addPack("GAME1.VFS");
        b.padTo(p0, 16);  // a pack with bytes, so it is opened and mapped
        b.stateCount(p0, c.first);
        for (int32_t i = 0; i < c.second; ++i) b.addFile(p1, "f" + std::to_string(i), "x");
        b.padTo(p1, 16);
        if (c.second < 0) b.stateCount(p1, c.second);
        CloseVFS(store);
        ASSERT_NE(open(b), nullptr) << c.first;
        EXPECT_EQ(VGetFileCount(store, "GAME0.VFS"), c.first);
        EXPECT_EQ(VGetFileCount(store, "GAME1.VFS"), c.second);
        EXPECT_EQ(VGetTotFileCount(store), c.total) << c.first << " + " << c.second;
        if (c.second > 0) {
            EXPECT_EQ(read("f0"), "x");
        }
    }
}

TEST_F(StoreTest, EntriesOutsideTheirPackAreListedButNeverServed) {
    StoreBuilder b;
    size_t p0 = b.addPack("GAME0.VFS");
    size_t p1 = b.addPack("GAME1.VFS");
    b.addFile(p0, "good.txt", "good bytes");
    b.addEntry(p0, keyOf("past-end.txt"), 5, 6);            // ends one byte past the pack
    b.addEntry(p0, keyOf("wraps.txt"), 0xFFFFFFF0u, 0x20);  // end wraps around 32 bits
    b.addEntry(p0, keyOf("at-end.txt"), 10, 0);             // empty, exactly at the end: fine
    b.addFile(p1, "past-end.txt", "a copy in a later pack");
    ASSERT_NE(open(b), nullptr);
    for (const char* path : {"past-end.txt", "wraps.txt"}) {
        EXPECT_EQ(VOpenFile(path, store), nullptr) << path;
        EXPECT_EQ(VGetFileLength(store, path), -1) << path;
        // The store does list them: the existence queries say so.
        EXPECT_TRUE(VFileExistsInVfs(store, path)) << path;
        EXPECT_TRUE(VFileExists(store, path)) << path;
    }
    EXPECT_EQ(read("good.txt"), "good bytes");
    EXPECT_EQ(read("at-end.txt"), "");
    EXPECT_EQ(VGetFileCount(store, "GAME0.VFS"), 4);
}

TEST_F(StoreTest, EntriesPastTwoGigabytesAreNeverServed) {
    // A sparse pack just over 2 GiB: an entry that ends past 2^31 - 1 is refused, one below is served.
    StoreBuilder b;
    size_t p = b.addPack("GAME0.VFS");
    b.addFile(p, "head.txt", "head");
    b.addEntry(p, keyOf("high.txt"), 0x7FFFFFF0u, 0x20);
    b.addEntry(p, keyOf("below.txt"), 0x7FFFFF00u, 0x10);
    b.write();
    std::error_code ec;
    std::filesystem::resize_file("GAME0.VFS", 0x80001000ull, ec);
    if (ec) GTEST_SKIP() << "cannot make a sparse file here: " << ec.message();
    store = OpenVFS("data.idx", 0);
    ASSERT_NE(store, nullptr);
    EXPECT_EQ(VGetFileLength(store, "high.txt"), -1);
    EXPECT_EQ(VOpenFile("high.txt", store), nullptr);
    EXPECT_TRUE(VFileExistsInVfs(store, "high.txt"));
    EXPECT_EQ(read("below.txt"), std::string(16, '\0'));
    EXPECT_EQ(read("head.txt"), "head");
    CloseVFS(store);
    store = nullptr;
    std::filesystem::remove("GAME0.VFS");
}

TEST_F(StoreTest, LooseFilesAndFolders) {
    StoreBuilder b;
    size_t p = b.addPack("GAME0.VFS");
    b.addFile(p, "cfg.txt", "stored copy");
    b.addFile(p, "folder", "stored folder");
    ASSERT_NE(open(b), nullptr);
    ASSERT_TRUE(writeFileBytes("cfg.txt", "loose"));
    ASSERT_TRUE(writeFileBytes("only-loose.txt", "only on disk"));
    std::filesystem::create_directory("folder");

    // A loose copy wins while reading from disk is allowed.
    EXPECT_EQ(read("cfg.txt"), "loose");
    EXPECT_EQ(read("only-loose.txt"), "only on disk");
    // A folder passes the loose checks but cannot be opened: no fall-back to the stored copy.
    EXPECT_EQ(VOpenFile("folder", store), nullptr);
    EXPECT_TRUE(VFileExists(store, "folder"));
    EXPECT_EQ(VGetFileLength(store, "folder"), 0);

    EXPECT_TRUE(VFileExists(store, "only-loose.txt"));
    EXPECT_FALSE(VFileExistsInVfs(store, "only-loose.txt"));

    EXPECT_EQ(vSetReadPath(store, 0), 1);
    EXPECT_EQ(read("cfg.txt"), "stored copy");
    EXPECT_EQ(read("folder"), "stored folder");
    EXPECT_EQ(VOpenFile("only-loose.txt", store), nullptr);
    // The size and existence queries look at the disk whatever the flag says.
    EXPECT_EQ(VGetFileLength(store, "cfg.txt"), 5);
    EXPECT_TRUE(VFileExists(store, "only-loose.txt"));

    EXPECT_EQ(vSetReadPath(store, 2), 1);
    EXPECT_EQ(read("cfg.txt"), "loose");
    EXPECT_EQ(vSetReadPath(nullptr, 1), 0);
}

TEST_F(StoreTest, LooseFilesAreFoundByWindowsPaths) {
    // The game asks with backslashes; a loose copy in a subfolder answers on every build.
    StoreBuilder b;
    b.addPack("GAME0.VFS");
    ASSERT_NE(open(b), nullptr);
    std::filesystem::create_directories("loose/sub");
    ASSERT_TRUE(writeFileBytes("loose/sub/a.txt", "on disk"));
    EXPECT_TRUE(VFileExists(store, "loose\\sub\\a.txt"));
    EXPECT_EQ(VGetFileLength(store, "loose\\sub\\a.txt"), 7);
    EXPECT_EQ(read("loose\\sub\\a.txt"), "on disk");
    EXPECT_EQ(VGetFileLength(store, "loose\\sub"), 0);  // a folder
}

TEST_F(StoreTest, OverlongPathsAreNotFound) {
    std::string longPath(1024, 'a');
    StoreBuilder b;
    size_t p = b.addPack("GAME0.VFS");
    b.addFile(p, std::string(1023, 'a'), "longest");
    ASSERT_NE(open(b), nullptr);
    EXPECT_EQ(read(std::string(1023, 'a').c_str()), "longest");
    EXPECT_FALSE(VFileExistsInVfs(store, longPath.c_str()));
    EXPECT_FALSE(VFileExists(store, longPath.c_str()));
    EXPECT_EQ(VGetFileLength(store, longPath.c_str()), -1);
    EXPECT_EQ(VOpenFile(longPath.c_str(), store), nullptr);
}

TEST_F(StoreTest, PackHeldForWritingCannotBeRead) {
    // While the launcher runs it holds every pack open for writing; the library's open then fails.
    StoreBuilder b;
    size_t p = b.addPack("GAME0.VFS");
    b.addFile(p, "a.txt", "held");
    b.write();
    platform::Env& env = platform::defaultEnv();
    platform::File* writer = env.openReadWrite("GAME0.VFS");
    ASSERT_NE(writer, nullptr);
    store = OpenVFS("data.idx", 0);
    ASSERT_NE(store, nullptr);
    EXPECT_FALSE(VFileExistsInVfs(store, "a.txt"));
    CloseVFS(store);
    env.closeFile(writer);
    store = OpenVFS("data.idx", 0);
    EXPECT_EQ(read("a.txt"), "held");
}

struct ConvertCase {
    const char* in;
    const char* out;
};
const ConvertCase convertCases[] = {
    {"  data/list.txt  ", "DATA\\LIST.TXT"},
    {"a//b", "A\\\\B"},
    {"a\\\\b", "A\\B"},
    {"a\\\\\\b", "A\\\\B"},
    {"a\\\\\\\\b", "A\\\\B"},
    {"\tx ", "\tX"},
    {"c:\\..\\x\\", "C:\\..\\X\\"},
};

TEST(ConvertPath, NormalisesIntoTheBuffer) {
    for (const ConvertCase& c : convertCases) {
        char out[1024];
        std::memset(out, 'z', sizeof out);
        EXPECT_TRUE(__ConvertPath(c.in, out)) << c.in;
        EXPECT_STREQ(out, c.out) << c.in;
    }
    char out[1024] = "unchanged";
    EXPECT_FALSE(__ConvertPath(std::string(1024, 'a').c_str(), out));
    EXPECT_STREQ(out, "");
}

TEST(ConvertPath, NormalisesInPlace) {
    // Game clients pass one buffer as both source and destination.
    for (const ConvertCase& c : convertCases) {
        char buffer[1024] = {};
        std::strcpy(buffer, c.in);
        EXPECT_TRUE(__ConvertPath(buffer, buffer)) << c.in;
        EXPECT_STREQ(buffer, c.out) << c.in;
    }
    std::string longest(1023, 'a');
    char buffer[1024];
    std::memcpy(buffer, longest.c_str(), longest.size() + 1);
    EXPECT_TRUE(__ConvertPath(buffer, buffer));
    EXPECT_EQ(std::string(buffer), std::string(1023, 'A'));
}

TEST(ConvertPath, MissingBuffersGiveFalse) {
    char out[1024] = "unchanged";
    EXPECT_FALSE(__ConvertPath(nullptr, out));
    EXPECT_STREQ(out, "");
    EXPECT_FALSE(__ConvertPath("a", nullptr));
}

}  // namespace
