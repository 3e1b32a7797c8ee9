#include "launcher/packstore/store_owner.h"

#include <cstdlib>
#include <mutex>
#include <thread>

#include "launcher/core/debug_log.h"
#include "launcher/packstore/pack_store.h"

namespace packstore {

namespace {

struct Ownership {
    std::mutex lock;
    bool ending = false;  // the exit path has run: nobody takes the store any more
    bool held = false;
    std::thread::id holder;
};

Ownership& ownership() {
    static Ownership* state = new Ownership;  // never destroyed: see the header
    return *state;
}

// Registered once, when the program starts, with everything it needs already made.
[[maybe_unused]] const bool exitHandlerRegistered = [] {
    ownership();
    platform::defaultEnv();
    core::DebugLog::instance();
    return std::atexit([] { releaseStoreAtExit(); }) == 0;
}();

}  // namespace

StoreUse::StoreUse() : held_(false) {
    Ownership& o = ownership();
    std::lock_guard<std::mutex> guard(o.lock);
    if (o.ending || o.held) return;
    o.held = true;
    o.holder = std::this_thread::get_id();
    held_ = true;
}

StoreUse::~StoreUse() {
    if (!held_) return;
    Ownership& o = ownership();
    std::lock_guard<std::mutex> guard(o.lock);
    o.held = false;
}

bool releaseStoreAtExit() {
    Ownership& o = ownership();
    std::lock_guard<std::mutex> guard(o.lock);
    const bool first = !o.ending;
    o.ending = true;
    if (o.held && o.holder != std::this_thread::get_id()) {
        if (first) TALVORA_DEBUG("Ending while the pack store is in use: it is left as the last save wrote it");
        return false;
    }
    // Under the lock, so nobody can take the store while it is being released.
    releasePackIndex();
    return true;
}

}  // namespace packstore
