// The bytes of one file on their way into the store or onto the disk, handed out piece by piece so
// that a file of any size is written through a buffer of fixed size.
#pragma once

#include <cstddef>
#include <cstdint>

namespace packstore {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Points *data at the next bytes, at most `most` of them (most > 0), and stores their number in
    // *got (at least 1). The bytes stay valid until the next call. False when they cannot be had.
    virtual bool next(size_t most, const uint8_t** data, size_t* got) = 0;
};

// Bytes that are already in memory.
class MemorySource : public ByteSource {
public:
    MemorySource(const uint8_t* data, size_t length) : data_(data), left_(length) {}
    bool next(size_t most, const uint8_t** data, size_t* got) override {
        if (left_ == 0 || most == 0) return false;
        *data = data_;
        *got = most < left_ ? most : left_;
        data_ += *got;
        left_ -= *got;
        return true;
    }

private:
    const uint8_t* data_;
    size_t left_;
};

}  // namespace packstore
