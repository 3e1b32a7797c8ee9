// Shared views of a pack: windows in the 32-bit policy, one view of the whole pack otherwise; a
// window evicted from the cache stays readable for the files that still use it.
#include "vfs/view_cache.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/env.h"
#include "tests/support/temp_dir.h"
#include "tests/vfs/store_builder.h"

namespace {

constexpr uint64_t W = vfs::ViewCache::WindowSize;

class ViewCacheTest : public ::testing::Test {
protected:
    TempDir dir;
    ScopedCurrentDir cd{dir.path()};
    platform::Env& env = platform::defaultEnv();
    platform::File* file = nullptr;
    platform::Mapping* mapping = nullptr;
    std::string bytes;

    void SetUp() override {
        // Six windows' worth, plus a little: patterned so every offset's bytes are distinct enough.
        bytes = patternBytes(static_cast<size_t>(5 * W + 12345), 77);
        ASSERT_TRUE(writeFileBytes("PACK.VFS", bytes));
        file = env.openReadOnly("PACK.VFS");
        ASSERT_NE(file, nullptr);
        mapping = env.mapReadOnly(file);
        ASSERT_NE(mapping, nullptr);
    }
    void TearDown() override {
        env.closeMapping(mapping);
        env.closeFile(file);
    }
    bool holds(vfs::SharedView* v, uint64_t offset, uint64_t length) {
        return v && offset >= v->start && offset + length <= v->start + v->length &&
               std::string(reinterpret_cast<const char*>(v->view.data) + (offset - v->start), length) ==
                   bytes.substr(offset, length);
    }
};

TEST_F(ViewCacheTest, WindowsAreSharedEvictedAndKeptAliveByTheirUsers) {
    vfs::SharedView* kept = nullptr;
    {
        vfs::ViewCache cache(env, mapping, bytes.size(), true);
        vfs::SharedView* a = cache.acquire(100, 4096);
        vfs::SharedView* b = cache.acquire(W - 10, 10);
        ASSERT_TRUE(holds(a, 100, 4096));
        EXPECT_EQ(a, b);  // same window
        EXPECT_EQ(a->start, 0u);
        EXPECT_EQ(cache.acquire(W - 10, 11), nullptr);  // crosses into the next window
        // The last window is cut at the end of the file.
        vfs::SharedView* last = cache.acquire(5 * W + 12000, 345);
        ASSERT_TRUE(holds(last, 5 * W + 12000, 345));
        EXPECT_EQ(last->length, 12345u);
        // Window 4 takes window 0's cache slot; window 0 lives on for its two users.
        vfs::SharedView* four = cache.acquire(4 * W + 1, 1);
        ASSERT_TRUE(holds(four, 4 * W + 1, 1));
        EXPECT_TRUE(holds(a, 100, 4096));
        vfs::SharedView* again = cache.acquire(200, 1);
        ASSERT_TRUE(holds(again, 200, 1));
        EXPECT_NE(again, a);  // mapped afresh
        vfs::releaseView(b);
        kept = a;
        vfs::releaseView(again);
        vfs::releaseView(four);
        vfs::releaseView(last);
    }
    // The cache is gone (as after closing the store); the file's view still reads.
    EXPECT_TRUE(holds(kept, 100, 4096));
    vfs::releaseView(kept);
}

TEST_F(ViewCacheTest, SixtyFourBitProcessesMapThePackOnce) {
    vfs::ViewCache cache(env, mapping, bytes.size(), false);
    vfs::SharedView* first = cache.acquire(0, 10);
    vfs::SharedView* across = cache.acquire(W - 10, 100);
    vfs::SharedView* end = cache.acquire(bytes.size() - 5, 5);
    EXPECT_EQ(first, across);
    EXPECT_EQ(first, end);
    EXPECT_TRUE(holds(across, W - 10, 100));
    EXPECT_TRUE(holds(end, bytes.size() - 5, 5));
    vfs::releaseView(first);
    vfs::releaseView(across);
    vfs::releaseView(end);
}

}  // namespace
