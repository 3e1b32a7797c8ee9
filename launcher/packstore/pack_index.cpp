// Loading the store: "data.idx" into the in-memory PackIndex, every pack opened for writing.
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "launcher/core/debug_log.h"
#include "launcher/packstore/file_input.h"
#include "launcher/packstore/pack_store.h"
#include "launcher/packstore/store_internal.h"

namespace packstore {

const char* const IndexFileName = "data.idx";
const char* const IndexTempFileName = "data.idx.new";
const char* const PatchListFileName = "patch.hpl";

// Never destroyed: the exit path may run while the patch session still works on it (store_owner.h).
PackIndex& packIndex = *new PackIndex;
uint32_t currentPatch = 0;
bool indexLoaded = false;

namespace {

// Decodes the open index, read through a window of fixed size: an index of any size is never
// mapped or copied whole. False with a reason in *why.
bool decodeStream(platform::Env& env, platform::File* stream, packformat::StoreIndex* decoded, std::string* why) {
    uint64_t size = 0;
    if (!env.fileSize(stream, &size)) {
        *why = "its size cannot be found out";
        return false;
    }
    FileInput input(env, stream, size);
    return packformat::readIndex(input, decoded, why);
}

}  // namespace

std::vector<PackEntry> liveEntries(const PackFile& pack) {
    std::vector<PackEntry> out;
    out.reserve(pack.entryCount());
    for (size_t j = 0; j < pack.table.size(); ++j) {
        if (!pack.removed[j]) out.push_back(pack.table[j]);
    }
    return out;
}

void closeStoreHandles(PackIndex& index) {
    platform::Env& env = *index.env;
    for (PackSlot& slot : index.packs) {
        if (slot.file && slot.file->fileHandle) {
            env.closeFile(slot.file->fileHandle);
            slot.file->fileHandle = nullptr;
        }
    }
    env.closeFile(index.indexStream);
    index.indexStream = nullptr;
}

void resetStore(PackIndex& index) {
    closeStoreHandles(index);
    index.indexPath.clear();
    index.version = 0;
    index.packCount = 0;
    index.packs.clear();
    index.packs.shrink_to_fit();
    index.keys.clear();
}

bool readStoreFromDisk(PackIndex& index) {
    platform::Env& env = *index.env;
    resetStore(index);
    index.indexPath = IndexFileName;

    if (env.exists(IndexTempFileName)) {
        // A save that was interrupted before its last step: "data.idx" is still the whole old index.
        TALVORA_DEBUG("Removing %s left by an interrupted save", IndexTempFileName);
        env.deleteFile(IndexTempFileName);
    }
    if (!env.exists(index.indexPath.c_str())) return false;
    platform::File* stream = env.openReadOnly(index.indexPath.c_str());
    if (!stream) {
        TALVORA_DEBUG("%s cannot be opened%s", index.indexPath.c_str(), platform::lastFailureSuffix());
        return false;
    }
    // Held by the store from here on, so that a failure on the way (memory running out) closes it.
    index.indexStream = stream;
    packformat::StoreIndex decoded;
    std::string why;
    // A refusal of the format leaves no failure of a call behind; a read that failed does.
    platform::clearLastFailure();
    if (!decodeStream(env, stream, &decoded, &why)) {
        TALVORA_DEBUG("%s not loaded: %s%s", index.indexPath.c_str(), why.c_str(), platform::lastFailureSuffix());
        env.closeFile(stream);
        index.indexStream = nullptr;
        return false;
    }

    size_t total = 0;
    for (const packformat::IndexPack& p : decoded.packs) total += p.entries.size();
    // Room for a whole patch of new keys besides (a patch holds at most 65,535 records), so that
    // applying one never has to rebuild the table.
    index.keys.reserve(total + 65536);

    index.version = decoded.version;
    index.packCount = static_cast<uint8_t>(decoded.packs.size());
    index.packs.resize(decoded.packs.size());
    for (size_t i = 0; i < decoded.packs.size(); ++i) {
        PackSlot& slot = index.packs[i];
        slot.name = decoded.packs[i].name;
        slot.file.reset(new PackFile);
        PackFile& pack = *slot.file;
        pack.path = slot.name;
        pack.position = static_cast<uint32_t>(i);
        pack.fileHandle = env.openReadWrite(pack.path.c_str());
        if (!pack.fileHandle) {
            TALVORA_DEBUG("Pack %s cannot be opened; its %u entries cannot be read%s", pack.path.c_str(),
                          static_cast<unsigned>(decoded.packs[i].entries.size()), platform::lastFailureSuffix());
        }
        pack.table = std::move(decoded.packs[i].entries);
        pack.removed.assign(pack.table.size(), 0);
        for (size_t j = 0; j < pack.table.size(); ++j) {
            const PackEntry& e = pack.table[j];
            uint64_t end = static_cast<uint64_t>(e.offset) + e.length;
            if (end > pack.referencedEnd) pack.referencedEnd = end;
            index.keys.add(e.key, EntryLocation{static_cast<uint32_t>(i), static_cast<uint32_t>(j)});
        }
    }
    return true;
}

void loadPackIndex() {
    platform::Env& env = *packIndex.env;
    currentPatch = 0;
    indexLoaded = false;
    packIndex.indexPath = IndexFileName;
    // Before anything else is opened: every later file of the launcher is read and written as bytes.
    env.setBinaryFileMode();
    try {
        if (readStoreFromDisk(packIndex)) {
            currentPatch = static_cast<uint32_t>(packIndex.version);
            indexLoaded = true;
        }
    } catch (const std::bad_alloc&) {
        TALVORA_DEBUG("%s not loaded: out of memory", IndexFileName);
        resetStore(packIndex);
    }
    env.deleteFile(PatchListFileName);
}

void releasePackIndex() {
    resetStore(packIndex);
    currentPatch = 0;
    indexLoaded = false;
}

}  // namespace packstore
