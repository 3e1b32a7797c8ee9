// Memory that runs out anywhere in loading the store or applying a patch: the program's operator new
// is replaced by one that fails at its Nth call, for N = 1, 2, ... until the operation goes through.
// Every time the operation must return its failure result (never throw), and a fresh load must find
// the store at the old patch or the new one, whole.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "launcher/core/debug_log.h"
#include "launcher/packstore/pack_store.h"
#include "launcher/packstore/patch_apply.h"
#include "tests/packstore/store_fixture.h"

namespace {
// Allocations counted (and failed at failAt) only while `counting` is set.
bool counting = false;
long allocations = 0;
long failAt = 0;
bool failed = false;

void* allocate(std::size_t size) {
    if (counting && ++allocations == failAt) {
        failed = true;
        throw std::bad_alloc();
    }
    void* p = std::malloc(size ? size : 1);
    if (!p) throw std::bad_alloc();
    return p;
}

void* allocateNoThrow(std::size_t size) noexcept {
    try {
        return allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocateNoThrow(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocateNoThrow(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

using namespace packstore;
using namespace packformat;

namespace {

class OutOfMemory : public StoreTest {
protected:
    // Runs `operation` with the Nth allocation failing; true when no allocation failed.
    template <class Operation>
    bool withFailingAllocation(long n, Operation operation) {
        allocations = 0;
        failAt = n;
        failed = false;
        counting = true;
        operation();
        counting = false;
        return !failed;
    }
};

}  // namespace

TEST_F(OutOfMemory, ApplyingAPatchFailsCleanlyAtEveryAllocation) {
    // Pack 0 is nearly full: the patch also creates a pack.
    const std::vector<FixturePack> start = {
        {"GAME0.VFS", {{1, "one"}, {2, contentOf(500, 2)}}, MaxPackFileSize - 3000}};
    std::vector<std::pair<uint32_t, std::string>> files = {{1, contentOf(2500, 1)}};
    for (uint32_t k = 10; k < 40; ++k) files.push_back({k, contentOf(200 + k, k)});
    const PatchContent patch = packedPatch(11, files);
    const StoreModel before = modelOf(10, start), after = afterPatch(before, patch);
    core::DebugLog::instance().setOutput(std::fopen("log.txt", "wb"));

    long n = 1;
    for (;; ++n) {
        ASSERT_LT(n, 100000);
        SCOPED_TRACE("allocation " + std::to_string(n) + " fails");
        releasePackIndex();
        writeStore(10, start);
        writePatch("11.dat", patch);
        loadPackIndex();
        ASSERT_TRUE(indexLoaded);
        bool ok = false;
        const bool clean = withFailingAllocation(n, [&] { ok = applyPatchFile("11.dat"); });
        releasePackIndex();
        loadPackIndex();
        ASSERT_TRUE(indexLoaded);
        int which = -1;
        ASSERT_TRUE(storeIsOneOf(before, after, &which));
        if (clean) {
            EXPECT_TRUE(ok);
            EXPECT_EQ(which, 1);
            break;
        }
        EXPECT_EQ(which, ok ? 1 : 0);
    }
    core::DebugLog::instance().setOutput(stdout);
    std::printf("applying the patch: allocations 1 to %ld made to fail in turn\n", n - 1);
    EXPECT_GT(n, 10);
}

TEST_F(OutOfMemory, LoadingTheStoreFailsCleanlyAtEveryAllocation) {
    std::vector<std::pair<uint32_t, std::string>> files;
    for (uint32_t k = 1; k < 30; ++k) files.push_back({k, contentOf(50 + k, k)});
    const std::vector<FixturePack> start = {{"GAME0.VFS", files}, {"GAME1.VFS", {{99, "ninety-nine"}}}};
    writeStore(10, start);
    core::DebugLog::instance().setOutput(std::fopen("log.txt", "wb"));
    long n = 1;
    for (;; ++n) {
        ASSERT_LT(n, 100000);
        SCOPED_TRACE("allocation " + std::to_string(n) + " fails");
        releasePackIndex();
        const bool clean = withFailingAllocation(n, [] { loadPackIndex(); });
        if (clean) {
            ASSERT_TRUE(indexLoaded);
            EXPECT_EQ(currentPatch, 10u);
            break;
        }
        // Not loaded, or loaded whole.
        if (indexLoaded) {
            EXPECT_EQ(packIndex.packs.size(), 2u);
        } else {
            EXPECT_EQ(currentPatch, 0u);
            EXPECT_TRUE(packIndex.packs.empty());
        }
    }
    core::DebugLog::instance().setOutput(stdout);
    EXPECT_GT(n, 3);
}
