// An Env wrapper for tests that makes chosen calls fail, so every error path of the storage layer can
// be walked: calls picked by kind (open, read, write, flush, map, namespace), failing from now on or
// only once; "fail the Nth call of these kinds" for loops that fail each call in turn; short writes
// (a full disk after a byte budget). A failure it injects is recorded as the call's reason, as the
// backends record theirs (platform::lastFailure()). For one thread: its counters are plain integers.
#pragma once

#include <cstdint>

#include "platform/env.h"
#include "platform/env_wrapper.h"

class FaultEnv : public platform::EnvWrapper {
public:
    // The kinds of call, as a mask. A call may be of two kinds: createReadWrite opens a file and also
    // adds a name to its folder.
    enum Kind : unsigned {
        Open = 1u << 0,       // openReadWrite, openReadOnly, createReadWrite
        Read = 1u << 1,       // fileSize, readAt
        Write = 1u << 2,      // writeAt
        Flush = 1u << 3,      // flush, flushFolder
        Map = 1u << 4,        // mapReadOnly, mapView
        Namespace = 1u << 5,  // createReadWrite, createFolder, deleteFile, replaceFile, copyFile
        // The calls that change the disk.
        Mutating = Write | Flush | Namespace,
        AnyKind = Open | Read | Write | Flush | Map | Namespace,
    };
    enum Persistence { Once, Persistent };

    explicit FaultEnv(platform::Env& target = platform::defaultEnv()) : platform::EnvWrapper(target) {}

    // Every call of the kinds in `kinds` fails from now on (Persistent), or only the next one (Once).
    // 0 stops it.
    void failCalls(unsigned kinds, Persistence how = Persistent) {
        failKinds_ = kinds;
        once_ = how == Once;
    }
    // The Nth call (1-based) of the kinds in `kinds`, counted from now, fails; 0 turns it off.
    void failCallNumber(unsigned kinds, int n) {
        countedKinds_ = kinds;
        failAt_ = n;
        counted_ = 0;
    }
    // The Nth call (1-based) of any operation that changes the disk fails; 0 turns it off.
    void failMutationNumber(int n) {
        failCallNumber(Mutating, n);
        mutations_ = 0;
    }
    // After this many more bytes, writes fail (the disk is full). Negative: unlimited.
    void setDiskSpace(int64_t bytes) { space_ = bytes; }
    // Calls that changed the disk or tried to, since the start or the last failMutationNumber.
    int mutations() const { return mutations_; }
    // Whether a failure was injected, and how many.
    bool injected() const { return injections_ > 0; }
    int injections() const { return injections_; }

    platform::File* openReadWrite(const char* p) override {
        return pass(Open, "open") ? target_.openReadWrite(p) : nullptr;
    }
    platform::File* openReadOnly(const char* p) override {
        return pass(Open, "open") ? target_.openReadOnly(p) : nullptr;
    }
    platform::File* createReadWrite(const char* p) override {
        return pass(Open | Namespace, "create") ? target_.createReadWrite(p) : nullptr;
    }
    bool fileSize(platform::File* f, uint64_t* s) override { return pass(Read, "size") && target_.fileSize(f, s); }
    bool readAt(platform::File* f, uint64_t o, void* d, size_t l, size_t* g) override {
        if (!pass(Read, "read")) {
            *g = 0;
            return false;
        }
        return target_.readAt(f, o, d, l, g);
    }
    bool writeAt(platform::File* f, uint64_t o, const void* d, size_t l) override {
        if (!pass(Write, "write")) return false;
        if (space_ >= 0) {
            if (static_cast<int64_t>(l) > space_) {
                // Store what fits, then fail: a short write.
                if (space_ > 0) target_.writeAt(f, o, d, static_cast<size_t>(space_));
                space_ = 0;
                inject("write", "the disk is full");
                return false;
            }
            space_ -= static_cast<int64_t>(l);
        }
        return target_.writeAt(f, o, d, l);
    }
    bool flush(platform::File* f) override { return pass(Flush, "flush") && target_.flush(f); }
    platform::Mapping* mapReadOnly(platform::File* f) override {
        return pass(Map, "map") ? target_.mapReadOnly(f) : nullptr;
    }
    bool mapView(platform::Mapping* m, uint64_t o, size_t l, platform::View* v) override {
        if (!pass(Map, "map a view")) {
            *v = platform::View{};
            return false;
        }
        return target_.mapView(m, o, l, v);
    }
    bool createFolder(const char* p) override { return pass(Namespace, "create a folder") && target_.createFolder(p); }
    bool deleteFile(const char* p) override { return pass(Namespace, "delete") && target_.deleteFile(p); }
    bool flushFolder(const char* p) override { return pass(Flush, "flush a folder") && target_.flushFolder(p); }
    bool replaceFile(const char* a, const char* b) override {
        return pass(Namespace, "replace") && target_.replaceFile(a, b);
    }
    bool copyFile(const char* a, const char* b) override { return pass(Namespace, "copy") && target_.copyFile(a, b); }

private:
    // Counts the call and says whether it may go on to the wrapped Env.
    bool pass(unsigned kinds, const char* call) {
        if (kinds & Mutating) ++mutations_;
        bool fail = false;
        if ((kinds & countedKinds_) && ++counted_ == failAt_ && failAt_ > 0) fail = true;
        if (kinds & failKinds_) {
            fail = true;
            if (once_) failKinds_ = 0;
        }
        if (fail) inject(call, "injected fault");
        return !fail;
    }
    void inject(const char* call, const char* what) {
        ++injections_;
        platform::setLastFailure("%s: %s", call, what);
    }

    unsigned failKinds_ = 0;
    bool once_ = false;
    unsigned countedKinds_ = 0;
    int failAt_ = 0;
    int counted_ = 0;
    int mutations_ = 0;
    int64_t space_ = -1;
    int injections_ = 0;
};
