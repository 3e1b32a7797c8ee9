// Loading "data.idx": what is kept, what is refused, and what the load always does.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "launcher/core/debug_log.h"
#include "launcher/packstore/pack_store.h"
#include "tests/packstore/store_env_scope.h"
#include "tests/packstore/store_fixture.h"
#include "tests/support/fault_env.h"

using namespace packstore;
using packformat::IndexEntry;

namespace {

class PackIndexLoad : public StoreTest {};

// Collects the debug log while alive.
class LogCapture {
public:
    explicit LogCapture(const std::string& path) : path_(path), out_(std::fopen(path.c_str(), "wb")) {
        core::DebugLog::instance().setOutput(out_);
    }
    ~LogCapture() { release(); }
    std::string text() {
        release();
        return readFileBytes(path_);
    }

private:
    void release() {
        if (!out_) return;
        core::DebugLog::instance().setOutput(stdout);
        std::fclose(out_);
        out_ = nullptr;
    }
    std::string path_;
    std::FILE* out_;
};

}  // namespace

TEST_F(PackIndexLoad, WithoutAnIndexNothingIsLoadedButThePatchListGoes) {
    ASSERT_TRUE(writeFileBytes("patch.hpl", "stale"));
    loadPackIndex();
    EXPECT_FALSE(indexLoaded);
    EXPECT_EQ(currentPatch, 0u);
    EXPECT_EQ(packIndex.indexPath, "data.idx");
    EXPECT_FALSE(fileExists("patch.hpl"));
}

TEST_F(PackIndexLoad, StoreWithoutPacksGivesItsVersion) {
    struct Case {
        std::string bytes;
        uint32_t patch;
    } cases[] = {
        {std::string("\x0A\x00\x00\x00\x55", 5), 10u},
        {std::string("\xFE\xFF\xFF\xFF\x55", 5), 0xFFFFFFFEu},  // signed -2, as its 32 bits
    };
    for (const Case& c : cases) {
        releasePackIndex();
        ASSERT_TRUE(writeFileBytes("data.idx", c.bytes));
        ASSERT_TRUE(writeFileBytes("patch.hpl", "x"));
        loadPackIndex();
        EXPECT_TRUE(indexLoaded);
        EXPECT_EQ(currentPatch, c.patch);
        EXPECT_EQ(packIndex.packCount, 0u);
        EXPECT_TRUE(packIndex.packs.empty());
        EXPECT_NE(packIndex.indexStream, nullptr);
        EXPECT_FALSE(fileExists("patch.hpl"));
    }
}

TEST_F(PackIndexLoad, KeepsEveryPackAndEntryInOrder) {
    std::vector<FixturePack> packs = {
        {"GAME0.VFS", {{7, "seven"}, {3, "three"}, {9, ""}}},
        {"GAME1.VFS", {}},  // a pack file of zero bytes opens and its (empty) table is read
        {"sub.vfs", {{11, contentOf(300, 11)}, {7, "shadowed"}}},
    };
    writeStore(12, packs);
    loadPackIndex();
    ASSERT_TRUE(indexLoaded);
    EXPECT_EQ(currentPatch, 12u);
    ASSERT_EQ(packIndex.packCount, 3u);
    ASSERT_EQ(packIndex.packs.size(), 3u);
    EXPECT_EQ(packIndex.packs[2].name, "sub.vfs");
    EXPECT_EQ(packIndex.packs[2].file->path, "sub.vfs");
    for (const PackSlot& slot : packIndex.packs) EXPECT_NE(slot.file->fileHandle, nullptr) << slot.name;
    EXPECT_EQ(liveEntries(*packIndex.packs[0].file), (std::vector<IndexEntry>{{7, 0, 5}, {3, 5, 5}, {9, 10, 0}}));
    EXPECT_TRUE(liveEntries(*packIndex.packs[1].file).empty());
    EXPECT_EQ(liveEntries(*packIndex.packs[2].file), (std::vector<IndexEntry>{{11, 0, 300}, {7, 300, 8}}));
    EXPECT_EQ(packFileSize(*packIndex.packs[2].file), 308u);
}

TEST_F(PackIndexLoad, NegativeEntryCountMeansNoTable) {
    packformat::StoreIndex index;
    index.version = 3;
    packformat::IndexPack p;
    p.name = "GAME0.VFS";
    p.entryCount = -5;
    index.packs.push_back(p);
    std::vector<uint8_t> bytes;
    std::string why;
    ASSERT_TRUE(packformat::encodeIndex(index, &bytes, &why)) << why;
    ASSERT_TRUE(writeFileBytes("data.idx", std::string(bytes.begin(), bytes.end())));
    ASSERT_TRUE(writeFileBytes("GAME0.VFS", "abc"));
    loadPackIndex();
    ASSERT_TRUE(indexLoaded);
    ASSERT_EQ(packIndex.packs.size(), 1u);
    EXPECT_EQ(packIndex.packs[0].file->entryCount(), 0u);
}

TEST_F(PackIndexLoad, DamagedIndexIsNotLoadedAndTheLogSaysWhy) {
    // A good index of two packs to cut and extend.
    writeStore(5, {{"GAME0.VFS", {{1, "one"}, {2, "two"}}}, {"GAME1.VFS", {{3, "three"}}}});
    const std::string good = readFileBytes("data.idx");
    struct Case {
        const char* what;
        std::string bytes;
        const char* reason;
    } cases[] = {
        {"ends inside the header", good.substr(0, 3), "header"},
        {"ends inside a name", good.substr(0, 5 + 1 + 4), "name"},
        {"ends inside a table", good.substr(0, good.size() - 1), "past the end"},
        {"bytes left over", good + std::string("\0\0", 2), "left over"},
        {"name length 0", std::string("\x05\0\0\0\x54\x00\0\0\0\0", 10), "name length"},
        {"name length 32", std::string("\x05\0\0\0\x54\x20", 6) + std::string(32, 'A') + std::string(4, '\0'),
         "name length"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        releasePackIndex();
        ASSERT_TRUE(writeFileBytes("data.idx", c.bytes));
        ASSERT_TRUE(writeFileBytes("patch.hpl", "x"));
        LogCapture log(dir_.file("log.txt"));
        loadPackIndex();
        EXPECT_FALSE(indexLoaded);
        EXPECT_EQ(currentPatch, 0u);
        EXPECT_TRUE(packIndex.packs.empty());
        EXPECT_EQ(packIndex.indexStream, nullptr);
        EXPECT_FALSE(fileExists("patch.hpl"));
        std::string text = log.text();
        EXPECT_NE(text.find("data.idx not loaded"), std::string::npos) << text;
        EXPECT_NE(text.find(c.reason), std::string::npos) << text;
    }
}

TEST_F(PackIndexLoad, MissingPackIsSteppedOverAndKeepsItsEntries) {
    writeStore(4, {{"GAME0.VFS", {{1, "a"}}},
                   {"GONE.VFS", {{2, "bb"}, {3, "ccc"}}, 0, false},
                   {"GAME2.VFS", {{4, "dddd"}, {5, "eeeee"}}}});
    loadPackIndex();
    ASSERT_TRUE(indexLoaded);
    ASSERT_EQ(packIndex.packs.size(), 3u);
    EXPECT_EQ(packIndex.packs[1].file->fileHandle, nullptr);
    EXPECT_EQ(packIndex.packs[1].file->entryCount(), 2u);
    // The pack after it is read from the right place.
    EXPECT_EQ(liveEntries(*packIndex.packs[2].file), (std::vector<IndexEntry>{{4, 0, 4}, {5, 4, 5}}));
    EXPECT_EQ(findPackWithRoom(1), &packIndex.packs[0]);

    // Replacing a file of the missing pack still takes its entry out.
    ASSERT_TRUE(storePackedFile(3, reinterpret_cast<const uint8_t*>("new3"), 4));
    ASSERT_TRUE(savePackIndex());
    std::string why;
    std::string raw = readFileBytes("data.idx");
    packformat::StoreIndex saved;
    ASSERT_TRUE(packformat::decodeIndex(reinterpret_cast<const uint8_t*>(raw.data()), raw.size(), &saved, &why)) << why;
    ASSERT_EQ(saved.packs.size(), 3u);
    EXPECT_EQ(saved.packs[1].entries, (std::vector<IndexEntry>{{2, 0, 2}}));
    EXPECT_EQ(saved.packs[0].entries, (std::vector<IndexEntry>{{1, 0, 1}, {3, 1, 4}}));
}

TEST_F(PackIndexLoad, LogLinesSayWhyACallFailed) {
#ifdef _WIN32
    const char* missingFile = "(CreateFileA: ";
#else
    const char* missingFile = "(open: No such file or directory (errno 2))";
#endif
    struct Case {
        const char* what;
        bool packMissing;
        unsigned failKinds;
        int failNumber;  // of the calls of failKinds; 0: every one
        bool save;       // store one file and save, rather than load
        std::string line;
    } cases[] = {
        {"a pack that is not there", true, 0, 0, false,
         std::string("Pack GONE.VFS cannot be opened; its 1 entries cannot be read ") + missingFile},
        {"a pack that cannot be opened", false, FaultEnv::Open, 2, false,
         "Pack GONE.VFS cannot be opened; its 1 entries cannot be read (open: injected fault)"},
        {"an index that cannot be opened", false, FaultEnv::Open, 1, false,
         "data.idx cannot be opened (open: injected fault)"},
        {"an index that cannot be read", false, FaultEnv::Read, 2, false, "(read: injected fault)"},
        {"a write to a pack", false, FaultEnv::Write, 0, true,
         "Writing 3 bytes to pack GONE.VFS failed (write: injected fault)"},
        {"a new index that cannot be replaced", false, FaultEnv::Namespace, 2, true,
         "data.idx cannot be replaced (replace: injected fault)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        releasePackIndex();
        writeStore(4, {{"GONE.VFS", {{1, "a"}}, 0, !c.packMissing}});
        FaultEnv fault;
        LogCapture log(dir_.file("log.txt"));
        {
            StoreEnvScope use(fault);
            if (c.save) {
                loadPackIndex();
                ASSERT_TRUE(indexLoaded);
            }
            if (c.failNumber > 0) {
                fault.failCallNumber(c.failKinds, c.failNumber);
            } else {
                fault.failCalls(c.failKinds);
            }
            if (c.save) {
                EXPECT_FALSE(storePackedFile(2, reinterpret_cast<const uint8_t*>("two"), 3) && savePackIndex());
            } else {
                loadPackIndex();
            }
        }
        std::string text = log.text();
        EXPECT_NE(text.find(c.line), std::string::npos) << text;
    }
}

TEST_F(PackIndexLoad, LeftoverNewIndexIsIgnoredAndRemoved) {
    writeStore(8, {{"GAME0.VFS", {{1, "old"}}}});
    ASSERT_TRUE(writeFileBytes("data.idx.new", std::string("\x09\x00", 2)));  // half written
    loadPackIndex();
    ASSERT_TRUE(indexLoaded);
    EXPECT_EQ(currentPatch, 8u);
    EXPECT_FALSE(fileExists("data.idx.new"));
    EXPECT_TRUE(storeMatches(modelOf(8, {{"GAME0.VFS", {{1, "old"}}}})));
}

TEST_F(PackIndexLoad, ReleaseEmptiesTheStore) {
    writeStore(2, {{"GAME0.VFS", {{1, "x"}}}});
    loadPackIndex();
    ASSERT_TRUE(indexLoaded);
    releasePackIndex();
    EXPECT_FALSE(indexLoaded);
    EXPECT_EQ(currentPatch, 0u);
    EXPECT_TRUE(packIndex.packs.empty());
    EXPECT_EQ(packIndex.indexStream, nullptr);
    // The pack is no longer held: it can be opened for writing again.
    platform::File* f = platform::defaultEnv().openReadWrite("GAME0.VFS");
    EXPECT_NE(f, nullptr);
    platform::defaultEnv().closeFile(f);
}
