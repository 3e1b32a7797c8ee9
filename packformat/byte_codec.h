// Bounds-checked little-endian reading and appending. A reader only ever looks at bytes in
// [data, data + size); every read says whether it fitted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace packformat {

class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    size_t position() const { return pos_; }
    size_t remaining() const { return size_ - pos_; }
    const uint8_t* current() const { return data_ + pos_; }

    bool u8(uint8_t* v) {
        if (remaining() < 1) return false;
        *v = data_[pos_++];
        return true;
    }
    bool u16(uint16_t* v) {
        if (remaining() < 2) return false;
        *v = static_cast<uint16_t>(data_[pos_] | data_[pos_ + 1] << 8);
        pos_ += 2;
        return true;
    }
    bool u32(uint32_t* v) {
        if (remaining() < 4) return false;
        *v = static_cast<uint32_t>(data_[pos_]) | static_cast<uint32_t>(data_[pos_ + 1]) << 8 |
             static_cast<uint32_t>(data_[pos_ + 2]) << 16 | static_cast<uint32_t>(data_[pos_ + 3]) << 24;
        pos_ += 4;
        return true;
    }
    bool skip(size_t n) {
        if (remaining() < n) return false;
        pos_ += n;
        return true;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

inline void putU8(std::vector<uint8_t>* out, uint8_t v) { out->push_back(v); }
inline void putU16(std::vector<uint8_t>* out, uint16_t v) {
    out->push_back(static_cast<uint8_t>(v));
    out->push_back(static_cast<uint8_t>(v >> 8));
}
inline void putU32(std::vector<uint8_t>* out, uint32_t v) {
    for (int s = 0; s < 32; s += 8) out->push_back(static_cast<uint8_t>(v >> s));
}

}  // namespace packformat
