// Shared by the files of the pack store; not for its callers.
#pragma once

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
// storePackedFile of the bytes `head` followed by `rest`, which lie in two places (a patch record's
// unmasked first bytes and the rest of it as the patch file holds it).
bool storePackedParts(uint32_t key, const uint8_t* head, uint32_t headLength, const uint8_t* rest,
                      uint32_t restLength);
// After a failed patch: makes the store in memory the saved one again, and deletes the packs this
// run created that the saved index does not name.
void restoreSavedStore(PackIndex& index);

}  // namespace packstore
