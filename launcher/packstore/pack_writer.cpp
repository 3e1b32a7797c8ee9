// The pack writer: files go to the end of a pack, never over bytes an entry has covered; the index
// is written beside "data.idx" and put in its place once everything it names is on the disk.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "launcher/core/debug_log.h"
#include "launcher/packstore/pack_store.h"
#include "launcher/packstore/store_internal.h"

namespace packstore {

namespace {

// Tables are compacted once more than half of their slots hold removed entries (and enough of them
// to be worth the pass), so removal stays constant time on average.
constexpr size_t CompactAfterRemoved = 4096;

// Where the next bytes of `pack` go: its end, and never below anything an entry has covered.
bool appendOffset(platform::Env& env, const PackFile& pack, uint64_t* at) {
    uint64_t size = 0;
    if (!pack.fileHandle || !env.fileSize(pack.fileHandle, &size)) return false;
    *at = std::max(size, pack.referencedEnd);
    return true;
}

// Writes `length` bytes from `source` at the end of the pack; *offset is where they start.
bool writeAtEnd(platform::Env& env, PackFile& pack, uint32_t length, ByteSource& source, uint32_t* offset) {
    // The lines below end with the reason of a call that failed on the way, and only of such a call.
    platform::clearLastFailure();
    uint64_t at = 0;
    if (!appendOffset(env, pack, &at)) {
        TALVORA_DEBUG("Pack %s cannot be written: it is not open%s", pack.path.c_str(), platform::lastFailureSuffix());
        return false;
    }
    if (at + length > 0xFFFFFFFFull) {
        TALVORA_DEBUG("Pack %s has no room for %u bytes", pack.path.c_str(), static_cast<unsigned>(length));
        return false;
    }
    uint32_t written = 0;
    while (written < length) {
        pack.unflushed = true;  // a failed write may still have stored part of the bytes
        const uint8_t* piece = nullptr;
        size_t got = 0;
        if (!source.next(length - written, &piece, &got) || got == 0 || got > length - written) {
            TALVORA_DEBUG("The bytes for pack %s cannot be read%s", pack.path.c_str(), platform::lastFailureSuffix());
            return false;
        }
        if (!env.writeAt(pack.fileHandle, at + written, piece, got)) {
            TALVORA_DEBUG("Writing %u bytes to pack %s failed%s", static_cast<unsigned>(length), pack.path.c_str(),
                          platform::lastFailureSuffix());
            return false;
        }
        written += static_cast<uint32_t>(got);
    }
    pack.referencedEnd = std::max(pack.referencedEnd, at + length);
    *offset = static_cast<uint32_t>(at);
    return true;
}

// Adds the entry at the end of the pack's table, unless the table already holds its key.
void addEntry(PackIndex& index, PackFile& pack, const PackEntry& entry) {
    if (index.keys.packHolds(entry.key, pack.position)) return;
    index.keys.add(entry.key, EntryLocation{pack.position, static_cast<uint32_t>(pack.table.size())});
    pack.table.push_back(entry);
    pack.removed.push_back(0);
}

bool sameName(const std::string& a, const char* b) {
    // File names on Windows ignore the case of letters.
    size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t k = 0; k < n; ++k) {
        char x = a[k], y = b[k];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
        if (x != y) return false;
    }
    return true;
}

bool nameInIndex(const PackIndex& index, const char* name) {
    for (const PackSlot& slot : index.packs) {
        if (sameName(slot.name, name)) return true;
    }
    return false;
}

// Writes the index as "data.idx" holds it into `out`, through a buffer of fixed size: the live
// entries of every pack, each masked by its position in its pack's table as it is stored.
class IndexWriter {
public:
    // The buffer is made here, before any file is opened for it.
    explicit IndexWriter(platform::Env& env) : env_(env), buffer_(1u << 20) {}

    bool write(const PackIndex& index, platform::File* out) {
        out_ = out;
        put32(static_cast<uint32_t>(index.version));
        put8(static_cast<uint8_t>(index.packs.size() ^ packformat::packCountMask()));
        for (size_t i = 0; i < index.packs.size(); ++i) {
            const PackSlot& slot = index.packs[i];
            const PackFile& pack = *slot.file;
            put8(static_cast<uint8_t>(slot.name.size()));
            for (char c : slot.name) put8(static_cast<uint8_t>(c));
            put32(static_cast<uint32_t>(pack.entryCount()) ^ packformat::entryCountMask(i));
            size_t j = 0;
            for (size_t s = 0; s < pack.table.size(); ++s) {
                if (pack.removed[s]) continue;
                const PackEntry& e = pack.table[s];
                put32(e.key ^ packformat::keyMask(j));
                put32(e.offset ^ packformat::offsetMask(j));
                put32(e.length ^ packformat::lengthMask(j));
                ++j;
            }
        }
        drain();
        return ok_;
    }

private:
    void put8(uint8_t v) {
        if (used_ == buffer_.size()) drain();
        buffer_[used_++] = v;
    }
    void put32(uint32_t v) {
        if (buffer_.size() - used_ < 4) drain();
        uint8_t* p = buffer_.data() + used_;
        p[0] = static_cast<uint8_t>(v);
        p[1] = static_cast<uint8_t>(v >> 8);
        p[2] = static_cast<uint8_t>(v >> 16);
        p[3] = static_cast<uint8_t>(v >> 24);
        used_ += 4;
    }
    void drain() {
        if (ok_ && used_ > 0) ok_ = env_.writeAt(out_, written_, buffer_.data(), used_);
        written_ += used_;
        used_ = 0;
    }

    platform::Env& env_;
    platform::File* out_ = nullptr;
    std::vector<uint8_t> buffer_;
    size_t used_ = 0;
    uint64_t written_ = 0;
    bool ok_ = true;
};

}  // namespace

void compactTable(PackIndex& index, PackFile& pack) {
    size_t kept = 0;
    for (size_t j = 0; j < pack.table.size(); ++j) {
        if (pack.removed[j]) continue;
        if (kept != j) {
            index.keys.relocate(pack.table[j].key, EntryLocation{pack.position, static_cast<uint32_t>(j)},
                                EntryLocation{pack.position, static_cast<uint32_t>(kept)});
            pack.table[kept] = pack.table[j];
        }
        ++kept;
    }
    pack.table.resize(kept);
    pack.removed.assign(kept, 0);
    pack.removedCount = 0;
}

uint32_t packFileSize(PackFile& pack) {
    uint64_t size = 0;
    if (!pack.fileHandle || !packIndex.env->fileSize(pack.fileHandle, &size)) return 0xFFFFFFFFu;
    return static_cast<uint32_t>(size);
}

PackSlot* findPackWithRoom(uint32_t length) {
    platform::Env& env = *packIndex.env;
    for (PackSlot& slot : packIndex.packs) {
        if (!slot.file) continue;
        uint64_t at = 0;
        // The sum is taken in 64 bits: a length near 4 GiB must not wrap round and seem to fit.
        if (appendOffset(env, *slot.file, &at) && at + length <= MaxPackFileSize) return &slot;
    }
    return nullptr;
}

std::string nextPackName() {
    platform::Env& env = *packIndex.env;
    for (unsigned n = packIndex.packCount; n < packIndex.packCount + 10000u; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "%s%s%u.VFS", "GA", "ME", n);
        if (!nameInIndex(packIndex, name) && !env.exists(name)) return name;
    }
    return {};
}

PackSlot* createPackFile(const char* name) {
    platform::Env& env = *packIndex.env;
    size_t length = name ? std::strlen(name) : 0;
    if (packIndex.packs.size() >= MaxPackCount) {
        TALVORA_DEBUG("No new pack: the store has %u packs already", static_cast<unsigned>(packIndex.packs.size()));
        return nullptr;
    }
    if (length == 0 || length > packformat::MaxPackNameLength) return nullptr;
    if (nameInIndex(packIndex, name) || env.exists(name)) {
        TALVORA_DEBUG("No new pack %s: the name is taken", name);
        return nullptr;
    }
    // Everything that needs memory first: once the file exists, nothing can fail before the store
    // holds its handle.
    PackSlot slot;
    slot.name = name;
    slot.file.reset(new PackFile);
    slot.file->path = name;
    slot.file->position = static_cast<uint32_t>(packIndex.packs.size());
    slot.file->unsaved = true;
    packIndex.packs.reserve(packIndex.packs.size() + 1);
    platform::File* handle = env.createReadWrite(name);
    if (!handle) {
        TALVORA_DEBUG("Pack %s cannot be created%s", name, platform::lastFailureSuffix());
        return nullptr;
    }
    slot.file->fileHandle = handle;
    packIndex.packs.push_back(std::move(slot));
    packIndex.packCount = static_cast<uint8_t>(packIndex.packs.size());
    return &packIndex.packs.back();
}

bool removePackEntry(uint32_t key) {
    EntryLocation at;
    if (!packIndex.keys.removeFirst(key, &at)) return false;
    PackFile& pack = *packIndex.packs[at.pack].file;
    pack.removed[at.slot] = 1;
    ++pack.removedCount;
    if (pack.removedCount > CompactAfterRemoved && pack.removedCount * 2 > pack.table.size()) {
        compactTable(packIndex, pack);
    }
    return true;
}

bool appendPackEntry(PackFile& pack, uint32_t key, const uint8_t* data, uint32_t length) {
    if (!data) return false;
    uint32_t offset = 0;
    MemorySource source(data, length);
    if (!writeAtEnd(*packIndex.env, pack, length, source, &offset)) return false;
    addEntry(packIndex, pack, PackEntry{key, offset, length});
    return true;
}

bool storePackedFile(uint32_t key, const uint8_t* data, uint32_t length) {
    if (!data) return false;
    MemorySource source(data, length);
    return storePackedStream(key, length, source);
}

bool storePackedStream(uint32_t key, uint32_t length, ByteSource& source) {
    PackSlot* slot = findPackWithRoom(length);
    if (!slot) {
        std::string name = nextPackName();
        slot = name.empty() ? nullptr : createPackFile(name.c_str());
        if (!slot) return false;
    }
    PackFile& pack = *slot->file;
    // The bytes first: if they cannot be written, the old entry of the key stays.
    uint32_t offset = 0;
    if (!writeAtEnd(*packIndex.env, pack, length, source, &offset)) return false;
    removePackEntry(key);
    addEntry(packIndex, pack, PackEntry{key, offset, length});
    return true;
}

bool savePackIndex() {
    platform::Env& env = *packIndex.env;
    if (packIndex.indexPath.empty()) packIndex.indexPath = IndexFileName;

    // Everything the new index names is on the disk before the index is.
    for (PackSlot& slot : packIndex.packs) {
        PackFile& pack = *slot.file;
        if (!pack.unflushed || !pack.fileHandle) continue;
        if (!env.flush(pack.fileHandle)) {
            TALVORA_DEBUG("Pack %s cannot be flushed; %s is left as it was%s", pack.path.c_str(),
                          packIndex.indexPath.c_str(), platform::lastFailureSuffix());
            return false;
        }
        pack.unflushed = false;
    }

    IndexWriter writer(env);
    platform::File* out = env.createReadWrite(IndexTempFileName);
    if (!out) {
        TALVORA_DEBUG("%s cannot be created; %s is left as it was%s", IndexTempFileName, packIndex.indexPath.c_str(),
                      platform::lastFailureSuffix());
        return false;
    }
    platform::clearLastFailure();
    bool written = writer.write(packIndex, out) && env.flush(out);
    env.closeFile(out);
    if (!written) {
        TALVORA_DEBUG("%s cannot be written; %s is left as it was%s", IndexTempFileName, packIndex.indexPath.c_str(),
                      platform::lastFailureSuffix());
        env.deleteFile(IndexTempFileName);
        return false;
    }
    // The old index is closed first: Windows does not replace a file that is open.
    env.closeFile(packIndex.indexStream);
    packIndex.indexStream = nullptr;
    if (!env.replaceFile(IndexTempFileName, packIndex.indexPath.c_str())) {
        TALVORA_DEBUG("%s cannot be replaced%s", packIndex.indexPath.c_str(), platform::lastFailureSuffix());
        env.deleteFile(IndexTempFileName);
        return false;
    }
    for (PackSlot& slot : packIndex.packs) slot.file->unsaved = false;
    return true;
}

void restoreSavedStore(PackIndex& index) {
    std::vector<std::string> created;
    for (const PackSlot& slot : index.packs) {
        if (slot.file->unsaved) created.push_back(slot.name);
    }
    readStoreFromDisk(index);
    for (const std::string& name : created) {
        if (!nameInIndex(index, name.c_str())) index.env->deleteFile(name.c_str());
    }
}

}  // namespace packstore
