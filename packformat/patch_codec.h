// Patch files "%i.dat": a 6-byte header masked by its seed, then records of one kind. The decoder
// works on views of the caller's buffer so a patch of hundreds of megabytes is held once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace packformat {

constexpr size_t MaxPatchNameLength = 259;
constexpr size_t PatchHeaderSize = 6;

enum PatchKind : uint8_t {
    PatchKindPacked = 1,   // key + data: stored in the pack store
    PatchKindSkipped = 2,  // key + data: read and skipped
    PatchKindWrite = 3,    // name + data: written to a file outside the store
    PatchKindDelete = 4,   // name + data: the file is deleted
};

inline bool patchKindHasKey(uint8_t kind) { return kind == 1 || kind == 2; }
inline bool patchKindHasName(uint8_t kind) { return kind == 3 || kind == 4; }

struct PatchHeader {
    uint8_t seed = 0;
    uint16_t version = 0;
    uint8_t kind = 0;
    uint16_t recordCount = 0;
};

// One record as found in a buffer: the data stays where it is, still masked at its start.
struct PatchRecordView {
    uint32_t key = 0;           // kinds 1 and 2
    std::string name;           // kinds 3 and 4, taken up to its first zero byte
    size_t dataOffset = 0;      // offset of the data in the decoded buffer
    uint32_t dataLength = 0;
};

// Decodes the header and the record framing. Refuses (false with a reason) a file that ends early,
// has bytes left over, a name length above 259, or a length that runs past the end. Allocates only
// the record views, never what a length field merely claims.
bool decodePatch(const uint8_t* data, size_t size, PatchHeader* header, std::vector<PatchRecordView>* records,
                 std::string* why);

// Unmasks (or masks: XOR is its own inverse) the start of one record's data in place.
void unmaskPatchData(uint8_t seed, uint8_t* data, uint32_t length);
// How many leading bytes of a data block of this length are masked: length mod 65,536, at most 128.
uint32_t maskedPrefixLength(uint32_t length);

// A whole patch file with owned data, as the tools and tests build it and as decodePatchContent
// returns it.
struct PatchItem {
    uint32_t key = 0;
    std::string name;
    std::vector<uint8_t> data;
    bool operator==(const PatchItem& o) const { return key == o.key && name == o.name && data == o.data; }
};
struct PatchContent {
    uint8_t seed = 0;
    uint16_t version = 0;
    uint8_t kind = PatchKindPacked;
    std::vector<PatchItem> items;  // at most 65,535
    bool operator==(const PatchContent& o) const {
        return seed == o.seed && version == o.version && kind == o.kind && items == o.items;
    }
};

// Encodes a patch file. Refuses more than 65,535 items, names above 259 characters, and data blocks
// of 4 GiB or more.
bool encodePatch(const PatchContent& patch, std::vector<uint8_t>* out, std::string* why);
// Decodes into owned, unmasked data (for tools and tests; the launcher uses decodePatch).
bool decodePatchContent(const uint8_t* data, size_t size, PatchContent* out, std::string* why);

}  // namespace packformat
