#include "launcher/core/board_lock.h"

namespace core {

CCriticalSection::CCriticalSection() : mutex(CreateMutexA(nullptr, FALSE, nullptr)) {}

CCriticalSection::~CCriticalSection() = default;

bool CCriticalSection::take() {
    if (!mutex) return false;
    const DWORD waited = WaitForSingleObject(mutex, 100);
    return waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
}

void CCriticalSection::release() {
    if (mutex) ReleaseMutex(mutex);
}

CCriticalSection* boardLock = nullptr;

namespace {

// First of the launcher's process-wide state: made before the objects of every other file, so all
// that is set up during static initialisation may already count on the lock.
struct BoardLockMaker {
    BoardLockMaker() { boardLock = new CCriticalSection; }
};
__attribute__((init_priority(101))) BoardLockMaker makeBoardLock;

}  // namespace

}  // namespace core
