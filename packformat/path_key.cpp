#include "packformat/path_key.h"

#include <cstring>

namespace packformat {

bool normalisePath(const char* source, char* out) {
    // Game clients normalise in place (the same buffer as source and destination): measure and copy
    // the source into a work buffer before the first byte of `out` is written.
    size_t length = std::strlen(source);
    if (length > MaxPathLength) {
        out[0] = '\0';
        return false;
    }
    char path[NormalisedPathBufferSize];
    std::memcpy(path, source, length + 1);
    size_t end = length;
    while (end > 0 && path[end - 1] == ' ') --end;
    size_t begin = 0;
    while (begin < end && path[begin] == ' ') ++begin;

    size_t w = 0;
    for (size_t i = begin; i < end; ++i) {
        char c = path[i];
        if (c == '/') {
            out[w++] = '\\';
        } else if (c == '\\') {
            out[w++] = '\\';
            if (i + 1 < end && path[i + 1] == '\\') ++i;  // a doubled backslash is written once
        } else {
            out[w++] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
        }
    }
    out[w] = '\0';
    return true;
}

uint32_t hashNormalisedPath(const char* normalised) {
    uint32_t h = 5381;
    for (const char* p = normalised; *p; ++p) {
        h = h * 33u + static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(*p)));
    }
    return h;
}

bool pathKey(const char* path, uint32_t* key) {
    // The normalisation of normalisePath and the hash in one pass, without writing the text out:
    // every lookup of the library goes through here.
    size_t length = std::strlen(path);
    if (length > MaxPathLength) return false;
    size_t end = length;
    while (end > 0 && path[end - 1] == ' ') --end;
    size_t i = 0;
    while (i < end && path[i] == ' ') ++i;
    uint32_t h = 5381;
    for (; i < end; ++i) {
        char c = path[i];
        if (c == '/') {
            c = '\\';
        } else if (c == '\\') {
            if (i + 1 < end && path[i + 1] == '\\') ++i;
        } else if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
        h = h * 33u + static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(c)));
    }
    *key = h;
    return true;
}

}  // namespace packformat
