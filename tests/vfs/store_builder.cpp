#include "tests/vfs/store_builder.h"

#include <cstdio>
#include <stdexcept>

#include "packformat/path_key.h"
#include "tests/support/temp_dir.h"

size_t StoreBuilder::addPack(const std::string& name) {
    packformat::IndexPack p;
    p.name = name;
    index_.packs.push_back(p);
    packs_.push_back(Pack{});
    return packs_.size() - 1;
}

void StoreBuilder::addFile(size_t pack, const std::string& path, const std::string& bytes) {
    addEntry(pack, keyOf(path), static_cast<uint32_t>(packs_[pack].bytes.size()), static_cast<uint32_t>(bytes.size()));
    packs_[pack].bytes += bytes;
}

void StoreBuilder::addEntry(size_t pack, uint32_t key, uint32_t offset, uint32_t length) {
    packformat::IndexPack& p = index_.packs[pack];
    p.entries.push_back({key, offset, length});
    p.entryCount = static_cast<int32_t>(p.entries.size());
}

void StoreBuilder::stateCount(size_t pack, int32_t count) {
    packformat::IndexPack& p = index_.packs[pack];
    p.entries.clear();
    p.entryCount = count;
}

void StoreBuilder::padTo(size_t pack, size_t size) {
    if (packs_[pack].bytes.size() < size) packs_[pack].bytes.resize(size, '\0');
}

std::vector<uint8_t> StoreBuilder::indexBytes() const {
    std::vector<uint8_t> out;
    std::string why;
    if (!packformat::encodeIndex(index_, &out, &why)) throw std::runtime_error(why);
    return out;
}

void StoreBuilder::write(const std::string& indexPath) const {
    for (size_t i = 0; i < packs_.size(); ++i) {
        if (packs_[i].written && !writeFileBytes(index_.packs[i].name, packs_[i].bytes)) {
            throw std::runtime_error("cannot write " + index_.packs[i].name);
        }
    }
    std::vector<uint8_t> bytes = indexBytes();
    if (!writeFileBytes(indexPath, std::string(bytes.begin(), bytes.end()))) {
        throw std::runtime_error("cannot write " + indexPath);
    }
}

uint32_t keyOf(const std::string& path) {
    uint32_t key = 0;
    if (!packformat::pathKey(path.c_str(), &key)) throw std::runtime_error("path too long");
    return key;
}

std::string patternBytes(size_t size, uint32_t seed) {
    std::string out(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = static_cast<char>(x);
    }
    return out;
}
