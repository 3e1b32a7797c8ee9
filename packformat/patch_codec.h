// Patch files "%i.dat": a 6-byte header masked by its seed, then records of one kind. The framing
// decoder reads a patch through a small window of its bytes and keeps only where each record's data
// lies, so a patch of any size is checked in bounded memory and its data is never held whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "packformat/window_reader.h"

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

// One record as found in a patch file: the data stays where it is, still masked at its start.
struct PatchRecordView {
    uint32_t key = 0;         // kinds 1 and 2
    std::string name;         // kinds 3 and 4, taken up to its first zero byte
    uint64_t dataOffset = 0;  // offset of the data in the patch file
    uint32_t dataLength = 0;
};

// Decodes the header and the record framing, reading the file through a window of at most
// PatchScanWindow bytes and stepping over the data. Refuses (false with a reason) a file that ends
// early, has bytes left over, a name length above 259, a length that runs past the end, or bytes
// that cannot be read. Allocates the window and the record views, never what a length field merely
// claims.
constexpr size_t PatchScanWindow = 1u << 20;
bool scanPatch(ByteInput& input, PatchHeader* header, std::vector<PatchRecordView>* records, std::string* why);
// The same over a buffer in memory.
bool decodePatch(const uint8_t* data, size_t size, PatchHeader* header, std::vector<PatchRecordView>* records,
                 std::string* why);

// Unmasks (or masks: XOR is its own inverse) the start of one record's data in place.
void unmaskPatchData(uint8_t seed, uint8_t* data, uint32_t length);
// Unmasks `count` bytes that lie at position `from` of a data block of `length` bytes (a piece of a
// block read in several steps); bytes past the masked prefix are left as they are.
void unmaskPatchPiece(uint8_t seed, uint32_t length, uint64_t from, uint8_t* data, size_t count);
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

// The pieces of a patch file for writers that stream the data: the 6-byte header, and the framing
// that comes before record i's data (its key or name, and its length). The data follows, masked at
// its start with unmaskPatchPiece (XOR is its own inverse). encodeRecordFraming refuses a name
// above 259 characters.
void encodePatchHeader(uint8_t seed, uint16_t version, uint8_t kind, uint16_t recordCount, std::vector<uint8_t>* out);
bool encodeRecordFraming(uint8_t seed, uint8_t kind, size_t i, uint32_t key, const std::string& name,
                         uint32_t dataLength, std::vector<uint8_t>* out, std::string* why);

// Encodes a patch file. Refuses more than 65,535 items, names above 259 characters, and data blocks
// of 4 GiB or more.
bool encodePatch(const PatchContent& patch, std::vector<uint8_t>* out, std::string* why);
// Decodes into owned, unmasked data (for tools and tests; the launcher uses decodePatch).
bool decodePatchContent(const uint8_t* data, size_t size, PatchContent* out, std::string* why);

}  // namespace packformat
