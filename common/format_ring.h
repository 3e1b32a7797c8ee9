// Short texts (paths, URLs) formatted into preallocated buffers, so callers never allocate or free.
#pragma once

#include <cstddef>

// Bytes per ring buffer in this program: 260 in the launcher, 256 in the self-updater (set by the
// build for each program's copy of these helpers).
#ifndef TALVORA_FORMAT_RING_BYTES
#error "TALVORA_FORMAT_RING_BYTES must be defined by the build"
#endif

namespace common {

constexpr size_t FormatRingBufferBytes = TALVORA_FORMAT_RING_BYTES;
constexpr size_t FormatRingSize = 20;

// Allocates the ring's 20 buffers once; they live until the process ends. Must run before formatTemp.
void initFormatRing();

// Formats into the next ring buffer (wrapping after 20) and returns it; a result stays intact for
// twenty further calls. A text that does not fit its buffer is refused: the result is the empty text,
// which every caller treats as a failure (no path or URL in this system is empty).
const char* formatTemp(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A formatter owning one 256-byte buffer; each format() overwrites the previous result. A text that
// does not fit gives the empty text, as formatTemp does.
class FormatBuffer {
public:
    static constexpr size_t Bytes = 256;
    FormatBuffer();
    ~FormatBuffer();
    FormatBuffer(const FormatBuffer&) = delete;
    FormatBuffer& operator=(const FormatBuffer&) = delete;

    const char* format(const char* format, ...) __attribute__((format(printf, 2, 3)));
    size_t size() const { return size_; }

private:
    char* buffer_;
    size_t size_;
};

}  // namespace common
