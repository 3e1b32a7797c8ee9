// The pack writer: where bytes go, what the saved index holds, and how failures leave the store.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "launcher/packstore/pack_store.h"
#include "packformat/crc_tables.h"
#include "tests/packstore/store_env_scope.h"
#include "tests/packstore/store_fixture.h"
#include "tests/support/fault_env.h"

using namespace packstore;
using packformat::IndexEntry;

namespace {

class PackWriter : public StoreTest {};

const uint8_t* bytesPtr(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }
bool store(uint32_t key, const std::string& s) {
    return storePackedFile(key, bytesPtr(s), static_cast<uint32_t>(s.size()));
}

packformat::StoreIndex savedIndex() {
    std::string raw = readFileBytes("data.idx");
    packformat::StoreIndex index;
    std::string why;
    EXPECT_TRUE(packformat::decodeIndex(reinterpret_cast<const uint8_t*>(raw.data()), raw.size(), &index, &why)) << why;
    return index;
}

uint32_t le32(const std::string& b, size_t at) {
    return static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8 | static_cast<uint8_t>(b[at + 2]) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3])) << 24;
}

}  // namespace

TEST_F(PackWriter, FirstFileOfAnEmptyStoreCreatesGame0) {
    ASSERT_TRUE(writeFileBytes("data.idx", std::string("\x03\0\0\0\x55", 5)));
    loadPackIndex();
    ASSERT_TRUE(indexLoaded);
    ASSERT_TRUE(store(0xABCDEF01u, "hello"));
    ASSERT_EQ(packIndex.packCount, 1u);
    EXPECT_EQ(packIndex.packs[0].name, "GAME0.VFS");
    EXPECT_EQ(liveEntries(*packIndex.packs[0].file), (std::vector<IndexEntry>{{0xABCDEF01u, 0, 5}}));
    ASSERT_TRUE(savePackIndex());
    EXPECT_EQ(packIndex.indexStream, nullptr);
    EXPECT_FALSE(fileExists("data.idx.new"));
    // 5 bytes of header, 5 of pack record plus the name, 12 per entry.
    EXPECT_EQ(readFileBytes("data.idx").size(), 5u + 5u + 9u + 12u);
    EXPECT_EQ(readFileBytes("GAME0.VFS"), "hello");
    EXPECT_TRUE(storeMatches({3, {{0xABCDEF01u, "hello"}}}));
}

TEST_F(PackWriter, SavedFieldsAreMaskedByPositionAndRepeat) {
    writeStore(1, {});
    loadPackIndex();
    const uint32_t key = 0x00C0FFEEu, length = 3;
    for (int j = 0; j < 70; ++j) ASSERT_TRUE(store(key + static_cast<uint32_t>(j), "abc"));
    ASSERT_TRUE(savePackIndex());
    std::string raw = readFileBytes("data.idx");
    const size_t table = 5 + 1 + 9 + 4;
    ASSERT_EQ(raw.size(), table + 70 * 12);
    EXPECT_EQ(le32(raw, table - 4), 70u);  // the count of pack 0 is stored plain
    const auto& t = packformat::Crc16ArcTable;
    for (size_t j : {0u, 1u, 3u, 4u, 5u, 15u, 16u, 17u, 31u, 32u, 33u, 64u, 69u}) {
        SCOPED_TRACE(j);
        size_t at = table + 12 * j;
        uint32_t k = key + static_cast<uint32_t>(j), offset = static_cast<uint32_t>(3 * j);
        EXPECT_EQ(le32(raw, at), k ^ t[(j & 0x0F) * 16]);
        EXPECT_EQ(le32(raw, at + 4), offset ^ t[(j & 0x1F) * 8]);
        EXPECT_EQ(le32(raw, at + 8), length ^ t[(j & 0x03) * 64]);
    }
    // Repeat points: entry 16 has a plain key again, entry 4 a plain length, entry 32 a plain offset.
    EXPECT_EQ(le32(raw, table + 12 * 16), key + 16);
    EXPECT_EQ(le32(raw, table + 12 * 4 + 8), length);
    EXPECT_EQ(le32(raw, table + 12 * 32 + 4), 96u);
    EXPECT_NE(le32(raw, table + 12 * 1), key + 1);
}

TEST_F(PackWriter, CountMaskRepeatsEvery64Packs) {
    std::vector<FixturePack> packs;
    for (int i = 0; i < 66; ++i) packs.push_back({"P" + std::to_string(i), {}});
    writeStore(1, packs);
    loadPackIndex();
    ASSERT_EQ(packIndex.packs.size(), 66u);
    // Pack 0 takes every store; put one entry into packs 1, 64 and 65 directly.
    for (size_t i : {1u, 64u, 65u})
        ASSERT_TRUE(appendPackEntry(*packIndex.packs[i].file, static_cast<uint32_t>(100 + i), bytesPtr("zz"), 2));
    ASSERT_TRUE(savePackIndex());
    std::string raw = readFileBytes("data.idx");
    const auto& t = packformat::Crc16ArcTable;
    size_t at = 5;
    for (size_t i = 0; i < 66; ++i) {
        size_t nameLength = static_cast<uint8_t>(raw[at]);
        uint32_t stored = le32(raw, at + 1 + nameLength);
        uint32_t count = (i == 1 || i == 64 || i == 65) ? 1u : 0u;
        EXPECT_EQ(stored, count ^ t[(i & 0x3F) * 4]) << i;
        at += 1 + nameLength + 4 + 12 * count;
    }
}

TEST_F(PackWriter, SizeLimitBoundary) {
    struct Case {
        uint32_t spare;   // room left in pack 0 before the file
        uint32_t length;  // the file's length
        size_t pack;      // where it must go
    } cases[] = {{10, 10, 0}, {10, 11, 1}, {0, 0, 0}, {0, 1, 1}, {4096, 4095, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.spare) + " " + std::to_string(c.length));
        releasePackIndex();
        std::remove("GAME1.VFS");
        writeStore(1, {{"GAME0.VFS", {}, MaxPackFileSize - c.spare}});
        loadPackIndex();
        ASSERT_TRUE(indexLoaded);
        ASSERT_EQ(packFileSize(*packIndex.packs[0].file), MaxPackFileSize - c.spare);
        std::string data = contentOf(c.length, c.length);
        ASSERT_TRUE(store(77, data));
        ASSERT_EQ(packIndex.packs.size(), c.pack + 1);
        EXPECT_EQ(packIndex.packs[c.pack].name, "GAME" + std::to_string(c.pack) + ".VFS");
        uint32_t offset = c.pack == 0 ? MaxPackFileSize - c.spare : 0;
        EXPECT_EQ(liveEntries(*packIndex.packs[c.pack].file), (std::vector<IndexEntry>{{77, offset, c.length}}));
        ASSERT_TRUE(savePackIndex());
        EXPECT_TRUE(storeMatches({1, {{77, data}}}));
    }
}

TEST_F(PackWriter, FindPackWithRoom) {
    writeStore(1, {{"GAME0.VFS", {{1, "abcd"}}}, {"GAME1.VFS", {}}});
    loadPackIndex();
    EXPECT_EQ(findPackWithRoom(MaxPackFileSize - 4), &packIndex.packs[0]);
    EXPECT_EQ(findPackWithRoom(MaxPackFileSize - 3), &packIndex.packs[1]);
    EXPECT_EQ(findPackWithRoom(MaxPackFileSize), &packIndex.packs[1]);
    // Alone too long for any pack; and a length that would wrap round 32 bits fits nowhere.
    EXPECT_EQ(findPackWithRoom(MaxPackFileSize + 1), nullptr);
    EXPECT_EQ(findPackWithRoom(0xFFFFFFFFu), nullptr);
    EXPECT_EQ(findPackWithRoom(0xFFFFFFFDu), nullptr);
}

TEST_F(PackWriter, ReplacingAKeyOfAFullPackMovesItToAnother) {
    const uint64_t hole = MaxPackFileSize - 8;
    writeStore(6, {{"GAME0.VFS", {{5, "old5"}, {6, "six6"}}, hole}, {"GAME1.VFS", {{9, "nine"}}}});
    loadPackIndex();
    ASSERT_TRUE(store(5, "new five"));  // pack 0 has no room left
    EXPECT_EQ(liveEntries(*packIndex.packs[0].file),
              (std::vector<IndexEntry>{{6, static_cast<uint32_t>(hole + 4), 4}}));
    EXPECT_EQ(liveEntries(*packIndex.packs[1].file), (std::vector<IndexEntry>{{9, 0, 4}, {5, 4, 8}}));
    ASSERT_TRUE(savePackIndex());
    EXPECT_TRUE(storeMatches({6, {{5, "new five"}, {6, "six6"}, {9, "nine"}}}));
    // The old bytes stay where they were, as dead space.
    EXPECT_EQ(packFileSize(*packIndex.packs[0].file), MaxPackFileSize);
}

TEST_F(PackWriter, ZeroLengthAndRepeatedKeys) {
    writeStore(1, {{"GAME0.VFS", {{1, "abc"}}}});
    loadPackIndex();
    ASSERT_TRUE(storePackedFile(2, bytesPtr(""), 0));
    EXPECT_EQ(liveEntries(*packIndex.packs[0].file).back(), (IndexEntry{2, 3, 0}));
    ASSERT_TRUE(store(3, "first"));
    ASSERT_TRUE(store(3, "second"));
    EXPECT_EQ(liveEntries(*packIndex.packs[0].file), (std::vector<IndexEntry>{{1, 0, 3}, {2, 3, 0}, {3, 8, 6}}));
    EXPECT_EQ(readFileBytes("GAME0.VFS"), "abcfirstsecond");
    EXPECT_FALSE(storePackedFile(4, nullptr, 0));
    EXPECT_FALSE(appendPackEntry(*packIndex.packs[0].file, 4, nullptr, 0));
    ASSERT_TRUE(savePackIndex());
    EXPECT_TRUE(storeMatches({1, {{1, "abc"}, {2, ""}, {3, "second"}}}));
}

TEST_F(PackWriter, DuplicateKeysOfAnOldIndexGoFirstOccurrenceFirst) {
    // Key 4 is in pack 0 twice and in pack 1 once.
    writeStore(1, {{"A.VFS", {{4, "a1"}, {8, "x"}, {4, "a2"}}}, {"B.VFS", {{4, "b1"}}}});
    loadPackIndex();
    EXPECT_TRUE(removePackEntry(4));
    EXPECT_EQ(liveEntries(*packIndex.packs[0].file), (std::vector<IndexEntry>{{8, 2, 1}, {4, 3, 2}}));
    // Pack 0 still holds key 4: the bytes are written, no entry is added.
    ASSERT_TRUE(appendPackEntry(*packIndex.packs[0].file, 4, bytesPtr("zz"), 2));
    EXPECT_EQ(packIndex.packs[0].file->entryCount(), 2u);
    EXPECT_EQ(readFileBytes("A.VFS"), "a1xa2zz");
    // Storing removes the next first occurrence (in pack 0), then appends to pack 0 again.
    ASSERT_TRUE(store(4, "new"));
    EXPECT_EQ(liveEntries(*packIndex.packs[0].file), (std::vector<IndexEntry>{{8, 2, 1}, {4, 7, 3}}));
    EXPECT_EQ(liveEntries(*packIndex.packs[1].file), (std::vector<IndexEntry>{{4, 0, 2}}));
    EXPECT_TRUE(removePackEntry(4));
    EXPECT_TRUE(removePackEntry(4));
    EXPECT_FALSE(removePackEntry(4));
    EXPECT_FALSE(removePackEntry(12345));
}

TEST_F(PackWriter, NewPackNameSkipsNamesInUse) {
    // Position 1 would be GAME1.VFS: an unrelated file has it, and pack 0 of the index is GAME2.VFS.
    const uint64_t hole = MaxPackFileSize;
    writeStore(1, {{"GAME2.VFS", {}, hole}});
    ASSERT_TRUE(writeFileBytes("GAME1.VFS", "not a pack"));
    ASSERT_TRUE(writeFileBytes("game3.vfs", "nor this"));
    loadPackIndex();
    EXPECT_EQ(nextPackName(), fileExists("GAME3.VFS") ? "GAME4.VFS" : "GAME3.VFS");
    ASSERT_TRUE(store(1, "data"));
    ASSERT_EQ(packIndex.packs.size(), 2u);
    EXPECT_NE(packIndex.packs[1].name, "GAME1.VFS");
    EXPECT_NE(packIndex.packs[1].name, "GAME2.VFS");
    EXPECT_EQ(readFileBytes("GAME1.VFS"), "not a pack");
    EXPECT_EQ(readFileBytes("game3.vfs"), "nor this");
    EXPECT_EQ(readFileBytes(packIndex.packs[1].name), "data");
    // Asked for by name, a taken name is refused rather than truncated.
    EXPECT_EQ(createPackFile("GAME1.VFS"), nullptr);
    EXPECT_EQ(createPackFile("GAME2.VFS"), nullptr);
    EXPECT_EQ(createPackFile(""), nullptr);
    EXPECT_EQ(createPackFile(std::string(32, 'N').c_str()), nullptr);
    EXPECT_EQ(readFileBytes("GAME1.VFS"), "not a pack");
}

TEST_F(PackWriter, NoMoreThan127Packs) {
    std::vector<FixturePack> packs;
    for (int i = 0; i < 127; ++i) packs.push_back({"M" + std::to_string(i), {}, 0, false});
    writeStore(1, packs);
    loadPackIndex();
    ASSERT_EQ(packIndex.packs.size(), 127u);
    EXPECT_EQ(findPackWithRoom(1), nullptr);  // none of them is open
    EXPECT_FALSE(store(1, "x"));
    EXPECT_EQ(packIndex.packs.size(), 127u);
    EXPECT_FALSE(fileExists("GAME127.VFS"));
}

TEST_F(PackWriter, FailedWritesAreFailuresAndKeepTheOldEntry) {
    struct Case {
        const char* what;
        int failMutation;   // 0: none
        int64_t diskSpace;  // -1: unlimited
        bool needsNewPack;
    } cases[] = {
        {"disk full, nothing stored", 0, 0, false},
        {"disk full, short write", 0, 3, false},
        {"write refused", 1, -1, false},
        {"pack cannot be created", 1, -1, true},
        {"disk full in a new pack", 0, 2, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        releasePackIndex();
        writeStore(2, {{"GAME0.VFS", {{1, "keep"}}, c.needsNewPack ? MaxPackFileSize - 4 : 0}});
        const std::string indexBefore = readFileBytes("data.idx");
        loadPackIndex();
        FaultEnv fault;
        fault.failMutationNumber(c.failMutation);
        fault.setDiskSpace(c.diskSpace);
        {
            StoreEnvScope use(fault);
            EXPECT_FALSE(store(1, "replacement"));
            EXPECT_TRUE(fault.injected());
        }
        EntryLocation where;
        ASSERT_TRUE(packIndex.keys.first(1, &where));
        EXPECT_EQ(where.pack, 0u);
        EXPECT_EQ(liveEntries(*packIndex.packs[0].file).size(), 1u);
        EXPECT_EQ(readFileBytes("data.idx"), indexBefore);
        // A later store writes past whatever a short write left behind.
        if (!c.needsNewPack) {
            ASSERT_TRUE(store(9, "next"));
            ASSERT_TRUE(savePackIndex());
            EXPECT_TRUE(storeMatches({2, {{1, "keep"}, {9, "next"}}}));
        }
    }
}

TEST_F(PackWriter, FailedSaveLeavesTheIndexAsItWas) {
    writeStore(2, {{"GAME0.VFS", {{1, "one"}}}});
    const std::string before = readFileBytes("data.idx");
    loadPackIndex();
    ASSERT_TRUE(store(2, "two"));
    // Mutations of a save: flush the pack, create the new index, write it, flush it, replace.
    for (int n = 1; n <= 5; ++n) {
        SCOPED_TRACE(n);
        FaultEnv fault;
        fault.failMutationNumber(n);
        {
            StoreEnvScope use(fault);
            EXPECT_FALSE(savePackIndex());
        }
        EXPECT_EQ(readFileBytes("data.idx"), before);
        EXPECT_FALSE(fileExists("data.idx.new"));
        packIndex.packs[0].file->unflushed = true;
    }
    ASSERT_TRUE(savePackIndex());
    EXPECT_TRUE(storeMatches({2, {{1, "one"}, {2, "two"}}}));
}

TEST_F(PackWriter, EntryPastThePacksEndIsNeverOverwritten) {
    // The index says key 1 lies at 0..9, but the pack file holds only 4 bytes.
    writeStore(1, {{"GAME0.VFS", {{1, "0123456789"}}}});
    ASSERT_TRUE(writeFileBytes("GAME0.VFS", "0123"));
    loadPackIndex();
    ASSERT_TRUE(store(2, "xy"));
    EXPECT_EQ(liveEntries(*packIndex.packs[0].file).back(), (IndexEntry{2, 10, 2}));
}

// The writer against a plain model of the store's rules: linear search for the first occurrence,
// tables as lists, packs filled in index order. Thousands of random operations over a small set of
// keys, on a store that starts with duplicate keys, must end with exactly the model's index.
TEST_F(PackWriter, MatchesTheModelOfTheStoreRules) {
    struct RefPack {
        std::string name;
        std::vector<IndexEntry> entries;
        uint64_t size;
    };
    std::vector<RefPack> ref;
    std::map<std::tuple<size_t, uint32_t, size_t>, std::string> bytesAt;  // (pack, offset, length) -> bytes

    std::vector<FixturePack> start = {
        {"GAME0.VFS", {{1, "a"}, {2, "bb"}, {1, "dup"}}, MaxPackFileSize - 3000},
        {"GAME1.VFS", {{2, "b2"}, {3, "ccc"}}},
        {"GAME2.VFS", {{1, "one"}}},
    };
    writeStore(1, start);
    for (size_t i = 0; i < start.size(); ++i) {
        RefPack p{start[i].name, {}, start[i].hole};
        for (const auto& f : start[i].files) {
            p.entries.push_back({f.first, static_cast<uint32_t>(p.size), static_cast<uint32_t>(f.second.size())});
            bytesAt[{i, static_cast<uint32_t>(p.size), f.second.size()}] = f.second;
            p.size += f.second.size();
        }
        ref.push_back(p);
    }
    auto refRemove = [&](uint32_t key) {
        for (RefPack& p : ref) {
            for (size_t j = 0; j < p.entries.size(); ++j) {
                if (p.entries[j].key == key) {
                    p.entries.erase(p.entries.begin() + static_cast<long>(j));
                    return true;
                }
            }
        }
        return false;
    };
    auto refAppend = [&](size_t pack, uint32_t key, const std::string& data) {
        RefPack& p = ref[pack];
        IndexEntry e{key, static_cast<uint32_t>(p.size), static_cast<uint32_t>(data.size())};
        bool held = false;
        for (const IndexEntry& x : p.entries) held = held || x.key == key;
        if (!held) p.entries.push_back(e);
        bytesAt[{pack, e.offset, data.size()}] = data;
        p.size += data.size();
    };

    loadPackIndex();
    ASSERT_TRUE(indexLoaded);
    std::mt19937 rng(20240611);
    for (int op = 0; op < 30000; ++op) {
        uint32_t key = rng() % 400;
        std::string data = contentOf(rng() % 48, static_cast<uint32_t>(op));
        unsigned what = rng() % 100;
        if (what < 70) {
            size_t pack = ref.size();
            for (size_t i = 0; i < ref.size(); ++i) {
                if (ref[i].size + data.size() <= MaxPackFileSize) {
                    pack = i;
                    break;
                }
            }
            ASSERT_LT(pack, ref.size()) << "the model never needs a new pack here";
            refRemove(key);
            refAppend(pack, key, data);
            ASSERT_TRUE(store(key, data)) << op;
        } else if (what < 85) {
            ASSERT_EQ(removePackEntry(key), refRemove(key)) << op;
        } else {
            size_t pack = 1 + rng() % 2;
            refAppend(pack, key, data);
            ASSERT_TRUE(
                appendPackEntry(*packIndex.packs[pack].file, key, bytesPtr(data), static_cast<uint32_t>(data.size())))
                << op;
        }
    }
    ASSERT_TRUE(savePackIndex());
    packformat::StoreIndex saved = savedIndex();
    ASSERT_EQ(saved.packs.size(), ref.size());
    StoreModel model{1, {}};
    for (size_t i = 0; i < ref.size(); ++i) {
        EXPECT_EQ(saved.packs[i].name, ref[i].name);
        EXPECT_TRUE(saved.packs[i].entries == ref[i].entries) << "pack " << i;
        for (const IndexEntry& e : ref[i].entries) model.files.emplace(e.key, bytesAt[{i, e.offset, size_t{e.length}}]);
    }
    EXPECT_TRUE(storeMatches(model));
}
