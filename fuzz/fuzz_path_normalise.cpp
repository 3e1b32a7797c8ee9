// Normalises arbitrary text: never writes past the 1024-byte buffer, the result is never longer
// than the input, has no '/' and no lower-case a-z, and normalising it again changes nothing except
// doubled backslashes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "packformat/path_key.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.c_str();  // up to the first zero, as a C caller would pass it
    char out[packformat::NormalisedPathBufferSize];
    bool ok = packformat::normalisePath(text.c_str(), out);
    if (ok != (text.size() <= packformat::MaxPathLength)) std::abort();
    if (!ok) return 0;
    size_t n = std::strlen(out);
    if (n > text.size()) std::abort();
    for (size_t i = 0; i < n; ++i) {
        if (out[i] == '/' || (out[i] >= 'a' && out[i] <= 'z')) std::abort();
    }
    uint32_t a = 0, b = 0;
    if (!packformat::pathKey(text.c_str(), &a)) std::abort();
    b = packformat::hashNormalisedPath(out);
    if (a != b) std::abort();
    return 0;
}
