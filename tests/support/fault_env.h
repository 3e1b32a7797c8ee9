// An Env wrapper for tests that makes chosen calls fail, so every error path of the storage layer can
// be walked: "fail the Nth mutating call", short writes (a full disk after a byte budget).
#pragma once

#include <cstdint>

#include "platform/env.h"
#include "tests/support/forwarding_env.h"

class FaultEnv : public ForwardingEnv {
public:
    explicit FaultEnv(platform::Env& base = platform::defaultEnv()) : ForwardingEnv(base) {}

    // The Nth call (1-based) of any operation that changes the disk fails; 0 turns it off.
    void failMutationNumber(int n) {
        failAt_ = n;
        mutations_ = 0;
    }
    // After this many more bytes, writes fail (the disk is full). Negative: unlimited.
    void setDiskSpace(int64_t bytes) { space_ = bytes; }
    int mutations() const { return mutations_; }
    bool injected() const { return injected_; }

    platform::File* createReadWrite(const char* p) override { return mutate() ? base_.createReadWrite(p) : nullptr; }
    bool writeAt(platform::File* f, uint64_t o, const void* d, size_t l) override {
        if (!mutate()) return false;
        if (space_ >= 0) {
            if (static_cast<int64_t>(l) > space_) {
                // Store what fits, then fail: a short write.
                if (space_ > 0) base_.writeAt(f, o, d, static_cast<size_t>(space_));
                space_ = 0;
                injected_ = true;
                return false;
            }
            space_ -= static_cast<int64_t>(l);
        }
        return base_.writeAt(f, o, d, l);
    }
    bool flush(platform::File* f) override { return mutate() && base_.flush(f); }
    bool createFolder(const char* p) override { return mutate() && base_.createFolder(p); }
    bool deleteFile(const char* p) override { return mutate() && base_.deleteFile(p); }
    bool flushFolder(const char* p) override { return mutate() && base_.flushFolder(p); }
    bool replaceFile(const char* a, const char* b) override { return mutate() && base_.replaceFile(a, b); }
    bool copyFile(const char* a, const char* b) override { return mutate() && base_.copyFile(a, b); }

private:
    bool mutate() {
        ++mutations_;
        if (failAt_ > 0 && mutations_ == failAt_) {
            injected_ = true;
            return false;
        }
        return true;
    }
    int failAt_ = 0;
    int mutations_ = 0;
    int64_t space_ = -1;
    bool injected_ = false;
};
