// Shared views of a pack file. Mapping a fresh view for every opened file makes each open pay for a
// mapping, a page fault on bytes that are already in memory and an unmapping; a game that opens
// thousands of small files pays that thousands of times. Files are therefore served from a few
// larger views of their pack that stay mapped while files use them and while the store keeps them
// cached, so reopening a file, or a neighbour of it, costs nothing of the kind. The bytes are never
// copied.
//
// In a 64-bit process one view covers the whole pack. In a 32-bit process address space is scarce:
// views are windows of WindowSize bytes at window-aligned offsets, at most CachedWindows of them per
// pack are kept; a file that crosses a window boundary gets a view of its own, as before.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

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
};

// Drops one reference; the last one unmaps the view. nullptr is accepted.
void releaseView(SharedView* view);

class ViewCache {
public:
    static constexpr uint64_t WindowSize = 8u << 20;
    static constexpr unsigned CachedWindows = 4;

    // `windowed` chooses the 32-bit policy; by default it follows the process's pointer size.
    ViewCache(platform::Env& env, platform::Mapping* mapping, uint64_t fileSize, bool windowed = sizeof(void*) < 8);
    ~ViewCache();
    ViewCache(const ViewCache&) = delete;
    ViewCache& operator=(const ViewCache&) = delete;

    // A view that holds the bytes [offset, offset + length), with one reference taken for the caller;
    // nullptr when no shared view serves that range (it crosses a window boundary, or mapping failed)
    // and the caller should map a view of its own. Safe to call from several threads at once.
    SharedView* acquire(uint64_t offset, uint64_t length);

private:
    SharedView* mapWindow(uint64_t start, uint64_t length);

    platform::Env& env_;
    platform::Mapping* mapping_;
    uint64_t fileSize_;
    bool wholeFile_;
    std::mutex lock_;
    SharedView* slots_[CachedWindows] = {};
};

}  // namespace vfs
