// A file opened through the platform seam, read by offset by the format decoders.
#pragma once

#include "packformat/window_reader.h"
#include "platform/env.h"

namespace packstore {

class FileInput : public packformat::ByteInput {
public:
    FileInput(platform::Env& env, platform::File* file, uint64_t size) : env_(env), file_(file), size_(size) {}
    uint64_t size() const override { return size_; }
    bool read(uint64_t offset, uint8_t* out, size_t length) override {
        size_t got = 0;
        return env_.readAt(file_, offset, out, length, &got) && got == length;
    }

private:
    platform::Env& env_;
    platform::File* file_;
    uint64_t size_;
};

}  // namespace packstore
