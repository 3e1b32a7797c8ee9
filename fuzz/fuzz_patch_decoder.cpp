// Decodes arbitrary bytes as a patch file; every record view must lie inside the input, and what
// decodes must survive an encode/decode round trip.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "packformat/patch_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    packformat::PatchHeader header;
    std::vector<packformat::PatchRecordView> views;
    std::string why;
    if (!packformat::decodePatch(data, size, &header, &views, &why)) return 0;
    for (const auto& v : views) {
        if (v.dataOffset > size || v.dataLength > size - v.dataOffset) std::abort();
        if (v.name.size() > packformat::MaxPatchNameLength) std::abort();
    }
    packformat::PatchContent content;
    if (!packformat::decodePatchContent(data, size, &content, &why)) std::abort();
    std::vector<uint8_t> again;
    if (!packformat::encodePatch(content, &again, &why)) std::abort();
    packformat::PatchContent back;
    if (!packformat::decodePatchContent(again.data(), again.size(), &back, &why) || !(back == content)) std::abort();
    return 0;
}
