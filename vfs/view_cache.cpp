#include "vfs/view_cache.h"

#include <new>

namespace vfs {

void releaseView(SharedView* view) {
    if (!view) return;
    if (view->references.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        view->env->unmapView(&view->view);
        delete view;
    }
}

ViewCache::ViewCache(platform::Env& env, platform::Mapping* mapping, uint64_t fileSize, bool windowed)
    : env_(env), mapping_(mapping), fileSize_(fileSize), wholeFile_(!windowed) {}

ViewCache::~ViewCache() {
    for (SharedView*& slot : slots_) {
        releaseView(slot);
        slot = nullptr;
    }
}

SharedView* ViewCache::mapWindow(uint64_t start, uint64_t length) {
    SharedView* view = new (std::nothrow) SharedView;
    if (!view) return nullptr;
    view->env = &env_;
    view->start = start;
    view->length = length;
    if (!env_.mapView(mapping_, start, static_cast<size_t>(length), &view->view)) {
        delete view;
        return nullptr;
    }
    return view;
}

SharedView* ViewCache::acquire(uint64_t offset, uint64_t length) {
    uint64_t start = 0, windowLength = fileSize_;
    unsigned slot = 0;
    if (!wholeFile_) {
        start = offset - offset % WindowSize;
        if (offset + length > start + WindowSize) return nullptr;
        windowLength = fileSize_ - start < WindowSize ? fileSize_ - start : WindowSize;
        slot = static_cast<unsigned>((start / WindowSize) % CachedWindows);
    }
    std::lock_guard<std::mutex> hold(lock_);
    SharedView*& cached = slots_[slot];
    if (!cached || cached->start != start) {
        SharedView* fresh = mapWindow(start, windowLength);
        if (!fresh) return nullptr;
        releaseView(cached);  // files still reading the old window keep it alive
        cached = fresh;
    }
    cached->references.fetch_add(1, std::memory_order_relaxed);
    return cached;
}

}  // namespace vfs
