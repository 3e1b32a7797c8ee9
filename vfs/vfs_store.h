// vfs/: the pack-store library OstrelVFS that the game client loads. It reads the store's index
// once, opens every pack read-only with a read-only mapping, and serves files either from a mapped
// view of their pack or from a loose copy on disk. It never writes anything.
//
// This header is the store: opening an index, the per-pack key tables and the lookups. Reading files
// is vfs_file.h; the exported C interface is vfs_exports.h.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/env.h"
#include "vfs/view_cache.h"

namespace vfs {

// One stored file of a pack, as the index lists it.
struct PackEntry {
    uint32_t key = 0;
    uint32_t offset = 0;
    uint32_t length = 0;
    // False when offset + length lies past the end of the pack file or past 2^31 - 1: such an entry
    // still answers lookups (it hides later copies of its key) but is never served.
    bool inRange = false;
};

// Entries of one bucket: `count` entries of the pack's bucket-ordered entry array from `first`, in
// the order the index lists them.
struct KeyBucket {
    uint32_t first = 0;
    uint32_t count = 0;
};

constexpr size_t BucketCount = 65536;

// The bucket of a key: its low 16 bits with their two bytes exchanged.
inline uint32_t bucketOfKey(uint32_t key) { return ((key >> 8) & 0xFFu) | ((key & 0xFFu) << 8); }

// One pack of an opened store. Its entries are read only when the pack file could be opened and
// mapped; otherwise the table stays empty and none of its files is found.
struct PackTable {
    platform::File* fileHandle = nullptr;
    platform::Mapping* mappingHandle = nullptr;
    std::vector<KeyBucket> buckets;  // BucketCount buckets once the table is read, else empty
    std::vector<PackEntry> entries;  // grouped by bucket, index order within a bucket
    int32_t entryCount = 0;          // as the index states it, even negative; 0 when not read
    uint64_t fileSize = 0;
    std::string path;
    ViewCache* views = nullptr;  // the store's shared views, when this pack's files can use them
    uint32_t viewPack = 0;       // the pack's number in `views`
};

struct PackRecord {
    std::string name;
    PackTable table;
};

struct VfsStore {
    platform::Env* env = nullptr;
    std::string indexPath;
    std::FILE* indexStream = nullptr;
    int32_t version = 0;
    uint8_t packCount = 0;
    std::vector<PackRecord> packs;
    bool readPathFlag = true;
    std::unique_ptr<ViewCache> views;  // shared views of all packs that opened files read from
};

// Opens the index at `indexPath` and every pack it names. Returns nullptr when the index cannot be
// opened or read, ends early, has bytes left over or names a pack with a name length of 0 or above
// 31 (no half-read store), and when memory runs out. `views` says how files share views of the packs;
// by default as this process needs (see view_cache.h).
VfsStore* openStore(platform::Env& env, const char* indexPath, const ViewPolicy& views = ViewPolicy{});

// Releases the store, its pack handles and tables. nullptr is accepted. Files opened from the store
// stay readable (they hold their own views).
void closeStore(VfsStore* store);

// The entry of `path` in this pack, or nullptr. Any form of the path is accepted (either slash, any
// case, surrounding spaces); a path longer than 1023 characters is never found.
const PackEntry* findEntry(const PackTable& table, const char* path);

// The first pack, in index order, that lists the path, and its entry; nullptr when none does. An
// entry out of its pack's range answers too: the store lists it, though it is never served.
struct Found {
    const PackTable* pack = nullptr;
    const PackEntry* entry = nullptr;
};
Found findListed(const VfsStore& store, const char* path);
// As findListed, but nullptr also when the entry that answers is out of its pack's range: what
// opening and sizing a file use.
Found findInPacks(const VfsStore& store, const char* path);

// Queries of the exported interface. A null store gives false or 0. The existence queries answer
// for every listed entry, in range or not.
bool fileExists(const VfsStore* store, const char* path);         // loose file or folder, or stored
bool fileExistsInPacks(const VfsStore* store, const char* path);  // stored only
// The counts are those the index states, negative ones included (a pack whose table was not read
// counts 0); the total is their sum in 32 bits.
int32_t packFileCount(const VfsStore* store, const char* packName);
int32_t totalFileCount(const VfsStore* store);
int32_t setReadPath(VfsStore* store, int32_t flag);

}  // namespace vfs
