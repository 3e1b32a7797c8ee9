// An Env that passes every call on to another one: the base of the test wrappers, which override
// only the calls they change.
#pragma once

#include "platform/env.h"

class ForwardingEnv : public platform::Env {
public:
    explicit ForwardingEnv(platform::Env& base) : base_(base) {}

    platform::File* openReadWrite(const char* p) override { return base_.openReadWrite(p); }
    platform::File* openReadOnly(const char* p) override { return base_.openReadOnly(p); }
    platform::File* createReadWrite(const char* p) override { return base_.createReadWrite(p); }
    void closeFile(platform::File* f) override { base_.closeFile(f); }
    bool fileSize(platform::File* f, uint64_t* s) override { return base_.fileSize(f, s); }
    bool readAt(platform::File* f, uint64_t o, void* d, size_t l, size_t* g) override {
        return base_.readAt(f, o, d, l, g);
    }
    bool writeAt(platform::File* f, uint64_t o, const void* d, size_t l) override { return base_.writeAt(f, o, d, l); }
    bool flush(platform::File* f) override { return base_.flush(f); }
    platform::Mapping* mapReadOnly(platform::File* f) override { return base_.mapReadOnly(f); }
    bool mapView(platform::Mapping* m, uint64_t o, size_t l, platform::View* v) override {
        return base_.mapView(m, o, l, v);
    }
    void unmapView(platform::View* v) override { base_.unmapView(v); }
    void closeMapping(platform::Mapping* m) override { base_.closeMapping(m); }
    uint32_t allocationGranularity() override { return base_.allocationGranularity(); }
    bool exists(const char* p) override { return base_.exists(p); }
    bool isFolder(const char* p) override { return base_.isFolder(p); }
    bool createFolder(const char* p) override { return base_.createFolder(p); }
    bool flushFolder(const char* p) override { return base_.flushFolder(p); }
    bool deleteFile(const char* p) override { return base_.deleteFile(p); }
    bool replaceFile(const char* a, const char* b) override { return base_.replaceFile(a, b); }
    bool copyFile(const char* a, const char* b) override { return base_.copyFile(a, b); }
    std::string programPath() override { return base_.programPath(); }
    int32_t profileInt(const char* s, const char* k, int32_t d, const char* f) override {
        return base_.profileInt(s, k, d, f);
    }
    void setConsoleColour(uint16_t a) override { base_.setConsoleColour(a); }
    void setBinaryFileMode() override { base_.setBinaryFileMode(); }
    uint64_t tickMs() override { return base_.tickMs(); }

protected:
    platform::Env& base_;
};
