#include "vfs/vfs_store.h"

#include <cstring>
#include <new>

#include "packformat/index_codec.h"
#include "packformat/path_key.h"
#include "platform/crt_file.h"

namespace vfs {
namespace {

// Positions in the library's reading code are signed 32-bit: a stored file must end at or below this.
constexpr uint64_t MaxServedEnd = 0x7FFFFFFFu;

bool readStream(std::FILE* stream, std::vector<uint8_t>* out) {
    uint8_t chunk[65536];
    for (;;) {
        size_t got = std::fread(chunk, 1, sizeof chunk, stream);
        out->insert(out->end(), chunk, chunk + got);
        if (got < sizeof chunk) return std::ferror(stream) == 0;
    }
}

// Files the entries into the pack's buckets: one counting pass, then one stable placement pass, so
// within a bucket the entries keep the order in which the index lists them.
void fillTable(PackTable* table, const std::vector<packformat::IndexEntry>& listed) {
    table->buckets.assign(BucketCount, KeyBucket{});
    for (const packformat::IndexEntry& e : listed) table->buckets[bucketOfKey(e.key)].count++;
    uint32_t next = 0;
    for (KeyBucket& b : table->buckets) {
        b.first = next;
        next += b.count;
        b.count = 0;
    }
    table->entries.resize(listed.size());
    for (const packformat::IndexEntry& e : listed) {
        KeyBucket& b = table->buckets[bucketOfKey(e.key)];
        PackEntry& slot = table->entries[b.first + b.count++];
        uint64_t end = static_cast<uint64_t>(e.offset) + e.length;
        slot = PackEntry{e.key, e.offset, e.length, end <= table->fileSize && end <= MaxServedEnd};
    }
}

// Opens one pack read-only and maps it; reads its table only when both succeed. Throws
// std::bad_alloc when memory runs out.
void openPack(platform::Env& env, ViewCache* views, PackRecord* record, const packformat::IndexPack& listed) {
    PackTable& table = record->table;
    table.path = record->name;
    env.setBinaryFileMode();
    table.fileHandle = env.openReadOnly(table.path.c_str());
    if (!table.fileHandle) return;
    table.mappingHandle = env.mapReadOnly(table.fileHandle);
    if (!table.mappingHandle) return;
    if (!env.fileSize(table.fileHandle, &table.fileSize)) return;
    // The count is kept as the index states it, negative included: the count queries report it,
    // while nothing is listed for a count of 0 or less.
    table.entryCount = listed.entryCount;
    fillTable(&table, listed.entries);
    if (!views->addPack(table.mappingHandle, table.fileSize, &table.viewPack)) throw std::bad_alloc();
    table.views = views;
}

const PackEntry* findEntryByKey(const PackTable& table, uint32_t key) {
    if (table.buckets.empty()) return nullptr;
    const KeyBucket& b = table.buckets[bucketOfKey(key)];
    const PackEntry* e = table.entries.data() + b.first;
    for (const PackEntry* end = e + b.count; e != end; ++e) {
        if (e->key == key) return e;
    }
    return nullptr;
}

}  // namespace

VfsStore* openStore(platform::Env& env, const char* indexPath, const ViewPolicy& views) {
    VfsStore* store = new (std::nothrow) VfsStore;
    if (!store) return nullptr;
    try {
        store->env = &env;
        store->views.reset(new ViewCache(env, views));
        store->indexPath = indexPath;
        env.setBinaryFileMode();
        store->indexStream = platform::crtOpen(indexPath, "rb");
        if (!store->indexStream) {
            closeStore(store);
            return nullptr;
        }
        std::vector<uint8_t> bytes;
        packformat::StoreIndex index;
        std::string why;
        if (!readStream(store->indexStream, &bytes) ||
            !packformat::decodeIndex(bytes.data(), bytes.size(), &index, &why)) {
            closeStore(store);
            return nullptr;
        }
        store->version = index.version;
        store->packCount = static_cast<uint8_t>(index.packs.size());
        store->packs.resize(index.packs.size());
        for (size_t i = 0; i < index.packs.size(); ++i) {
            store->packs[i].name = index.packs[i].name;
            openPack(env, store->views.get(), &store->packs[i], index.packs[i]);
            // The decoded table is no longer needed; give its memory back as we go.
            std::vector<packformat::IndexEntry>().swap(index.packs[i].entries);
        }
        return store;
    } catch (...) {  // out of memory: no store
        closeStore(store);
        return nullptr;
    }
}

void closeStore(VfsStore* store) {
    if (!store) return;
    store->views.reset();  // views still used by open files stay mapped until those close
    for (PackRecord& pack : store->packs) {
        store->env->closeMapping(pack.table.mappingHandle);
        store->env->closeFile(pack.table.fileHandle);
    }
    if (store->indexStream) std::fclose(store->indexStream);
    delete store;
}

const PackEntry* findEntry(const PackTable& table, const char* path) {
    uint32_t key;
    if (!packformat::pathKey(path, &key)) return nullptr;
    return findEntryByKey(table, key);
}

Found findListed(const VfsStore& store, const char* path) {
    uint32_t key;
    if (!packformat::pathKey(path, &key)) return {};
    for (const PackRecord& pack : store.packs) {
        if (const PackEntry* e = findEntryByKey(pack.table, key)) return Found{&pack.table, e};
    }
    return {};
}

Found findInPacks(const VfsStore& store, const char* path) {
    Found found = findListed(store, path);
    if (found.entry && !found.entry->inRange) return {};
    return found;
}

bool fileExists(const VfsStore* store, const char* path) {
    if (!store || !path) return false;
    if (platform::crtAccess(path, platform::AccessExists)) return true;
    return findListed(*store, path).entry != nullptr;
}

bool fileExistsInPacks(const VfsStore* store, const char* path) {
    if (!store || !path) return false;
    return findListed(*store, path).entry != nullptr;
}

int32_t packFileCount(const VfsStore* store, const char* packName) {
    if (!store || !packName) return 0;
    for (const PackRecord& pack : store->packs) {
        if (pack.name == packName) return pack.table.entryCount;
    }
    return 0;
}

int32_t totalFileCount(const VfsStore* store) {
    if (!store) return 0;
    uint32_t sum = 0;
    for (const PackRecord& pack : store->packs) sum += static_cast<uint32_t>(pack.table.entryCount);
    return static_cast<int32_t>(sum);
}

int32_t setReadPath(VfsStore* store, int32_t flag) {
    if (!store) return 0;
    store->readPathFlag = flag != 0;
    return 1;
}

}  // namespace vfs
