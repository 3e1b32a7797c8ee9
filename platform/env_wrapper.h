// An Env that passes every call on to another one. A wrapper derives from it and overrides only the
// calls it changes, so a call added to Env is forwarded everywhere by adding it here once (the test
// Envs that inject faults, simulate power cuts or measure calls are all built this way).
#pragma once

#include <string>

#include "platform/env.h"

namespace platform {

class EnvWrapper : public Env {
public:
    // `target` must outlive the wrapper.
    explicit EnvWrapper(Env& target) : target_(target) {}

    // The Env every call goes to.
    Env& target() const { return target_; }

    File* openReadWrite(const char* p) override { return target_.openReadWrite(p); }
    File* openReadOnly(const char* p) override { return target_.openReadOnly(p); }
    File* createReadWrite(const char* p) override { return target_.createReadWrite(p); }
    void closeFile(File* f) override { target_.closeFile(f); }
    bool fileSize(File* f, uint64_t* s) override { return target_.fileSize(f, s); }
    bool readAt(File* f, uint64_t o, void* d, size_t l, size_t* g) override { return target_.readAt(f, o, d, l, g); }
    bool writeAt(File* f, uint64_t o, const void* d, size_t l) override { return target_.writeAt(f, o, d, l); }
    bool flush(File* f) override { return target_.flush(f); }
    Mapping* mapReadOnly(File* f) override { return target_.mapReadOnly(f); }
    bool mapView(Mapping* m, uint64_t o, size_t l, View* v) override { return target_.mapView(m, o, l, v); }
    void unmapView(View* v) override { target_.unmapView(v); }
    void closeMapping(Mapping* m) override { target_.closeMapping(m); }
    uint32_t allocationGranularity() override { return target_.allocationGranularity(); }
    bool exists(const char* p) override { return target_.exists(p); }
    bool isFolder(const char* p) override { return target_.isFolder(p); }
    bool createFolder(const char* p) override { return target_.createFolder(p); }
    bool deleteFile(const char* p) override { return target_.deleteFile(p); }
    bool flushFolder(const char* p) override { return target_.flushFolder(p); }
    bool replaceFile(const char* a, const char* b) override { return target_.replaceFile(a, b); }
    bool copyFile(const char* a, const char* b) override { return target_.copyFile(a, b); }
    std::string programPath() override { return target_.programPath(); }
    int32_t profileInt(const char* s, const char* k, int32_t d, const char* f) override {
        return target_.profileInt(s, k, d, f);
    }
    void setConsoleColour(uint16_t a) override { target_.setConsoleColour(a); }
    void setBinaryFileMode() override { target_.setBinaryFileMode(); }
    uint64_t tickMs() override { return target_.tickMs(); }

protected:
    Env& target_;
};

}  // namespace platform
