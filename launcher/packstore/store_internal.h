// Shared by the files of the pack store; not for its callers.
#pragma once

#include "launcher/packstore/byte_source.h"
#include "launcher/packstore/pack_store.h"

namespace packstore {

// Closes every pack handle and the index stream of `index`.
void closeStoreHandles(PackIndex& index);
// Closes the handles and empties `index` (its Env stays).
void resetStore(PackIndex& index);
// Empties `index` and reads it again from "data.idx", opening the packs; removes a leftover new
// index first. False (with `index` empty) when there is no index or it is refused; the reason goes
// to the debug log. Touches neither currentPatch, indexLoaded nor "patch.hpl".
bool readStoreFromDisk(PackIndex& index);
// Drops the removed entries of a pack's table, keeping the order of the others.
void compactTable(PackIndex& index, PackFile& pack);
// storePackedFile of `length` bytes taken from `source` as they come (a patch record read from its
// file piece by piece).
bool storePackedStream(uint32_t key, uint32_t length, ByteSource& source);
// After a failed patch: makes the store in memory the saved one again, and deletes the packs this
// run created that the saved index does not name.
void restoreSavedStore(PackIndex& index);

}  // namespace packstore
