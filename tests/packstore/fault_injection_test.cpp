// Every disk operation of a patch application made to fail in turn: fail the Nth change to the disk
// for N = 1, 2, ... until the patch goes through, and run out of disk at every point of it. After
// each attempt a fresh load must find the store at the old or the new patch, with every file's
// bytes right.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "launcher/packstore/pack_store.h"
#include "launcher/packstore/patch_apply.h"
#include "tests/packstore/store_env_scope.h"
#include "tests/packstore/store_fixture.h"
#include "tests/support/fault_env.h"

using namespace packstore;
using namespace packformat;

namespace {

struct Scenario {
    const char* what;
    std::vector<FixturePack> start;
    PatchContent patch;
};

std::vector<Scenario> scenarios() {
    std::vector<Scenario> out;
    {
        Scenario s{"empty store: the patch creates the first pack", {}, {}};
        std::vector<std::pair<uint32_t, std::string>> files;
        for (uint32_t k = 0; k < 10; ++k) files.push_back({k * 7919u, contentOf(100 + k * 37, k)});
        files.push_back({7919u, "the same key again"});
        s.patch = packedPatch(11, files);
        out.push_back(s);
    }
    {
        // Pack 0 is full; pack 1 fills during the patch, so a third pack is made.
        Scenario s{"full packs: replacements across packs and a new pack",
                   {{"GAME0.VFS", {{1, "one"}, {2, "two"}}, MaxPackFileSize - 6},
                    {"GAME1.VFS", {{3, "three"}, {4, "four"}}, MaxPackFileSize - 3000},
                    {"GAME2.VFS", {}, 0, false}},
                   {}};
        std::vector<std::pair<uint32_t, std::string>> files = {{1, "uno"}, {3, contentOf(900, 3)}};
        for (uint32_t k = 10; k < 16; ++k) files.push_back({k, contentOf(700, k)});
        files.push_back({4, "cuatro"});
        s.patch = packedPatch(11, files, 0xE1);
        out.push_back(s);
    }
    return out;
}

// The loaded store, read through the launcher's own handles, holds exactly the model.
::testing::AssertionResult loaderHolds(const StoreModel& model) {
    if (!indexLoaded) return ::testing::AssertionFailure() << "not loaded";
    if (packIndex.version != model.version) return ::testing::AssertionFailure() << "version " << packIndex.version;
    if (packIndex.keys.size() != model.files.size()) {
        return ::testing::AssertionFailure() << packIndex.keys.size() << " keys, not " << model.files.size();
    }
    for (const auto& f : model.files) {
        EntryLocation at;
        if (!packIndex.keys.first(f.first, &at))
            return ::testing::AssertionFailure() << "key " << f.first << " missing";
        PackFile& pack = *packIndex.packs[at.pack].file;
        const PackEntry& e = pack.table[at.slot];
        std::string bytes(e.length, '\0');
        size_t got = 0;
        if (e.length &&
            (!pack.fileHandle || !platform::defaultEnv().readAt(pack.fileHandle, e.offset, &bytes[0], e.length, &got) ||
             got != e.length)) {
            return ::testing::AssertionFailure() << "key " << f.first << " unreadable";
        }
        if (bytes != f.second) return ::testing::AssertionFailure() << "key " << f.first << " has wrong bytes";
    }
    return ::testing::AssertionSuccess();
}

class FaultInjection : public StoreTest, public ::testing::WithParamInterface<size_t> {
protected:
    // One attempt under `fault`; then a fresh load checks the store. Returns applyPatchFile's result.
    bool attempt(const Scenario& s, FaultEnv& fault, int* version) {
        clearFolder();
        releasePackIndex();
        writeStore(10, s.start);
        writePatch("11.dat", s.patch);
        loadPackIndex();
        EXPECT_TRUE(indexLoaded);
        bool ok = false;
        {
            StoreEnvScope use(fault);
            ok = applyPatchFile("11.dat");
        }
        if (!ok) {
            EXPECT_EQ(packIndex.version, 10) << "the store in memory is the saved one again";
        }
        releasePackIndex();

        loadPackIndex();
        EXPECT_TRUE(indexLoaded);
        EXPECT_FALSE(fileExists("data.idx.new"));
        StoreModel before = modelOf(10, s.start), after = afterPatch(before, s.patch);
        int which = -1;
        EXPECT_TRUE(storeIsOneOf(before, after, &which));
        EXPECT_TRUE(loaderHolds(which == 1 ? after : before));
        // A failed patch leaves the previous one on disk; a patch that went through is there whole.
        EXPECT_EQ(which, ok ? 1 : 0);
        *version = which;
        return ok;
    }
};

}  // namespace

TEST_P(FaultInjection, FailEveryOperationInTurn) {
    const Scenario s = scenarios()[GetParam()];
    SCOPED_TRACE(s.what);
    int n = 1;
    for (;; ++n) {
        ASSERT_LT(n, 1000) << "the patch never went through";
        SCOPED_TRACE("failing operation " + std::to_string(n));
        FaultEnv fault;
        fault.failMutationNumber(n);
        int version = -1;
        bool ok = attempt(s, fault, &version);
        if (HasFailure()) return;
        if (!fault.injected()) {
            EXPECT_TRUE(ok);
            break;
        }
    }
    // At least: empty the patch file, delete it, one write per record, flush, create, write,
    // flush and replace the index.
    EXPECT_GT(n, static_cast<int>(s.patch.items.size()) + 7);
}

TEST_P(FaultInjection, RunOutOfDiskAnywhere) {
    const Scenario s = scenarios()[GetParam()];
    SCOPED_TRACE(s.what);
    size_t total = 0;
    for (const PatchItem& item : s.patch.items) total += item.data.size();
    int failures = 0;
    for (int64_t space = 0;; space += 97) {
        SCOPED_TRACE("disk space " + std::to_string(space));
        FaultEnv fault;
        fault.setDiskSpace(space);
        int version = -1;
        bool ok = attempt(s, fault, &version);
        if (HasFailure()) return;
        if (!ok) ++failures;
        if (!fault.injected()) {
            EXPECT_TRUE(ok);
            break;
        }
        ASSERT_LT(space, static_cast<int64_t>(total) + 100000);
    }
    EXPECT_GT(failures, static_cast<int>(total / 97) - 1);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, FaultInjection, ::testing::Values(size_t{0}, size_t{1}));
