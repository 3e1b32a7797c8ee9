// Applying patch files: every kind, the progress on the status board, refused files and names.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "launcher/core/status_board.h"
#include "launcher/packstore/pack_store.h"
#include "launcher/packstore/patch_apply.h"
#include "tests/packstore/store_env_scope.h"
#include "tests/packstore/store_fixture.h"
#include "tests/support/fault_env.h"

using namespace packstore;
using namespace packformat;

namespace {

class PatchApply : public StoreTest {
protected:
    // A loaded store at patch 10 with two packs.
    void loadStartStore() {
        start_ = {{"GAME0.VFS", {{1, "one"}, {2, "two"}}}, {"GAME1.VFS", {{3, "three"}}}};
        writeStore(10, start_);
        loadPackIndex();
        ASSERT_TRUE(indexLoaded);
    }
    StoreModel startModel() const { return modelOf(10, start_); }

    std::vector<FixturePack> start_;
};

}  // namespace

TEST_F(PatchApply, EveryKind) {
    struct Case {
        uint8_t kind;
        const char* what;
    } cases[] = {{1, "packed"}, {2, "skipped"}, {3, "written"}, {4, "deleted"}, {0, "unknown 0"}, {7, "unknown 7"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        releasePackIndex();
        core::statusBoard = core::StatusBoard{};
        std::error_code ec;
        std::filesystem::remove_all("ext", ec);
        loadStartStore();
        ASSERT_TRUE(writeFileBytes("loose.txt", "loose"));
        PatchContent patch;
        patch.seed = 0x91;
        patch.version = 11;
        patch.kind = c.kind;
        for (int i = 0; i < 3; ++i) {
            PatchItem item;
            if (patchKindHasKey(c.kind)) item.key = i == 0 ? 2u : 100u + static_cast<uint32_t>(i);
            if (patchKindHasName(c.kind)) item.name = i == 0 ? "loose.txt" : "ext/dir" + std::to_string(i) + "/f.bin";
            item.data = toBytes(contentOf(50 + static_cast<size_t>(i) * 100, static_cast<uint32_t>(i)));
            patch.items.push_back(item);
        }
        writePatch("11.dat", patch);
        ASSERT_TRUE(applyPatchFile("11.dat"));
        EXPECT_FALSE(fileExists("11.dat"));
        EXPECT_EQ(packIndex.version, 11);
        EXPECT_EQ(currentPatch, 10u);  // the patch loop keeps its own count
        // Kinds other than 1 leave the packed files as they were; only the version changes.
        EXPECT_TRUE(storeMatches(afterPatch(startModel(), patch)));
        EXPECT_STREQ(core::statusBoard.statusText, "Extraindo arquivos 100%");
        EXPECT_EQ(core::statusBoard.patchBarTotal, 100u);
        EXPECT_EQ(core::statusBoard.patchBarValue, 100u);
        if (c.kind == 3) {
            EXPECT_EQ(readFileBytes("loose.txt"), contentOf(50, 0));
            EXPECT_EQ(readFileBytes("ext/dir2/f.bin"), contentOf(250, 2));
        } else if (c.kind == 4) {
            EXPECT_FALSE(fileExists("loose.txt"));  // the others did not exist: nothing happens
        } else {
            EXPECT_EQ(readFileBytes("loose.txt"), "loose");
            EXPECT_FALSE(fileExists("ext"));
        }
    }
}

TEST_F(PatchApply, NoRecordsStillRecordsTheVersion) {
    loadStartStore();
    const std::string before = readFileBytes("data.idx");
    std::snprintf(core::statusBoard.statusText, sizeof core::statusBoard.statusText, "%s", "Aguarde...");
    writePatch("12.dat", packedPatch(12, {}));
    ASSERT_TRUE(applyPatchFile("12.dat"));
    EXPECT_FALSE(fileExists("12.dat"));
    EXPECT_STREQ(core::statusBoard.statusText, "Aguarde...");
    EXPECT_EQ(core::statusBoard.patchBarTotal, 0u);
    std::string after = readFileBytes("data.idx");
    EXPECT_EQ(after.substr(0, 4), std::string("\x0C\0\0\0", 4));
    EXPECT_EQ(after.substr(4), before.substr(4));
    EXPECT_TRUE(storeMatches(afterPatch(startModel(), packedPatch(12, {}))));
}

TEST_F(PatchApply, ProgressAfterTwoOfThreeWhenTheThirdFails) {
    loadStartStore();
    const std::string indexBefore = readFileBytes("data.idx");
    ASSERT_TRUE(writeFileBytes("blocker", "a file where a folder should be"));
    writePatch("11.dat", namedPatch(11, 3, {{"a.txt", "A"}, {"b.txt", "B"}, {"blocker/c.txt", "C"}}));
    EXPECT_FALSE(applyPatchFile("11.dat"));
    EXPECT_STREQ(core::statusBoard.statusText, "Extraindo arquivos 67%");
    EXPECT_EQ(core::statusBoard.patchBarTotal, 100u);
    EXPECT_EQ(core::statusBoard.patchBarValue, 66u);
    // Earlier loose files stay written; the index stays at the previous patch.
    EXPECT_EQ(readFileBytes("a.txt"), "A");
    EXPECT_EQ(readFileBytes("b.txt"), "B");
    EXPECT_EQ(readFileBytes("data.idx"), indexBefore);
    EXPECT_EQ(packIndex.version, 10);
    EXPECT_FALSE(fileExists("11.dat"));
}

TEST_F(PatchApply, ProgressPercentages) {
    struct Case {
        uint32_t done, total;
        const char* text;
        uint32_t bar;
    } cases[] = {
        {1, 3, "Extraindo arquivos 33%", 33},          {2, 3, "Extraindo arquivos 67%", 66},
        {1, 1, "Extraindo arquivos 100%", 100},        {1, 7, "Extraindo arquivos 14%", 14},
        {6, 7, "Extraindo arquivos 86%", 85},          {1, 65535, "Extraindo arquivos 0%", 0},
        {65534, 65535, "Extraindo arquivos 100%", 99},
    };
    for (const Case& c : cases) {
        reportPatchProgress(c.done, c.total);
        EXPECT_STREQ(core::statusBoard.statusText, c.text) << c.done << "/" << c.total;
        EXPECT_EQ(core::statusBoard.patchBarValue, c.bar) << c.done << "/" << c.total;
        EXPECT_EQ(core::statusBoard.patchBarTotal, 100u);
    }
}

TEST_F(PatchApply, DataIsStoredExactlyAtTheMaskBoundaries) {
    // 100 bytes are all masked, 300 the first 128, 65,536 none, 65,600 the first 64.
    const uint32_t lengths[] = {0, 1, 100, 127, 128, 129, 300, 65535, 65536, 65600, 65536 + 200};
    for (uint8_t seed : {0x00, 0x01, 0x7F, 0xC4}) {
        SCOPED_TRACE(static_cast<int>(seed));
        releasePackIndex();
        loadStartStore();
        std::vector<std::pair<uint32_t, std::string>> files;
        for (uint32_t length : lengths) files.push_back({1000 + length, contentOf(length, length ^ seed)});
        PatchContent patch = packedPatch(11, files, seed);
        writePatch("11.dat", patch);
        ASSERT_TRUE(applyPatchFile("11.dat"));
        EXPECT_TRUE(storeMatches(afterPatch(startModel(), patch)));
    }
}

TEST_F(PatchApply, PackedRecordsReplaceAcrossPacksAndRepeat) {
    loadStartStore();
    // Key 3 lives in pack 1; key 9 comes twice, the second copy wins; a zero-length file.
    PatchContent patch = packedPatch(11, {{3, "new three"}, {9, "first"}, {9, "second"}, {20, ""}});
    writePatch("11.dat", patch);
    ASSERT_TRUE(applyPatchFile("11.dat"));
    EXPECT_TRUE(storeMatches(afterPatch(startModel(), patch)));
    EXPECT_EQ(packIndex.packs[1].file->entryCount(), 0u);
    EXPECT_EQ(readFileBytes("GAME0.VFS"), "onetwonew threefirstsecond");
    EXPECT_EQ(readFileBytes("GAME1.VFS"), "three");
}

TEST_F(PatchApply, DamagedPatchFilesChangeNothing) {
    loadStartStore();
    std::vector<uint8_t> good;
    std::string why;
    ASSERT_TRUE(encodePatch(packedPatch(11, {{1, "x"}, {5, contentOf(40, 5)}}), &good, &why)) << why;
    std::string g(good.begin(), good.end());
    std::vector<uint8_t> named;
    ASSERT_TRUE(encodePatch(namedPatch(11, 3, {{"a.txt", "abc"}}), &named, &why)) << why;
    std::string n(named.begin(), named.end());
    // Header of a patch with seed 0: version 11, kind 1, record count 0xFFFF.
    std::string hugeCount("\x00\x0B\x00\x01\xFF\xFF", 6);
    // One kind-3 record whose name length (seed 0, record 0: plain) says 300.
    std::string longName = std::string("\x00\x0B\x00\x03\x01\x00", 6) + std::string("\x2C\x01\x00\x00", 4) +
                           std::string(300, 'a') + std::string(4, '\0');
    // One kind-1 record whose data length (record 0: plain) says 4 GiB - 1.
    std::string hugeData = std::string("\x00\x0B\x00\x01\x01\x00", 6) + std::string(4, '\x01') +
                           std::string("\xFF\xFF\xFF\xFF", 4) + "tiny";
    struct Case {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"empty", ""},
        {"ends in the header", g.substr(0, 4)},
        {"ends in a key", g.substr(0, 8)},
        {"ends in a data length", g.substr(0, 6 + 4 + 4 + 1 + 4 + 2)},
        {"ends in the data", g.substr(0, g.size() - 1)},
        {"bytes left over", g + "?"},
        {"ends in a name", n.substr(0, 6 + 4 + 2)},
        {"record count the file cannot hold", hugeCount},
        {"name length above 259", longName},
        {"data length past the end", hugeData},
    };
    const std::string indexBefore = readFileBytes("data.idx");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        core::statusBoard = core::StatusBoard{};
        ASSERT_TRUE(writeFileBytes("11.dat", c.bytes));
        EXPECT_FALSE(applyPatchFile("11.dat"));
        EXPECT_EQ(readFileBytes("11.dat"), c.bytes);  // the file is left as it came
        EXPECT_EQ(readFileBytes("data.idx"), indexBefore);
        EXPECT_EQ(packIndex.version, 10);
        EXPECT_EQ(packIndex.packs.size(), 2u);
        EXPECT_EQ(core::statusBoard.statusText[0], '\0');
        EXPECT_FALSE(fileExists("a.txt"));
    }
    EXPECT_TRUE(storeMatches(startModel()));
    EXPECT_EQ(readFileBytes("GAME0.VFS"), "onetwo");
    EXPECT_FALSE(applyPatchFile("missing.dat"));
}

TEST_F(PatchApply, NamesOutsideTheGameFolderFailBeforeAnyRecord) {
    // The names themselves are judged in tests/packformat/installation_path_test.cpp; here, that a
    // refused name stops the whole patch: devices and names Windows would shorten as well as escapes.
    loadStartStore();
    const std::string indexBefore = readFileBytes("data.idx");
    for (uint8_t kind : {3, 4}) {
        for (const char* bad : {"../escaped.txt", "C:\\escaped.txt", "/tmp/escaped.txt", "nul.txt", "sub\\COM1.txt",
                                "Aux", "trailing.txt."}) {
            SCOPED_TRACE(std::string(bad) + " kind " + std::to_string(kind));
            ASSERT_TRUE(writeFileBytes("victim.txt", "keep me"));
            PatchContent patch = namedPatch(11, kind, {{"victim.txt", "overwritten"}, {bad, "x"}});
            writePatch("11.dat", patch);
            EXPECT_FALSE(applyPatchFile("11.dat"));
            EXPECT_EQ(readFileBytes("victim.txt"), "keep me");
            EXPECT_EQ(readFileBytes("data.idx"), indexBefore);
            EXPECT_TRUE(fileExists("11.dat"));
        }
    }
    EXPECT_FALSE(fileExists("../escaped.txt"));
}

TEST_F(PatchApply, FailedSaveRestoresTheSavedStore) {
    // Pack 0 is full, so the patch creates GAME2.VFS; the save then fails.
    writeStore(10,
               {{"GAME0.VFS", {{1, "one"}}, MaxPackFileSize - 3}, {"GAME1.VFS", {{2, "two"}}, MaxPackFileSize - 3}});
    loadPackIndex();
    const std::string indexBefore = readFileBytes("data.idx");
    PatchContent patch = packedPatch(11, {{1, "uno"}, {7, "siete"}});
    writePatch("11.dat", patch);
    FaultEnv fault;
    // Truncate and delete the patch file, create the pack, two writes, flush it: the 7th is the new index.
    fault.failMutationNumber(7);
    {
        StoreEnvScope use(fault);
        EXPECT_FALSE(applyPatchFile("11.dat"));
    }
    EXPECT_TRUE(fault.injected());
    EXPECT_EQ(readFileBytes("data.idx"), indexBefore);
    EXPECT_FALSE(fileExists("GAME2.VFS"));  // nothing names it: it is gone again
    // In memory too the store is the saved one: a save now writes the old store.
    EXPECT_EQ(packIndex.version, 10);
    ASSERT_EQ(packIndex.packs.size(), 2u);
    ASSERT_TRUE(savePackIndex());
    EXPECT_TRUE(storeMatches(modelOf(10, {{"GAME0.VFS", {{1, "one"}}}, {"GAME1.VFS", {{2, "two"}}}})));
    // And the patch applies cleanly afterwards.
    writePatch("11.dat", patch);
    ASSERT_TRUE(applyPatchFile("11.dat"));
    EXPECT_TRUE(storeMatches({11, {{1, "uno"}, {2, "two"}, {7, "siete"}}}));
    EXPECT_EQ(packIndex.packs[2].name, "GAME2.VFS");
}
