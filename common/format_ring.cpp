#include "common/format_ring.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>

namespace common {

namespace {
char** ringBuffers = nullptr;
int16_t ringPosition = 0;

// Formats with the buffer's size as the bound; a result that would not fit leaves the empty text.
void boundedFormat(char* buffer, size_t size, const char* format, va_list args) {
    buffer[0] = '\0';
#if defined(_WIN32) && defined(TALVORA_FORMAT_WITH_CRT)
    // The C runtime's own formatter: none of MinGW's C99 printf (and its floating-point conversion)
    // is linked in. It leaves a text of exactly `size` bytes unterminated and returns -1 for a longer
    // one; both are refused below, so the results are the same as vsnprintf's for the formats the
    // self-updater uses (%s).
    int n = _vsnprintf(buffer, size, format, args);
#else
    int n = std::vsnprintf(buffer, size, format, args);
#endif
    if (n < 0 || static_cast<size_t>(n) >= size) buffer[0] = '\0';
}
}  // namespace

void initFormatRing() {
    ringPosition = 0;
    if (ringBuffers) return;  // allocated once for the process
    ringBuffers = new char*[FormatRingSize];
    for (size_t i = 0; i < FormatRingSize; ++i) {
        ringBuffers[i] = new char[FormatRingBufferBytes];
        ringBuffers[i][0] = '\0';
    }
}

const char* formatTemp(const char* format, ...) {
    int16_t at = ringPosition;
    if (at >= static_cast<int16_t>(FormatRingSize) || at < 0) at = 0;
    ringPosition = static_cast<int16_t>(at + 1);
    char* buffer = ringBuffers[at];
    va_list args;
    va_start(args, format);
    boundedFormat(buffer, FormatRingBufferBytes, format, args);
    va_end(args);
    return buffer;
}

FormatBuffer::FormatBuffer() : buffer_(new char[Bytes]), size_(Bytes) { buffer_[0] = '\0'; }

FormatBuffer::~FormatBuffer() {
    delete[] buffer_;
    size_ = 0;
}

const char* FormatBuffer::format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    boundedFormat(buffer_, size_, format, args);
    va_end(args);
    return buffer_;
}

}  // namespace common
