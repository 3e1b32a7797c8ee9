// A power cut at every point of a patch's application: the disk keeps only what had been flushed
// (CrashEnv), and a fresh load must then find the store at the old patch, or at the new one with
// everything the patch did on the disk: its packed files, and the loose files it wrote (whole) and
// deleted (gone).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "launcher/packstore/pack_store.h"
#include "launcher/packstore/patch_apply.h"
#include "tests/packstore/store_env_scope.h"
#include "tests/packstore/store_fixture.h"
#include "tests/support/crash_env.h"

using namespace packstore;
using namespace packformat;

namespace {

struct PowerCutScenario {
    const char* what;
    std::vector<FixturePack> start;
    std::map<std::string, std::string> looseBefore;  // loose files on disk before the patch
    PatchContent patch;
};

std::vector<PowerCutScenario> powerCutScenarios() {
    const std::vector<FixturePack> packs = {{"GAME0.VFS", {{1, "one"}, {2, contentOf(3000, 2)}}},
                                            {"GAME1.VFS", {{3, "three"}}, MaxPackFileSize - 5000}};
    std::vector<PowerCutScenario> out;
    std::vector<std::pair<uint32_t, std::string>> packed = {{1, contentOf(4000, 11)}, {7, contentOf(6000, 7)}};
    for (uint32_t k = 20; k < 26; ++k) packed.push_back({k, contentOf(900 + k, k)});
    out.push_back({"packed files, one of them into a new pack", packs, {}, packedPatch(11, packed, 0x21)});
    out.push_back({"loose files written: a replaced one, new ones in new folders, an empty one",
                   packs,
                   {{"readme.txt", "the old readme"}},
                   namedPatch(11, PatchKindWrite,
                              {{"readme.txt", contentOf(70000, 1)},
                               {"client.dll", contentOf(5000, 2)},
                               {"sub/deeper/new.cfg", "setting=1"},
                               {"empty.txt", ""}})});
    out.push_back({"loose files deleted",
                   packs,
                   {{"old1.txt", "old one"}, {"sub/old2.txt", "old two"}, {"kept.txt", "kept"}},
                   namedPatch(11, PatchKindDelete, {{"old1.txt", ""}, {"sub/old2.txt", ""}, {"never.txt", ""}})});
    return out;
}

// What the patch did to the loose files is all on the disk.
::testing::AssertionResult looseFilesAfter(const PowerCutScenario& s) {
    if (!patchKindHasName(s.patch.kind)) return ::testing::AssertionSuccess();
    for (const PatchItem& item : s.patch.items) {
        const bool there = fileExists(item.name);
        if (s.patch.kind == PatchKindDelete) {
            if (there) return ::testing::AssertionFailure() << item.name << " is back";
        } else if (!there || readFileBytes(item.name) != std::string(item.data.begin(), item.data.end())) {
            return ::testing::AssertionFailure() << item.name << (there ? " lost bytes" : " is missing");
        }
    }
    return ::testing::AssertionSuccess();
}

class PowerCut : public StoreTest, public ::testing::WithParamInterface<size_t> {};

}  // namespace

TEST_P(PowerCut, AtEveryPointOfThePatchTheStoreIsOldOrWhollyNew) {
    const PowerCutScenario s = powerCutScenarios()[GetParam()];
    SCOPED_TRACE(s.what);
    const StoreModel before = modelOf(10, s.start), after = afterPatch(before, s.patch);
    int points = 0, atOld = 0, atNew = 0;
    for (int n = 1;; ++n) {
        ASSERT_LT(n, 1000) << "the patch never went through";
        SCOPED_TRACE("power cut at operation " + std::to_string(n));
        clearFolder();
        releasePackIndex();
        writeStore(10, s.start);
        for (const auto& f : s.looseBefore) {
            std::filesystem::create_directories(std::filesystem::path(f.first).parent_path().empty()
                                                    ? std::filesystem::path(".")
                                                    : std::filesystem::path(f.first).parent_path());
            ASSERT_TRUE(writeFileBytes(f.first, f.second));
        }
        writePatch("11.dat", s.patch);
        loadPackIndex();
        ASSERT_TRUE(indexLoaded);

        CrashEnv crash;
        crash.crashAtOperation(n);
        bool ok = false;
        {
            StoreEnvScope use(crash);
            ok = applyPatchFile("11.dat");
        }
        releasePackIndex();
        crash.powerCut();

        loadPackIndex();
        ASSERT_TRUE(indexLoaded) << "the store does not load after the power cut";
        int which = -1;
        ASSERT_TRUE(storeIsOneOf(before, after, &which));
        if (which == 1) {
            EXPECT_TRUE(looseFilesAfter(s));
            ++atNew;
        } else {
            ++atOld;
        }
        releasePackIndex();
        if (!crash.crashed()) {
            EXPECT_TRUE(ok);
            EXPECT_EQ(which, 1);
            break;
        }
        ++points;
        if (HasFailure()) return;
    }
    std::printf("%s: power cut at %d points; %d stores found at the old patch, %d at the new one\n", s.what, points,
                atOld, atNew);
    EXPECT_GT(atNew, 0) << "a cut after the save keeps the new patch";
}

INSTANTIATE_TEST_SUITE_P(Scenarios, PowerCut, ::testing::Values(size_t{0}, size_t{1}, size_t{2}));
