// Reading a file's fields in order through a window of fixed size, so that a decoder never holds
// more of a file than the window, whatever the file's size. The bytes come from a ByteInput: a file
// read by offset, or a buffer in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace packformat {

class ByteInput {
public:
    virtual ~ByteInput() = default;
    // The input's size in bytes.
    virtual uint64_t size() const = 0;
    // Reads the `length` bytes at `offset` (always within the size) into `out`; false when they
    // cannot be read.
    virtual bool read(uint64_t offset, uint8_t* out, size_t length) = 0;
};

class MemoryInput : public ByteInput {
public:
    MemoryInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint64_t size() const override { return size_; }
    bool read(uint64_t offset, uint8_t* out, size_t length) override {
        if (length) std::memcpy(out, data_ + offset, length);
        return true;
    }

private:
    const uint8_t* data_;
    size_t size_;
};

// Little-endian fields in order. The window moves forward only as far as the fields need; bytes
// stepped over with skip() are not read. Every read says whether it fitted; readFailed() tells a
// short input from an input that could not be read.
class WindowReader {
public:
    static constexpr size_t DefaultWindow = 1u << 20;

    explicit WindowReader(ByteInput& input, size_t window = DefaultWindow)
        : input_(input), size_(input.size()), windowSize_(window) {}

    uint64_t position() const { return pos_; }
    uint64_t remaining() const { return size_ - pos_; }
    bool readFailed() const { return readFailed_; }

    // Copies the next n bytes (n at most the window's size) into out.
    bool take(void* out, size_t n) {
        if (remaining() < n || n > windowSize_ || readFailed_) return false;
        if (pos_ < windowStart_ || pos_ + n > windowStart_ + window_.size()) {
            size_t want = static_cast<size_t>(remaining() < windowSize_ ? remaining() : windowSize_);
            window_.resize(want);
            windowStart_ = pos_;
            if (!input_.read(pos_, window_.data(), want)) {
                window_.clear();
                readFailed_ = true;
                return false;
            }
        }
        if (n) std::memcpy(out, window_.data() + (pos_ - windowStart_), n);
        pos_ += n;
        return true;
    }
    bool u8(uint8_t* v) { return take(v, 1); }
    bool u16(uint16_t* v) {
        uint8_t b[2];
        if (!take(b, 2)) return false;
        *v = static_cast<uint16_t>(b[0] | b[1] << 8);
        return true;
    }
    bool u32(uint32_t* v) {
        uint8_t b[4];
        if (!take(b, 4)) return false;
        *v = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 | static_cast<uint32_t>(b[2]) << 16 |
             static_cast<uint32_t>(b[3]) << 24;
        return true;
    }
    // Steps over n bytes (the caller has checked they are there).
    void skip(uint64_t n) { pos_ += n; }

private:
    ByteInput& input_;
    uint64_t size_;
    size_t windowSize_;
    uint64_t pos_ = 0;
    std::vector<uint8_t> window_;
    uint64_t windowStart_ = 0;
    bool readFailed_ = false;
};

}  // namespace packformat
