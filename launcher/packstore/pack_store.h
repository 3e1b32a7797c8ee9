// launcher/packstore/: the launcher's side of the pack store. It loads "data.idx" and opens the packs
// it names, stores files at the end of a pack (the pack writer), writes the index back, and applies
// patch files. Everything runs on the patch-session thread and reaches the disk only through
// platform::Env.
//
// Crash safety: bytes are only ever appended past everything the index on disk refers to, and are
// flushed before a new index is written beside "data.idx" and put in its place in one step. However a
// run ends, the store on disk is the one of the last saved patch or of the next one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "launcher/packstore/key_table.h"
#include "packformat/index_codec.h"
#include "platform/env.h"

namespace packstore {

using packformat::MaxPackFileSize;
// The writer creates packs up to this many; an index may hold more, which are loaded and read.
constexpr size_t MaxPackCount = 127;

// The file names the store uses, relative to the current directory.
extern const char* const IndexFileName;      // "data.idx"
extern const char* const IndexTempFileName;  // the new index while it is written: "data.idx.new"
extern const char* const PatchListFileName;  // "patch.hpl", removed by the load

// One stored file: its key and its bytes [offset, offset + length) in its pack, unmasked.
using PackEntry = packformat::IndexEntry;

struct PackFile {
    std::string path;                      // the slot's name; opened as it stands
    platform::File* fileHandle = nullptr;  // null when the pack could not be opened
    uint32_t position = 0;                 // the pack's position in the index

    // The pack's table in table order. A removed entry stays in its slot, flagged in `removed`,
    // until the table is compacted; liveEntries() gives the table as the index holds it.
    std::vector<PackEntry> table;
    std::vector<uint8_t> removed;
    size_t removedCount = 0;

    // One past the furthest byte that any entry has covered since the load; new bytes never go
    // below it, even in a pack that is shorter than its table claims.
    uint64_t referencedEnd = 0;
    // Bytes were written since the last save and still have to be flushed.
    bool unflushed = false;
    // Created by this run and not yet named by a saved index.
    bool unsaved = false;

    size_t entryCount() const { return table.size() - removedCount; }
};

// The entries of a pack that the index holds, in table order.
std::vector<PackEntry> liveEntries(const PackFile& pack);

// A pack's place in the index: its name and the PackFile it owns.
struct PackSlot {
    std::string name;
    std::unique_ptr<PackFile> file;
};

struct PackIndex {
    std::string indexPath;                  // "data.idx" once loading has started
    platform::File* indexStream = nullptr;  // the index as opened by the load, until the next save
    int32_t version = 0;
    uint8_t packCount = 0;
    std::vector<PackSlot> packs;  // packCount slots, in index order

    // Not part of the file: the seam every operation goes through (tests put a fault-injecting one
    // here), and where each key lives.
    platform::Env* env = &platform::defaultEnv();
    KeyTable keys;
};

// The launcher's one pack store, and the two session values that come with it. The store is never
// destroyed; who may use it when is told in store_owner.h.
extern PackIndex& packIndex;
extern uint32_t currentPatch;  // the loaded index's version; 0 until a load succeeds
extern bool indexLoaded;       // false until a load succeeds

// Loads "data.idx" from the current directory, opens every pack for reading and writing (sharing
// read access), and sets currentPatch and indexLoaded. Switches the runtime's default file mode to
// binary first, removes a leftover new index of an interrupted save, and always deletes "patch.hpl".
// An index that ends early, has bytes left over or a bad pack name is not loaded (a debug log line
// says why). A pack that cannot be opened keeps its entries (a later patch that replaces one still
// removes it) but cannot be read or written. When memory runs out the store is not loaded (logged);
// never throws.
void loadPackIndex();

// Closes every handle and empties the store: the state before any load. Only the store's holder may
// call it (the exit path goes through releaseStoreAtExit).
void releasePackIndex();

// Stores `length` bytes under `key`, replacing the store's first entry of that key: the bytes go to
// the end of the first pack with room, or of a new pack. The caller keeps `data`. Returns false
// without data, when no pack can be created, or when the bytes could not all be written; the
// store's entries are then as before.
bool storePackedFile(uint32_t key, const uint8_t* data, uint32_t length);

// The first pack, in index order, that is open and whose size plus `length` is at most
// MaxPackFileSize; null when there is none.
PackSlot* findPackWithRoom(uint32_t length);

// Creates the pack file `name` empty, opens it and adds it at the end of the index. Returns null
// when the store already has MaxPackCount packs, the name is not 1 to 31 characters, a pack of the
// index or any file already has that name, or the file cannot be created.
PackSlot* createPackFile(const char* name);

// The name the next new pack gets: "GAME<n>.VFS" for the first n from packCount on that neither a
// pack of the index nor a file on disk uses. Empty when none is free.
std::string nextPackName();

// Takes the store's first entry of `key` out of its table. True when there was one.
bool removePackEntry(uint32_t key);

// Writes `length` bytes at the end of `pack` and adds an entry for them, unless the pack's table
// already holds `key` (the bytes are written all the same). False without data, for a pack that is
// not open, or when the write failed; the table is then unchanged.
bool appendPackEntry(PackFile& pack, uint32_t key, const uint8_t* data, uint32_t length);

// The pack file's size in bytes, low 32 bits; 0xFFFFFFFF when it cannot be found out.
uint32_t packFileSize(PackFile& pack);

// Writes the index: flushes every pack written since the last save, writes the new index to
// "data.idx.new", flushes it and puts it in place of "data.idx" in one step. Returns false when any
// of that failed; "data.idx" is then as before.
bool savePackIndex();

}  // namespace packstore
