// Decodes arbitrary bytes as a pack-store index; whatever decodes must encode back to the same bytes
// (except names cut at a zero byte and negative counts, which the encoder normalises).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "packformat/index_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    packformat::StoreIndex index;
    std::string why;
    if (!packformat::decodeIndex(data, size, &index, &why)) return 0;
    std::vector<uint8_t> again;
    if (!packformat::encodeIndex(index, &again, &why)) std::abort();
    packformat::StoreIndex back;
    if (!packformat::decodeIndex(again.data(), again.size(), &back, &why) || !(back == index)) std::abort();
    return 0;
}
