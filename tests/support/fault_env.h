// An Env wrapper for tests that makes chosen calls fail, so every error path of the storage layer can
// be walked: "fail the Nth mutating call", short writes (a full disk after a byte budget).
#pragma once

#include <cstdint>

#include "platform/env.h"

class FaultEnv : public platform::Env {
public:
    explicit FaultEnv(platform::Env& base = platform::defaultEnv()) : base_(base) {}

    // The Nth call (1-based) of any operation that changes the disk fails; 0 turns it off.
    void failMutationNumber(int n) {
        failAt_ = n;
        mutations_ = 0;
    }
    // After this many more bytes, writes fail (the disk is full). Negative: unlimited.
    void setDiskSpace(int64_t bytes) { space_ = bytes; }
    int mutations() const { return mutations_; }
    bool injected() const { return injected_; }

    platform::File* openReadWrite(const char* p) override { return base_.openReadWrite(p); }
    platform::File* openReadOnly(const char* p) override { return base_.openReadOnly(p); }
    platform::File* createReadWrite(const char* p) override { return mutate() ? base_.createReadWrite(p) : nullptr; }
    void closeFile(platform::File* f) override { base_.closeFile(f); }
    bool fileSize(platform::File* f, uint64_t* s) override { return base_.fileSize(f, s); }
    bool readAt(platform::File* f, uint64_t o, void* d, size_t l, size_t* g) override { return base_.readAt(f, o, d, l, g); }
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
    platform::Mapping* mapReadOnly(platform::File* f) override { return base_.mapReadOnly(f); }
    bool mapView(platform::Mapping* m, uint64_t o, size_t l, platform::View* v) override { return base_.mapView(m, o, l, v); }
    void unmapView(platform::View* v) override { base_.unmapView(v); }
    void closeMapping(platform::Mapping* m) override { base_.closeMapping(m); }
    uint32_t allocationGranularity() override { return base_.allocationGranularity(); }
    bool exists(const char* p) override { return base_.exists(p); }
    bool isFolder(const char* p) override { return base_.isFolder(p); }
    bool createFolder(const char* p) override { return mutate() && base_.createFolder(p); }
    bool deleteFile(const char* p) override { return mutate() && base_.deleteFile(p); }
    bool flushFolder(const char* p) override { return mutate() && base_.flushFolder(p); }
    bool replaceFile(const char* a, const char* b) override { return mutate() && base_.replaceFile(a, b); }
    bool copyFile(const char* a, const char* b) override { return mutate() && base_.copyFile(a, b); }
    std::string programPath() override { return base_.programPath(); }
    int32_t profileInt(const char* s, const char* k, int32_t d, const char* f) override { return base_.profileInt(s, k, d, f); }
    void setConsoleColour(uint16_t a) override { base_.setConsoleColour(a); }
    void setBinaryFileMode() override { base_.setBinaryFileMode(); }
    uint64_t tickMs() override { return base_.tickMs(); }

private:
    bool mutate() {
        ++mutations_;
        if (failAt_ > 0 && mutations_ == failAt_) {
            injected_ = true;
            return false;
        }
        return true;
    }
    platform::Env& base_;
    int failAt_ = 0;
    int mutations_ = 0;
    int64_t space_ = -1;
    bool injected_ = false;
};
