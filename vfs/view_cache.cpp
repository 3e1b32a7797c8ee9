#include "vfs/view_cache.h"

#include <cstddef>
#include <cstdint>
#include <new>

namespace vfs {

void releaseView(SharedView* view) {
    if (!view) return;
    if (view->references.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        view->env->unmapView(&view->view);
        delete view;
    }
}

ViewCache::ViewCache(platform::Env& env, const ViewPolicy& policy)
    : env_(env), windowSize_(policy.windowed ? WindowSize : Unlimited), budget_(policy.budget) {}

ViewCache::~ViewCache() {
    // Files still reading a view keep it alive; the rest are unmapped here.
    while (SharedView* view = newest_) {
        unlink(view);
        releaseView(view);
    }
}

bool ViewCache::addPack(platform::Mapping* mapping, uint64_t fileSize, uint32_t* pack) {
    uint64_t windows = windowSize_ == Unlimited ? 1 : (fileSize + windowSize_ - 1) / windowSize_;
    if (windows > SIZE_MAX / sizeof(SharedView*)) return false;
    try {
        Pack entry;
        entry.mapping = mapping;
        entry.fileSize = fileSize;
        entry.windows.assign(static_cast<size_t>(windows), nullptr);
        packs_.push_back(std::move(entry));
    } catch (const std::bad_alloc&) {
        return false;
    }
    *pack = static_cast<uint32_t>(packs_.size() - 1);
    return true;
}

void ViewCache::unlink(SharedView* view) {
    (view->newer ? view->newer->older : newest_) = view->older;
    (view->older ? view->older->newer : oldest_) = view->newer;
    view->newer = view->older = nullptr;
}

void ViewCache::linkNewest(SharedView* view) {
    view->older = newest_;
    view->newer = nullptr;
    (newest_ ? newest_->newer : oldest_) = view;
    newest_ = view;
}

SharedView* ViewCache::mapWindow(uint32_t pack, uint64_t start, uint64_t length) {
    SharedView* view = new (std::nothrow) SharedView;
    if (!view) return nullptr;
    view->env = &env_;
    view->start = start;
    view->length = length;
    view->pack = pack;
    if (!env_.mapView(packs_[pack].mapping, start, static_cast<size_t>(length), &view->view)) {
        delete view;
        return nullptr;
    }
    return view;
}

// Unmaps the least recently used view that no file reads. False when every view is in use. Called
// with the lock held: then only files can drop references, so a view seen with the cache's reference
// alone stays unused.
bool ViewCache::evictLeastRecentlyUsed() {
    for (SharedView* view = oldest_; view; view = view->newer) {
        if (view->references.load(std::memory_order_acquire) != 1) continue;
        unlink(view);
        uint64_t number = windowSize_ == Unlimited ? 0 : view->start / windowSize_;
        packs_[view->pack].windows[static_cast<size_t>(number)] = nullptr;
        mapped_ -= view->length;
        releaseView(view);
        return true;
    }
    return false;
}

SharedView* ViewCache::acquire(uint32_t pack, uint64_t offset, uint64_t length) {
    if (pack >= packs_.size()) return nullptr;
    const Pack& p = packs_[pack];
    if (offset > p.fileSize || length > p.fileSize - offset) return nullptr;
    uint64_t number = 0, start = 0, windowLength = p.fileSize;
    if (windowSize_ != Unlimited) {
        number = offset / windowSize_;
        start = number * windowSize_;
        if (offset + length > start + windowSize_) return nullptr;
        windowLength = p.fileSize - start < windowSize_ ? p.fileSize - start : windowSize_;
    }
    // A view's length is a size_t: a whole pack of 4 GiB or more has no view in a 32-bit process.
    if (windowLength > budget_ || static_cast<size_t>(windowLength) != windowLength) return nullptr;

    std::lock_guard<std::mutex> hold(lock_);
    SharedView*& slot = packs_[pack].windows[static_cast<size_t>(number)];
    if (slot) {
        if (slot != newest_) {
            unlink(slot);
            linkNewest(slot);
        }
    } else {
        while (windowLength > budget_ - mapped_) {
            if (!evictLeastRecentlyUsed()) return nullptr;
        }
        SharedView* fresh = mapWindow(pack, start, windowLength);
        if (!fresh) return nullptr;
        linkNewest(fresh);
        mapped_ += windowLength;
        slot = fresh;
    }
    slot->references.fetch_add(1, std::memory_order_relaxed);
    return slot;
}

uint64_t ViewCache::mappedBytes() {
    std::lock_guard<std::mutex> hold(lock_);
    return mapped_;
}

}  // namespace vfs
