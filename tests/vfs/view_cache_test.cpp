// Shared views of a store's packs: windows in the 32-bit policy, one view of each whole pack
// otherwise; the store-wide budget of mapped windows, which gives back the window used least recently
// that nobody reads; views that outlive the cache for the files that still use them.
#include "vfs/view_cache.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/env.h"
#include "tests/support/temp_dir.h"
#include "tests/vfs/store_builder.h"

namespace {

constexpr uint64_t W = vfs::ViewCache::WindowSize;

vfs::ViewPolicy windows(uint64_t budget) { return vfs::ViewPolicy{true, budget}; }

class ViewCacheTest : public ::testing::Test {
protected:
    TempDir dir;
    ScopedCurrentDir cd{dir.path()};
    platform::Env& env = platform::defaultEnv();
    struct Pack {
        std::string bytes;
        platform::File* file = nullptr;
        platform::Mapping* mapping = nullptr;
    };
    // Pack 0: five windows and a short sixth; pack 1: two windows. Patterned so that every range's
    // bytes tell where they came from.
    Pack packs[2];

    void SetUp() override {
        const size_t sizes[2] = {static_cast<size_t>(5 * W + 12345), static_cast<size_t>(2 * W)};
        for (int i = 0; i < 2; ++i) {
            std::string name = "PACK" + std::to_string(i) + ".VFS";
            packs[i].bytes = patternBytes(sizes[i], 77 + i);
            ASSERT_TRUE(writeFileBytes(name, packs[i].bytes));
            packs[i].file = env.openReadOnly(name.c_str());
            ASSERT_NE(packs[i].file, nullptr);
            packs[i].mapping = env.mapReadOnly(packs[i].file);
            ASSERT_NE(packs[i].mapping, nullptr);
        }
    }
    void TearDown() override {
        for (Pack& p : packs) {
            env.closeMapping(p.mapping);
            env.closeFile(p.file);
        }
    }
    // Registers both packs with the cache, as pack numbers 0 and 1.
    void addPacks(vfs::ViewCache& cache) {
        for (uint32_t i = 0; i < 2; ++i) {
            uint32_t number = 99;
            ASSERT_TRUE(cache.addPack(packs[i].mapping, packs[i].bytes.size(), &number));
            ASSERT_EQ(number, i);
        }
    }
    bool holds(vfs::SharedView* v, uint32_t pack, uint64_t offset, uint64_t length) {
        const std::string& bytes = packs[pack].bytes;
        return v && offset >= v->start && offset + length <= v->start + v->length &&
               std::string(reinterpret_cast<const char*>(v->view.data) + (offset - v->start), length) ==
                   bytes.substr(offset, length);
    }
};

TEST_F(ViewCacheTest, WindowsAreSharedCutAtThePackEndAndKeptAliveByTheirUsers) {
    vfs::SharedView* kept = nullptr;
    {
        vfs::ViewCache cache(env, windows(vfs::ViewCache::WindowBudget));
        addPacks(cache);
        vfs::SharedView* a = cache.acquire(0, 100, 4096);
        vfs::SharedView* b = cache.acquire(0, W - 10, 10);
        ASSERT_TRUE(holds(a, 0, 100, 4096));
        EXPECT_EQ(a, b);  // same window
        EXPECT_EQ(a->start, 0u);
        EXPECT_EQ(cache.acquire(0, W - 10, 11), nullptr);     // crosses into the next window
        EXPECT_EQ(cache.acquire(1, 2 * W - 5, 10), nullptr);  // past the end of the pack
        EXPECT_EQ(cache.acquire(2, 0, 1), nullptr);           // no such pack
        // The last window is cut at the end of the file.
        vfs::SharedView* last = cache.acquire(0, 5 * W + 12000, 345);
        ASSERT_TRUE(holds(last, 0, 5 * W + 12000, 345));
        EXPECT_EQ(last->length, 12345u);
        // Window 0 of the other pack is a view of its own.
        vfs::SharedView* other = cache.acquire(1, 3, 4);
        ASSERT_TRUE(holds(other, 1, 3, 4));
        EXPECT_NE(other, a);
        // With room in the budget, a window nobody reads stays mapped: using it again maps nothing.
        vfs::releaseView(b);
        vfs::releaseView(a);
        for (uint64_t w = 1; w < 5; ++w) vfs::releaseView(cache.acquire(0, w * W, 1));
        EXPECT_EQ(cache.mappedBytes(), 5 * W + 12345 + W);  // all of pack 0, window 0 of pack 1
        kept = cache.acquire(0, 200, 1);
        EXPECT_EQ(kept, a);
        vfs::releaseView(last);
        vfs::releaseView(other);
    }
    // The cache is gone (as after closing the store); the file's view still reads.
    EXPECT_TRUE(holds(kept, 0, 100, 4096));
    vfs::releaseView(kept);
}

TEST_F(ViewCacheTest, TheBudgetCoversAllPacksAndGivesBackTheLeastRecentlyUsedIdleWindow) {
    vfs::ViewCache cache(env, windows(3 * W));
    addPacks(cache);
    vfs::SharedView* p0w0 = cache.acquire(0, 0, 1);
    vfs::SharedView* p1w1 = cache.acquire(1, W + 5, 5);
    vfs::SharedView* p0w2 = cache.acquire(0, 2 * W, 1);
    ASSERT_TRUE(holds(p0w0, 0, 0, 1));
    ASSERT_TRUE(holds(p1w1, 1, W + 5, 5));
    ASSERT_TRUE(holds(p0w2, 0, 2 * W, 1));
    EXPECT_EQ(cache.mappedBytes(), 3 * W);
    // Every mapped window is read by someone: no room, in either pack.
    EXPECT_EQ(cache.acquire(1, 0, 1), nullptr);
    EXPECT_EQ(cache.acquire(0, W, 1), nullptr);
    // A window already mapped is still shared.
    vfs::SharedView* again = cache.acquire(1, W, 1);
    EXPECT_EQ(again, p1w1);
    vfs::releaseView(again);

    // Two windows fall idle; the one used more recently stays.
    vfs::releaseView(p1w1);
    vfs::releaseView(p0w0);
    vfs::SharedView* p0w0Again = cache.acquire(0, 7, 1);
    EXPECT_EQ(p0w0Again, p0w0);
    vfs::releaseView(p0w0Again);
    vfs::SharedView* p1w0 = cache.acquire(1, 0, 100);
    ASSERT_TRUE(holds(p1w0, 1, 0, 100));
    EXPECT_EQ(cache.mappedBytes(), 3 * W);
    vfs::SharedView* kept = cache.acquire(0, 9, 1);
    EXPECT_EQ(kept, p0w0);  // not given back
    EXPECT_TRUE(holds(kept, 0, 0, 4096));

    // The short last window fits where a whole one does not.
    vfs::releaseView(p0w2);
    vfs::releaseView(p1w0);
    vfs::SharedView* l = cache.acquire(0, 5 * W + 1, 100);
    ASSERT_TRUE(holds(l, 0, 5 * W + 1, 100));
    EXPECT_LE(cache.mappedBytes(), 3 * W);
    vfs::releaseView(l);
    vfs::releaseView(kept);
}

TEST_F(ViewCacheTest, ABudgetBelowOneWindowSharesOnlyWhatFits) {
    vfs::ViewCache cache(env, windows(W - 1));
    addPacks(cache);
    EXPECT_EQ(cache.acquire(0, 0, 1), nullptr);
    EXPECT_EQ(cache.acquire(1, W, 1), nullptr);
    vfs::SharedView* last = cache.acquire(0, 5 * W, 12345);
    ASSERT_TRUE(holds(last, 0, 5 * W, 12345));
    EXPECT_EQ(cache.mappedBytes(), 12345u);
    vfs::releaseView(last);
}

TEST_F(ViewCacheTest, SixtyFourBitProcessesMapEachPackOnce) {
    vfs::ViewCache cache(env, vfs::ViewPolicy{false, vfs::ViewCache::Unlimited});
    addPacks(cache);
    vfs::SharedView* first = cache.acquire(0, 0, 10);
    vfs::SharedView* across = cache.acquire(0, W - 10, 100);
    vfs::SharedView* end = cache.acquire(0, packs[0].bytes.size() - 5, 5);
    vfs::SharedView* other = cache.acquire(1, W - 10, 100);
    EXPECT_EQ(first, across);
    EXPECT_EQ(first, end);
    EXPECT_NE(first, other);
    EXPECT_TRUE(holds(across, 0, W - 10, 100));
    EXPECT_TRUE(holds(end, 0, packs[0].bytes.size() - 5, 5));
    EXPECT_TRUE(holds(other, 1, W - 10, 100));
    EXPECT_EQ(cache.mappedBytes(), packs[0].bytes.size() + packs[1].bytes.size());
    vfs::releaseView(first);
    vfs::releaseView(across);
    vfs::releaseView(end);
    vfs::releaseView(other);
}

TEST_F(ViewCacheTest, WholePackViewsHonourAnInjectedBudget) {
    vfs::ViewCache cache(env, vfs::ViewPolicy{false, packs[0].bytes.size()});
    addPacks(cache);
    vfs::SharedView* zero = cache.acquire(0, 1, 1);
    ASSERT_TRUE(holds(zero, 0, 1, 1));
    EXPECT_EQ(cache.acquire(1, 1, 1), nullptr);  // pack 0 is being read
    vfs::releaseView(zero);
    vfs::SharedView* one = cache.acquire(1, 1, 1);  // pack 0 given back
    ASSERT_TRUE(holds(one, 1, 1, 1));
    EXPECT_EQ(cache.mappedBytes(), packs[1].bytes.size());
    vfs::releaseView(one);
}

TEST(ViewPolicy, FollowsThePointerSize) {
    vfs::ViewPolicy p;
    EXPECT_EQ(p.windowed, sizeof(void*) == 4);
    EXPECT_EQ(p.budget, sizeof(void*) == 4 ? vfs::ViewCache::WindowBudget : vfs::ViewCache::Unlimited);
}

}  // namespace
