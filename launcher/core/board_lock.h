// The lock around the status board: a Windows mutex, so the thread that holds it may take it again,
// and it may be released by another function than the one that took it (on the same thread).
// Every wait for it is bounded at 100 milliseconds.
#pragma once

#include <windows.h>

namespace core {

class CCriticalSection {
public:
    // Creates the mutex: unnamed, default security, not owned.
    CCriticalSection();
    // Leaves the mutex alone: the one instance lives until the process ends.
    virtual ~CCriticalSection();

    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;

    // Waits at most 100 milliseconds for the mutex. True when the calling thread now holds it (an
    // abandoned mutex counts as taken); false when the wait ran out or failed: the caller then holds
    // nothing and must not touch what the lock guards, nor release it.
    bool take();
    // Releases one hold of the calling thread. Releasing a lock the thread does not hold fails
    // harmlessly.
    void release();

    HANDLE mutex;
};

// The one lock of the status board; created during static initialisation, before any other state of
// the launcher, and never destroyed.
extern CCriticalSection* boardLock;

// Holds `boardLock` for one scope, when the bounded wait succeeded.
class BoardLockHold {
public:
    BoardLockHold() : held_(boardLock->take()) {}
    ~BoardLockHold() {
        if (held_) boardLock->release();
    }
    BoardLockHold(const BoardLockHold&) = delete;
    BoardLockHold& operator=(const BoardLockHold&) = delete;

    bool held() const { return held_; }

private:
    bool held_;
};

}  // namespace core
