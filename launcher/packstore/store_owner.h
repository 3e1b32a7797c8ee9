// Who may touch the launcher's pack store, and when. The store has one owner at a time: the patch
// session while it loads and patches it, or the exit path once the launcher ends. The exit path
// releases the store only when nobody else holds it; when the session is still at work (the window
// was closed in the middle of a patch) the store is left exactly as it is, and the end of the process
// closes its handles. What is on disk is then the last saved index, whatever the session was doing:
// bytes are only ever appended, and a new index replaces the old one in one step.
//
// The state lives on the heap and is never destroyed, like the store itself: the exit path runs
// while other threads may still be working, and nothing they use may be destroyed under them.
#pragma once

namespace packstore {

// The patch session's hold on the store, for as long as the object lives. Not taken (false) when
// the launcher is already ending, or another holder has it; the holder must then leave the store
// alone.
class StoreUse {
public:
    StoreUse();
    ~StoreUse();
    StoreUse(const StoreUse&) = delete;
    StoreUse& operator=(const StoreUse&) = delete;
    explicit operator bool() const { return held_; }

private:
    bool held_;
};

// The exit handler (registered with the runtime's exit when the program starts): releases the store
// unless another thread holds it, and lets nobody take it afterwards. True when it released it.
// Safe to call more than once and from the thread that holds the store (the self-update ends the
// process from the session's own thread).
bool releaseStoreAtExit();

}  // namespace packstore
