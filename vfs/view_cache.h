// Shared views of a store's packs. Mapping a fresh view for every opened file makes each open pay for
// a mapping, a page fault on bytes that are already in memory and an unmapping; a game that opens
// thousands of small files pays that thousands of times. Files are therefore served from a few
// larger views of their pack that stay mapped while files use them and while the store keeps them
// cached, so reopening a file, or a neighbour of it, costs nothing of the kind. The bytes are never
// copied.
//
// In a 64-bit process one view covers each whole pack. In a 32-bit process address space is scarce:
// views are windows of WindowSize bytes at window-aligned offsets, and the whole store, across all
// its packs, keeps at most `budget` bytes of windows mapped (WindowBudget by default), however many
// files are open. A window that nobody reads stays mapped until its room is needed for another one;
// then the window used least recently goes. A file that crosses a window boundary, or whose window
// finds no room because every mapped window is being read, gets a view of just its own range, as
// before; those views are the file's own and not part of the budget.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/env.h"

namespace vfs {

// A mapped view shared by the files that read from it and the cache that keeps it; released when the
// last of them lets go. Outlives the store when files are still open.
struct SharedView {
    platform::Env* env = nullptr;
    platform::View view;
    uint64_t start = 0;  // offset of view.data in the pack file
    uint64_t length = 0;
    std::atomic<uint32_t> references{1};
    // The cache's bookkeeping, guarded by its lock while the cache holds the view.
    uint32_t pack = 0;
    SharedView* newer = nullptr;
    SharedView* older = nullptr;
};

// Drops one reference; the last one unmaps the view. nullptr is accepted.
void releaseView(SharedView* view);

struct ViewPolicy;  // below

class ViewCache {
public:
    static constexpr uint64_t WindowSize = 8u << 20;
    static constexpr uint64_t WindowBudget = 256u << 20;
    static constexpr uint64_t Unlimited = ~uint64_t{0};

    ViewCache(platform::Env& env, const ViewPolicy& policy);
    ~ViewCache();
    ViewCache(const ViewCache&) = delete;
    ViewCache& operator=(const ViewCache&) = delete;

    // Makes the pack of `mapping` (`fileSize` bytes) one the cache serves and stores its number for
    // acquire in *pack. Returns false when memory runs out. Call before any acquire: adding packs is
    // not safe while other threads acquire views.
    bool addPack(platform::Mapping* mapping, uint64_t fileSize, uint32_t* pack);

    // A view of pack `pack` that holds the bytes [offset, offset + length), with one reference taken
    // for the caller; nullptr when no shared view serves that range (it crosses a window boundary or
    // lies outside the pack, the budget has no room left that an unused window could give back, or
    // mapping failed) and the caller should map a view of its own. Safe to call from several threads
    // at once.
    SharedView* acquire(uint32_t pack, uint64_t offset, uint64_t length);

    // Bytes of the views the cache holds now (never above the policy's budget).
    uint64_t mappedBytes();

private:
    struct Pack {
        platform::Mapping* mapping = nullptr;
        uint64_t fileSize = 0;
        std::vector<SharedView*> windows;  // by window number: the mapped ones, else nullptr
    };

    SharedView* mapWindow(uint32_t pack, uint64_t start, uint64_t length);
    bool evictLeastRecentlyUsed();
    void unlink(SharedView* view);
    void linkNewest(SharedView* view);

    platform::Env& env_;
    const uint64_t windowSize_;  // Unlimited: one view of the whole pack
    const uint64_t budget_;
    std::vector<Pack> packs_;
    std::mutex lock_;
    uint64_t mapped_ = 0;
    SharedView* newest_ = nullptr;  // every view the cache holds, from the last used to the first
    SharedView* oldest_ = nullptr;
};

// How a store shares views of its packs. By default what this process needs: windows within
// ViewCache::WindowBudget for a 32-bit process, whole packs without a bound for a 64-bit one. Tests
// choose another policy to run the 32-bit one on a 64-bit host.
struct ViewPolicy {
    // Windows of ViewCache::WindowSize, or one view of each whole pack.
    bool windowed = sizeof(void*) < 8;
    // Most bytes of shared views mapped at once, all packs together.
    uint64_t budget = windowed ? ViewCache::WindowBudget : ViewCache::Unlimited;
};

}  // namespace vfs
