// The pack-store index "data.idx": store header, then per pack its record and its entry table, with
// the count and entry fields stored XOR masks chosen by position.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "packformat/window_reader.h"

namespace packformat {

// Largest pack file the launcher writes; pack files must stay below 2^31 bytes for the library.
constexpr uint32_t MaxPackFileSize = 0x77400000u;  // 2,000,683,008 bytes
constexpr size_t MaxPackNameLength = 31;
constexpr size_t IndexEntrySize = 12;

struct IndexEntry {
    uint32_t key = 0;
    uint32_t offset = 0;
    uint32_t length = 0;
    bool operator==(const IndexEntry& o) const { return key == o.key && offset == o.offset && length == o.length; }
};

struct IndexPack {
    std::string name;
    // The count as stored (unmasked, signed). 0 or less means no table; otherwise entries.size().
    int32_t entryCount = 0;
    std::vector<IndexEntry> entries;
    bool operator==(const IndexPack& o) const {
        return name == o.name && entryCount == o.entryCount && entries == o.entries;
    }
};

struct StoreIndex {
    int32_t version = 0;
    std::vector<IndexPack> packs;  // at most 255
    bool operator==(const StoreIndex& o) const { return version == o.version && packs == o.packs; }
};

// Masks by position (XOR is its own inverse: the same call masks and unmasks).
inline uint32_t packCountMask() { return 0x55; }
uint32_t entryCountMask(size_t packPosition);
uint32_t keyMask(size_t entryPosition);
uint32_t offsetMask(size_t entryPosition);
uint32_t lengthMask(size_t entryPosition);

// Decodes a whole index. Refuses (false, with a reason in *why) an index that ends early, has bytes
// left over, has a pack name length of 0 or above 31, or a name that starts with a zero byte. A name
// is taken up to its first zero byte, as both readers do. Never allocates more than the input could
// hold.
bool decodeIndex(const uint8_t* data, size_t size, StoreIndex* out, std::string* why);
// The same, reading the index through a window of fixed size (a file of any size is never held
// whole); an input that cannot be read is refused too.
bool readIndex(ByteInput& input, StoreIndex* out, std::string* why);

// Encodes an index. Each pack's count is entries.size() (a negative entryCount with no entries is
// written as it stands). Names longer than 31 characters or more
// than 255 packs are the caller's error: returns false with a reason.
bool encodeIndex(const StoreIndex& index, std::vector<uint8_t>* out, std::string* why);

}  // namespace packformat
