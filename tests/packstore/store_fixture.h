// Stores and patch files made on disk for the pack-store tests, and an independent reading of a
// store through the index decoder (as the pack-store library reads it).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "launcher/packstore/pack_store.h"
#include "packformat/index_codec.h"
#include "packformat/patch_codec.h"
#include "tests/support/temp_dir.h"

// Deterministic file content: `n` bytes that differ with `salt`.
std::string contentOf(size_t n, uint32_t salt);
std::vector<uint8_t> toBytes(const std::string& s);

// One pack of a fixture store. Its files' bytes follow `hole` bytes that are never written (a
// sparse file), so a pack can sit at the size limit without taking 2 GB of disk.
struct FixturePack {
    std::string name;
    std::vector<std::pair<uint32_t, std::string>> files;
    uint64_t hole = 0;
    bool onDisk = true;  // false: the index names the pack, but no file exists
};

// Writes the pack files and "data.idx" in the current directory.
void writeStore(int32_t version, const std::vector<FixturePack>& packs);
// Writes a pack file of `size` bytes that holds only a hole (one zero byte at its end).
void writeSparseFile(const std::string& name, uint64_t size);

// Writes a patch file.
void writePatch(const std::string& path, const packformat::PatchContent& patch);
// A patch whose records carry names (kinds 3 and 4, or any kind), with their contents.
packformat::PatchContent namedPatch(uint16_t version, uint8_t kind,
                                    const std::vector<std::pair<std::string, std::string>>& files);
// Empties the current directory.
void clearFolder();
packformat::PatchContent packedPatch(uint16_t version, const std::vector<std::pair<uint32_t, std::string>>& files,
                                     uint8_t seed = 0x5A);

// The store on disk as the library would see it: key -> bytes of its first entry.
struct StoreContent {
    int32_t version = 0;
    std::map<uint32_t, std::string> files;
    packformat::StoreIndex index;
};
// Reads "data.idx" and every entry's bytes. False (with a reason) when the index does not decode, a
// pack cannot be read, or an entry runs past the end of its pack.
bool readStoreOnDisk(StoreContent* out, std::string* why);

// The model of a store: version and key -> content.
struct StoreModel {
    int32_t version = 0;
    std::map<uint32_t, std::string> files;
};
StoreModel modelOf(int32_t version, const std::vector<FixturePack>& packs);
// The model after a kind-1 patch.
StoreModel afterPatch(const StoreModel& before, const packformat::PatchContent& patch);

// Checks that the store on disk is exactly `model`.
::testing::AssertionResult storeMatches(const StoreModel& model);
// Checks that the store on disk is `a` or `b`, saying which in *which (0 or 1).
::testing::AssertionResult storeIsOneOf(const StoreModel& a, const StoreModel& b, int* which);

// Every test runs in a scratch folder of its own, with an empty store in memory.
class StoreTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    TempDir dir_;
    ScopedCurrentDir cd_{dir_.path()};
};
