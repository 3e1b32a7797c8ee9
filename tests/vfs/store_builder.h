// Builds pack stores for the library's tests with the format's own encoder: packs of chosen files,
// raw entries with any range, packs left out on disk or written empty.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "packformat/index_codec.h"

class StoreBuilder {
public:
    explicit StoreBuilder(int32_t version = 1) { index_.version = version; }

    // Adds a pack named `name`; returns its position.
    size_t addPack(const std::string& name);
    // Appends `bytes` to the pack and lists them under the key of `path`.
    void addFile(size_t pack, const std::string& path, const std::string& bytes);
    // Lists an entry without writing bytes (for ranges outside the pack, duplicates, zero lengths).
    void addEntry(size_t pack, uint32_t key, uint32_t offset, uint32_t length);
    // Lists no entries in the pack and states `count` (negative, as a damaged index may) as its
    // entry count.
    void stateCount(size_t pack, int32_t count);
    // Pads the pack with zero bytes up to `size` (a later file then starts at that offset).
    void padTo(size_t pack, size_t size);
    // The pack file is not written (it is missing on disk).
    void leaveOut(size_t pack) { packs_[pack].written = false; }
    size_t packSize(size_t pack) const { return packs_[pack].bytes.size(); }

    // Writes the pack files (relative to the current directory, as the store names them) and the
    // index at `indexPath`.
    void write(const std::string& indexPath = "data.idx") const;
    std::vector<uint8_t> indexBytes() const;

private:
    struct Pack {
        std::string bytes;
        bool written = true;
    };
    packformat::StoreIndex index_;
    std::vector<Pack> packs_;
};

uint32_t keyOf(const std::string& path);
// A deterministic pseudo-random text of `size` bytes.
std::string patternBytes(size_t size, uint32_t seed);
